#!/usr/bin/env python3
"""Independent walk of a RealMedia file: header chunks, DATA head, packet headers.

Written straight from the file layout (big-endian; 10-byte chunk headers;
12-byte packet headers inside the DATA chunk) so that it shares no code and no
assumption with the C++ parser it is used to check.

    rm_walk.py FILE             chunks, streams and a packet summary
    rm_walk.py --packets FILE   ... and one line per packet
    rm_walk.py --lists FILE     write FILE's .packets.txt and .streams.txt
                                beside it, after checking ffprobe's view of
                                the file against the walk (needs ffprobe)
"""
import json
import os
import struct
import subprocess
import sys
import zlib


class WalkError(Exception):
    pass


def _u8(d, o):
    return d[o]


def _u16(d, o):
    return struct.unpack_from(">H", d, o)[0]


def _u32(d, o):
    return struct.unpack_from(">I", d, o)[0]


def _need(d, o, n, what):
    if o + n > len(d):
        raise WalkError("%s at %d: needs %d bytes, file has %d" % (what, o, n, len(d) - o))


def parse_mdpr(d, o, size):
    _need(d, o, 41, "MDPR")
    m = {
        "offset": o,
        "stream_number": _u16(d, o + 10),
        "max_bit_rate": _u32(d, o + 12),
        "avg_bit_rate": _u32(d, o + 16),
        "max_packet_size": _u32(d, o + 20),
        "avg_packet_size": _u32(d, o + 24),
        "start_time": _u32(d, o + 28),
        "preroll": _u32(d, o + 32),
        "duration": _u32(d, o + 36),
    }
    p = o + 40
    s = _u8(d, p)
    m["stream_name"] = d[p + 1:p + 1 + s].decode("latin-1")
    p += 1 + s
    _need(d, p, 1, "MDPR MIME length")
    n = _u8(d, p)
    m["mime_type"] = d[p + 1:p + 1 + n].decode("latin-1")
    p += 1 + n
    _need(d, p, 4, "MDPR type-specific length")
    t = _u32(d, p)
    _need(d, p + 4, t, "MDPR type-specific data")
    m["type_specific"] = bytes(d[p + 4:p + 4 + t])
    if p + 4 + t > o + size:
        raise WalkError("MDPR at %d: fields run past its size %d" % (o, size))
    return m


def walk(path):
    """Returns a dict: chunks (id, offset, size), rmf, prop, streams (MDPR
    records in file order), data (head fields) and packets (one dict per
    packet header, in file order), tail (bytes after the last whole packet)."""
    with open(path, "rb") as f:
        d = f.read()
    out = {"size": len(d), "chunks": [], "streams": [], "packets": []}
    o = 0
    while True:
        _need(d, o, 10, "chunk header")
        cid = d[o:o + 4].decode("latin-1")
        size = _u32(d, o + 4)
        ver = _u16(d, o + 8)
        out["chunks"].append((cid, o, size, ver))
        if cid == ".RMF":
            _need(d, o, 18, ".RMF")
            out["rmf"] = {"object_version": ver, "file_version": _u32(d, o + 10),
                          "header_count": _u32(d, o + 14)}
        elif cid == "PROP":
            _need(d, o, 50, "PROP")
            names = ["max_bit_rate", "avg_bit_rate", "max_packet_size", "avg_packet_size",
                     "packet_count", "duration", "preroll", "index_offset", "data_offset"]
            out["prop"] = {k: _u32(d, o + 10 + 4 * i) for i, k in enumerate(names)}
            out["prop"]["stream_count"] = _u16(d, o + 46)
            out["prop"]["flags"] = _u16(d, o + 48)
        elif cid == "MDPR":
            out["streams"].append(parse_mdpr(d, o, size))
        elif cid == "DATA":
            _need(d, o, 18, "DATA head")
            out["data"] = {"offset": o, "size": size, "packet_count": _u32(d, o + 10),
                           "next_data_header": _u32(d, o + 14)}
            break
        if size < 10:
            raise WalkError("chunk %r at %d has size %d" % (cid, o, size))
        o += size
    data = out["data"]
    end = min(len(d), data["offset"] + data["size"])
    p = data["offset"] + 18
    while p + 12 <= end:
        version, length, stream, ts, group, flags = struct.unpack_from(">HHHIBB", d, p)
        if length < 12 or p + length > len(d):
            break
        payload = d[p + 12:p + length]
        out["packets"].append({"offset": p, "version": version, "length": length,
                               "stream_number": stream, "timestamp": ts, "group": group,
                               "flags": flags, "payload_offset": p + 12,
                               "payload_size": length - 12, "crc32": zlib.crc32(payload)})
        p += length
    out["tail"] = bytes(d[p:])
    out["tail_offset"] = p
    return out


