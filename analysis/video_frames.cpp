// RealVideo frames from packets: the sub-packets of a payload, the parts that make a frame, picture types,
// GOPs and the running figures.
#include "analysis/video_frames.h"

#include <cstdint>
#include <limits>
#include <utility>

namespace {

// A payload is a row of sub-packets, each starting with a byte whose top two bits say what follows.
enum SubPacketKind {
    KIND_PART = 0,   // a part of a frame, running to the end of the packet
    KIND_BARE = 1,   // a whole frame behind a 2-byte head, running to the end of the packet
    KIND_LAST = 2,   // the last part of a frame, of a declared size; more may follow it
    KIND_WHOLE = 3,  // a whole frame of a declared length; more may follow it
};

// A length, offset or time field takes 2 bytes when this bit of its first byte is set, else 4.
const uint32_t SHORT_FIELD_FLAG = 0x4000;
const uint32_t SHORT_FIELD_MASK = 0x3FFF;
const uint32_t LONG_FIELD_MASK = 0x3FFFFFFF;
// The part number sits in the low bits of the byte after the kind byte; its top bit means something else.
const uint8_t PART_NUMBER_MASK = 0x7F;

// Two type bits as RV20, RV30 and RV40 spell them: both 00 and 01 are intra pictures.
const char TWO_BIT_TYPES[] = "IIPB";

uint32_t ReadU16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }

uint32_t ReadU32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Reads the field at *pos (which must not lie past `length`) and moves past it; false when it runs past
// the payload.
bool ReadField(const uint8_t* payload, uint32_t length, uint32_t* pos, uint32_t* value) {
    if (length - *pos < 2) return false;
    const uint32_t first = ReadU16(payload + *pos);
    if (first & SHORT_FIELD_FLAG) {
        *value = first & SHORT_FIELD_MASK;
        *pos += 2;
        return true;
    }
    if (length - *pos < 4) return false;
    *value = ReadU32(payload + *pos) & LONG_FIELD_MASK;
    *pos += 4;
    return true;
}

// The place of a type in VIDEO_FRAME_TYPES.
int TypeIndex(char type) {
    switch (type) {
    case 'I':
        return 0;
    case 'P':
        return 1;
    case 'B':
        return 2;
    default:
        return VIDEO_FRAME_TYPE_COUNT - 1;
    }
}

uint32_t ClampToU32(uint64_t value) {
    return value > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : uint32_t(value);
}

}  // namespace

RealVideoCodec CodecOfFourcc(const char* fourcc) {
    struct Code {
        const char* text;
        RealVideoCodec codec;
    };
    static const Code CODES[] = {{"RV10", RealVideoCodec::RV10},
                                 {"RV20", RealVideoCodec::RV20},
                                 {"RV30", RealVideoCodec::RV30},
                                 {"RV40", RealVideoCodec::RV40}};
    if (fourcc == nullptr) return RealVideoCodec::UNKNOWN;
    for (const Code& code : CODES) {
        int i = 0;
        while (i < 4 && fourcc[i] == code.text[i]) ++i;
        if (i == 4) return code.codec;
    }
    return RealVideoCodec::UNKNOWN;
}

// Bit 0 is the top bit of the first byte. What the first bits must be, per codec, is what every frame of
// the files seen starts with; the decoder refuses the others.
char PictureType(RealVideoCodec codec, const uint8_t* frame, uint32_t length) {
    if (frame == nullptr || length == 0) return '?';
    const uint8_t first = frame[0];
    switch (codec) {
    case RealVideoCodec::RV10:  // bit 0 a marker the decoder does not insist on; bit 1: 0 intra, 1 inter
        return (first & 0x40) ? 'P' : 'I';
    case RealVideoCodec::RV20:  // bits 0-1
        return TWO_BIT_TYPES[first >> 6];
    case RealVideoCodec::RV30:  // bits 0-2 zero, bits 3-4
        return (first & 0xE0) ? '?' : TWO_BIT_TYPES[(first >> 3) & 3];
    case RealVideoCodec::RV40:  // bit 0 zero, bits 1-2
        return (first & 0x80) ? '?' : TWO_BIT_TYPES[(first >> 5) & 3];
    case RealVideoCodec::UNKNOWN:
        break;
    }
    return '?';
}

