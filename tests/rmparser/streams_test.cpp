// Tests of the stream tables, stored stream header copies and properties, on a handle set up directly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rmparser/rm_internal.h"
#include "tests/support/rm_reader_fixture.h"

namespace {

struct Stream {
    uint16_t stream_number;
    uint32_t duration;
    std::string mime = "";
};

// Tables set up through the handle's allocator, so that deleting the handle
// frees them.
struct Handle : rmtest::ReaderFixture {
    // The media table as stream selection leaves it.
    void set_streams(const std::vector<Stream>& streams) {
        reader->media_props = zeroed<rm_media_props>(streams.size());
        reader->media_count = reader->media_capacity = reader->stream_count = uint32_t(streams.size());
        for (size_t i = 0; i < streams.size(); ++i) {
            rm_media_props& m = reader->media_props[i];
            m.stream_number = streams[i].stream_number;
            m.duration = streams[i].duration;
            if (!streams[i].mime.empty()) {
                m.mime_type = copy_text(streams[i].mime.c_str());
            }
        }
    }

    // One stored stream header per entry, each with a few properties of every type.
    void set_stored_headers(size_t count) {
        reader->stream_headers = zeroed<rm_stream_header>(count);
        reader->stream_count = reader->stream_header_count = uint32_t(count);
        static const uint8_t opaque[] = {1, 2, 3, 4, 5};
        static const uint8_t flags[] = {0, 3, 0, 2};
        for (size_t i = 0; i < count; ++i) {
            rm_stream_header& h = reader->stream_headers[i];
            h.stream_number = uint32_t(i);
            h.max_bit_rate = 450000;
            h.avg_bit_rate = 300000;
            h.duration = 60000;
            h.preroll = 4000;
            h.start_time = 7;
            h.mime_type = copy_text("video/x-pn-realvideo");
            h.stream_name = copy_text("Video Stream");
            h.opaque_data = copy_bytes(rmtest::Bytes(opaque, opaque + 5));
            h.opaque_length = 5;
            h.properties = zeroed<rm_property>(4);
            h.property_count = 4;
            EXPECT_EQ(RM_OK, rm_property_set(reader, &h.properties[0], "StreamNumber", RM_PROPERTY_INT, i, 0));
            EXPECT_EQ(RM_OK, rm_property_set(reader, &h.properties[1], "MimeType", RM_PROPERTY_STRING,
                                             reinterpret_cast<uintptr_t>("video/x-pn-realvideo"), 0));
            EXPECT_EQ(RM_OK, rm_property_set(reader, &h.properties[2], "RMFF 1.0 Flags", RM_PROPERTY_BUFFER,
                                             reinterpret_cast<uintptr_t>(flags), sizeof(flags)));
            EXPECT_EQ(RM_OK, rm_property_set(reader, &h.properties[3], "Same", RM_PROPERTY_STRING,
                                             reinterpret_cast<uintptr_t>("text"), 0));
        }
    }
};

}  // namespace

TEST(StreamTables, MapTranslatesFileNumbersToIndexes) {
    Handle h;
    h.set_streams({{0, 1000}, {5, 1000}});
    ASSERT_EQ(RM_OK, rm_build_stream_tables(h.reader));
    ASSERT_EQ(6u, h.reader->stream_map_size);
    const uint32_t expected[] = {0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 1};
    for (uint32_t n = 0; n < 6; ++n) {
        EXPECT_EQ(expected[n], h.reader->stream_map[n]) << "number " << n;
    }
}

