// The frames of a RealVideo stream put together from its packets, each frame's picture type, the groups of
// pictures (GOPs) from keyframe to keyframe, and figures over them all, computed as the frames go by.
//
// C and C++ standard library only. Nothing here throws on bad bytes or reads outside what it is given:
// damaged packing ends up in a count of packets that do not fit, never in a frame of guessed bytes.
#ifndef KOV_ANALYSIS_VIDEO_FRAMES_H
#define KOV_ANALYSIS_VIDEO_FRAMES_H

#include <cstdint>
#include <functional>

enum class RealVideoCodec { UNKNOWN, RV10, RV20, RV30, RV40 };

// The codec of a stream's four-character code ("RV40", as the type-specific data names it); UNKNOWN for
// any other code and for null. Reads no further than the first character that differs.
RealVideoCodec CodecOfFourcc(const char* fourcc);

struct VideoFrame {
    uint64_t offset;        // file offset of the header of the frame's first packet
    uint32_t timestamp_ms;  // that packet's timestamp: decode order, so a B-frame's is its reference's + 1
    uint32_t bytes;         // the frame itself, without the heads its packets wrap it in
    uint32_t packets;       // how many packets it came in
    bool keyframe;          // the first packet's header flag 0x02
    char type;              // 'I', 'P', 'B', or '?' when the first bits do not tell
};

// The picture type from the first bits of a frame: 'I', 'P', 'B' or '?' (an unknown codec, too few bytes,
// or bits that no frame of that codec starts with).
char PictureType(RealVideoCodec codec, const uint8_t* frame, uint32_t length);

using VideoFrameSink = std::function<void(const VideoFrame&)>;

// Puts frames together from the video stream's packets, handed over in file order, and passes each
// complete frame to the sink, in file order too. A packet "does not fit" (counted once, however many of
// its parts are wrong) when its payload cannot be split into the frames and parts it declares, when it
// holds a part that neither starts a frame nor follows on from the frame being put together, when it
// holds a part of a frame that never completes (another frame starts first, the parts overrun the
// frame's length, or the data ends), when it declares a frame of no bytes, or when its header version
// is not 0. Such frames are dropped, never filled in. Holds no bytes of a frame beyond the one the
// picture type needs, so its memory does not grow with the frames.
class VideoFrameAssembler {
public:
    VideoFrameAssembler(RealVideoCodec codec, VideoFrameSink sink);

    // One packet of the video stream: the file offset of its header, its timestamp, header version and
    // keyframe flag, and its payload (null only when `length` is 0).
    void AddPacket(uint64_t offset, uint32_t timestamp_ms, uint8_t header_version, bool keyframe,
                   const uint8_t* payload, uint32_t length);
    // The end of the packets: a frame still incomplete is dropped, its packets counted as not fitting.
    void Finish();

    uint64_t MisfitPackets() const { return misfits_; }

private:
    struct Part;

    // False when the payload cannot be split; what was read before the fault stands.
    bool SplitPayload(const uint8_t* payload, uint32_t length);
    void AddWhole(const uint8_t* data, uint32_t length);
    void AddPart(const Part& part);
    void DropFrame();
    void CountPacket();

    RealVideoCodec codec_;
    VideoFrameSink sink_;
    uint64_t misfits_ = 0;

    // The packet being read.
    uint64_t packet_offset_ = 0;
    uint32_t packet_timestamp_ = 0;
    bool packet_keyframe_ = false;
    uint64_t packet_serial_ = 0;  // counts the packets, so that a frame knows which ones it holds
    bool packet_counted_ = false;

    // The frame being put together from parts.
    bool assembling_ = false;
    VideoFrame frame_{};
    uint32_t frame_length_ = 0;  // as its parts declare it
    uint32_t frame_bytes_ = 0;   // received so far
    uint8_t frame_sequence_ = 0;
    uint32_t next_part_ = 0;
    uint64_t frame_last_serial_ = 0;
    uint32_t frame_counted_packets_ = 0;  // of its packets, those already counted as not fitting
    uint8_t frame_head_ = 0;              // its first byte, which holds the picture type
    bool frame_head_known_ = false;
};

// A group of pictures: a keyframe and the frames up to the next one. Frames before the stream's first
// keyframe (a file cut at its start) make a group of their own, starting at the first of them.
struct VideoGop {
    uint32_t start_ms;  // timestamp of its first frame
    uint32_t frames;
    uint64_t bytes;
    // To the next group's start; for the last group, to where VideoFrameClock says the stream's pictures
    // stop showing: one mean frame interval after the last frame to show, not after the last timestamp,
    // which may be a B-frame's. 0 when the end lies before the start (damaged timestamps).
    uint32_t duration_ms;
    double kbps;  // bytes x 8 / duration_ms; 0 when the duration is 0
};

using VideoGopSink = std::function<void(const VideoGop&)>;

// Keeps the timing of a stream's frames as they go by. Not every frame carries a time of its own: a B-frame
// carries that of the reference frame before it in the file plus 1 ms (decode order), though it shows before
// that frame, after the reference frame before that one; and a frame behind another in the same packet
// carries the packet's time, the time of the frame before it. So only reference frames (not B) whose time
// differs from the frame before them are timed, and the span from one to the next is shared evenly by the
// frames that show in it: the later one, the B-frames after it in the file, and the untimed reference
// frames since the earlier one with the B-frames after those. That is the true frame interval when frames
// come at a steady rate, and the plain interval between frames when every frame has a time and none is a
// B-frame. A '?' frame counts as a reference frame.
class VideoFrameClock {
public:
    void Add(const VideoFrame& frame);

