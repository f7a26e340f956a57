// The layout walk on writer-made files: the chunks and chains it finds, the
// index entries as the file holds them, the census of each DATA chunk and
// how it ends, and the kept streams' own numbers.
#include "rmparser/rm_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

// Where the PROP chunk (at 18, after ".RMF") keeps its index offset.
const size_t PROP_INDEX_OFFSET_AT = 18 + 10 + 7 * 4;

uint32_t read_bytes_at(void* user, uint64_t offset, void* destination, uint32_t count) {
    const Bytes& bytes = *static_cast<const Bytes*>(user);
    if (offset >= bytes.size()) return 0;
    const uint64_t left = bytes.size() - offset;
    const uint32_t n = left < count ? uint32_t(left) : count;
    std::memcpy(destination, bytes.data() + offset, n);
    return n;
}

struct Walked {
    std::vector<rm_layout_chunk> chunks;
    std::vector<std::pair<uint64_t, rm_index_record>> entries;  // INDX offset, entry
    std::vector<rm_layout_packet> packets;
    std::vector<std::pair<uint64_t, rm_data_census>> censuses;  // DATA offset, census
    size_t stop_after_packets = SIZE_MAX;
    rm_result result = RM_FAIL;
};

Walked walk(const Bytes& bytes, size_t stop_after_packets = SIZE_MAX) {
    Walked w;
    w.stop_after_packets = stop_after_packets;
    rm_layout_visitor visitor = {};
    visitor.user = &w;
    visitor.chunk = [](void* user, const rm_layout_chunk* chunk) {
        static_cast<Walked*>(user)->chunks.push_back(*chunk);
        return 1;
    };
    visitor.index_entry = [](void* user, const rm_layout_chunk* indx, uint32_t, const rm_index_record* entry) {
        static_cast<Walked*>(user)->entries.push_back({indx->offset, *entry});
        return 1;
    };
    visitor.packet = [](void* user, const rm_layout_chunk*, const rm_layout_packet* packet) {
        Walked& w = *static_cast<Walked*>(user);
        w.packets.push_back(*packet);
        return w.packets.size() < w.stop_after_packets ? 1 : 0;
    };
    visitor.data_census = [](void* user, const rm_layout_chunk* data, const rm_data_census* census) {
        static_cast<Walked*>(user)->censuses.push_back({data->offset, *census});
        return 1;
    };
    w.result = rm_walk_layout(read_bytes_at, const_cast<Bytes*>(&bytes), bytes.size(), &visitor);
    return w;
}

std::string ids(const Walked& w) {
    std::string text;
    for (const rm_layout_chunk& chunk : w.chunks) {
        if (!text.empty()) text += ' ';
        for (int shift = 24; shift >= 0; shift -= 8) text += char((chunk.id >> shift) & 0xFF);
        if (chunk.chained) text += '*';
    }
    return text;
}

// Two streams, three packets, and where each packet's header starts.
struct TwoStreams {
    RmWriter writer;
    std::vector<size_t> packet_offsets;
    size_t data_offset = 0;
};

TwoStreams two_streams() {
    TwoStreams f;
    f.writer.rmf().prop().mdpr(video_mdpr(0)).mdpr(audio_mdpr(1));
    f.data_offset = f.writer.offset();
    f.writer.data();
    const Packet packets[] = {make_packet(0, 0, 40, true), make_packet(1, 10, 20), make_packet(0, 1000, 30)};
    for (const Packet& p : packets) {
        f.packet_offsets.push_back(f.writer.offset());
        f.writer.packet(p);
    }
    return f;
}

