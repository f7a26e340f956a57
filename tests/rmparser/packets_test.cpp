// Tests of packet reading: the first packet, stream selection, rule flags, end of data versus damage, the index.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rmparser/rm_internal.h"
#include "tests/support/rm_reader_fixture.h"

namespace {

using rmtest::Bytes;
using rmtest::make_packet;
using rmtest::Packet;

const char HEADER_MESSAGE[] = "Could not read packet header.";
const char DATA_MESSAGE[] = "Could not read packet data.";
const char STREAM_MESSAGE[] = "Unexpected stream number in packet.";

// What one call of the packet reader gave; the packet itself is released at once.
struct Got {
    rm_result code = RM_OK;
    uint32_t timestamp = 0;
    uint16_t stream = 0;
    uint16_t asm_flags = 0;
    uint8_t asm_rule = 0;
    uint16_t length = 0;
    bool has_data = false;
    Bytes data;
    uint32_t file_offset = 0;
};

// A reader over an in-memory file that hands out what each call gave.
struct Opened : rmtest::ReaderFixture {
    explicit Opened(const Bytes& bytes) : ReaderFixture(bytes) {}

    Got next(int32_t selector = -1) {
        Got got;
        rm_packet* packet = nullptr;
        got.code = rm_reader_next_packet(reader, &packet, selector);
        if (got.code != RM_OK) {
            EXPECT_EQ(packet, nullptr);
            return got;
        }
        got.timestamp = packet->timestamp;
        got.stream = packet->stream;
        got.asm_flags = packet->asm_flags;
        got.asm_rule = packet->asm_rule;
        got.length = packet->length;
        got.has_data = packet->data != nullptr;
        if (packet->data) got.data.assign(packet->data, packet->data + packet->length);
        got.file_offset = packet->file_offset;
        EXPECT_EQ(packet->reserved, 0);
        rm_reader_release_packet(reader, &packet);
        return got;
    }

    // Every packet up to the first non-zero result, which ends the list.
    std::vector<Got> all(int32_t selector = -1) {
        std::vector<Got> list;
        for (int guard = 0; guard < 1000; ++guard) {
            list.push_back(next(selector));
            if (list.back().code != RM_OK) return list;
        }
        ADD_FAILURE() << "the reader never stopped";
        return list;
    }
};

std::vector<uint32_t> timestamps(const std::vector<Got>& list) {
    std::vector<uint32_t> t;
    for (const Got& g : list) {
        if (g.code == RM_OK) t.push_back(g.timestamp);
    }
    return t;
}

Bytes filler(uint32_t n) {
    Bytes b(n);
    for (uint32_t k = 0; k < n; ++k) b[k] = uint8_t(k);
    return b;
}

Packet with_length(Packet p, uint16_t length) {
    p.length = length;
    return p;
}

const std::vector<rmtest::MdprChunk> VIDEO_AND_AUDIO = {rmtest::video_mdpr(0), rmtest::audio_mdpr(1)};

TEST(PacketReading, DeliversPacketsInFileOrderWithTheirPayloads) {
    rmtest::RmWriter w = rmtest::simple_writer(VIDEO_AND_AUDIO, {});
    std::vector<uint32_t> payload_offsets;
    const std::vector<Packet> packets = {make_packet(0, 1000, 10, true), make_packet(1, 1000, 5, true),
                                         make_packet(0, 1040, 0), make_packet(1, 1020, 300)};
    for (const Packet& p : packets) {
        payload_offsets.push_back(uint32_t(w.offset() + 12));
        w.packet(p);
    }
    Opened f(w.bytes());
    ASSERT_EQ(f.load(), RM_OK);
    EXPECT_EQ(f.reader->start_timestamp, 1000u);

    const std::vector<Got> list = f.all();
    ASSERT_EQ(list.size(), packets.size() + 1);
    for (size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list[i].stream, packets[i].stream_number);  // numbers 0 and 1 are indexes 0 and 1
        EXPECT_EQ(list[i].timestamp, packets[i].timestamp);
        EXPECT_EQ(list[i].length, *packets[i].payload_size);
        EXPECT_EQ(list[i].data, filler(*packets[i].payload_size));
        EXPECT_EQ(list[i].file_offset, payload_offsets[i]);
    }
    // An empty payload comes without a block.
    EXPECT_FALSE(list[2].has_data);
    EXPECT_EQ(list.back().code, RM_END_OF_DATA);
}

