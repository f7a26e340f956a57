// Frames put together from payloads built here, damaged ones too; picture types; GOPs and figures over a
// known frame list; and the frames of the ffmpeg-made samples against ffprobe's packet lists.
#include "analysis/video_frames.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/measurement.h"
#include "rmparser/rm_reader.h"

#include "tests/support/rv_payloads.h"

namespace {

using namespace rmtest;

struct Assembled {
    std::vector<VideoFrame> frames;
    uint64_t misfits;
};

// Packet i sits at offset 1000 x i + 100 with timestamp 40 x i, keyed when i is even. Each payload is copied
// into a block of exactly its size, so that a read past it is an AddressSanitizer report.
Assembled Assemble(const std::vector<Bytes>& payloads, uint8_t version_of_packet_1 = 0) {
    Assembled out;
    VideoFrameAssembler assembler(RealVideoCodec::RV40, [&](const VideoFrame& f) { out.frames.push_back(f); });
    for (size_t i = 0; i < payloads.size(); ++i) {
        std::unique_ptr<uint8_t[]> block(payloads[i].empty() ? nullptr : new uint8_t[payloads[i].size()]);
        std::copy(payloads[i].begin(), payloads[i].end(), block.get());
        assembler.AddPacket(1000 * i + 100, uint32_t(40 * i), i == 1 ? version_of_packet_1 : 0, i % 2 == 0, block.get(),
                            uint32_t(payloads[i].size()));
    }
    assembler.Finish();
    out.misfits = assembler.MisfitPackets();
    return out;
}

// "bytes x packets, type @ index of the first packet", the frames apart by blanks; "(moved)" when the
// offset, time or keyframe flag is not the first packet's.
std::string Describe(const std::vector<VideoFrame>& frames) {
    std::string text;
    for (const VideoFrame& f : frames) {
        if (!text.empty()) text += ' ';
        text += std::to_string(f.bytes) + "x" + std::to_string(f.packets) + f.type + "@" +
                std::to_string((f.offset - 100) / 1000);
        const uint64_t first = (f.offset - 100) / 1000;
        if ((f.offset - 100) % 1000 != 0 || f.timestamp_ms != first * 40 || f.keyframe != (first % 2 == 0)) {
            text += "(moved)";
        }
    }
    return text;
}

struct PackingCase {
    const char* what;
    std::vector<Bytes> packets;
    const char* frames;
    uint64_t misfits;
};

void ExpectPacking(const std::vector<PackingCase>& cases) {
    for (const PackingCase& c : cases) {
        const Assembled a = Assemble(c.packets);
        EXPECT_EQ(Describe(a.frames), c.frames) << c.what;
        EXPECT_EQ(a.misfits, c.misfits) << c.what;
    }
}

const Bytes W = Whole(Frame(20), 2);
const std::vector<Bytes> A = Split(Frame(300), {100, 100, 100}, 1);  // A[1]: 00 02 41 2c 40 64 01 ...
const std::vector<Bytes> B = Split(Frame(200), {100, 100}, 3);

TEST(VideoFrameAssembler, EveryKindOfSubPacket) {
    const Bytes big = Frame(15623);
    const std::vector<Bytes> thirteen =
        Split(big, {1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1223}, 5);
    const std::vector<Bytes> wide = Split(Frame(40000), {20000, 15000, 5000}, 6, true);
    ExpectPacking({
        {"whole", {Whole(Frame(100), 1)}, "100x1P@0", 0},
        {"whole, 4-byte fields", {Whole(Frame(20000), 1, true)}, "20000x1P@0", 0},
        {"4-byte fields, then 2-byte ones",
         {Whole(Frame(20000), 1, true), Whole(Frame(300), 2)},
         "20000x1P@0 300x1P@1",
         0},
        {"bare", {Bare(Frame(50), 1)}, "50x1P@0", 0},
        {"a lone last part, as ffmpeg writes it", {Part(0x81, 0x81, 80, 80, 1, Frame(80))}, "80x1P@0", 0},
        {"two whole frames in a packet", {Cat({Whole(Frame(30), 1), Whole(Frame(40), 2)})}, "30x1P@0 40x1P@0", 0},
        {"a last part, then a whole frame",
         {Part(0x00, 1, 100, 0, 1, Frame(60)), Cat({Part(0x80, 2, 100, 40, 1, Bytes(40, 9)), Whole(Frame(25), 2)})},
         "100x2P@0 25x1P@1",
         0},
        {"13 packets", thirteen, "15623x13P@0", 0},
        {"40000 bytes over 3 packets", wide, "40000x3P@0", 0},
        {"a frame ending in a part that fills its packet",
         {Part(0x00, 1, 90, 0, 1, Frame(60)), Part(0x00, 2, 90, 60, 1, Bytes(30, 1))},
         "90x2P@0",
         0},
        {"the type from the second part when the first is empty",
         {Part(0x00, 1, 50, 0, 1, {}), Part(0x80, 2, 50, 50, 1, Frame(50, 0x60))},
         "50x2B@0",
         0},
        // Bit 0x40 alone makes a field short: 80 00 00 10 is 4 bytes long.
        {"fields by their second bit", {Cat({{0xC0, 0x80, 0x00, 0x00, 0x10, 0x40, 0x00, 7}, Frame(16)})}, "16x1P@0", 0},
    });
}

TEST(VideoFrameAssembler, PackingThatDoesNotFit) {
    ExpectPacking({
        {"a middle part missing", {A[0], A[2], W}, "20x1P@2", 2},
        {"the first part missing", {A[1], A[2], W}, "20x1P@2", 2},
        {"the last part missing, a whole frame next", {A[0], A[1], W}, "20x1P@2", 2},
        {"the last part missing, a frame next", {A[0], A[1], B[0], B[1]}, "200x2P@2", 2},
        {"parts out of order", {A[0], A[2], A[1], W}, "20x1P@3", 3},
        {"a wrong sequence byte", {A[0], With(A[1], 6, 9), A[2]}, "", 3},
        {"a wrong frame length", {A[0], With(A[1], 3, 0x2d), A[2]}, "", 3},
        {"a wrong offset", {A[0], With(A[1], 5, 0x65), A[2]}, "", 3},
        {"a wrong part number", {A[0], With(A[1], 1, 3), A[2]}, "", 3},
        {"a whole frame among the parts", {A[0], W, A[1], A[2]}, "20x1P@1", 3},
        {"the data ends in a frame", {W, A[0], A[1]}, "20x1P@0", 2},
        {"a whole frame longer than its packet", {Cut(W, 1), W}, "20x1P@1", 1},
        {"a last part longer than its packet", {A[0], A[1], Cut(A[2], 1)}, "", 3},
        {"a last part larger than its frame", {Part(0x80, 1, 10, 20, 1, Frame(20))}, "", 1},
        {"a part overrunning its frame", {Part(0x00, 1, 100, 0, 1, Frame(150))}, "", 1},
        {"frames before a fault stand", {Cat({W, W, {0xC0, 0x40}})}, "20x1P@0 20x1P@0", 1},
        {"heads cut short",
         {{}, {0xC0}, {0x40}, {0x00, 1, 0x40, 9, 0x40}, {0x80, 1, 0x40, 9, 0x40, 9}, {0xC0, 0, 0, 1}},
         "",
         6},
        {"frames of no bytes", {Whole({}, 1), Bare({}, 1), Part(0x80, 1, 0, 0, 1, {})}, "", 3},
        // A stray last part, then the start of a frame that never completes: one packet, counted once.
        {"a stray part and a dropped frame in one packet", {Cat({A[2], B[0]})}, "", 1},
        {"a stray part and a fault in one packet", {Cat({A[2], {0xC0}}), W}, "20x1P@1", 1},
        {"a stray part before a frame that completes", {Cat({A[2], B[0]}), B[1]}, "200x2P@0", 1},
    });
}

// Version 1 packets are counted and passed over, whatever they hold.
TEST(VideoFrameAssembler, PacketsOfHeaderVersion1) {
    const Assembled a = Assemble({A[0], W, A[1], A[2]}, 1);
    EXPECT_EQ(Describe(a.frames), "300x3P@0");
    EXPECT_EQ(a.misfits, 1u);
}

// Whatever the bytes: no read outside them, and every frame made of packets that were given.
TEST(VideoFrameAssembler, Garbage) {
    std::vector<Bytes> payloads;
    for (uint32_t v = 0; v < 0x10000; ++v) payloads.push_back({uint8_t(v >> 8), uint8_t(v)});
    std::mt19937 random(20240601);
    for (int i = 0; i < 20000; ++i) {
        Bytes payload(random() % 24);
        for (uint8_t& b : payload) {
            const uint32_t mask = random() % 2 ? 0xC1 : 0xFF;  // often small fields and kind bytes
            b = uint8_t(random() & mask);
        }
        payloads.push_back(payload);
    }
    // Bytes from packet i to the end; a packet that cannot be split may lie between a frame's parts.
    std::vector<size_t> from(payloads.size() + 1, 0);
    for (size_t i = payloads.size(); i-- > 0;) from[i] = from[i + 1] + payloads[i].size();
    const Assembled a = Assemble(payloads);
    EXPECT_LE(a.misfits, payloads.size());
    EXPECT_GE(a.misfits, 0x10000u);  // no 2-byte payload is a frame
    for (const VideoFrame& f : a.frames) {
        const size_t first = (f.offset - 100) / 1000;
        ASSERT_LT(first, payloads.size());
        EXPECT_EQ(f.timestamp_ms, 40 * first);
        EXPECT_GE(f.packets, 1u);
        EXPECT_LE(f.packets, payloads.size() - first);
        EXPECT_GE(f.bytes, 1u);
        EXPECT_LE(f.bytes, from[first]) << "frame at packet " << first;
    }
}

TEST(PictureType, FromTheFirstBits) {
    struct Case {
        RealVideoCodec codec;
        uint8_t first;
        char type;
    };
    const RealVideoCodec RV10 = RealVideoCodec::RV10, RV20 = RealVideoCodec::RV20, RV30 = RealVideoCodec::RV30,
                         RV40 = RealVideoCodec::RV40;
    const Case cases[] = {
        {RV10, 0x80, 'I'}, {RV10, 0xC0, 'P'}, {RV10, 0x00, 'I'}, {RV10, 0x7F, 'P'},  // bit 0 is not checked
        {RV20, 0x00, 'I'}, {RV20, 0x40, 'I'}, {RV20, 0x80, 'P'}, {RV20, 0xFF, 'B'},
        {RV30, 0x00, 'I'}, {RV30, 0x0F, 'I'}, {RV30, 0x10, 'P'}, {RV30, 0x18, 'B'},
        {RV30, 0x20, '?'}, {RV30, 0x98, '?'}, {RV40, 0x00, 'I'}, {RV40, 0x3F, 'I'},
        {RV40, 0x40, 'P'}, {RV40, 0x60, 'B'}, {RV40, 0x80, '?'}, {RealVideoCodec::UNKNOWN, 0x40, '?'},
    };
    for (const Case& c : cases) {
        const uint8_t frame[] = {c.first, 0xAA};
        EXPECT_EQ(PictureType(c.codec, frame, 2), c.type) << int(c.codec) << " " << int(c.first);
        EXPECT_EQ(PictureType(c.codec, frame, 0), '?');
        EXPECT_EQ(PictureType(c.codec, nullptr, 0), '?');
    }
}

TEST(CodecOfFourcc, NamesTheFourRealVideoCodes) {
    const std::pair<const char*, RealVideoCodec> cases[] = {
        {"RV10", RealVideoCodec::RV10},   {"RV20", RealVideoCodec::RV20},    {"RV30", RealVideoCodec::RV30},
        {"RV40", RealVideoCodec::RV40},   {"RV41", RealVideoCodec::UNKNOWN}, {"rv40", RealVideoCodec::UNKNOWN},
        {"RV4", RealVideoCodec::UNKNOWN}, {"", RealVideoCodec::UNKNOWN},     {nullptr, RealVideoCodec::UNKNOWN}};
    for (const auto& c : cases) EXPECT_EQ(CodecOfFourcc(c.first), c.second) << (c.first ? c.first : "null");
}

VideoFrame F(uint32_t timestamp, uint32_t bytes, char type, bool key = false) {
    return VideoFrame{timestamp * 10u, timestamp, bytes, 1, key, type};
}

// "start+duration: frames/bytes" per group, checking each one's kbps on the way.
std::string Gops(const std::vector<VideoFrame>& frames) {
    std::string text;
    VideoGopBuilder builder([&](const VideoGop& g) {
        text += (text.empty() ? "" : " ") + std::to_string(g.start_ms) + "+" + std::to_string(g.duration_ms) + ": " +
                std::to_string(g.frames) + "/" + std::to_string(g.bytes);
        EXPECT_DOUBLE_EQ(g.kbps, g.duration_ms == 0 ? 0 : g.bytes * 8.0 / g.duration_ms) << text;
    });
    for (const VideoFrame& f : frames) builder.Add(f);
    builder.Finish();
    return text;
}

// In decode order, as the samples have them: a B-frame after the reference frame it shows before, at that
// frame's time + 1 ms, and the second frame of a packet at the packet's time (its own would be 500). A
// P-frame comes first, as in a file cut at its start. The spans between timed frames, 0-100, 100-300,
// 300-400, 400-600, 600-700 and 700-800, show 1, 2, 1, 3, 1 and 1 frames: 800 ms over 9.
const std::vector<VideoFrame> FRAMES = {
    F(0, 500, 'P'),   F(100, 4000, 'I', true), F(300, 1000, 'P'), F(301, 400, 'B'),        F(400, 1200, 'P'),
    F(400, 700, 'P'), F(401, 300, 'B'),        F(600, 900, 'P'),  F(700, 4000, 'I', true), F(800, 600, '?'),
};

TEST(VideoGopBuilder, FromKeyframeToKeyframe) {
    EXPECT_EQ(Gops({}), "");
    // The last group lasts to 89 ms (the mean interval) after its last frame.
    EXPECT_EQ(Gops(FRAMES), "0+100: 1/500 100+600: 7/8500 700+189: 2/4600");
    // The flag starts a group, whatever the type says; the last one lasts past a frame without a time of
    // its own; a frame alone shows for no time.
    EXPECT_EQ(Gops({F(0, 1, 'I', true), F(40, 1, 'I'), F(80, 1, '?', true), F(80, 1, 'P')}), "0+80: 2/2 80+80: 2/2");
    EXPECT_EQ(Gops({F(500, 1, 'I', true)}), "500+0: 1/1");
}

TEST(VideoFrameStatistics, OfAKnownFrameList) {
    VideoFrameStatisticsAccumulator accumulator;
    for (const VideoFrame& f : FRAMES) accumulator.Add(f);
    accumulator.Finish(4);
    const VideoFrameStatistics& s = accumulator.Statistics();
    EXPECT_EQ(s.frames, 10u);
    EXPECT_EQ(s.bytes, 13600u);
    EXPECT_DOUBLE_EQ(s.mean_fps, 11.25);
    EXPECT_DOUBLE_EQ(s.shortest_interval_ms, 200 / 3.0);
    EXPECT_DOUBLE_EQ(s.longest_interval_ms, 100);
    const uint32_t counts[] = {2, 5, 2, 1}, largest[] = {4000, 1200, 400, 600};
    const uint64_t bytes[] = {8000, 4300, 700, 600};
    for (int i = 0; i < VIDEO_FRAME_TYPE_COUNT; ++i) {
        SCOPED_TRACE(VIDEO_FRAME_TYPES[i]);
        EXPECT_EQ(s.types[i].count, counts[i]);
        EXPECT_EQ(s.types[i].bytes, bytes[i]);
        EXPECT_DOUBLE_EQ(s.types[i].mean_bytes, double(bytes[i]) / counts[i]);
        EXPECT_EQ(s.types[i].largest_bytes, largest[i]);
        EXPECT_DOUBLE_EQ(s.types[i].share, bytes[i] / 13600.0);
    }
    // The first of the two largest.
    EXPECT_EQ(std::string(1, s.largest_type) + " " + std::to_string(s.largest_bytes) + " " +
                  std::to_string(s.largest_timestamp_ms) + " " + std::to_string(s.largest_offset),
              "I 4000 100 1000");
    EXPECT_EQ(s.gops, 3u);
    EXPECT_EQ(s.shortest_gop_frames, 1u);
    EXPECT_DOUBLE_EQ(s.mean_gop_frames, 10 / 3.0);
    EXPECT_EQ(s.longest_gop_frames, 7u);
    EXPECT_EQ(s.shortest_gop_ms, 100u);
    EXPECT_DOUBLE_EQ(s.mean_gop_ms, 889 / 3.0);
    EXPECT_EQ(s.longest_gop_ms, 600u);
    EXPECT_EQ(s.misfit_packets, 4u);

    VideoFrameStatisticsAccumulator empty;
    empty.Finish(0);
    EXPECT_EQ(empty.Statistics().frames + empty.Statistics().gops, 0u);
    EXPECT_EQ(empty.Statistics().mean_fps, 0.0);
}

// ---------------------------------------------------------------- the samples

// The video stream's lines of samples/<name>.packets.txt: stream timestamp key size offset crc32
// ffprobe_size, in file order, '#' lines aside.
struct ListedPacket {
    uint32_t timestamp, offset, ffprobe_size;
    bool key;
};

std::vector<ListedPacket> ReadPacketList(const std::string& path, uint32_t video) {
    std::vector<ListedPacket> packets;
    std::ifstream in(path.c_str());
    std::string line, crc;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == '\r') continue;
        std::istringstream fields(line);
        ListedPacket p{};
        uint32_t stream = 0, size = 0;
        fields >> stream >> p.timestamp >> p.key >> size >> p.offset >> crc >> p.ffprobe_size;
        EXPECT_FALSE(fields.fail()) << path << ": " << line;
        if (stream == video) packets.push_back(p);
    }
    return packets;
}