TEST(LayoutWalk, ChunksEntriesAndPacketsOfAnIndexedFile) {
    TwoStreams f = two_streams();
    const size_t first_index = f.writer.offset();
    const size_t second_index = first_index + 10 + 10 + 2 * RM_INDX_ENTRY_SIZE;
    f.writer.chunk(RM_ID_INDX, encode_index_body(
                                   0, {{0, uint32_t(f.packet_offsets[0]), 0}, {1000, uint32_t(f.packet_offsets[2]), 2}},
                                   uint32_t(second_index)));
    f.writer.chunk(RM_ID_INDX, encode_index_body(1, {{10, uint32_t(f.packet_offsets[1]), 1, 0}}));
    Bytes bytes = f.writer.bytes();
    set_u32(bytes, PROP_INDEX_OFFSET_AT, uint32_t(first_index));

    const Walked w = walk(bytes);
    ASSERT_EQ(w.result, RM_OK);
    // The chain from the PROP names chunks the top-level run found: each once.
    EXPECT_EQ(ids(w), ".RMF PROP MDPR MDPR DATA INDX INDX");
    EXPECT_EQ(w.chunks[1].index_offset, first_index);
    EXPECT_EQ(w.chunks[1].data_offset, f.data_offset);
    EXPECT_EQ(w.chunks[4].packet_count, 3u);
    EXPECT_EQ(w.chunks[5].entry_count, 2u);
    EXPECT_EQ(w.chunks[5].entries_held, 2u);
    EXPECT_EQ(w.chunks[5].next_index_header, second_index);
    EXPECT_EQ(w.chunks[6].stream_number, 1u);

    ASSERT_EQ(w.entries.size(), 3u);
    EXPECT_EQ(w.entries[1].first, first_index);
    EXPECT_EQ(w.entries[1].second.timestamp, 1000u);
    EXPECT_EQ(w.entries[1].second.packet_offset, f.packet_offsets[2]);
    EXPECT_EQ(w.entries[1].second.packet_number, 2u);
    EXPECT_EQ(w.entries[2].first, second_index);
    EXPECT_EQ(w.entries[2].second.packet_number, 1u);

    ASSERT_EQ(w.packets.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(w.packets[i].offset, f.packet_offsets[i]) << i;
    EXPECT_EQ(w.packets[1].stream_number, 1u);
    EXPECT_EQ(w.packets[2].timestamp, 1000u);
    EXPECT_EQ(w.packets[0].flags, RM_PACKET_KEYFRAME);
    EXPECT_EQ(w.packets[0].length, 12u + 40u);
    ASSERT_EQ(w.censuses.size(), 1u);
    EXPECT_EQ(w.censuses[0].second.packets, 3u);
    EXPECT_EQ(w.censuses[0].second.end, RM_CENSUS_DECLARED_END);
    EXPECT_EQ(w.censuses[0].second.after, RM_AFTER_CHUNK);
}

TEST(LayoutWalk, HowEachCensusEnds) {
    struct Case {
        const char* name;
        Bytes bytes;
        uint64_t packets;
        rm_census_end end;
        rm_after_data after;           // for RM_CENSUS_DECLARED_END
        int64_t end_from_last_packet;  // end_offset less the last packet's offset
    };
    const TwoStreams whole = two_streams();
    const Bytes intact = whole.writer.bytes();
    const size_t last = whole.packet_offsets[2];
    std::vector<Case> cases;
    cases.push_back({"intact, at the end of the file", intact, 3, RM_CENSUS_DECLARED_END, RM_AFTER_NOTHING, 42});
    {
        // ffmpeg's form: 18 bytes declared past the last packet, 8 of them zeros.
        Bytes b = intact;
        set_u32(b, whole.data_offset + 4, get_u32(b, whole.data_offset + 4) + 18);
        b.insert(b.end(), 8, 0);
        cases.push_back({"ffmpeg's trailer", b, 3, RM_CENSUS_ZEROS, RM_AFTER_NOTHING, 42});
    }
    cases.push_back({"cut in a payload", Bytes(intact.begin(), intact.begin() + std::ptrdiff_t(last + 20)), 2,
                     RM_CENSUS_CUT, RM_AFTER_NOTHING, 0});
    cases.push_back({"cut in a header", Bytes(intact.begin(), intact.begin() + std::ptrdiff_t(last + 5)), 2,
                     RM_CENSUS_CUT, RM_AFTER_NOTHING, 0});
    {
        Bytes b = intact;
        set_u16(b, last + 2, 4);  // shorter than its own header
        cases.push_back({"length below the header", b, 2, RM_CENSUS_BAD_HEADER, RM_AFTER_NOTHING, 0});
    }
    {
        Bytes b = intact;
        set_u16(b, last, 7);
        cases.push_back({"version 7", b, 2, RM_CENSUS_BAD_HEADER, RM_AFTER_NOTHING, 0});
    }
    {
        // The declared size ends where the last packet starts.
        Bytes b = intact;
        set_u32(b, whole.data_offset + 4, uint32_t(last - whole.data_offset));
        cases.push_back({"size before the last packet", b, 2, RM_CENSUS_DECLARED_END, RM_AFTER_PACKET, 0});
    }
    {
        Bytes b = intact;
        set_u32(b, whole.data_offset + 4, uint32_t(last - whole.data_offset + 10));
        cases.push_back({"size inside the last packet", b, 2, RM_CENSUS_BAD_HEADER, RM_AFTER_NOTHING, 0});
    }
    {
        // No declared end: the packets run until a chunk head, or the file's end.
        RmWriter w = whole.writer;
        w.chunk(RM_ID_INDX, encode_index_body(0, {}));
        Bytes b = w.bytes();
        set_u32(b, whole.data_offset + 4, 0);
        cases.push_back({"undeclared, then INDX", b, 3, RM_CENSUS_NEXT_CHUNK, RM_AFTER_NOTHING, 42});
        Bytes to_end = intact;
        set_u32(to_end, whole.data_offset + 4, 0);
        cases.push_back({"undeclared, to the end", to_end, 3, RM_CENSUS_FILE_END, RM_AFTER_NOTHING, 42});
    }
    for (const Case& c : cases) {
        const Walked w = walk(c.bytes);
        EXPECT_EQ(w.result, RM_OK) << c.name;
        ASSERT_EQ(w.censuses.size(), 1u) << c.name;
        const rm_data_census& census = w.censuses[0].second;
        EXPECT_EQ(census.packets, c.packets) << c.name;
        EXPECT_EQ(w.packets.size(), c.packets) << c.name;
        EXPECT_EQ(census.end, c.end) << c.name;
        if (c.end == RM_CENSUS_DECLARED_END) EXPECT_EQ(census.after, c.after) << c.name;
        const uint64_t stop = c.packets == 3 ? last : whole.packet_offsets[c.packets];
        EXPECT_EQ(int64_t(census.end_offset - stop), c.end_from_last_packet) << c.name;
    }
}

TEST(LayoutWalk, IndexEntriesNeverBeyondTheSizeOrTheFile) {
    TwoStreams f = two_streams();
    const size_t index = f.writer.offset();
    std::vector<IndexEntry> five(5);
    // Declares 1000 entries; its size makes room for five.
    f.writer.chunk(RM_ID_INDX, encode_index_body(0, five, 0, 1000u));
    const Bytes bytes = f.writer.bytes();
    const Walked w = walk(bytes);
    ASSERT_EQ(ids(w), ".RMF PROP MDPR MDPR DATA INDX");
    EXPECT_EQ(w.chunks[5].entries_held, 5u);
    EXPECT_EQ(w.entries.size(), 5u);

    // The file cut after three whole entries and a half.
    const Bytes cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(index + 20 + 3 * RM_INDX_ENTRY_SIZE + 7));
    const Walked c = walk(cut);
    EXPECT_EQ(c.chunks.back().entries_held, 3u);
    EXPECT_EQ(c.entries.size(), 3u);
}