TEST(StreamTables, KeyframeIndexSizing) {
    struct Case {
        uint32_t first;    // duration of stream index 0
        uint32_t longest;  // duration of a second stream (0: none)
        uint32_t spacing;
        uint32_t capacity;
    };
    const Case cases[] = {
        {60000, 0, 50, 1200},
        {3600000, 0, 1757, 2048},
        {102399, 0, 50, 2047},
        {102400, 0, 50, 2048},
        {30722047, 0, 15000, 2048},
        {30722048, 0, 15000, 2048},
        {0xFFFFFFFF, 0, 15000, 2048},
        {1000, 0, 50, 32},
        {0, 0, 50, 32},
        {1000, 60000, 50, 1200},  // spacing from the first, capacity from the longest
        {3600000, 7200000, 1757, 2048},
        {1000, 0xFFFFFFFF, 50, 65536},  // bounded: the rule alone would give 85,899,345
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " / " << c.longest);
        Handle h;
        std::vector<Stream> streams = {{0, c.first, "video/x-pn-realvideo"}};
        if (c.longest != 0) streams.push_back({1, c.longest, "audio/x-pn-realaudio"});
        h.set_streams(streams);
        ASSERT_EQ(RM_OK, rm_build_stream_tables(h.reader));
        EXPECT_EQ(c.longest > c.first ? c.longest : c.first, h.reader->longest_duration);
        for (uint32_t i = 0; i < streams.size(); ++i) {
            const rm_stream_state& state = h.reader->stream_states[i];
            EXPECT_EQ(c.spacing, state.index_spacing);
            EXPECT_EQ(c.capacity, state.index_capacity);
            EXPECT_EQ(0u, state.index_count);
            EXPECT_EQ(0u, state.last_entry_time);
            // The capacity only bounds the index: its storage comes with the keyframes.
            EXPECT_EQ(nullptr, state.index_entries);
            EXPECT_EQ(0u, state.index_allocated);
        }
    }
}

// A duration field buys no memory: the index grows with the keyframes added,
// doubling from 32 entries, up to its capacity.
TEST(StreamTables, KeyframeIndexGrowsWithItsEntries) {
    Handle h;
    h.set_streams({{0, 1000, "video/x-pn-realvideo"}, {1, 0xFFFFFFFF, "application/x-pn-realevent"}});
    ASSERT_EQ(RM_OK, rm_build_stream_tables(h.reader));
    EXPECT_LE(h.alloc.largest_request, 1024u);
    const rm_stream_state& state = h.reader->stream_states[0];
    ASSERT_EQ(65536u, state.index_capacity);
    for (uint32_t k = 0; k < 100; ++k) {
        ASSERT_EQ(RM_OK, rm_index_add(h.reader, 0, 100 * k, 1000 + k, RM_PACKET_KEYFRAME));
        const uint32_t expected = k < 32 ? 32 : k < 64 ? 64 : 128;
        ASSERT_EQ(expected, state.index_allocated) << k;
        ASSERT_EQ(expected * 8, h.alloc.blocks.at(state.index_entries));
    }
    for (uint32_t k = 0; k < 100; ++k) {
        EXPECT_EQ(100 * k, state.index_entries[k].timestamp);
        EXPECT_EQ(1000 + k, state.index_entries[k].offset);
    }
    h.alloc.fail_nth(h.alloc.requests + 1);
    for (uint32_t k = 100; k < 128; ++k) EXPECT_EQ(RM_OK, rm_index_add(h.reader, 0, 100 * k, 0, RM_PACKET_KEYFRAME));
    EXPECT_EQ(RM_OUT_OF_MEMORY, rm_index_add(h.reader, 0, 100 * 128, 0, RM_PACKET_KEYFRAME));
    EXPECT_EQ(128u, state.index_count);
    rm_reader_delete(&h.reader);
    EXPECT_EQ(0u, h.alloc.live());
}

// A file of a kilobyte whose sixteen streams claim to last 49 days: reading
// it whole costs what its bytes justify, not the index its durations would
// size (8 MiB before the index grew with its entries).
TEST(StreamTables, AbsurdDurationsBuyNoMemory) {
    rmtest::RmWriter w;
    rmtest::PropChunk prop;
    prop.duration = 0xFFFFFFFFu;
    w.rmf().prop(prop);
    for (uint16_t n = 0; n < 16; ++n) {
        rmtest::MdprChunk mdpr = n == 0 ? rmtest::video_mdpr(0) : rmtest::audio_mdpr(n);
        mdpr.duration = n == 0 ? 1000 : 0xFFFFFFFFu;
        w.mdpr(mdpr);
    }
    w.data();
    for (uint32_t t = 0; t < 5000; t += 1000) w.packet(rmtest::make_packet(0, t, 10, true));
    rmtest::ReaderFixture h(w.bytes());
    ASSERT_LT(h.io.data.size(), 2048u);
    ASSERT_EQ(RM_OK, h.load());
    EXPECT_EQ(65536u, h.reader->stream_states[1].index_capacity);  // what it may grow to
    for (rm_packet* packet = nullptr; rm_reader_next_packet(h.reader, &packet, -1) == RM_OK;) {
        rm_reader_release_packet(h.reader, &packet);
    }
    EXPECT_LT(h.alloc.peak_live_bytes, 32u * 1024u);
}