// Reads stream 0 of `file`, whose video packets at 0, 40 and 80 ms have a
// skipped packet before each of the last two: each skip with a payload is one
// relative seek of `seek` bytes to the payload's last byte, which is read.
void ExpectTwoSkipsOf(const Bytes& file, int32_t seek, size_t seeks) {
    Opened f(file);
    ASSERT_EQ(f.load(), RM_OK);
    f.io.seeks.clear();
    const std::vector<Got> list = f.all(0);
    EXPECT_EQ(timestamps(list), (std::vector<uint32_t>{0, 40, 80}));
    EXPECT_EQ(list.back().code, RM_END_OF_DATA);
    ASSERT_EQ(f.io.seeks.size(), seeks);
    for (const auto& s : f.io.seeks) {
        EXPECT_EQ(s.origin, RM_SEEK_CUR);
        EXPECT_EQ(s.offset, seek);
    }
    EXPECT_EQ(f.log.count(), 1u);  // only the end of the data
}

// A packet of another stream is passed over by one relative seek; its length
// field decides how far.
TEST(PacketReading, SkipsOtherStreamsByTheirLength) {
    const struct {
        const char* what;
        Packet skipped;
        int32_t seek;
        size_t seeks;
    } cases[] = {
        {"payload of 20", make_packet(1, 10, 20), 19, 2},
        {"length 12", make_packet(1, 10, 0), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectTwoSkipsOf(
            rmtest::simple_file(VIDEO_AND_AUDIO, {make_packet(0, 0, 4, true), c.skipped, make_packet(0, 40, 6),
                                                  c.skipped, make_packet(0, 80, 6)}),
            c.seek, c.seeks);
    }
}

// A header that cannot start a packet is damage where it stands, whether its
// packet would be taken or skipped: the reader never guesses its way past it.
TEST(PacketReading, ImplausibleHeadersAreDamageWhereTheyStand) {
    Packet bad_version = make_packet(1, 20, 8);
    bad_version.version = 2;
    rmtest::DataChunk short_data;
    short_data.size = 18 + 20 + 20 + 10;  // ends inside the third packet
    const struct {
        const char* what;
        Packet second;
        rmtest::DataChunk data;
        const char* message;
    } cases[] = {
        {"version 2", bad_version, {}, "Packet header version is neither 0 nor 1 - possibly a corrupt file."},
        {"length 0",
         with_length(make_packet(1, 20, 0), 0),
         {},
         "Packet length is shorter than its header - possibly a corrupt file."},
        {"length 11",
         with_length(make_packet(1, 20, 0), 11),
         {},
         "Packet length is shorter than its header - possibly a corrupt file."},
        {"a stream no MDPR declares", make_packet(9, 20, 8), {}, STREAM_MESSAGE},
        {"a packet across the DATA end", make_packet(1, 20, 8), short_data,
         "Packet runs past the end of its DATA chunk - possibly a corrupt file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool crosses = c.data.size.has_value();
        rmtest::RmWriter w;
        w.rmf().prop().mdpr(VIDEO_AND_AUDIO[0]).mdpr(VIDEO_AND_AUDIO[1]).data(c.data);
        w.packet(make_packet(0, 0, 8));  // no keyframe: its index would be the one allocation left
        const uint64_t bad_at = crosses ? w.offset() + 20 : w.offset();
        if (crosses) w.packet(make_packet(0, 10, 8));
        w.packet(c.second).packet(make_packet(0, 40, 8));
        for (int32_t selector : {-1, 0, 1}) {
            SCOPED_TRACE(selector);
            Opened f(w.bytes());
            ASSERT_EQ(f.load(), RM_OK);
            const size_t live = f.alloc.live();
            const std::vector<Got> list = f.all(selector);
            EXPECT_EQ(list.back().code, RM_CORRUPT);
            EXPECT_EQ(f.alloc.live(), live);
            EXPECT_EQ(f.log.last_message(), c.message);
            EXPECT_EQ(f.log.count(), 1u);
            EXPECT_EQ(rm_reader_packet_offset(f.reader), bad_at);
            EXPECT_LT(f.alloc.largest_request, 65536u);
        }
    }
}

// A skipped packet the file cuts short is where the file breaks, not a seek
// past its end followed by a clean end of the data.
TEST(PacketReading, SkippedPacketCutByTheEndOfTheFileIsACut) {
    rmtest::RmWriter w;
    w.rmf().prop().mdpr(VIDEO_AND_AUDIO[0]).mdpr(VIDEO_AND_AUDIO[1]).data();
    w.packet(make_packet(0, 0, 8, true));
    const uint64_t audio_at = w.offset();
    w.packet(make_packet(1, 20, 100));
    for (size_t cut = 1; cut <= 100; cut += 33) {
        SCOPED_TRACE(cut);
        Bytes file = w.bytes();
        file.resize(file.size() - cut);
        Opened f(file);
        ASSERT_EQ(f.load(), RM_OK);
        const std::vector<Got> list = f.all(0);
        EXPECT_EQ(list.size(), 2u);
        EXPECT_EQ(list.back().code, RM_READ_FAILED);
        EXPECT_EQ(f.log.last_message(), DATA_MESSAGE);
        EXPECT_EQ(rm_reader_packet_offset(f.reader), audio_at);
    }
}

TEST(PacketReading, UnknownStreamNumberIsCorruptForEverySelector) {
    const Bytes file = rmtest::simple_file({rmtest::video_mdpr(0)},
                                           {make_packet(0, 0, 8, true), make_packet(7, 20, 8), make_packet(0, 40, 8)});
    for (int32_t selector : {-1, 0}) {
        SCOPED_TRACE(selector);
        Opened f(file);
        ASSERT_EQ(f.load(), RM_OK);
        EXPECT_EQ(f.next(selector).code, RM_OK);
        const size_t live = f.alloc.live();
        EXPECT_EQ(f.next(selector).code, RM_CORRUPT);
        EXPECT_EQ(f.alloc.live(), live);
        ASSERT_EQ(f.log.count(), 1u);
        EXPECT_EQ(f.log.last_code(), RM_CORRUPT);
        EXPECT_EQ(f.log.last_message(), STREAM_MESSAGE);
    }
}

TEST(PacketReading, SelectorNamingNoStreamReadsToTheEnd) {
    const Bytes file = rmtest::simple_file(VIDEO_AND_AUDIO,
                                           {make_packet(0, 0, 8, true), make_packet(0, 40, 8), make_packet(0, 80, 8)});
    for (int32_t selector : {1, 2, 1000, -2}) {
        SCOPED_TRACE(selector);
        Opened f(file);
        ASSERT_EQ(f.load(), RM_OK);
        EXPECT_EQ(f.next(selector).code, RM_END_OF_DATA);
        EXPECT_EQ(f.log.count_of(HEADER_MESSAGE), 1u);
    }
}

struct RuleStep {
    uint32_t timestamp;
    bool keyframe;
    uint8_t group;
    uint16_t asm_flags;
    uint8_t asm_rule;
};

struct RuleCase {
    const char* what;
    const char* mime;
    uint32_t file_version;
    std::vector<RuleStep> steps;
};

TEST(PacketReading, RuleFlagsFollowTheStreamClass) {
    const RuleCase cases[] = {
        {"video",
         rmtest::REAL_VIDEO_MIME,
         0,
         {
             {0, false, 0, 3, 1},    // first packet after the header read
             {0, false, 0, 0, 1},    // same timestamp as the previous one
             {40, false, 0, 2, 1},   // non-keyframe after a non-keyframe
             {80, true, 0, 3, 0},    // keyframe
             {120, false, 0, 3, 1},  // non-keyframe after a keyframe
             {160, false, 0, 2, 1},
             {160, true, 0, 0, 0},  // the timestamp wins over the keyframe
         }},
        {"audio",
         rmtest::REAL_AUDIO_MIME,
         0,
         {
             {0, true, 0, 3, 0},
             {20, false, 0, 3, 1},  // after a keyframe
             {40, false, 0, 2, 1},  // after a non-keyframe
             {40, false, 0, 2, 1},  // audio ignores equal timestamps
             {60, true, 0, 3, 0},
         }},
        {"event",
         rmtest::REAL_EVENT_MIME,
         0,
         {
             {0, false, 0, 2, 1},
             {10, true, 0, 3, 0},
             {20, false, 0, 2, 1},
         }},
        {"no class, version 0",
         "application/octet-stream",
         0,
         {
             {0, false, 5, 2, 1},
             {10, true, 5, 3, 0},
         }},
        {"no class, version 1: the group is the rule",
         "application/octet-stream",
         1,
         {
             {0, false, 5, 2, 5},
             {10, true, 7, 3, 7},
         }},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.what);
        rmtest::MdprChunk stream = rmtest::video_mdpr(0);
        stream.mime_type = c.mime;
        std::vector<Packet> packets;
        for (const RuleStep& step : c.steps) {
            Packet p = make_packet(0, step.timestamp, 4, step.keyframe);
            p.group = step.group;
            packets.push_back(p);
            // Packets of another stream taken in between change nothing.
            packets.push_back(make_packet(1, step.timestamp + 1, 4, !step.keyframe));
        }
        Opened f(rmtest::simple_file({stream, rmtest::audio_mdpr(1)}, packets, c.file_version));
        ASSERT_EQ(f.load(), RM_OK);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Got got = f.next();
            ASSERT_EQ(got.code, RM_OK);
            ASSERT_EQ(f.next().stream, 1);
            EXPECT_EQ(got.timestamp, c.steps[i].timestamp);
            EXPECT_EQ(got.asm_flags, c.steps[i].asm_flags);
            EXPECT_EQ(got.asm_rule, c.steps[i].asm_rule);
        }
    }
}