TEST(LayoutWalk, ChainsReachWhatTheTopLevelRunCannotAndNeverLoop) {
    TwoStreams f = two_streams();
    f.writer.raw(Bytes(7, 0xEE));  // no chunk: the top-level run stops here
    const size_t index = f.writer.offset();
    f.writer.chunk(RM_ID_INDX, encode_index_body(0, {{0, uint32_t(f.packet_offsets[0]), 0}}, uint32_t(index)));
    Bytes bytes = f.writer.bytes();
    set_u32(bytes, PROP_INDEX_OFFSET_AT, uint32_t(index));
    const Walked w = walk(bytes);
    ASSERT_EQ(w.result, RM_OK);
    // Named by the PROP only; it names itself next, which is not followed.
    EXPECT_EQ(ids(w), ".RMF PROP MDPR MDPR DATA INDX*");
    EXPECT_EQ(w.entries.size(), 1u);

    // A second DATA chunk that only the first one's head names.
    RmWriter two;
    two.rmf().prop().mdpr(video_mdpr(0));
    DataChunk linked;
    linked.link_next = true;
    two.data(linked).packet(make_packet(0, 0, 10, true));
    two.raw(Bytes(5, 0xEE));
    two.data().packet(make_packet(0, 1000, 10)).packet(make_packet(0, 2000, 10));
    const Bytes chained = two.bytes();
    const Walked c = walk(chained);
    EXPECT_EQ(ids(c), ".RMF PROP MDPR DATA DATA*");
    ASSERT_EQ(c.censuses.size(), 2u);
    EXPECT_EQ(c.censuses[0].second.packets, 1u);
    EXPECT_EQ(c.censuses[1].second.packets, 2u);
}