TEST(StreamTables, IndexStorageOfAllStreamsIsBounded) {
    // Thousands of tiny MDPRs must not cost 16 KiB of index each.
    Handle h;
    std::vector<Stream> streams;
    for (uint16_t n = 0; n < 4000; ++n) streams.push_back({n, 3600000});
    h.set_streams(streams);
    ASSERT_EQ(RM_OK, rm_build_stream_tables(h.reader));
    EXPECT_EQ((1u << 20) / 4000, h.reader->stream_states[0].index_capacity);
    EXPECT_EQ(1757u, h.reader->stream_states[3999].index_spacing);
    EXPECT_LE(h.alloc.live_bytes, 9u * 1024 * 1024);
}

TEST(StreamTables, ClassFlagsFollowTheExactMimeType) {
    struct Case {
        const char* mime;  // "" for none
        uint8_t flags;
    };
    const Case cases[] = {
        {"audio/x-pn-realaudio", RM_CLASS_AUDIO},
        {"audio/x-pn-realaudio-encrypted", RM_CLASS_AUDIO},
        {"video/x-pn-realvideo", RM_CLASS_VIDEO},
        {"video/x-pn-realvideo-encrypted", RM_CLASS_VIDEO},
        {"application/x-pn-realevent", RM_CLASS_EVENT},
        {"application/x-pn-realevent-encrypted", RM_CLASS_EVENT},
        {"application/x-pn-imagemap", RM_CLASS_EVENT},
        {"application/x-pn-imagemap-encrypted", RM_CLASS_EVENT},
        {"image_map/x-pn-realvideo", RM_CLASS_EVENT},
        {"image_map/x-pn-realvideo-encrypted", RM_CLASS_EVENT},
        {"syncMM/x-pn-realvideo", RM_CLASS_EVENT},
        {"syncMM/x-pn-realvideo-encrypted", RM_CLASS_EVENT},
        {"Video/x-pn-realvideo", 0},
        {"video/x-pn-realvideo ", 0},
        {"video/x-pn-realvide", 0},
        {"syncmm/x-pn-realvideo", 0},
        {"audio/x-ralf-mpeg4", 0},
        {"", 0},
    };
    std::vector<Stream> streams;
    for (uint16_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) streams.push_back({i, 1000, cases[i].mime});
    Handle h;
    h.set_streams(streams);
    ASSERT_EQ(RM_OK, rm_build_stream_tables(h.reader));
    for (size_t i = 0; i < streams.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.mime);
        EXPECT_EQ(c.flags, h.reader->stream_states[i].class_flags);
        const char* mime = c.mime[0] ? c.mime : nullptr;
        EXPECT_EQ(c.flags == RM_CLASS_AUDIO, rm_mime_is_audio(mime) == 1);
        EXPECT_EQ(c.flags == RM_CLASS_VIDEO, rm_mime_is_video(mime) == 1);
        EXPECT_EQ(c.flags == RM_CLASS_EVENT, rm_mime_is_event(mime) == 1);
        EXPECT_EQ(c.flags != 0, rm_mime_is_known(mime) == 1);
        rm_stream_header header{};
        header.mime_type = const_cast<char*>(mime);
        EXPECT_EQ(c.flags == RM_CLASS_AUDIO, rm_stream_header_is_audio(&header) == 1);
        EXPECT_EQ(c.flags == RM_CLASS_VIDEO, rm_stream_header_is_video(&header) == 1);
        EXPECT_EQ(c.flags == RM_CLASS_EVENT, rm_stream_header_is_event(&header) == 1);
    }
    EXPECT_EQ(0, rm_stream_header_is_video(nullptr));
}