// Through the reader as rmrate reads them: the first RealVideo stream, its codec from the type-specific data.
TEST(VideoFrameAssembler, FramesOfTheSamples) {
    const std::pair<const char*, uint32_t> SAMPLES[] = {{"demo.rm", 432},
                                                        {"rv10_ra144.rm", 90},
                                                        {"rv20_ac3.rm", 75},
                                                        {"rv20_vbr_long.rm", 600},
                                                        {"rv20_video.rmvb", 96}};
    for (const auto& sample : SAMPLES) {
        SCOPED_TRACE(sample.first);
        const std::string path = std::string(KOV_SOURCE_DIR) + "/samples/" + sample.first;
        FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        rm_reader* reader = rm_reader_new(nullptr, [](void*, rm_result, const char*) {});
        ASSERT_EQ(rm_reader_attach_stdio(reader, file), RM_OK);
        ASSERT_EQ(rm_reader_load_headers(reader), RM_OK);
        int32_t video = -1;
        char fourcc[5] = "";
        for (uint32_t i = 0; i < rm_reader_stream_count(reader) && video < 0; ++i) {
            rm_stream_header* h = nullptr;
            ASSERT_EQ(rm_reader_fetch_stream_header(reader, i, &h), RM_OK);
            if (rm_stream_header_is_video(h) && FindCodecFourcc(h->opaque_data, h->opaque_length, fourcc)) {
                video = int32_t(i);
            }
            rm_reader_release_stream_header(reader, &h);
        }
        std::vector<VideoFrame> frames;
        VideoFrameAssembler assembler(CodecOfFourcc(fourcc), [&](const VideoFrame& f) { frames.push_back(f); });
        rm_packet* packet = nullptr;
        rm_result read = RM_OK;
        while (video >= 0 && (read = rm_reader_next_packet(reader, &packet, video)) == RM_OK) {
            const uint64_t offset = rm_reader_packet_offset(reader);
            // A version 1 header is a byte longer: the payload's offset tells the version.
            const uint8_t version = uint8_t(packet->file_offset - offset - RM_PACKET_HEADER_SIZE);
            assembler.AddPacket(offset, packet->timestamp, version, (packet->flags & RM_PACKET_KEYFRAME) != 0,
                                packet->data, packet->length);
            rm_reader_release_packet(reader, &packet);
        }
        assembler.Finish();
        rm_reader_delete(&reader);
        std::fclose(file);
        ASSERT_GE(video, 0);
        EXPECT_EQ(read, RM_END_OF_DATA);
        EXPECT_EQ(assembler.MisfitPackets(), 0u);

        const std::vector<ListedPacket> listed =
            ReadPacketList(path.substr(0, path.rfind('.')) + ".packets.txt", uint32_t(video));
        ASSERT_EQ(listed.size(), sample.second);
        ASSERT_EQ(frames.size(), sample.second);
        for (size_t i = 0; i < frames.size(); ++i) {
            const VideoFrame& f = frames[i];
            const ListedPacket& p = listed[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(f.offset, p.offset - RM_PACKET_HEADER_SIZE);
            EXPECT_EQ(f.timestamp_ms, p.timestamp);
            EXPECT_EQ(f.bytes + 1 + 8 * f.packets, p.ffprobe_size);
            EXPECT_EQ(f.keyframe, p.key);
            EXPECT_EQ(f.type, p.key ? 'I' : 'P');  // no B-frames in these
        }
    }
}

}  // namespace