TEST(LayoutWalk, AChainIntoPacketsAlreadyCountedIsNotFollowed) {
    // The DATA head names a "chunk" among its own packets, where a packet
    // that reads "DATA" lies: following it would count packets twice.
    TwoStreams f = two_streams();
    Bytes bytes = f.writer.bytes();
    const size_t inside = f.packet_offsets[1] + 12;  // the audio packet's payload
    set_u32(bytes, inside, RM_ID_DATA);
    set_u32(bytes, inside + 4, 18);
    set_u32(bytes, f.data_offset + 14, uint32_t(inside));
    const Walked w = walk(bytes);
    EXPECT_EQ(ids(w), ".RMF PROP MDPR MDPR DATA");
    ASSERT_EQ(w.censuses.size(), 1u);
    EXPECT_EQ(w.censuses[0].second.packets, 3u);
}

TEST(LayoutWalk, StopsWhenAsked) {
    const Bytes bytes = two_streams().writer.bytes();
    const Walked w = walk(bytes, 2);
    EXPECT_EQ(w.result, RM_FAIL);
    EXPECT_EQ(w.packets.size(), 2u);
    ASSERT_EQ(w.censuses.size(), 1u);
    EXPECT_EQ(w.censuses[0].second.end, RM_CENSUS_STOPPED);
    EXPECT_EQ(rm_walk_layout(nullptr, nullptr, 0, nullptr), RM_NULL_ARGUMENT);
}

TEST(LayoutWalk, HeadsTheFileCutsShort) {
    const Bytes bytes = two_streams().writer.bytes();
    // In the PROP's head: the chunk is there, its head is not whole.
    const Walked w = walk(Bytes(bytes.begin(), bytes.begin() + 40));
    ASSERT_EQ(ids(w), ".RMF PROP");
    EXPECT_EQ(w.chunks[1].head_held, 22u);
    EXPECT_TRUE(w.censuses.empty());
    EXPECT_TRUE(walk(Bytes()).chunks.empty());
    EXPECT_TRUE(walk(Bytes(100, 0)).chunks.empty());
}

TEST(StreamFileNumber, EachKeptStreamsOwnNumber) {
    // The audio stream is number 0, the video number 1, written in that order.
    const Bytes bytes =
        simple_file({video_mdpr(1), audio_mdpr(0)}, {make_packet(1, 0, 10, true), make_packet(0, 0, 10)});
    FILE* file = open_memory_file(bytes);
    ASSERT_NE(file, nullptr);
    rm_reader* reader = rm_reader_new(nullptr, [](void*, rm_result, const char*) {});
    ASSERT_EQ(rm_reader_attach_stdio(reader, file), RM_OK);
    ASSERT_EQ(rm_reader_load_headers(reader), RM_OK);
    ASSERT_EQ(rm_reader_stream_count(reader), 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        rm_stream_header* header = nullptr;
        ASSERT_EQ(rm_reader_fetch_stream_header(reader, i, &header), RM_OK);
        uint16_t number = 99;
        EXPECT_EQ(rm_reader_stream_file_number(reader, i, &number), RM_OK);
        EXPECT_EQ(number, rm_stream_header_is_video(header) ? 1u : 0u) << i;
        rm_reader_release_stream_header(reader, &header);
    }
    uint16_t number = 0;
    EXPECT_EQ(rm_reader_stream_file_number(reader, 2, &number), RM_FAIL);
    EXPECT_EQ(rm_reader_stream_file_number(nullptr, 0, &number), RM_FAIL);
    rm_reader_delete(&reader);
    std::fclose(file);
}

}  // namespace
