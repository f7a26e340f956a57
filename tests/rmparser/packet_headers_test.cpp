// rm_reader_next_packet_header: every kept stream's packets without their
// payloads, dropped streams skipped, and the checked stream's payload read
// through so that damage shows where rm_reader_next_packet shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <string>
#include <vector>

#include "tests/support/rm_test_io.h"

namespace {

using rmtest::Bytes;
using rmtest::make_packet;
using rmtest::Packet;

struct Header {
    rm_result code;
    uint16_t stream;
    uint32_t timestamp;
    uint16_t length;
    uint8_t flags;
    uint32_t file_offset;
};

bool operator==(const Header& a, const Header& b) {
    return a.code == b.code && a.stream == b.stream && a.timestamp == b.timestamp && a.length == b.length &&
           a.flags == b.flags && a.file_offset == b.file_offset;
}

std::ostream& operator<<(std::ostream& os, const Header& h) {
    return os << "{0x" << std::hex << h.code << std::dec << " s" << h.stream << " t" << h.timestamp << " n" << h.length
              << " f" << int(h.flags) << " @" << h.file_offset << "}";
}

struct Reader {
    rmtest::TestAllocator alloc;
    rmtest::ErrorLog log;
    rmtest::MemoryIo io;
    rmtest::WindowIo windowed;
    rm_reader* reader = nullptr;

    // With window sizes, the bytes are shown in windows of those sizes too.
    explicit Reader(const Bytes& bytes, std::vector<uint32_t> windows = {})
        : io(bytes), windowed(&rmtest::MemoryIo::read, &rmtest::MemoryIo::seek, &rmtest::MemoryIo::tell, &io, windows) {
        reader = rm_reader_new_custom(&log, &rmtest::ErrorLog::report, &alloc, &rmtest::TestAllocator::allocate,
                                      &rmtest::TestAllocator::release);
        if (windows.empty()) {
            io.attach(reader);
        } else {
            EXPECT_EQ(RM_OK, windowed.attach(reader));
        }
        EXPECT_EQ(RM_OK, rm_reader_load_headers(reader));
    }
    ~Reader() {
        rm_reader_delete(&reader);
        EXPECT_EQ(0u, alloc.live());
    }

    // Every header up to the first non-zero result, which ends the list.
    std::vector<Header> Headers(int32_t checked) {
        std::vector<Header> list;
        for (int guard = 0; guard < 1000; ++guard) {
            rm_packet packet = {};
            packet.data = reinterpret_cast<uint8_t*>(&packet);  // must come back null
            const rm_result code = rm_reader_next_packet_header(reader, &packet, checked);
            if (code != RM_OK) {
                list.push_back({code, 0, 0, 0, 0, 0});
                return list;
            }
            EXPECT_EQ(nullptr, packet.data);
            list.push_back({code, packet.stream, packet.timestamp, packet.length, packet.flags, packet.file_offset});
        }
        ADD_FAILURE() << "the reader never stopped";
        return list;
    }

