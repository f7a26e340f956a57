// The frames of a RealVideo stream put together from its packets, and each frame's picture type.
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

#endif