TEST(StreamTables, FailuresAndRebuild) {
    EXPECT_EQ(RM_FAIL, rm_build_stream_tables(nullptr));
    {
        Handle h;
        EXPECT_EQ(RM_FAIL, rm_build_stream_tables(h.reader));  // no streams
    }
    struct Case {
        uint32_t nth;  // request number within the build
        rm_result expected;
    };
    // Requests: map, state array (the index waits for keyframes).
    const Case cases[] = {{1, RM_FAIL}, {2, RM_FAIL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nth);
        Handle h;
        h.set_streams({{0, 1000}, {1, 1000}});
        h.alloc.fail_nth(h.alloc.requests + c.nth);
        EXPECT_EQ(c.expected, rm_build_stream_tables(h.reader));
        rm_reader_delete(&h.reader);
        EXPECT_EQ(0u, h.alloc.live());
    }
    // A second build replaces the first without leaking it.
    Handle h;
    h.set_streams({{2, 1000}, {0, 1000}});
    ASSERT_EQ(RM_OK, rm_build_stream_tables(h.reader));
    const size_t live = h.alloc.live();
    ASSERT_EQ(RM_OK, rm_build_stream_tables(h.reader));
    EXPECT_EQ(live, h.alloc.live());
    EXPECT_EQ(1u, h.reader->stream_map[0]);
    EXPECT_EQ(0u, h.reader->stream_map[2]);
}

TEST(StreamHeaders, TwoFetchesGiveDistinctEqualCopies) {
    Handle h;
    h.set_stored_headers(2);
    rm_stream_header a{};
    rm_stream_header b{};
    ASSERT_EQ(RM_OK, rm_copy_stream_header(h.reader, 1, &a));
    ASSERT_EQ(RM_OK, rm_copy_stream_header(h.reader, 1, &b));
    const rm_stream_header& stored = h.reader->stream_headers[1];
    for (const rm_stream_header* copy : {&a, &b}) {
        EXPECT_EQ(1u, rm_stream_header_get_stream_number(copy));
        EXPECT_EQ(450000u, rm_stream_header_get_max_bit_rate(copy));
        EXPECT_EQ(300000u, rm_stream_header_get_avg_bit_rate(copy));
        EXPECT_EQ(60000u, rm_stream_header_get_duration(copy));
        EXPECT_EQ(4000u, rm_stream_header_get_preroll(copy));
        EXPECT_EQ(7u, rm_stream_header_get_start_time(copy));
        EXPECT_STREQ("video/x-pn-realvideo", rm_stream_header_get_mime_type(copy));
        EXPECT_STREQ("Video Stream", rm_stream_header_get_stream_name(copy));
        EXPECT_NE(stored.mime_type, copy->mime_type);
        ASSERT_EQ(5u, copy->opaque_length);
        EXPECT_EQ(0, std::memcmp(stored.opaque_data, copy->opaque_data, 5));
        rm_property* properties = nullptr;
        ASSERT_EQ(4u, rm_stream_header_get_properties(copy, &properties));
        EXPECT_EQ(copy->properties, properties);
    }
    EXPECT_NE(a.mime_type, b.mime_type);
    EXPECT_NE(a.stream_name, b.stream_name);
    EXPECT_NE(a.opaque_data, b.opaque_data);
    EXPECT_NE(a.properties, b.properties);
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(a.properties[i].name, b.properties[i].name);
        EXPECT_STREQ(a.properties[i].name, b.properties[i].name);
        EXPECT_EQ(a.properties[i].type, b.properties[i].type);
        EXPECT_EQ(a.properties[i].size, b.properties[i].size);
    }
    EXPECT_EQ(1u, a.properties[0].value.number);
    EXPECT_NE(a.properties[1].value.data, b.properties[1].value.data);
    EXPECT_STREQ("video/x-pn-realvideo", static_cast<char*>(b.properties[1].value.data));
    EXPECT_EQ(21u, b.properties[1].size);
    EXPECT_NE(a.properties[2].value.data, b.properties[2].value.data);
    EXPECT_EQ(0, std::memcmp(a.properties[2].value.data, b.properties[2].value.data, 4));

    // Filling a record that holds a copy clears it first.
    const size_t live = h.alloc.live();
    ASSERT_EQ(RM_OK, rm_copy_stream_header(h.reader, 0, &a));
    EXPECT_EQ(live, h.alloc.live());
    EXPECT_EQ(0u, a.stream_number);
    rm_clear_stream_header(h.reader, &a);
    rm_clear_stream_header(h.reader, &b);
    EXPECT_EQ(nullptr, b.properties);
    EXPECT_EQ(0u, b.property_count);
    EXPECT_EQ(0u, b.opaque_length);
}