// ---------------------------------------------------------------- assembler

struct VideoFrameAssembler::Part {
    uint32_t number;
    uint32_t frame_length;
    uint32_t where;  // its offset in the frame
    uint8_t sequence;
    const uint8_t* data;
    uint32_t size;
};

VideoFrameAssembler::VideoFrameAssembler(RealVideoCodec codec, VideoFrameSink sink)
    : codec_(codec), sink_(std::move(sink)) {}

void VideoFrameAssembler::AddPacket(uint64_t offset, uint32_t timestamp_ms, uint8_t header_version, bool keyframe,
                                    const uint8_t* payload, uint32_t length) {
    ++packet_serial_;
    packet_offset_ = offset;
    packet_timestamp_ = timestamp_ms;
    packet_keyframe_ = keyframe;
    packet_counted_ = false;
    // Version 1 headers are one byte longer and their payloads have not been seen: what they hold is not
    // known, so they are only counted.
    if (header_version != 0 || payload == nullptr || length == 0 || !SplitPayload(payload, length)) CountPacket();
}

bool VideoFrameAssembler::SplitPayload(const uint8_t* payload, uint32_t length) {
    uint32_t pos = 0;
    while (pos < length) {
        const int kind = payload[pos] >> 6;
        if (kind == KIND_BARE) {  // kind byte, sequence byte, the frame
            if (length - pos < 2) return false;
            AddWhole(payload + pos + 2, length - pos - 2);
            return true;
        }
        if (kind == KIND_WHOLE) {  // kind byte, frame length, time, sequence byte, the frame
            uint32_t q = pos + 1;
            uint32_t frame_length = 0;
            uint32_t time = 0;  // the frame's own; the packet's is the one frames carry
            if (!ReadField(payload, length, &q, &frame_length) || !ReadField(payload, length, &q, &time)) return false;
            if (q >= length || frame_length > length - q - 1) return false;
            AddWhole(payload + q + 1, frame_length);
            pos = q + 1 + frame_length;
            continue;
        }
        // kind byte, part number, frame length, offset (KIND_PART) or size (KIND_LAST), sequence byte, data
        if (length - pos < 2) return false;
        Part part{};
        part.number = payload[pos + 1] & PART_NUMBER_MASK;
        uint32_t q = pos + 2;
        uint32_t second = 0;
        if (!ReadField(payload, length, &q, &part.frame_length) || !ReadField(payload, length, &q, &second)) {
            return false;
        }
        if (q >= length) return false;
        part.sequence = payload[q++];
        part.data = payload + q;
        if (kind == KIND_PART) {
            part.where = second;
            part.size = length - q;
            AddPart(part);
            return true;
        }
        if (second > part.frame_length || second > length - q) return false;
        part.where = part.frame_length - second;
        part.size = second;
        AddPart(part);
        pos = q + second;
    }
    return true;
}

void VideoFrameAssembler::AddWhole(const uint8_t* data, uint32_t length) {
    DropFrame();
    if (length == 0) {  // a frame of no bytes is no picture
        CountPacket();
        return;
    }
    const VideoFrame frame{
        packet_offset_, packet_timestamp_, length, 1, packet_keyframe_, PictureType(codec_, data, length)};
    if (sink_) sink_(frame);
}