def describe(w, show_packets):
    print("file size %d" % w["size"])
    for cid, o, size, ver in w["chunks"]:
        print("chunk %-4s at %8d size %9d version %d" % (cid, o, size, ver))
    print("RMF  %s" % w.get("rmf"))
    print("PROP %s" % w.get("prop"))
    for m in w["streams"]:
        shown = dict(m)
        shown["type_specific"] = m["type_specific"][:16].hex() + ("..." if len(m["type_specific"]) > 16 else "")
        print("MDPR %s" % shown)
    data = w["data"]
    print("DATA at %d size %d (ends at %d) declares %d packets, next %d"
          % (data["offset"], data["size"], data["offset"] + data["size"], data["packet_count"],
             data["next_data_header"]))
    print("walked %d packets; %d bytes after the last one at %d: %s"
          % (len(w["packets"]), len(w["tail"]), w["tail_offset"], w["tail"][:32].hex()))
    if show_packets:
        print("# offset stream timestamp group flags payload_size")
        for k in w["packets"]:
            print("%d %d %d %d %d %d" % (k["offset"], k["stream_number"], k["timestamp"], k["group"],
                                         k["flags"], k["payload_size"]))


# ---------------------------------------------------------------- lists for the C++ test

PACKETS_NOTE = """\
# Packets of {name} in file order: the file's own packet headers (read with
# samples/rm_walk.py), each paired with the packet ffprobe -show_packets reported
# for it, and checked against it.
#
# ffmpeg {ffmpeg} reports exactly one packet per packet of the file: its RealMedia
# muxer never splits a frame over several packets (it refuses frames above 64 KB),
# so no slices have to be joined. Its list is not always in file order, though:
# packets of a stream that ffmpeg parses (AC-3) can come out after a video packet
# that follows them in the file. So the pairing goes by stream and file position
# (ffprobe's pos), and the lines below are in file order, the order the reader must
# deliver them in. The columns relate to ffprobe as follows:
#   stream      ffprobe's stream_index; the file's stream number, which is also
#               the reader's stream index (no multi-rate streams here).
#   timestamp   ffprobe's {ts_field} (time base 1/1000 s) = the packet header's timestamp in ms.
#   key         1 when ffprobe's flags hold K = bit 0x02 of the packet header's flags.
#   size        payload bytes of the file's packet (its length field less 12).
#               ffprobe's size is the same for audio; for RealVideo the demuxer
#               drops the frame header at the start of the payload (h bytes) and
#               puts its own slice table (1 + 8 bytes per slice) in front, so
#               ffprobe_size = size - h + 9 for these one-slice frames, and
#               ffprobe's pos is the payload offset + h.
#   offset      file offset of the payload's first byte.
#   crc32       CRC-32 (zlib) of the payload, hexadecimal.
#   ffprobe_size  ffprobe's size, kept for reference; the test does not use it.
# After the last packet the file holds {tail} byte(s) ({tail_hex}), and the DATA
# chunk's size field claims {overshoot} byte(s) more than the file has
# (data chunk at {data_offset}, size {data_size}, file {file_size} bytes).
# stream timestamp key size offset crc32 ffprobe_size
"""

STREAMS_NOTE = """\
# Streams of {name}, from its MDPR chunks (read with samples/rm_walk.py), beside what
# ffprobe -show_streams reported. mime is the MIME type as the MDPR chunk holds it (AC-3
# audio is stored as "audio/x-pn-realaudio" too, codec id "dnet"). Bit rates are bits per
# second, times milliseconds. ffprobe reports bit_rate = avg_bit_rate and duration =
# duration_ms (0 or "-" where it reports none).
# PROP duration_ms {prop_duration}, packet_count {prop_packets}, data_offset {data_offset}
# stream mime avg_bit_rate max_bit_rate duration_ms preroll_ms max_packet avg_packet start_ms codec ffprobe_bit_rate ffprobe_duration_ms
"""


def ffprobe_json(path, what):
    out = subprocess.check_output(["ffprobe", "-v", "error", "-of", "json"] + what + [path])
    return json.loads(out.decode("utf-8"))


def ffmpeg_version():
    out = subprocess.check_output(["ffprobe", "-version"]).decode("utf-8", "replace")
    return out.split()[2] if out.startswith("ffprobe version") else "?"