// Version 1 headers: 13 bytes, the rule number and ASM flags from the file,
// the length counting the whole packet; whatever cannot be believed of one is
// damage where it starts, read with payloads or without.
TEST(PacketReading, VersionOneHeaders) {
    rmtest::MdprChunk video = rmtest::video_mdpr(0);
    video.max_packet_size = 10;
    const struct {
        const char* what;
        Packet second;
        size_t kept;  // bytes of the file kept from the second packet on (0: all)
        rm_result end;
        const char* message;
    } cases[] = {
        {"a rule past 255", rmtest::make_v1_packet(0, 40, 10, 300, true), 0, RM_END_OF_DATA, HEADER_MESSAGE},
        {"the declared largest payload", rmtest::make_v1_packet(0, 40, 10, 7), 0, RM_END_OF_DATA, HEADER_MESSAGE},
        {"one byte more", rmtest::make_v1_packet(0, 40, 11, 7), 0, RM_CORRUPT,
         "Packet is larger than its stream's maximum packet size - possibly a corrupt file."},
        {"a length of 12", with_length(rmtest::make_v1_packet(0, 40, 0, 7), 12), 0, RM_CORRUPT,
         "Packet length is shorter than its header - possibly a corrupt file."},
        {"the file ends after 12 of its 13 bytes", rmtest::make_v1_packet(0, 80, 4, 1), 12, RM_READ_FAILED,
         HEADER_MESSAGE},
    };
    for (const auto& c : cases) {
        for (bool payloads : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.what << (payloads ? "" : ", headers only"));
            rmtest::RmWriter w;
            w.rmf().prop().mdpr(video).data();
            const size_t first = w.offset();
            w.packet(rmtest::make_v1_packet(0, 0, 3, 5, true));
            const size_t second = w.offset();
            w.packet(c.second);
            Bytes file = w.bytes();
            if (c.kept != 0) file.resize(second + c.kept);
            Opened f(file);
            ASSERT_EQ(f.load(), RM_OK);
            std::vector<rm_packet> got;  // the records, their payloads checked and released
            rm_result end = RM_OK;
            for (int guard = 0; guard < 4 && end == RM_OK; ++guard) {
                rm_packet record = {};
                if (payloads) {
                    rm_packet* packet = nullptr;
                    end = rm_reader_next_packet(f.reader, &packet, -1);
                    if (end != RM_OK) break;
                    record = *packet;
                    EXPECT_EQ(Bytes(packet->data, packet->data + packet->length), filler(packet->length));
                    record.data = nullptr;
                    rm_reader_release_packet(f.reader, &packet);
                } else {
                    end = rm_reader_next_packet_header(f.reader, &record, -1);
                    if (end != RM_OK) break;
                }
                got.push_back(record);
            }
            EXPECT_EQ(end, c.end);
            EXPECT_EQ(f.log.last_message(), c.message);
            ASSERT_GE(got.size(), 1u);
            EXPECT_EQ(got[0].asm_rule, 5);
            EXPECT_EQ(got[0].asm_rule_number, 5);
            EXPECT_EQ(got[0].asm_flags, RM_PACKET_KEYFRAME);
            EXPECT_EQ(got[0].flags, RM_PACKET_KEYFRAME);
            EXPECT_EQ(got[0].length, 3);
            EXPECT_EQ(got[0].file_offset, first + 13);
            if (c.end != RM_END_OF_DATA) {
                EXPECT_EQ(got.size(), 1u);
                EXPECT_EQ(rm_reader_packet_offset(f.reader), second);
                continue;
            }
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[1].asm_rule_number, *c.second.asm_rule);
            EXPECT_EQ(got[1].asm_rule, *c.second.asm_rule > 255 ? 255 : *c.second.asm_rule);
            EXPECT_EQ(got[1].flags, c.second.flags);
            EXPECT_EQ(got[1].length, *c.second.payload_size);
            EXPECT_EQ(got[1].file_offset, second + 13);
        }
    }
}