void VideoFrameAssembler::AddPart(const Part& part) {
    if (part.number == 1 && part.where == 0) {
        DropFrame();
        if (part.frame_length == 0) {
            CountPacket();
            return;
        }
        assembling_ = true;
        frame_ = VideoFrame{packet_offset_, packet_timestamp_, 0, 0, packet_keyframe_, '?'};
        frame_length_ = part.frame_length;
        frame_bytes_ = 0;
        frame_sequence_ = part.sequence;
        next_part_ = 1;
        frame_last_serial_ = 0;
        frame_counted_packets_ = 0;
        frame_head_known_ = false;
    } else if (!assembling_ || part.number != next_part_ || part.frame_length != frame_length_ ||
               part.sequence != frame_sequence_ || part.where != frame_bytes_) {
        DropFrame();
        CountPacket();
        return;
    }
    if (frame_last_serial_ != packet_serial_) {
        frame_last_serial_ = packet_serial_;
        ++frame_.packets;
        if (packet_counted_) ++frame_counted_packets_;
    }
    ++next_part_;
    if (part.size > frame_length_ - frame_bytes_) {
        DropFrame();
        return;
    }
    if (!frame_head_known_ && part.size > 0) {
        frame_head_ = part.data[0];
        frame_head_known_ = true;
    }
    // A last part always completes the frame it follows on from: its offset is the length less its size.
    frame_bytes_ += part.size;
    if (frame_bytes_ == frame_length_) {
        assembling_ = false;
        frame_.bytes = frame_length_;
        frame_.type = PictureType(codec_, &frame_head_, 1);
        if (sink_) sink_(frame_);
    }
}

void VideoFrameAssembler::DropFrame() {
    if (!assembling_) return;
    assembling_ = false;
    misfits_ += frame_.packets - frame_counted_packets_;
    if (frame_last_serial_ == packet_serial_) packet_counted_ = true;
}

void VideoFrameAssembler::CountPacket() {
    if (packet_counted_) return;
    packet_counted_ = true;
    ++misfits_;
    if (assembling_ && frame_last_serial_ == packet_serial_) ++frame_counted_packets_;
}

void VideoFrameAssembler::Finish() { DropFrame(); }

// ---------------------------------------------------------------- clock

void VideoFrameClock::Timing::Add(uint32_t span, uint32_t frames_shown) {
    // Spans per frame compared as fractions, exactly; a quotient only for a
    // new extreme, which is rare.
    const uint64_t over_shortest = uint64_t(span) * shortest_frames;
    const uint64_t over_longest = uint64_t(span) * longest_frames;
    if (frames == 0 || over_shortest < uint64_t(shortest_span) * frames_shown) {
        shortest_span = span;
        shortest_frames = frames_shown;
        shortest_ms = double(span) / frames_shown;
    }
    if (frames == 0 || over_longest > uint64_t(longest_span) * frames_shown) {
        longest_span = span;
        longest_frames = frames_shown;
        longest_ms = double(span) / frames_shown;
    }
    frames += frames_shown;
    span_ms += span;
}

void VideoFrameClock::Add(const VideoFrame& frame) {
    const bool own_time = !(have_frame_ && frame.timestamp_ms == last_frame_ms_);
    have_frame_ = true;
    last_frame_ms_ = frame.timestamp_ms;
    if (!have_timed_) {  // nothing to time a frame against yet; B-frames here show before it
        if (frame.type == 'B') return;
        have_timed_ = true;
        last_timed_ms_ = frame.timestamp_ms;
        return;
    }
    if (frame.type == 'B' && carried_frames_ == 0) {
        if (span_open_) ++open_frames_;
        return;
    }
    if (frame.type == 'B' || !own_time) {
        ++carried_frames_;
        return;
    }
    if (span_open_) closed_.Add(open_span_ms_, open_frames_);
    span_open_ = true;
    open_span_ms_ = frame.timestamp_ms > last_timed_ms_ ? frame.timestamp_ms - last_timed_ms_ : 0;
    open_frames_ = 1 + carried_frames_;
    carried_frames_ = 0;
    last_timed_ms_ = frame.timestamp_ms;
}

VideoFrameClock::Timing VideoFrameClock::Current() const {
    Timing timing = closed_;
    if (span_open_) timing.Add(open_span_ms_, open_frames_);
    return timing;
}

double VideoFrameClock::MeanIntervalMs() const {
    const Timing timing = Current();
    return timing.frames == 0 ? 0 : double(timing.span_ms) / timing.frames;
}

double VideoFrameClock::ShortestIntervalMs() const { return Current().shortest_ms; }

double VideoFrameClock::LongestIntervalMs() const { return Current().longest_ms; }

bool VideoFrameClock::EndMs(uint64_t* end_ms) const {
    if (!have_timed_) return false;
    *end_ms = last_timed_ms_ + uint64_t(MeanIntervalMs() * (1 + carried_frames_) + 0.5);
    return true;
}