    // The same walk through rm_reader_next_packet.
    std::vector<Header> Packets(int32_t selector) {
        std::vector<Header> list;
        for (int guard = 0; guard < 1000; ++guard) {
            rm_packet* packet = nullptr;
            const rm_result code = rm_reader_next_packet(reader, &packet, selector);
            if (code != RM_OK) {
                list.push_back({code, 0, 0, 0, 0, 0});
                return list;
            }
            list.push_back(
                {code, packet->stream, packet->timestamp, packet->length, packet->flags, packet->file_offset});
            rm_reader_release_packet(reader, &packet);
        }
        ADD_FAILURE() << "the reader never stopped";
        return list;
    }
};

// A multi-rate file: physical streams 0 and 1 belong to a logical stream and
// are dropped; 4 (video) and 5 (audio) are kept as indexes 0 and 1.
Bytes MultiRateFile(std::vector<size_t>* payload_offsets) {
    rmtest::LogicalStream claims;
    claims.physical_streams = {0, 1};
    rmtest::RmWriter w = rmtest::simple_writer(
        {rmtest::video_mdpr(0), rmtest::audio_mdpr(1), rmtest::logical_mdpr(2, claims, "logical-video/x-pn-realvideo"),
         rmtest::logical_mdpr(3, {}, "logical-fileinfo"), rmtest::video_mdpr(4), rmtest::audio_mdpr(5)},
        {});
    // The first packet must be of a kept stream: it gives the start time.
    const std::vector<Packet> packets = {make_packet(4, 0, 40, true), make_packet(0, 0, 30, true),
                                         make_packet(5, 0, 7),        make_packet(1, 10, 9),
                                         make_packet(4, 80, 50),      make_packet(4, 80, 20, true)};
    for (const Packet& p : packets) {
        payload_offsets->push_back(w.offset() + 12);
        w.packet(p);
    }
    return w.bytes();
}

TEST(PacketHeaders, EveryKeptStreamWithoutPayloadsOrAllocations) {
    std::vector<size_t> at;
    const Bytes file = MultiRateFile(&at);
    Reader r(file);
    ASSERT_EQ(2u, rm_reader_stream_count(r.reader));
    const uint32_t allocations = r.alloc.allocations;
    const std::vector<Header> expected = {
        {RM_OK, 0, 0, 40, RM_PACKET_KEYFRAME, uint32_t(at[0])},
        {RM_OK, 1, 0, 7, 0, uint32_t(at[2])},
        {RM_OK, 0, 80, 50, 0, uint32_t(at[4])},
        {RM_OK, 0, 80, 20, RM_PACKET_KEYFRAME, uint32_t(at[5])},
        {RM_END_OF_DATA, 0, 0, 0, 0, 0},
    };
    EXPECT_EQ(expected, r.Headers(0));
    // Nothing per packet: only the video's keyframe index, once.
    EXPECT_EQ(allocations + 1, r.alloc.allocations);

    // Why it exists: the any-stream selector stops at the dropped stream.
    Reader any(file);
    EXPECT_EQ(RM_CORRUPT, any.Packets(-1)[1].code);
}

// Without dropped streams it walks what rm_reader_next_packet(-1) walks.
TEST(PacketHeaders, SameWalkAsTheAnyStreamSelector) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t < 3000; t += 250) {
        packets.push_back(make_packet(0, t, 100 + t / 50, t % 1000 == 0));
        packets.push_back(make_packet(1, t, 20, true));
    }
    const Bytes file = rmtest::simple_file({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)}, packets);
    Reader headers(file);
    Reader whole(file);
    EXPECT_EQ(whole.Packets(-1), headers.Headers(0));
}

// Damage shows at the packet that holds it, in the checked stream or in
// another, as rm_reader_next_packet with the checked stream's selector shows
// it.
TEST(PacketHeaders, DamageShowsWhereTheSelectorShowsIt) {
    rmtest::RmWriter w = rmtest::simple_writer({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)}, {});
    std::vector<size_t> header_at;
    const std::vector<Packet> packets = {make_packet(0, 0, 100), make_packet(1, 0, 100), make_packet(0, 500, 100),
                                         make_packet(1, 500, 100)};
    for (const Packet& p : packets) {
        header_at.push_back(w.offset());
        w.packet(p);
    }
    const Bytes whole = w.bytes();
    Packet short_length = make_packet(0, 0, 0);
    short_length.length = 5;
    Packet short_audio = make_packet(1, 0, 0);
    short_audio.length = 5;

    struct Case {
        const char* name;
        Bytes file;
        size_t delivered;  // headers before the failure
        rm_result code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"checked payload cut", Bytes(whole.begin(), whole.begin() + long(header_at[2] + 40)), 2, RM_READ_FAILED,
         "Could not read packet data."},
        {"other payload cut", Bytes(whole.begin(), whole.begin() + long(header_at[1] + 40)), 1, RM_READ_FAILED,
         "Could not read packet data."},
        {"checked length below 12", rmtest::video_file({short_length, make_packet(0, 10, 10)}), 0, RM_CORRUPT,
         "Packet length is shorter than its header - possibly a corrupt file."},
        {"other length below 12",
         rmtest::simple_file({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)},
                             {make_packet(0, 0, 10), short_audio, make_packet(0, 10, 10)}),
         1, RM_CORRUPT, "Packet length is shorter than its header - possibly a corrupt file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reader headers(c.file);
        const std::vector<Header> got = headers.Headers(0);
        ASSERT_EQ(c.delivered + 1, got.size());
        EXPECT_EQ(c.code, got.back().code);
        if (!c.message.empty()) EXPECT_EQ(c.message, headers.log.last_message());
        const uint64_t offset = rm_reader_packet_offset(headers.reader);
        Reader selected(c.file);
        const std::vector<Header> packets_got = selected.Packets(0);
        EXPECT_EQ(c.code, packets_got.back().code);
        EXPECT_EQ(rm_reader_packet_offset(selected.reader), offset);
    }
}