TEST(StreamHeaders, FailedCopyFreesEverything) {
    for (uint32_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        Handle h;
        h.set_stored_headers(1);
        const size_t live = h.alloc.live();
        h.alloc.fail_nth(h.alloc.requests + n);
        rm_stream_header copy{};
        const rm_result result = rm_copy_stream_header(h.reader, 0, &copy);
        rm_clear_stream_header(h.reader, &copy);
        EXPECT_EQ(live, h.alloc.live());
        if (h.alloc.failures == 0) {
            EXPECT_EQ(RM_OK, result);
            break;
        }
        EXPECT_EQ(RM_FAIL, result);
    }
}

TEST(StreamHeaders, CopyRefusals) {
    Handle h;
    rm_stream_header copy{};
    EXPECT_EQ(RM_FAIL, rm_copy_stream_header(h.reader, 0, &copy));  // no stored headers
    h.set_stored_headers(2);
    EXPECT_EQ(RM_FAIL, rm_copy_stream_header(h.reader, 2, &copy));
    EXPECT_EQ(RM_FAIL, rm_copy_stream_header(h.reader, 0, nullptr));
    EXPECT_EQ(RM_FAIL, rm_copy_stream_header(nullptr, 0, &copy));

    // A stored header without properties cannot be copied.
    rm_stream_header& stored = h.reader->stream_headers[1];
    for (uint32_t i = 0; i < stored.property_count; ++i) rm_property_clear(h.reader, &stored.properties[i]);
    rm_release(h.reader, stored.properties);
    stored.properties = nullptr;
    stored.property_count = 0;
    const size_t live = h.alloc.live();
    EXPECT_EQ(RM_FAIL, rm_copy_stream_header(h.reader, 1, &copy));
    rm_clear_stream_header(h.reader, &copy);
    EXPECT_EQ(live, h.alloc.live());

    // A stored length without its block never reaches the caller.
    rm_stream_header& first = h.reader->stream_headers[0];
    rm_release(h.reader, first.opaque_data);
    first.opaque_data = nullptr;
    ASSERT_EQ(RM_OK, rm_copy_stream_header(h.reader, 0, &copy));
    EXPECT_EQ(nullptr, copy.opaque_data);
    EXPECT_EQ(0u, copy.opaque_length);
    rm_clear_stream_header(h.reader, &copy);
}

TEST(StreamHeaders, LookupsMatchNameAndType) {
    Handle h;
    h.set_stored_headers(1);
    rm_stream_header& header = h.reader->stream_headers[0];
    // A second "Same", as an int, after the string of that name.
    rm_property* grown = h.zeroed<rm_property>(5);
    std::memcpy(grown, header.properties, 4 * sizeof(rm_property));
    rm_release(h.reader, header.properties);
    header.properties = grown;
    header.property_count = 5;
    ASSERT_EQ(RM_OK, rm_property_set(h.reader, &grown[4], "Same", RM_PROPERTY_INT, 99, 0));

    uint32_t number = 0;
    char* text = nullptr;
    void* block = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(RM_OK, rm_stream_header_find_int(&header, "Same", &number));
    EXPECT_EQ(99u, number);
    EXPECT_EQ(RM_OK, rm_stream_header_find_string(&header, "Same", &text));
    EXPECT_STREQ("text", text);
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_int(&header, "MimeType", &number));
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_string(&header, "StreamNumber", &text));
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_buffer(&header, "MimeType", &block, &size));
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_string(&header, "mimetype", &text));  // exact case
    EXPECT_EQ(RM_OK, rm_stream_header_find_buffer(&header, "RMFF 1.0 Flags", &block, &size));
    EXPECT_EQ(header.properties[2].value.data, block);
    EXPECT_EQ(4u, size);

    EXPECT_EQ(RM_FAIL, rm_stream_header_find_int(nullptr, "Same", &number));
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_int(&header, nullptr, &number));
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_int(&header, "Same", nullptr));
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_buffer(&header, "RMFF 1.0 Flags", &block, nullptr));
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_string(&header, "Same", nullptr));
    rm_stream_header empty{};
    EXPECT_EQ(RM_FAIL, rm_stream_header_find_int(&empty, "Same", &number));
}