// ---------------------------------------------------------------- GOPs

VideoGopBuilder::VideoGopBuilder(VideoGopSink sink) : sink_(std::move(sink)) {}

void VideoGopBuilder::Add(const VideoFrame& frame) {
    if (open_ && frame.keyframe) Close(frame.timestamp_ms);
    if (!open_) {
        open_ = true;
        gop_ = VideoGop{frame.timestamp_ms, 0, 0, 0, 0};
    }
    ++gop_.frames;
    gop_.bytes += frame.bytes;
    clock_.Add(frame);
}

void VideoGopBuilder::Finish() {
    if (!open_) return;
    uint64_t end_ms = 0;
    if (!clock_.EndMs(&end_ms)) end_ms = gop_.start_ms;  // no frame was timed: nothing tells how long they show
    Close(end_ms);
}

void VideoGopBuilder::Close(uint64_t end_ms) {
    open_ = false;
    gop_.duration_ms = end_ms > gop_.start_ms ? ClampToU32(end_ms - gop_.start_ms) : 0;
    gop_.kbps = gop_.duration_ms == 0 ? 0 : double(gop_.bytes) * 8 / gop_.duration_ms;
    if (sink_) sink_(gop_);
}

// ---------------------------------------------------------------- statistics

VideoFrameStatisticsAccumulator::VideoFrameStatisticsAccumulator(VideoGopSink gops)
    : gop_sink_(std::move(gops)), gops_([this](const VideoGop& gop) { AddGop(gop); }) {
    statistics_.largest_type = '?';
}

void VideoFrameStatisticsAccumulator::Add(const VideoFrame& frame) {
    VideoFrameStatistics& s = statistics_;
    ++s.frames;
    s.bytes += frame.bytes;
    VideoTypeFigures& type = s.types[TypeIndex(frame.type)];
    ++type.count;
    type.bytes += frame.bytes;
    if (frame.bytes > type.largest_bytes) type.largest_bytes = frame.bytes;
    if (s.frames == 1 || frame.bytes > s.largest_bytes) {
        s.largest_type = frame.type;
        s.largest_bytes = frame.bytes;
        s.largest_timestamp_ms = frame.timestamp_ms;
        s.largest_offset = frame.offset;
    }
    gops_.Add(frame);
}

void VideoFrameStatisticsAccumulator::AddGop(const VideoGop& gop) {
    VideoFrameStatistics& s = statistics_;
    ++s.gops;
    if (s.gops == 1 || gop.frames < s.shortest_gop_frames) s.shortest_gop_frames = gop.frames;
    if (gop.frames > s.longest_gop_frames) s.longest_gop_frames = gop.frames;
    if (s.gops == 1 || gop.duration_ms < s.shortest_gop_ms) s.shortest_gop_ms = gop.duration_ms;
    if (gop.duration_ms > s.longest_gop_ms) s.longest_gop_ms = gop.duration_ms;
    gop_frames_ += gop.frames;
    gop_ms_ += gop.duration_ms;
    if (gop_sink_) gop_sink_(gop);
}

void VideoFrameStatisticsAccumulator::Finish(uint64_t misfit_packets) {
    gops_.Finish();
    VideoFrameStatistics& s = statistics_;
    for (VideoTypeFigures& type : s.types) {
        type.mean_bytes = type.count == 0 ? 0 : double(type.bytes) / type.count;
        type.share = s.bytes == 0 ? 0 : double(type.bytes) / double(s.bytes);
    }
    const VideoFrameClock& clock = gops_.Clock();
    const double interval = clock.MeanIntervalMs();
    s.mean_fps = interval > 0 ? 1000 / interval : 0;
    s.shortest_interval_ms = clock.ShortestIntervalMs();
    s.longest_interval_ms = clock.LongestIntervalMs();
    s.mean_gop_frames = s.gops == 0 ? 0 : double(gop_frames_) / s.gops;
    s.mean_gop_ms = s.gops == 0 ? 0 : double(gop_ms_) / s.gops;
    s.misfit_packets = misfit_packets;
}