// The payload of one stream's packets, read into the caller's buffer: the
// bytes rm_reader_next_packet hands out, and the same walk as without them.
TEST(PacketHeaders, PayloadsOfOneStreamIntoTheCallersBuffer) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t < 2000; t += 250) {
        packets.push_back(make_packet(0, t, 50 + t / 25, t % 1000 == 0));
        packets.push_back(make_packet(1, t, 20, true));
    }
    const Bytes file = rmtest::simple_file({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)}, packets);
    Reader viewed(file);
    Reader whole(file);
    std::vector<uint8_t> buffer(RM_MAX_PAYLOAD_SIZE);
    for (;;) {
        rm_packet packet = {};
        const rm_result got =
            rm_reader_next_packet_payload(viewed.reader, &packet, 0, buffer.data(), uint32_t(buffer.size()));
        rm_packet* expected = nullptr;
        ASSERT_EQ(rm_reader_next_packet(whole.reader, &expected, -1), got);
        if (got != RM_OK) break;
        EXPECT_EQ(expected->timestamp, packet.timestamp);
        EXPECT_EQ(expected->length, packet.length);
        if (packet.stream == 0) {
            ASSERT_EQ(buffer.data(), packet.data);
            EXPECT_EQ(0, std::memcmp(expected->data, packet.data, packet.length));
        } else {
            EXPECT_EQ(nullptr, packet.data);
        }
        EXPECT_EQ(0, packet.version);
        rm_reader_release_packet(whole.reader, &expected);
    }
    Reader small(file);
    rm_packet packet = {};
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_payload(small.reader, &packet, 0, buffer.data(), RM_MAX_PAYLOAD_SIZE - 1));
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_payload(small.reader, &packet, 0, nullptr, RM_MAX_PAYLOAD_SIZE));
}

// Files whose walk ends every way it can: cleanly, at a cut in a payload of
// the checked stream or another, at a length below the header's, with
// version 1 headers, a dropped stream, a DATA chain and an index.
struct WalkedFile {
    const char* name;
    Bytes bytes;
    std::string ending;  // the report the walk ends with
};

std::vector<WalkedFile> WalkedFiles() {
    const std::string header = "Could not read packet header.";
    const std::string data = "Could not read packet data.";
    std::vector<WalkedFile> files;
    std::vector<Packet> packets;
    for (uint32_t t = 0; t < 3000; t += 250) {
        packets.push_back(make_packet(0, t, 100 + t / 20, t % 1000 == 0));
        packets.push_back(rmtest::make_v1_packet(1, t, 20, uint16_t(t / 250), true));
        packets.push_back(make_packet(1, t + 5, 0));
    }
    const Bytes whole = rmtest::simple_file({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)}, packets);
    files.push_back({"whole", whole, header});
    for (size_t cut : {size_t(400), size_t(1000), whole.size() - 60}) {
        files.push_back({"cut", Bytes(whole.begin(), whole.begin() + long(cut)), data});
    }
    // A header the reader must not believe after a good packet: each of
    // its rules broken once.
    Packet short_audio = make_packet(1, 0, 0);
    short_audio.length = 5;
    Packet version_two = make_packet(1, 0, 20);
    version_two.version = 2;
    rmtest::MdprChunk small_audio = rmtest::audio_mdpr(1);
    small_audio.max_packet_size = 19;
    const struct {
        const char* name;
        Packet packet;
        const char* message;
    } wrong[] = {
        {"length below 12", short_audio, "Packet length is shorter than its header - possibly a corrupt file."},
        {"version 2", version_two, "Packet header version is neither 0 nor 1 - possibly a corrupt file."},
        {"undeclared stream", make_packet(7, 0, 20), "Unexpected stream number in packet."},
        {"above the largest packet", make_packet(1, 0, 20),
         "Packet is larger than its stream's maximum packet size - possibly a corrupt file."},
    };
    for (const auto& bad : wrong) {
        files.push_back({bad.name,
                         rmtest::simple_file({rmtest::video_mdpr(0), small_audio},
                                             {make_packet(0, 0, 10), bad.packet, make_packet(0, 10, 10)}),
                         bad.message});
    }
    rmtest::RmWriter past = rmtest::simple_writer({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)},
                                                  {make_packet(0, 0, 10), make_packet(1, 0, 30)});
    Bytes past_end = past.bytes();
    const uint8_t data_id[] = {'D', 'A', 'T', 'A'};
    const size_t data_size_at =
        size_t(std::search(past_end.begin(), past_end.end(), data_id, data_id + 4) - past_end.begin()) + 4;
    rmtest::set_u32(past_end, data_size_at, rmtest::get_u32(past_end, data_size_at) - 30);
    files.push_back(
        {"past the DATA end", past_end, "Packet runs past the end of its DATA chunk - possibly a corrupt file."});
    std::vector<size_t> at;
    files.push_back({"dropped streams", MultiRateFile(&at), header});
    rmtest::DataChunk linked;
    linked.link_next = true;
    rmtest::RmWriter w;
    w.rmf().prop().mdpr(rmtest::video_mdpr(0)).mdpr(rmtest::audio_mdpr(1)).data(linked);
    w.packet(make_packet(0, 0, 300, true)).packet(make_packet(1, 0, 20)).indx(2).data();
    w.packet(make_packet(0, 40, 300)).packet(make_packet(1, 40, 20)).indx(2);
    files.push_back({"DATA chain", w.bytes(), header});
    return files;
}

