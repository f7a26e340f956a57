#!/bin/sh
# Makes the sample RealMedia files from ffmpeg's synthetic sources, and beside
# each one <name>.packets.txt and <name>.streams.txt: what ffprobe saw, checked
# against the file's own chunks by rm_walk.py. Run from anywhere; writes into
# the directory of this script.
#
# Everything that shapes the output is fixed (sizes, rates, GOP, quantiser or
# bit rate, noise seeds, one thread, plain C code paths, bit-exact mode), so the
# same ffmpeg build makes the same bytes. The files in the repository were made
# with ffmpeg 5.1 (Debian 12); another version may encode differently, and the
# lists are regenerated together with the files, so they always agree.
#
#   rv10_ra144.rm       RealVideo 1.0 + RealAudio 1.0 (14.4), constant bit rate, 6 s
#   rv20_ac3.rm         RealVideo 2.0 + AC-3, constant bit rate, 5 s
#   rv20_video.rmvb     RealVideo 2.0 alone, constant bit rate, 8 s
#   ra144_audio.rm      RealAudio 1.0 alone, 8 s
#   rv20_vbr_long.rm    audio first (stream 0), RealVideo 2.0 at a fixed quantiser:
#                       3 s of noise in every 10 s, 60 s: strongly varying bit rate
#   demo.rm             RealVideo 1.0 + RealAudio 1.0, 36 s, fixed quantiser, noise
#                       that covers more of the picture in steps: the bit rate
#                       climbs from about 25 to 140 kbit/s and falls again
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cd "$here"

command -v ffmpeg >/dev/null || { echo "make_samples: ffmpeg is not installed" >&2; exit 1; }
command -v ffprobe >/dev/null || { echo "make_samples: ffprobe is not installed" >&2; exit 1; }
case "$(ffmpeg -hide_banner -version | head -n 1)" in
    "ffmpeg version 5.1"*) ;;
    *) echo "make_samples: warning: not ffmpeg 5.1; the files will differ from the committed ones" >&2 ;;
esac

# Global options first, then per-file inputs and codecs, then the common output
# options. -cpuflags 0 keeps SIMD out: its float paths would make the bytes
# depend on the CPU.
encode() {
    out=$1
    shift
    ffmpeg -hide_banner -loglevel error -nostdin -cpuflags 0 -y "$@" \
        -threads 1 -filter_threads 1 -filter_complex_threads 1 \
        -map_metadata -1 -fflags +bitexact -flags +bitexact -f rm "$out"
    python3 "$here/rm_walk.py" --lists "$out"
}

# Video encoder settings shared by every sample: no B-frames (RealVideo 1/2
# have none anyway), a keyframe every second, no scene-cut keyframes.
video_cbr() { # codec bitrate fps
    echo "-c:v $1 -b:v $2 -minrate $2 -maxrate $2 -bufsize $2 -g $3 -bf 0 -sc_threshold 1000000000 -pix_fmt yuv420p"
}
video_q() { # codec quantiser fps
    echo "-c:v $1 -q:v $2 -g $3 -bf 0 -sc_threshold 1000000000 -pix_fmt yuv420p"
}
ra144="-c:a real_144 -ar 8000 -ac 1"
ac3="-c:a ac3_fixed -b:a 64k -ar 48000 -ac 1"

# shellcheck disable=SC2046  # word splitting of the option strings is wanted
encode rv10_ra144.rm \
    -f lavfi -i "testsrc=size=176x144:rate=15:duration=6" \
    -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=6" \
    -map 0:v -map 1:a $(video_cbr rv10 64k 15) $ra144

# shellcheck disable=SC2046
encode rv20_ac3.rm \
    -f lavfi -i "testsrc2=size=176x144:rate=15:duration=5" \
    -f lavfi -i "sine=frequency=330:beep_factor=4:sample_rate=48000:duration=5" \
    -map 0:v -map 1:a $(video_cbr rv20 80k 15) $ac3

# shellcheck disable=SC2046
encode rv20_video.rmvb \
    -f lavfi -i "mandelbrot=size=176x144:rate=12,trim=duration=8" \
    -map 0:v $(video_cbr rv20 96k 12)

encode ra144_audio.rm \
    -f lavfi -i "sine=frequency=600:beep_factor=2:sample_rate=8000:duration=8" \
    -map 0:a $ra144

# Static colour bars, with full-frame noise during the first 3 s of every 10 s.
# shellcheck disable=SC2046
encode rv20_vbr_long.rm \
    -f lavfi -i "smptebars=size=160x120:rate=10:duration=60,noise=alls=20:allf=t:all_seed=7:enable='lt(mod(t,10),3)'" \
    -f lavfi -i "sine=frequency=500:sample_rate=8000:duration=60" \
    -map 1:a -map 0:v $(video_q rv20 10 10) $ra144

# Test pattern with a layer of noise slid over a growing part of the picture:
# a quarter more every 4 s up to the whole picture at 16 s, half at 20 s, none
# at 24 s, a short whole-picture burst at 28-31 s. The chart shows the steps.
demo_cover="if(lt(t,20),floor(t/4)/4,if(lt(t,24),0.5,if(between(t,28,31),1,0)))"
# shellcheck disable=SC2046
encode demo.rm \
    -f lavfi -i "testsrc=size=128x96:rate=12:duration=36" \
    -f lavfi -i "color=gray:size=128x96:rate=12:duration=36,noise=alls=20:allf=t:all_seed=5" \
    -f lavfi -i "sine=frequency=220:beep_factor=3:sample_rate=8000:duration=36" \
    -filter_complex "[0:v][1:v]overlay=x='W*(1-$demo_cover)':y=0:eval=frame[v]" \
    -map "[v]" -map 2:a $(video_q rv10 10 12) $ra144

ls -l ./*.rm ./*.rmvb
du -cb ./*.rm ./*.rmvb | tail -n 1