def make_lists(path):
    w = walk(path)
    base, _ = os.path.splitext(path)
    name = os.path.basename(path)
    probed = ffprobe_json(path, ["-show_packets", "-show_streams"])
    fp = probed.get("packets", [])
    streams = probed.get("streams", [])
    wp = w["packets"]
    problems = []
    if len(fp) != len(wp):
        problems.append("ffprobe saw %d packets, the file holds %d" % (len(fp), len(wp)))
    video = {s["index"] for s in streams if s.get("codec_type") == "video"}
    by_number = {m["stream_number"]: m for m in w["streams"]}
    for s in streams:
        if s.get("time_base") != "1/1000":
            problems.append("stream %d has time base %s" % (s["index"], s.get("time_base")))
    # ffprobe lists packets in the order the demuxer hands them out after
    # parsing, which can swap neighbours of different streams; pair them with
    # the file's packets by stream and position instead of by order.
    by_pos = {}
    for f in fp:
        by_pos.setdefault((f["stream_index"], int(f.get("pos", -1))), []).append(f)
    matched = []
    for i, k in enumerate(wp):
        where = "packet %d (file offset %d)" % (i, k["offset"])
        s = k["stream_number"]
        starts = range(k["payload_offset"] + 1, k["payload_offset"] + 16) if s in video else [k["payload_offset"]]
        hits = [(pos, f) for pos in starts for f in by_pos.get((s, pos), [])]
        if len(hits) != 1:
            problems.append("%s: %d ffprobe packets of stream %d at its payload" % (where, len(hits), s))
            matched.append(None)
            continue
        pos, f = hits[0]
        matched.append(f)
        size = int(f["size"])
        if s in video:
            h = pos - k["payload_offset"]
            if size != k["payload_size"] - h + 9:
                problems.append("%s: video size %d at %d vs payload %d at %d"
                                % (where, size, pos, k["payload_size"], k["payload_offset"]))
        elif size != k["payload_size"]:
            problems.append("%s: size %d vs payload %d" % (where, size, k["payload_size"]))
        key = 1 if "K" in f.get("flags", "") else 0
        if key != (1 if k["flags"] & 0x02 else 0):
            problems.append("%s: key flag %d vs header flags %d" % (where, key, k["flags"]))
    # Which of pts/dts carries the header timestamp: the one that matches everywhere.
    ts_field = None
    for field in ("pts", "dts"):
        if all(f is not None and int(f.get(field, -1)) == k["timestamp"] for f, k in zip(matched, wp)):
            ts_field = field
            break
    if ts_field is None:
        problems.append("neither ffprobe's pts nor its dts equals the header timestamps")
    rows = []
    for f, k in zip(matched, wp):
        rows.append("%d %d %d %d %d %08x %s" % (k["stream_number"], k["timestamp"],
                                                1 if k["flags"] & 0x02 else 0, k["payload_size"],
                                                k["payload_offset"], k["crc32"],
                                                f["size"] if f is not None else "-"))
    srows = []
    for s in streams:
        m = by_number.get(s["index"])
        if m is None:
            problems.append("ffprobe stream %d has no MDPR" % s["index"])
            continue
        fb = s.get("bit_rate", "N/A")
        fd = s.get("duration", "N/A")
        fb = int(fb) if fb != "N/A" else None
        fd = int(round(float(fd) * 1000)) if fd != "N/A" else None
        if fb is not None and fb != m["avg_bit_rate"]:
            problems.append("stream %d: ffprobe bit rate %d, MDPR %d" % (s["index"], fb, m["avg_bit_rate"]))
        if fd is not None and fd != m["duration"]:
            problems.append("stream %d: ffprobe duration %d, MDPR %d" % (s["index"], fd, m["duration"]))
        srows.append("%d %s %d %d %d %d %d %d %d %s %s %s" % (
            s["index"], m["mime_type"], m["avg_bit_rate"], m["max_bit_rate"], m["duration"],
            m["preroll"], m["max_packet_size"], m["avg_packet_size"], m["start_time"],
            s.get("codec_name", "-"), "-" if fb is None else fb, "-" if fd is None else fd))
    if len(streams) != len(w["streams"]):
        problems.append("ffprobe saw %d streams, the file has %d MDPR chunks"
                        % (len(streams), len(w["streams"])))
    if problems:
        raise WalkError("%s: ffprobe and the file disagree:\n  %s" % (name, "\n  ".join(problems[:20])))
    data = w["data"]
    with open(base + ".packets.txt", "w") as f:
        f.write(PACKETS_NOTE.format(name=name, ffmpeg=ffmpeg_version(), ts_field=ts_field,
                                    tail=len(w["tail"]), tail_hex=w["tail"].hex() or "none",
                                    overshoot=data["offset"] + data["size"] - w["size"],
                                    data_offset=data["offset"], data_size=data["size"],
                                    file_size=w["size"]))
        f.write("\n".join(rows) + "\n")
    with open(base + ".streams.txt", "w") as f:
        f.write(STREAMS_NOTE.format(name=name, prop_duration=w["prop"]["duration"],
                                    prop_packets=w["prop"]["packet_count"],
                                    data_offset=w["prop"]["data_offset"]))
        f.write("\n".join(srows) + "\n")
    return len(rows), len(srows)


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    flags = [a for a in argv[1:] if a.startswith("--")]
    if len(args) != 1 or any(f not in ("--packets", "--lists") for f in flags):
        sys.stderr.write(__doc__)
        return 2
    try:
        if "--lists" in flags:
            packets, streams = make_lists(args[0])
            print("%s: %d packets, %d streams" % (args[0], packets, streams))
        else:
            describe(walk(args[0]), "--packets" in flags)
    except (WalkError, OSError, subprocess.CalledProcessError) as e:
        sys.stderr.write("rm_walk: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