TEST(StreamHeaders, PropertySetAndClear) {
    Handle h;
    rm_property p{};
    // A string's size comes from the string, whatever size is passed.
    ASSERT_EQ(RM_OK, rm_property_set(h.reader, &p, "S", RM_PROPERTY_STRING, reinterpret_cast<uintptr_t>("abc"), 99));
    EXPECT_EQ(4u, p.size);
    EXPECT_STREQ("abc", static_cast<char*>(p.value.data));
    // Replacing it with an int frees the string.
    const size_t live = h.alloc.live();
    ASSERT_EQ(RM_OK, rm_property_set(h.reader, &p, "I", RM_PROPERTY_INT, 0xFFFFFFFFu, 5));
    EXPECT_EQ(live - 1, h.alloc.live());
    EXPECT_EQ(0xFFFFFFFFu, p.value.number);
    EXPECT_EQ(0u, p.size);
    // An int's number is never taken for a block.
    EXPECT_EQ(RM_FAIL, rm_property_set(h.reader, &p, "X", 7, 0, 0));
    EXPECT_STREQ("X", p.name);
    EXPECT_EQ(7u, p.type);
    EXPECT_EQ(nullptr, p.value.data);
    // An empty block owns nothing; a block without bytes behind it is refused.
    ASSERT_EQ(RM_OK, rm_property_set(h.reader, &p, "B", RM_PROPERTY_BUFFER, 0, 0));
    EXPECT_EQ(nullptr, p.value.data);
    EXPECT_EQ(RM_FAIL, rm_property_set(h.reader, &p, "B", RM_PROPERTY_BUFFER, 0, 4));
    EXPECT_EQ(RM_FAIL, rm_property_set(h.reader, &p, "S", RM_PROPERTY_STRING, 0, 0));
    EXPECT_EQ(RM_FAIL, rm_property_set(h.reader, &p, nullptr, RM_PROPERTY_INT, 0, 0));
    EXPECT_EQ(RM_FAIL, rm_property_set(nullptr, &p, "N", RM_PROPERTY_INT, 0, 0));
    EXPECT_EQ(RM_FAIL, rm_property_set(h.reader, nullptr, "N", RM_PROPERTY_INT, 0, 0));
    rm_property_clear(h.reader, &p);
    rm_property_clear(h.reader, nullptr);
    EXPECT_EQ(nullptr, p.name);
    EXPECT_EQ(1u, h.alloc.live());  // the handle
    EXPECT_EQ(0u, h.alloc.foreign_releases);
}

TEST(StreamHeaders, NullRecordsAndHelpers) {
    EXPECT_EQ(nullptr, rm_stream_header_get_mime_type(nullptr));
    EXPECT_EQ(nullptr, rm_stream_header_get_stream_name(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_stream_number(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_max_bit_rate(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_avg_bit_rate(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_max_packet_size(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_avg_packet_size(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_duration(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_preroll(nullptr));
    EXPECT_EQ(0u, rm_stream_header_get_start_time(nullptr));
    rm_property* properties = reinterpret_cast<rm_property*>(0x1);
    EXPECT_EQ(0u, rm_stream_header_get_properties(nullptr, &properties));
    EXPECT_EQ(reinterpret_cast<rm_property*>(0x1), properties);
    rm_stream_header header{};
    header.property_count = 3;
    EXPECT_EQ(0u, rm_stream_header_get_properties(&header, nullptr));

    rmtest::TestAllocator memory;
    EXPECT_EQ(nullptr, rm_clone_string(&memory, nullptr, "x"));
    EXPECT_EQ(nullptr, rm_clone_string(&memory, rmtest::TestAllocator::allocate, nullptr));
    char* copy = rm_clone_string(&memory, rmtest::TestAllocator::allocate, "");
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(1u, memory.blocks.at(copy));
    // Releasing needs a handle with a release callback; without one the
    // block stays where it is, not lost.
    char* block = copy;
    rm_reader handle{};
    handle.memory_user = &memory;
    rm_release_and_null(&handle, block);
    EXPECT_EQ(copy, block);
    rm_release_and_null(nullptr, block);
    EXPECT_EQ(copy, block);
    handle.release_fn = rmtest::TestAllocator::release;
    rm_release_and_null(&handle, block);
    EXPECT_EQ(nullptr, block);
    rm_release_and_null(&handle, block);
    EXPECT_EQ(0u, memory.live());
    EXPECT_EQ(0u, memory.null_releases);

    rm_clear_stream_header(nullptr, &header);
    rm_drop_stream_map(nullptr);
    rm_drop_stream_states(nullptr);
    rm_drop_stream_headers(nullptr);
}