// Shown in windows that end anywhere, the bytes give the walk that reading
// them gives: the same records, the same ending, at the same offset, with
// the same report; only fewer calls to read them.
TEST(PacketHeaders, ThroughWindowsTheSameWalk) {
    const std::vector<std::vector<uint32_t>> patterns = {
        {1u << 20}, {13, 1, 40, 0, 12, 200, 25, 4096, 14, 65536, 7}, {12}, {0}, {300, 13}};
    for (const auto& file : WalkedFiles()) {
        for (int32_t checked : {-1, 0, 1}) {
            Reader read(file.bytes);
            const std::vector<Header> expected = read.Headers(checked);
            ASSERT_EQ(file.ending, read.log.last_message()) << file.name;
            for (const std::vector<uint32_t>& sizes : patterns) {
                SCOPED_TRACE(testing::Message() << file.name << ", checked " << checked << ", window " << sizes[0]);
                Reader shown(file.bytes, sizes);
                EXPECT_EQ(expected, shown.Headers(checked));
                EXPECT_EQ(rm_reader_packet_offset(read.reader), rm_reader_packet_offset(shown.reader));
                EXPECT_EQ(read.log.last_message(), shown.log.last_message());
            }
        }
    }
}

// The point of the windows: a walk through one as large as the file reads
// nothing between the headers and the end of the data, and asks nothing of
// tell.
TEST(PacketHeaders, ThroughOneWindowNoReadPerPacket) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t < 20000; t += 100) {
        packets.push_back(make_packet(0, t, 100, t % 1000 == 0));
        packets.push_back(make_packet(1, t, 20));
    }
    Reader shown(rmtest::simple_file({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)}, packets), {1u << 20});
    const uint32_t reads = shown.windowed.reads;
    const uint32_t tells = shown.io.tell_calls;
    EXPECT_EQ(packets.size() + 1, shown.Headers(0).size());
    EXPECT_LE(shown.windowed.reads - reads, 2u) << "the chunk after the data";
    EXPECT_EQ(tells, shown.io.tell_calls);
}

// A payload that a window shows whole is handed out where it lies; one the
// window cuts is read into the caller's buffer. The bytes are the same.
TEST(PacketHeaders, PayloadsThroughWindows) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t < 2000; t += 250) {
        packets.push_back(make_packet(0, t, 50 + t / 25, t % 1000 == 0));
        packets.push_back(make_packet(1, t, 20, true));
    }
    const Bytes file = rmtest::simple_file({rmtest::video_mdpr(0), rmtest::audio_mdpr(1)}, packets);
    for (uint32_t size : {1u << 20, 100u, 13u}) {
        SCOPED_TRACE(size);
        Reader shown(file, {size});
        Reader whole(file);
        std::vector<uint8_t> buffer(RM_MAX_PAYLOAD_SIZE);
        size_t in_buffer = 0;
        size_t longer = 0;
        for (;;) {
            rm_packet packet = {};
            const rm_result got =
                rm_reader_next_packet_payload(shown.reader, &packet, 0, buffer.data(), uint32_t(buffer.size()));
            rm_packet* expected = nullptr;
            ASSERT_EQ(rm_reader_next_packet(whole.reader, &expected, -1), got);
            if (got != RM_OK) break;
            EXPECT_EQ(expected->file_offset, packet.file_offset);
            if (packet.stream == 0) {
                ASSERT_NE(nullptr, packet.data);
                EXPECT_EQ(0, std::memcmp(expected->data, packet.data, packet.length));
                in_buffer += packet.data == buffer.data();
                longer += packet.length > size;
            } else {
                EXPECT_EQ(nullptr, packet.data);
            }
            rm_reader_release_packet(whole.reader, &expected);
        }
        // Only payloads longer than a window are copied.
        EXPECT_EQ(longer, in_buffer);
    }
}