TEST(PacketReading, EndOfDataIsReportedOncePerCall) {
    Opened f(rmtest::video_file({make_packet(0, 0, 8, true), make_packet(0, 40, 8)}));
    ASSERT_EQ(f.load(), RM_OK);
    EXPECT_EQ(f.next().code, RM_OK);
    EXPECT_EQ(f.next().code, RM_OK);
    EXPECT_EQ(f.log.count(), 0u);
    for (size_t call = 1; call <= 3; ++call) {
        EXPECT_EQ(f.next().code, RM_END_OF_DATA);
        EXPECT_EQ(f.log.count(), call);
        EXPECT_EQ(f.log.last_code(), RM_READ_FAILED);
        EXPECT_EQ(f.log.last_message(), HEADER_MESSAGE);
    }
}

TEST(PacketReading, FileCutInsideTheDataChunkFails) {
    const Bytes whole = rmtest::video_file({make_packet(0, 0, 8, true), make_packet(0, 40, 100)});
    const struct {
        const char* what;
        size_t cut;  // bytes removed from the end
        const char* message;
    } cases[] = {
        {"cut inside the payload", 50, DATA_MESSAGE},
        {"cut inside the header", 100 + 5, HEADER_MESSAGE},
        {"cut right after a packet", 100 + 12, HEADER_MESSAGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes cut = whole;
        cut.resize(whole.size() - c.cut);
        Opened f(cut);
        ASSERT_EQ(f.load(), RM_OK);
        EXPECT_EQ(f.next().code, RM_OK);
        const size_t live = f.alloc.live();
        EXPECT_EQ(f.next().code, RM_READ_FAILED);
        EXPECT_EQ(f.alloc.live(), live);
        ASSERT_EQ(f.log.count(), 1u);
        EXPECT_EQ(f.log.last_code(), RM_READ_FAILED);
        EXPECT_EQ(f.log.last_message(), c.message);
        // Every cut lies in (or right before) the second packet's 112 bytes.
        EXPECT_EQ(rm_reader_packet_offset(f.reader), whole.size() - (100 + 12));
    }
}

TEST(PacketReading, HugeDataSizeDoesNotWrapIntoAnEarlyEnd) {
    // The chunk claims nearly 4 GiB; offset + size must not wrap to a small
    // end that would pass a cut file off as complete.
    rmtest::RmWriter w;
    w.rmf().prop().mdpr(rmtest::video_mdpr(0));
    rmtest::DataChunk data;
    data.size = 0xFFFFFFF0u;
    data.packet_count = 2;  // the second one is missing
    w.data(data).packet(make_packet(0, 0, 8, true)).raw({0x00, 0x00, 0x00});
    Opened f(w.bytes());
    ASSERT_EQ(f.load(), RM_OK);
    EXPECT_EQ(f.next().code, RM_OK);
    EXPECT_EQ(f.next().code, RM_READ_FAILED);
}

// ffmpeg declares a DATA size 18 bytes beyond its last packet and writes 8
// zero bytes of them, so its files end 10 bytes short of the declared end.
// That is a clean end whatever the packet count says; losing more than the
// trailer, or finding packet bytes where it should be, is a cut.
TEST(PacketReading, OvershootingDataSizeEndsCleanlyOnlyAtItsTrailer) {
    const struct {
        const char* what;
        std::optional<uint32_t> declared;  // default: the packets written
        uint32_t packets_kept;
        Bytes trailer;
        rm_result end;
    } cases[] = {
        {"every declared packet read", {}, 3, Bytes(8, 0), RM_END_OF_DATA},
        {"fewer declared than present", 2u, 3, Bytes(8, 0), RM_END_OF_DATA},
        {"more declared than present", 4u, 3, Bytes(8, 0), RM_END_OF_DATA},
        {"nothing declared", 0u, 3, Bytes(8, 0), RM_END_OF_DATA},
        {"half of the trailer", {}, 3, Bytes(4, 0), RM_END_OF_DATA},
        {"an index appended after the trailer",
         {},
         3,
         {0, 0, 0, 0, 0, 0, 0, 0, 'I', 'N', 'D', 'X', 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         RM_END_OF_DATA},
        {"last packet lost", {}, 2, Bytes(8, 0), RM_READ_FAILED},
        {"last packet lost, fewer declared", 2u, 2, Bytes(8, 0), RM_READ_FAILED},
        // 18 declared bytes are missing: room for a packet as much as for the trailer.
        {"trailer lost too", {}, 3, {}, RM_READ_FAILED},
        {"less of the trailer than its version and length", {}, 3, Bytes(3, 0), RM_READ_FAILED},
        {"a packet header where the trailer was",
         {},
         3,
         {0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00},
         RM_READ_FAILED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        rmtest::RmWriter w;
        w.rmf().prop().mdpr(rmtest::video_mdpr(0));
        rmtest::DataChunk data;
        data.packet_count = c.declared;
        data.size = 18 + 3 * 20 + 18;
        w.data(data);
        for (uint32_t i = 0; i < c.packets_kept; ++i) {
            w.packet(make_packet(0, i * 40, 8, i == 0));
        }
        const uint64_t declared_end = w.offset() + 18;
        const uint64_t end_of_packets = w.offset();
        w.raw(c.trailer);
        for (int32_t selector : {-1, 0, 1}) {
            Opened g(w.bytes());
            ASSERT_EQ(g.load(), RM_OK);
            const std::vector<Got> list = g.all(selector);
            EXPECT_EQ(list.back().code, c.end) << "selector " << selector;
            EXPECT_EQ(g.log.last_message(), HEADER_MESSAGE);
            EXPECT_EQ(g.log.count(), 1u);
            // A cut names the packet it hit; a clean end the declared end.
            EXPECT_EQ(rm_reader_packet_offset(g.reader), c.end == RM_END_OF_DATA ? declared_end : end_of_packets);
        }
    }
}

TEST(PacketReading, NoDeclaredPacketsLeavesTheStartOpen) {
    rmtest::RmWriter w;
    w.rmf().prop().mdpr(rmtest::video_mdpr(0));
    rmtest::DataChunk data;
    data.packet_count = 0;
    w.data(data).packet(make_packet(0, 500, 8, true)).packet(make_packet(0, 540, 8));
    Opened f(w.bytes());
    ASSERT_EQ(f.load(), RM_OK);
    EXPECT_EQ(f.reader->start_timestamp, 0xFFFFFFFFu);
    const std::vector<Got> list = f.all();
    EXPECT_EQ(timestamps(list), (std::vector<uint32_t>{500, 540}));
    EXPECT_EQ(list.back().code, RM_END_OF_DATA);
}

TEST(PacketReading, HeaderReadFailsWithoutADataChunkAtTheOffset) {
    // The same file twice: once to learn where the INDX chunk lands.
    auto build = [](uint32_t data_offset) {
        rmtest::RmWriter w;
        rmtest::PropChunk prop;
        if (data_offset != 0) prop.data_offset = data_offset;
        w.rmf().prop(prop).mdpr(rmtest::video_mdpr(0)).data().packet(make_packet(0, 0, 8, true));
        const uint32_t indx_offset = uint32_t(w.offset());
        w.indx(2);
        return std::make_pair(w.bytes(), indx_offset);
    };
    const uint32_t indx_offset = build(0).second;
    Opened f(build(indx_offset).first);
    EXPECT_EQ(f.load(), RM_BAD_DATA_CHUNK);
    EXPECT_EQ(f.log.count(), 0u);
}

// A first packet of a stream that stream selection dropped fails the header
// read; a first packet that is no packet at all (cut, damaged, of a number no
// MDPR declares) is damage the first read reports, with where it lies.
TEST(PacketReading, FirstPacketOfADroppedStreamFailsTheHeaderReadDamageDoesNot) {
    rmtest::LogicalStream claims;
    claims.physical_streams = {0};
    const Bytes dropped_first = rmtest::simple_file(
        {rmtest::video_mdpr(0), rmtest::logical_mdpr(1, claims, "logical-video/x-pn-realvideo"), rmtest::video_mdpr(2)},
        {make_packet(0, 0, 8, true), make_packet(2, 0, 8, true)});
    Opened dropped(dropped_first);
    EXPECT_EQ(dropped.load(), RM_BAD_DATA_CHUNK);
    EXPECT_EQ(dropped.log.count(), 0u);

    const Bytes unknown_first = rmtest::video_file({make_packet(3, 0, 8, true), make_packet(0, 40, 8)});
    Bytes cut_first = rmtest::video_file({make_packet(0, 0, 8, true)});
    const uint64_t first_at = cut_first.size() - 20;
    cut_first.resize(cut_first.size() - 15);
    for (const Bytes& file : {unknown_first, cut_first}) {
        Opened f(file);
        ASSERT_EQ(f.load(), RM_OK);
        EXPECT_EQ(f.reader->start_timestamp, 0xFFFFFFFFu);
        EXPECT_EQ(f.log.count(), 0u);
        EXPECT_NE(f.next().code, RM_OK);
        EXPECT_EQ(rm_reader_packet_offset(f.reader), first_at);
    }
}

TEST(PacketReading, KeyframeIndexKeepsItsSpacingAndCapacity) {
    // Short streams: entries more than 50 ms apart, at most 32 of them.
    rmtest::RmWriter w = rmtest::simple_writer({rmtest::video_mdpr(0)}, {});
    struct Expected {
        uint32_t timestamp;
        uint32_t offset;
    };
    std::vector<Expected> expected;
    auto add = [&](uint32_t timestamp, bool keyframe, bool recorded) {
        if (recorded) expected.push_back({timestamp, uint32_t(w.offset())});
        w.packet(make_packet(0, timestamp, 3, keyframe));
    };
    add(100, true, true);
    add(150, true, false);  // exactly the spacing
    add(160, false, false);
    add(151, true, true);   // just over it
    add(120, true, false);  // going back in time
    uint32_t t = 151;
    while (expected.size() < 32) {
        t += 100;
        add(t, true, true);
    }
    add(t + 100, true, false);  // the storage is full
    add(t + 200, true, false);

    Opened f(w.bytes());
    ASSERT_EQ(f.load(), RM_OK);
    const rm_stream_state& state = f.reader->stream_states[0];
    ASSERT_EQ(state.index_spacing, 50u);
    ASSERT_EQ(state.index_capacity, 32u);
    EXPECT_EQ(state.index_entries, nullptr);  // nothing until a keyframe comes
    const size_t allocations = f.alloc.allocations;
    const std::vector<Got> list = f.all();
    EXPECT_EQ(list.back().code, RM_END_OF_DATA);
    // Record and payload, and the index once (32 entries at its first keyframe).
    EXPECT_EQ(f.alloc.allocations - allocations, 2 * (list.size() - 1) + 1);

    ASSERT_EQ(state.index_count, expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(state.index_entries[i].timestamp, expected[i].timestamp);
        EXPECT_EQ(state.index_entries[i].offset, expected[i].offset);
    }
    EXPECT_EQ(state.last_entry_time, expected.back().timestamp);
}

TEST(PacketReading, FailedAllocationsReleaseEverything) {
    const Bytes file = rmtest::video_file({make_packet(0, 0, 8, true), make_packet(0, 40, 8)});
    for (uint32_t nth : {1u, 2u}) {
        SCOPED_TRACE(nth);
        Opened f(file);
        ASSERT_EQ(f.load(), RM_OK);
        const size_t live = f.alloc.live();
        f.alloc.fail_nth(f.alloc.requests + nth);
        EXPECT_EQ(f.next().code, RM_OUT_OF_MEMORY);
        EXPECT_EQ(f.alloc.live(), live);
        EXPECT_EQ(f.log.count(), 0u);
        // No attempt is made to find the next header: the unread payload
        // (filler 00 01 02 ...) is taken for one and does not fit the chunk.
        EXPECT_EQ(f.next().code, RM_CORRUPT);
    }
}

}  // namespace