    // The spans between timed frames added up, over the frames shown in them; 0 when nothing is timed.
    double MeanIntervalMs() const;
    // The shortest and longest interval per frame in one span; 0 when nothing is timed. A timed frame
    // earlier than the one before it gives an interval of 0.
    double ShortestIntervalMs() const;
    double LongestIntervalMs() const;
    // Where the stream's pictures stop showing: one mean interval after the last frame to show, which is the
    // last timed frame or the untimed reference frames after it (rounded to ms); false until a frame was
    // timed.
    bool EndMs(uint64_t* end_ms) const;

private:
    struct Timing {
        uint32_t frames = 0;
        uint64_t span_ms = 0;
        double shortest_ms = 0;
        double longest_ms = 0;
        // The spans and frames those two are the quotients of.
        uint32_t shortest_span = 0;
        uint32_t shortest_frames = 1;
        uint32_t longest_span = 0;
        uint32_t longest_frames = 1;
        void Add(uint32_t span, uint32_t frames_shown);
    };
    // The spans closed so far and the one still open, which B-frames after the last timed frame join.
    Timing Current() const;

    Timing closed_;
    bool have_frame_ = false;
    uint32_t last_frame_ms_ = 0;
    bool have_timed_ = false;
    uint32_t last_timed_ms_ = 0;
    bool span_open_ = false;
    uint32_t open_span_ms_ = 0;
    uint32_t open_frames_ = 0;
    // Frames after the last timed one that show after it: they join the next span.
    uint32_t carried_frames_ = 0;
};

// Makes the GOPs of frames fed in file order, each passed to the sink once the next keyframe (or Finish)
// closes it.
class VideoGopBuilder {
public:
    explicit VideoGopBuilder(VideoGopSink sink);

    void Add(const VideoFrame& frame);
    // Closes the last group, if any.
    void Finish();

    // The timing of every frame added.
    const VideoFrameClock& Clock() const { return clock_; }

private:
    void Close(uint64_t end_ms);

    VideoGopSink sink_;
    VideoFrameClock clock_;
    bool open_ = false;
    VideoGop gop_{};
};

// Frame types in the order of VideoFrameStatistics::types.
const char VIDEO_FRAME_TYPES[] = "IPB?";
const int VIDEO_FRAME_TYPE_COUNT = 4;

struct VideoTypeFigures {
    uint32_t count;
    uint64_t bytes;
    double mean_bytes;  // 0 when count is 0
    uint32_t largest_bytes;
    double share;  // of all frames' bytes, 0 to 1; 0 when there are no bytes
};

struct VideoFrameStatistics {
    uint32_t frames;
    uint64_t bytes;
    // Timing as VideoFrameClock measures it: the interval per frame between timed reference frames, so
    // that decode-order B-frame timestamps, and frames that share a packet's, give neither intervals of
    // 0 or 1 ms nor double ones. All 0 when fewer than two frames were timed.
    double mean_fps;
    double shortest_interval_ms;
    double longest_interval_ms;
    VideoTypeFigures types[VIDEO_FRAME_TYPE_COUNT];  // I, P, B, ? as VIDEO_FRAME_TYPES orders them
    // The largest frame, the first of equals (frames > 0).
    char largest_type;
    uint32_t largest_bytes;
    uint32_t largest_timestamp_ms;
    uint64_t largest_offset;
    // Every GOP VideoGopBuilder makes, the first and last ones too, though a cut may have shortened them.
    uint32_t gops;
    uint32_t shortest_gop_frames;
    double mean_gop_frames;
    uint32_t longest_gop_frames;
    uint32_t shortest_gop_ms;
    double mean_gop_ms;
    uint32_t longest_gop_ms;
    uint64_t misfit_packets;  // as the assembler counted them
};

// The figures of frames fed in file order, kept as running sums: no list of frames is held. Each GOP it
// makes is handed to `gops` too, when given.
class VideoFrameStatisticsAccumulator {
public:
    explicit VideoFrameStatisticsAccumulator(VideoGopSink gops = VideoGopSink());
    // Its GOP builder calls back into it.
    VideoFrameStatisticsAccumulator(const VideoFrameStatisticsAccumulator&) = delete;
    VideoFrameStatisticsAccumulator& operator=(const VideoFrameStatisticsAccumulator&) = delete;

    void Add(const VideoFrame& frame);
    // After the last frame: closes the last GOP and completes the figures. Add nothing after it.
    void Finish(uint64_t misfit_packets);

    const VideoFrameStatistics& Statistics() const { return statistics_; }

private:
    void AddGop(const VideoGop& gop);

    VideoFrameStatistics statistics_{};
    VideoGopSink gop_sink_;
    // Its clock times the frames for the figures too.
    VideoGopBuilder gops_;
    uint64_t gop_frames_ = 0;
    uint64_t gop_ms_ = 0;
};

#endif