// Every field the reader fills, the payload pointer aside.
bool SameRecord(const rm_packet& a, const rm_packet& b) {
    return a.timestamp == b.timestamp && a.stream == b.stream && a.asm_flags == b.asm_flags &&
           a.asm_rule == b.asm_rule && a.length == b.length && a.file_offset == b.file_offset && a.flags == b.flags &&
           a.asm_rule_number == b.asm_rule_number && a.version == b.version;
}

// A brief is its record's fields.
bool SameBrief(const rm_packet& a, const rm_packet_brief& b) {
    return a.timestamp == b.timestamp && a.stream == b.stream && a.length == b.length && a.flags == b.flags &&
           a.version == b.version && b.reserved == 0;
}

// A walk in batches of briefs: the briefs, how it ended, and where the
// reader said it stood after each call and how many briefs it had by then.
struct Walked {
    std::vector<rm_packet_brief> briefs;
    std::vector<uint64_t> offsets;
    std::vector<size_t> delivered;
    rm_result end = RM_OK;
};

Walked WalkInBatches(Reader& r, uint32_t capacity) {
    Walked w;
    std::vector<rm_packet_brief> batch(capacity);
    for (int guard = 0; guard < 1000; ++guard) {
        uint32_t count = 99;
        w.end = rm_reader_next_packet_briefs(r.reader, batch.data(), capacity, &count);
        if (w.end == RM_OK) {
            EXPECT_LE(1u, count);
            EXPECT_GE(capacity, count);
            w.briefs.insert(w.briefs.end(), batch.begin(), batch.begin() + count);
        } else {
            EXPECT_EQ(0u, count);
        }
        w.offsets.push_back(rm_reader_packet_offset(r.reader));
        w.delivered.push_back(w.briefs.size());
        if (w.end != RM_OK) return w;
    }
    ADD_FAILURE() << "the reader never stopped";
    return w;
}

// Batches of briefs hold the packets single calls deliver, end as they end,
// and leave the reader where the single walk leaves it after the batch's
// last packet; with and without windows. Then the walk goes on alike: the
// packets' rules, which follow from what their stream remembers, are the
// single walk's.
TEST(PacketHeaders, BatchesOfBriefsAreTheSingleWalk) {
    const std::vector<std::vector<uint32_t>> patterns = {{}, {1u << 20}, {13, 1, 40, 0, 12, 200, 25, 4096, 14, 7}};
    for (const WalkedFile& file : WalkedFiles()) {
        Reader single(file.bytes);
        std::vector<rm_packet> expected;
        std::vector<uint64_t> after;  // the offset after each call
        rm_result end = RM_OK;
        for (;;) {
            rm_packet packet = {};
            end = rm_reader_next_packet_header(single.reader, &packet, -1);
            after.push_back(rm_reader_packet_offset(single.reader));
            if (end != RM_OK) break;
            expected.push_back(packet);
        }
        for (const std::vector<uint32_t>& sizes : patterns) {
            for (uint32_t capacity : {1u, 2u, 7u, 64u}) {
                SCOPED_TRACE(testing::Message()
                             << file.name << ", " << sizes.size() << " window sizes, batches of " << capacity);
                Reader batched(file.bytes, sizes);
                const Walked got = WalkInBatches(batched, capacity);
                EXPECT_EQ(end, got.end);
                ASSERT_EQ(expected.size(), got.briefs.size());
                for (size_t i = 0; i < got.briefs.size(); ++i) {
                    EXPECT_TRUE(SameBrief(expected[i], got.briefs[i])) << "packet " << i;
                }
                for (size_t k = 0; k < got.offsets.size(); ++k) {
                    const bool last = k + 1 == got.offsets.size();
                    EXPECT_EQ(after[got.delivered[k] - (last ? 0 : 1)], got.offsets[k]) << "after call " << k;
                }
                EXPECT_EQ(single.log.last_message(), batched.log.last_message());
            }
        }
        // Half the file in briefs, the rest in records: the records are the single walk's.
        for (const std::vector<uint32_t>& sizes : patterns) {
            SCOPED_TRACE(testing::Message() << file.name << ", briefs then records, " << sizes.size() << " sizes");
            Reader mixed(file.bytes, sizes);
            std::vector<rm_packet_brief> batch(expected.size() / 2 + 1);
            uint32_t count = 0;
            size_t taken = 0;
            while (taken < expected.size() / 2 &&
                   rm_reader_next_packet_briefs(mixed.reader, batch.data(), uint32_t(expected.size() / 2 - taken),
                                                &count) == RM_OK) {
                taken += count;
            }
            for (size_t i = taken; i < expected.size(); ++i) {
                rm_packet packet = {};
                ASSERT_EQ(RM_OK, rm_reader_next_packet_header(mixed.reader, &packet, -1)) << "packet " << i;
                EXPECT_TRUE(SameRecord(expected[i], packet)) << "packet " << i;
            }
        }
    }
}

// Runs are the briefs joined: each covers packets of one stream that follow
// one another in the single walk, a packet of the single stream alone, none
// continues the call's run before it, and the walk ends and stands where
// the single walk does after the runs' last packet. Runs of views also say
// where their last packet starts, and show the single stream's payloads.
// With spans, a run ends where a span does (at a packet beyond its stream's
// span, or of a stream without one), and nowhere else within a call.
TEST(PacketHeaders, RunsAreTheBriefsJoined) {
    struct SpanCase {
        uint32_t count;  // streams with a span; none: no spans
        uint32_t span;
    };
    const SpanCase span_cases[] = {{UINT32_MAX, 0}, {2, 3}, {2, 300}, {1, 1000}};
    const std::vector<std::vector<uint32_t>> patterns = {{}, {1u << 20}, {13, 1, 40, 0, 12, 200, 25, 4096, 14, 7}};
    Bytes buffer(RM_MAX_PAYLOAD_SIZE);
    for (const WalkedFile& file : WalkedFiles()) {
        for (int32_t single_stream : {-1, 0, 1}) {
            Reader single(file.bytes);
            std::vector<rm_packet> expected;
            std::vector<Bytes> payloads;
            std::vector<uint64_t> after;
            rm_result end = RM_OK;
            for (;;) {
                rm_packet packet = {};
                end = rm_reader_next_packet_payload(single.reader, &packet, single_stream, buffer.data(),
                                                    uint32_t(buffer.size()));
                after.push_back(rm_reader_packet_offset(single.reader));
                if (end != RM_OK) break;
                expected.push_back(packet);
                payloads.push_back(packet.data ? Bytes(packet.data, packet.data + packet.length) : Bytes());
            }
            for (const std::vector<uint32_t>& sizes : patterns) {
                for (uint32_t capacity : {1u, 2u, 7u, 64u}) {
                    for (const SpanCase& span_case : span_cases) {
                        for (bool viewed : {false, true}) {
                            SCOPED_TRACE(testing::Message()
                                         << file.name << ", " << sizes.size() << " window sizes, " << capacity
                                         << " runs, single " << single_stream << ", spans " << span_case.count << "/"
                                         << span_case.span << (viewed ? ", views" : ""));
                            // Which packets start a span, by the rule, and the spans the reader moves.
                            const bool spanned = span_case.count != UINT32_MAX;
                            std::vector<bool> beyond(expected.size(), false);
                            std::vector<uint32_t> rule_starts(span_case.count == UINT32_MAX ? 0 : span_case.count, 0);
                            for (size_t p = 0; spanned && p < expected.size(); ++p) {
                                const uint32_t stream = expected[p].stream;
                                beyond[p] = stream >= rule_starts.size() ||
                                            expected[p].timestamp - rule_starts[stream] > span_case.span;
                                if (stream < rule_starts.size() && beyond[p])
                                    rule_starts[stream] = expected[p].timestamp;
                            }
                            std::vector<uint32_t> starts(rule_starts.size(), 0);
                            rm_run_spans spans = {starts.data(), uint32_t(starts.size()), span_case.span};
                            Reader batched(file.bytes, sizes);
                            std::vector<rm_packet_run> runs(capacity);
                            std::vector<rm_packet_view_run> view_runs(capacity);
                            size_t k = 0;  // the next packet of the single walk
                            rm_result got = RM_OK;
                            for (int guard = 0; guard < 1000 && got == RM_OK; ++guard) {
                                uint32_t count = 99;
                                rm_run_spans* const given = spanned ? &spans : nullptr;
                                got = viewed ? rm_reader_next_packet_view_runs(
                                                   batched.reader, view_runs.data(), capacity, &count, single_stream,
                                                   buffer.data(), uint32_t(buffer.size()), given)
                                             : rm_reader_next_packet_runs(batched.reader, runs.data(), capacity, &count,
                                                                          single_stream, given);
                                ASSERT_EQ(got == RM_OK ? 1u : 0u, count == 0 ? 0u : 1u);
                                ASSERT_GE(capacity, count);
                                for (uint32_t i = 0; i < count; ++i) {
                                    const rm_packet_run& run = viewed ? view_runs[i].run : runs[i];
                                    ASSERT_LE(1u, run.packets);
                                    ASSERT_LE(k + run.packets, expected.size());
                                    const bool alone = run.last.stream == uint32_t(single_stream);
                                    if (alone) EXPECT_EQ(1u, run.packets);
                                    if (i > 0 && !alone && !beyond[k]) {
                                        const rm_packet_run& before = viewed ? view_runs[i - 1].run : runs[i - 1];
                                        EXPECT_NE(before.last.stream, run.last.stream) << "run " << i << " not joined";
                                    }
                                    EXPECT_EQ(expected[k].timestamp, run.first_timestamp);
                                    EXPECT_EQ(expected[k].length, run.first_length);
                                    uint64_t bytes = 0;
                                    uint32_t lowest = UINT32_MAX;
                                    uint32_t highest = 0;
                                    for (size_t p = k; p < k + run.packets; ++p) {
                                        EXPECT_EQ(run.last.stream, expected[p].stream) << "packet " << p;
                                        if (p > k) EXPECT_FALSE(beyond[p]) << "packet " << p << " beyond its span";
                                        bytes += expected[p].length;
                                        lowest = std::min(lowest, expected[p].timestamp);
                                        highest = std::max(highest, expected[p].timestamp);
                                    }
                                    k += run.packets;
                                    EXPECT_TRUE(SameBrief(expected[k - 1], run.last)) << "packet " << k - 1;
                                    EXPECT_EQ(bytes, run.bytes);
                                    EXPECT_EQ(lowest, run.min_timestamp);
                                    EXPECT_EQ(highest, run.max_timestamp);
                                    if (!viewed) continue;
                                    EXPECT_EQ(after[k - 1], view_runs[i].offset) << "packet " << k - 1;
                                    ASSERT_EQ(alone, view_runs[i].data != nullptr) << "packet " << k - 1;
                                    if (alone) {
                                        EXPECT_EQ(payloads[k - 1],
                                                  Bytes(view_runs[i].data, view_runs[i].data + run.last.length));
                                    }
                                }
                                EXPECT_EQ(after[got == RM_OK ? k - 1 : k], rm_reader_packet_offset(batched.reader));
                            }
                            EXPECT_EQ(end, got);
                            EXPECT_EQ(expected.size(), k);
                            EXPECT_EQ(rule_starts, starts);
                            EXPECT_EQ(single.log.last_message(), batched.log.last_message());
                        }
                    }
                }
            }
        }
    }
    rm_packet_run run;
    rm_packet_view_run view_run;
    uint32_t count = 5;
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_runs(nullptr, &run, 1, &count, 0, nullptr));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_view_runs(nullptr, &view_run, 1, &count, 0, buffer.data(),
                                                       uint32_t(buffer.size()), nullptr));
    Reader r(WalkedFiles()[0].bytes);
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_view_runs(r.reader, &view_run, 1, &count, 0, buffer.data(),
                                                       RM_MAX_PAYLOAD_SIZE - 1, nullptr));
    rm_run_spans no_starts = {nullptr, 1, 0};
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_runs(r.reader, &run, 1, &count, 0, &no_starts));
}

// A packet of a walk that looks into one stream's payloads: the record's
// brief fields, where it starts, and its payload's bytes (none for other streams).
struct Viewed {
    rm_packet_brief brief;
    uint64_t offset;
    bool has_data;
    Bytes payload;
};

bool operator==(const Viewed& a, const Viewed& b) {
    return a.brief.timestamp == b.brief.timestamp && a.brief.stream == b.brief.stream &&
           a.brief.length == b.brief.length && a.brief.flags == b.brief.flags && a.brief.version == b.brief.version &&
           a.offset == b.offset && a.has_data == b.has_data && a.payload == b.payload;
}

std::ostream& operator<<(std::ostream& os, const Viewed& v) {
    return os << "{s" << v.brief.stream << " t" << v.brief.timestamp << " n" << v.brief.length << " @" << v.offset
              << (v.has_data ? " data" : "") << "}";
}

Viewed ViewedOf(const rm_packet_brief& brief, uint64_t offset, const uint8_t* data) {
    Viewed v = {brief, offset, data != nullptr, {}};
    if (data != nullptr) v.payload.assign(data, data + brief.length);
    return v;
}

// Views in batches are the payload walk's packets, each at the offset the
// single walk gives after it; they end as it ends, at the same offset with
// the same report, and only a batch's first payload is ever read into the
// buffer.
// For the checked stream, another, and none; with windows that end anywhere.
TEST(PacketHeaders, BatchesOfViewsAreThePayloadWalk) {
    const std::vector<std::vector<uint32_t>> patterns = {{}, {1u << 20}, {13, 1, 40, 0, 12, 200, 25, 4096, 14, 7}};
    std::vector<uint8_t> buffer(RM_MAX_PAYLOAD_SIZE);
    for (const WalkedFile& file : WalkedFiles()) {
        for (int32_t stream : {0, 1, -1}) {
            Reader single(file.bytes);
            std::vector<Viewed> expected;
            rm_result end = RM_OK;
            for (;;) {
                rm_packet packet = {};
                end = rm_reader_next_packet_payload(single.reader, &packet, stream, buffer.data(),
                                                    uint32_t(buffer.size()));
                if (end != RM_OK) break;
                rm_packet_brief brief = {packet.timestamp, packet.stream,           packet.length,
                                         packet.flags,     uint8_t(packet.version), 0};
                expected.push_back(ViewedOf(brief, rm_reader_packet_offset(single.reader), packet.data));
            }
            const uint64_t end_offset = rm_reader_packet_offset(single.reader);
            for (const std::vector<uint32_t>& sizes : patterns) {
                for (uint32_t capacity : {1u, 3u, 64u}) {
                    SCOPED_TRACE(testing::Message() << file.name << ", stream " << stream << ", " << sizes.size()
                                                    << " window sizes, batches of " << capacity);
                    Reader batched(file.bytes, sizes);
                    std::vector<Viewed> got;
                    std::vector<rm_packet_view> views(capacity);
                    rm_result got_end = RM_OK;
                    for (int guard = 0; guard < 1000 && got_end == RM_OK; ++guard) {
                        uint32_t count = 99;
                        got_end = rm_reader_next_packet_views(batched.reader, views.data(), capacity, &count, stream,
                                                              buffer.data(), uint32_t(buffer.size()));
                        EXPECT_EQ(got_end == RM_OK, count != 0);
                        for (uint32_t i = 0; i < count; ++i) {
                            if (i > 0 && views[i].brief.length != 0)
                                EXPECT_NE(buffer.data(), views[i].data) << "view " << i;
                            got.push_back(ViewedOf(views[i].brief, views[i].offset, views[i].data));
                        }
                        if (count != 0) EXPECT_EQ(views[count - 1].offset, rm_reader_packet_offset(batched.reader));
                    }
                    EXPECT_EQ(end, got_end);
                    EXPECT_EQ(expected, got);
                    EXPECT_EQ(end_offset, rm_reader_packet_offset(batched.reader));
                    EXPECT_EQ(single.log.last_message(), batched.log.last_message());
                }
            }
        }
    }
    Reader r(WalkedFiles()[0].bytes);
    rm_packet_view view = {};
    uint32_t count = 5;
    EXPECT_EQ(RM_FAIL,
              rm_reader_next_packet_views(r.reader, &view, 1, &count, 0, buffer.data(), RM_MAX_PAYLOAD_SIZE - 1));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_views(r.reader, &view, 1, &count, 0, nullptr, RM_MAX_PAYLOAD_SIZE));
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_views(r.reader, &view, 0, &count, 0, buffer.data(), RM_MAX_PAYLOAD_SIZE));
    EXPECT_EQ(RM_FAIL,
              rm_reader_next_packet_views(r.reader, nullptr, 1, &count, 0, buffer.data(), RM_MAX_PAYLOAD_SIZE));
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_views(r.reader, &view, 1, nullptr, 0, buffer.data(), RM_MAX_PAYLOAD_SIZE));
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_views(nullptr, &view, 1, &count, 0, buffer.data(), RM_MAX_PAYLOAD_SIZE));
}

TEST(PacketHeaders, NullArguments) {
    rm_packet packet = {};
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_header(nullptr, &packet, 0));
    Reader r(rmtest::video_file({make_packet(0, 0, 10)}));
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_header(r.reader, nullptr, 0));
    rm_packet_brief brief = {};
    uint32_t count = 5;
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_briefs(r.reader, &brief, 0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_briefs(r.reader, nullptr, 1, &count));
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_briefs(r.reader, &brief, 1, nullptr));
    EXPECT_EQ(RM_FAIL, rm_reader_next_packet_briefs(nullptr, &brief, 1, &count));
}

}  // namespace
