// Tests of logical stream headers and stream selection, on a handle whose media table is set up directly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rmparser/rm_internal.h"
#include "tests/support/rm_reader_fixture.h"

using rmtest::Bytes;

namespace {

struct Media {
    uint16_t stream_number;
    std::string mime;  // "" for none
    Bytes type_specific;
    std::string name = "";
};

// The media table is allocated through the handle's allocator, so that
// deleting the handle tears everything down.
struct Handle : rmtest::ReaderFixture {
    char* text(const std::string& s) { return s.empty() ? nullptr : copy_text(s.c_str()); }

    void set_media(const std::vector<Media>& media, uint32_t capacity = 0) {
        if (capacity < media.size()) capacity = uint32_t(media.size());
        reader->media_props = zeroed<rm_media_props>(capacity);
        reader->media_capacity = capacity;
        reader->media_count = uint32_t(media.size());
        for (size_t i = 0; i < media.size(); ++i) {
            rm_media_props& m = reader->media_props[i];
            m.id = RM_ID_MDPR;
            m.stream_number = media[i].stream_number;
            m.mime_type = text(media[i].mime);
            m.mime_type_length = uint8_t(media[i].mime.size());
            m.stream_name = text(media[i].name);
            m.stream_name_length = uint8_t(media[i].name.size());
            m.type_specific_length = uint32_t(media[i].type_specific.size());
            m.type_specific_data = copy_bytes(media[i].type_specific);
        }
    }
};

// A source record over exactly `bytes` (an exact-size block, so a read past
// the end shows under AddressSanitizer).
struct Source {
    rm_media_props props{};
    std::vector<uint8_t> storage;
    explicit Source(const Bytes& bytes) : storage(bytes) {
        props.type_specific_length = uint32_t(storage.size());
        props.type_specific_data = storage.empty() ? nullptr : storage.data();
    }
};

std::string value_text(const rm_name_value& nv) {
    return std::string(reinterpret_cast<const char*>(nv.value), nv.value_length);
}

rmtest::LogicalStream claiming(std::vector<uint16_t> numbers) {
    rmtest::LogicalStream ls;
    ls.physical_streams = std::move(numbers);
    return ls;
}

Bytes full_header() {
    rmtest::LogicalStream ls;
    ls.object_version = 7;
    ls.physical_streams = {3, 4};
    ls.data_offsets = {0x11223344, 0x55667788};
    ls.rule_map = {0, 1, 1};
    ls.properties = {rmtest::nv_string("Name", "abc"), rmtest::nv_int("Count", 0x01020304)};
    return rmtest::encode_logical_stream(ls);
}

}  // namespace

TEST(LogicalMime, PrefixIsCaseSensitiveAndFileinfoIsNeverAStream) {
    struct Case {
        const char* mime;
        int stream;
        int fileinfo;
    };
    const Case cases[] = {
        {nullptr, 0, 0},
        {"", 0, 0},
        {"logical", 0, 0},
        {"logical-", 1, 0},
        {"logical-video/x-pn-realvideo", 1, 0},
        {"Logical-video/x-pn-realvideo", 0, 0},
        {"LOGICAL-", 0, 0},
        {"logical-fileinfo", 0, 1},
        {"logical-fileinfo2", 1, 0},
        {"logical-Fileinfo", 1, 0},
        {"video/x-pn-realvideo", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mime ? c.mime : "(null)");
        EXPECT_EQ(c.stream, rm_mime_is_logical_stream(c.mime));
        EXPECT_EQ(c.fileinfo, rm_mime_is_logical_fileinfo(c.mime));
    }
}

TEST(LogicalDecode, EmptyHeaderOfTwelveBytesHasNullArrays) {
    Handle h;
    const Bytes bytes = rmtest::encode_logical_stream({});
    ASSERT_EQ(12u, bytes.size());
    Source source(bytes);
    rm_logical_stream out{};
    EXPECT_EQ(RM_OK, rm_decode_logical_stream(h.reader, &source.props, &out));
    EXPECT_EQ(12u, out.size);
    EXPECT_EQ(0, out.physical_count);
    EXPECT_EQ(0, out.rule_count);
    EXPECT_EQ(0, out.name_value_count);
    EXPECT_EQ(nullptr, out.physical_streams);
    EXPECT_EQ(nullptr, out.data_offsets);
    EXPECT_EQ(nullptr, out.rule_map);
    EXPECT_EQ(nullptr, out.name_values);

    // Without the property count, 2r + 2 bytes no longer remain.
    Source cut(Bytes(bytes.begin(), bytes.begin() + 10));
    EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(h.reader, &cut.props, &out));
    rm_drop_logical_stream(h.reader, &out);
}

TEST(LogicalDecode, DecodesEveryField) {
    Handle h;
    Source source(full_header());
    rm_logical_stream out{};
    ASSERT_EQ(RM_OK, rm_decode_logical_stream(h.reader, &source.props, &out));
    EXPECT_EQ(source.storage.size(), out.size);
    EXPECT_EQ(7, out.object_version);
    ASSERT_EQ(2, out.physical_count);
    EXPECT_EQ(3, out.physical_streams[0]);
    EXPECT_EQ(4, out.physical_streams[1]);
    EXPECT_EQ(0x11223344u, out.data_offsets[0]);
    EXPECT_EQ(0x55667788u, out.data_offsets[1]);
    ASSERT_EQ(3, out.rule_count);
    EXPECT_EQ(0, out.rule_map[0]);
    EXPECT_EQ(1, out.rule_map[2]);
    ASSERT_EQ(2, out.name_value_count);
    EXPECT_STREQ("Name", out.name_values[0].name);
    EXPECT_EQ(2u, out.name_values[0].type);
    EXPECT_EQ(std::string("abc\0", 4), value_text(out.name_values[0]));
    EXPECT_STREQ("Count", out.name_values[1].name);
    EXPECT_EQ(0u, out.name_values[1].type);
    EXPECT_EQ(std::string("\x01\x02\x03\x04"), value_text(out.name_values[1]));

    rm_drop_logical_stream(h.reader, &out);
    EXPECT_EQ(nullptr, out.physical_streams);
    EXPECT_EQ(nullptr, out.name_values);
    EXPECT_EQ(0, out.name_value_count);
}

TEST(LogicalDecode, PropertySizeFieldIsNotUsedToFindTheNext) {
    Handle h;
    rmtest::LogicalStream ls;
    rmtest::NameValue wrong = rmtest::nv_string("First", "x");
    wrong.size = 1000;        // disagrees with its contents
    rmtest::NameValue empty;  // empty name and value
    empty.size = 0;
    ls.properties = {wrong, empty, rmtest::nv_int("Third", 3)};
    Source source(rmtest::encode_logical_stream(ls));
    rm_logical_stream out{};
    ASSERT_EQ(RM_OK, rm_decode_logical_stream(h.reader, &source.props, &out));
    ASSERT_EQ(3, out.name_value_count);
    EXPECT_EQ(1000u, out.name_values[0].size);
    EXPECT_STREQ("First", out.name_values[0].name);
    EXPECT_EQ(nullptr, out.name_values[1].name);
    EXPECT_EQ(nullptr, out.name_values[1].value);
    EXPECT_STREQ("Third", out.name_values[2].name);
    EXPECT_EQ(std::string("\0\0\0\x03", 4), value_text(out.name_values[2]));
    rm_drop_logical_stream(h.reader, &out);
}

TEST(LogicalDecode, LengthFieldsBeyondTheBytesLeftFail) {
    struct Case {
        const char* what;
        rmtest::LogicalStream header;
    };
    std::vector<Case> cases;
    {
        rmtest::LogicalStream ls;
        rmtest::NameValue nv = rmtest::nv_string("Name", "abc");
        nv.value_length = 5;  // one more than the bytes left
        ls.properties = {nv};
        cases.push_back({"value length", ls});
    }
    {
        rmtest::LogicalStream ls;
        rmtest::NameValue nv = rmtest::nv_int("Name", 1);
        nv.name_length = 200;
        ls.properties = {nv};
        cases.push_back({"name length", ls});
    }
    {
        rmtest::LogicalStream ls = claiming({0, 1});
        ls.physical_count = 60000;
        cases.push_back({"physical count", ls});
    }
    {
        rmtest::LogicalStream ls;
        ls.rule_count = 9;
        cases.push_back({"rule count", ls});
    }
    {
        rmtest::LogicalStream ls;
        ls.properties = {rmtest::nv_int("A", 1)};
        ls.property_count = 2;
        cases.push_back({"property count", ls});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Handle h;
        Source source(rmtest::encode_logical_stream(c.header));
        rm_logical_stream out{};
        EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(h.reader, &source.props, &out));
        rm_drop_logical_stream(h.reader, &out);
        EXPECT_EQ(1u, h.alloc.live());  // only the handle itself
    }
}

TEST(LogicalDecode, HugePropertyCountAllocatesNothingLarge) {
    Handle h;
    rmtest::LogicalStream ls;
    ls.property_count = 0xFFFF;
    Source source(rmtest::encode_logical_stream(ls));
    rm_logical_stream out{};
    const uint32_t before = h.alloc.largest_request;
    EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(h.reader, &source.props, &out));
    EXPECT_EQ(before, h.alloc.largest_request);
    rm_drop_logical_stream(h.reader, &out);
}

TEST(LogicalDecode, EveryTruncationFailsWithinBounds) {
    Handle h;
    const Bytes whole = full_header();
    for (size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        Source source(Bytes(whole.begin(), whole.begin() + length));
        rm_logical_stream out{};
        const rm_result result = rm_decode_logical_stream(h.reader, &source.props, &out);
        EXPECT_EQ(length == whole.size() ? RM_OK : RM_FAIL, result);
        rm_drop_logical_stream(h.reader, &out);
        EXPECT_EQ(1u, h.alloc.live());
    }
}

TEST(LogicalDecode, RefusedAllocationsFailCleanly) {
    Source source(full_header());
    for (uint32_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        Handle h;
        h.alloc.fail_nth(h.alloc.requests + n);
        rm_logical_stream out{};
        const rm_result result = rm_decode_logical_stream(h.reader, &source.props, &out);
        const bool refused = h.alloc.failures > 0;
        rm_drop_logical_stream(h.reader, &out);
        EXPECT_EQ(1u, h.alloc.live());
        if (!refused) {
            EXPECT_EQ(RM_OK, result);
            break;
        }
        EXPECT_NE(RM_OK, result);
    }
}

TEST(LogicalDecode, NullArgumentsAndShortData) {
    Handle h;
    Source shortest(Bytes(7, 0));
    Source good(rmtest::encode_logical_stream({}));
    rm_logical_stream out{};
    EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(nullptr, &good.props, &out));
    EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(h.reader, nullptr, &out));
    EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(h.reader, &good.props, nullptr));
    EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(h.reader, &shortest.props, &out));
    Source none(Bytes{});
    EXPECT_EQ(RM_FAIL, rm_decode_logical_stream(h.reader, &none.props, &out));

    const uint8_t six[6] = {};
    const uint8_t* cursor = six;
    uint32_t remaining = sizeof(six);
    rm_name_value nv{};
    EXPECT_EQ(RM_FAIL, rm_decode_name_value(h.reader, &nv, &cursor, &remaining));
    EXPECT_EQ(RM_FAIL, rm_decode_name_value(h.reader, nullptr, &cursor, &remaining));
    EXPECT_EQ(RM_FAIL, rm_decode_name_value(h.reader, &nv, nullptr, &remaining));
    EXPECT_EQ(RM_FAIL, rm_decode_name_value(h.reader, &nv, &cursor, nullptr));
}

TEST(LogicalPass, NoLogicalTypesDoesNothing) {
    Handle h;
    h.set_media({{0, "video/x-pn-realvideo", {}}, {1, "audio/x-pn-realaudio", {}}});
    EXPECT_EQ(RM_OK, rm_load_logical_streams(h.reader));
    EXPECT_EQ(0u, h.reader->logical_count);
    EXPECT_EQ(nullptr, h.reader->logical_streams);
    EXPECT_EQ(nullptr, h.reader->fileinfo);
    EXPECT_EQ(0u, h.log.count());
}

TEST(LogicalPass, DecodesEachLogicalStreamAndOnlyTheFirstFileinfo) {
    Handle h;
    rmtest::LogicalStream first_info;
    first_info.properties = {rmtest::nv_int("Which", 1)};
    rmtest::LogicalStream second_info;
    second_info.properties = {rmtest::nv_int("Which", 2)};
    Bytes broken = rmtest::encode_logical_stream({});
    broken.resize(9);  // would fail if it were decoded
    h.set_media({
        {0, "video/x-pn-realvideo", {}},
        {1, "logical-video/x-pn-realvideo", rmtest::encode_logical_stream(claiming({0}))},
        {2, "logical-fileinfo", rmtest::encode_logical_stream(first_info)},
        {3, "logical-audio/x-pn-realaudio", rmtest::encode_logical_stream(claiming({5, 6}))},
        {4, "logical-fileinfo", broken},
    });
    ASSERT_EQ(RM_OK, rm_load_logical_streams(h.reader));
    ASSERT_EQ(2u, h.reader->logical_count);
    EXPECT_EQ(1, h.reader->logical_streams[0].physical_count);
    EXPECT_EQ(2, h.reader->logical_streams[1].physical_count);
    EXPECT_EQ(6, h.reader->logical_streams[1].physical_streams[1]);
    ASSERT_NE(nullptr, h.reader->fileinfo);
    ASSERT_EQ(1, h.reader->fileinfo->name_value_count);
    EXPECT_EQ(1, h.reader->fileinfo->name_values[0].value[3]);
    EXPECT_EQ(0u, h.log.count());
}

TEST(LogicalPass, DecodeFailuresAreReportedWithTheirMessage) {
    Bytes broken = rmtest::encode_logical_stream({});
    broken.resize(10);
    struct Case {
        const char* mime;
        const char* message;
    };
    const Case cases[] = {
        {"logical-video/x-pn-realvideo", "Failed to parse logical stream header."},
        {"logical-fileinfo", "Failed to parse logical-fileinfo header."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mime);
        Handle h;
        h.set_media({{0, "video/x-pn-realvideo", {}}, {1, c.mime, broken}});
        EXPECT_EQ(RM_FAIL, rm_load_logical_streams(h.reader));
        ASSERT_EQ(1u, h.log.count());
        EXPECT_EQ(RM_FAIL, h.log.last_code());
        EXPECT_EQ(c.message, h.log.last_message());
    }
    // A logical MDPR without any type-specific data fails the same way.
    Handle h;
    h.set_media({{0, "logical-", {}}});
    EXPECT_EQ(RM_FAIL, rm_load_logical_streams(h.reader));
    EXPECT_EQ("Failed to parse logical stream header.", h.log.last_message());
}

TEST(LogicalPass, RefusedAllocationsLeakNothing) {
    rmtest::LogicalStream info;
    info.properties = {rmtest::nv_string("Title", "t")};
    rmtest::LogicalStream logical = claiming({0});
    logical.properties = {rmtest::nv_int("A", 1)};
    for (uint32_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        Handle h;
        h.set_media({{0, "video/x-pn-realvideo", {}},
                     {1, "logical-video/x-pn-realvideo", rmtest::encode_logical_stream(logical)},
                     {2, "logical-fileinfo", rmtest::encode_logical_stream(info)}});
        h.alloc.fail_nth(h.alloc.requests + n);
        const rm_result result = rm_load_logical_streams(h.reader);
        if (h.alloc.failures == 0) {
            EXPECT_EQ(RM_OK, result);
            break;
        }
        EXPECT_NE(RM_OK, result);
        // Requests in order: logical table, its two arrays, its property
        // array, name, value; then the fileinfo record itself.
        if (n == 7) {
            EXPECT_EQ(RM_OUT_OF_MEMORY, result);
        }
        rm_reader_delete(&h.reader);
        EXPECT_EQ(0u, h.alloc.live());
    }
}

// Selection: which records survive, in which order.
TEST(StreamSelection, KeepsOnlyUnclaimedPhysicalStreams) {
    struct Case {
        const char* what;
        std::vector<Media> media;
        std::vector<uint16_t> kept;  // stream numbers, in index order
    };
    const Bytes claims_0_1 = rmtest::encode_logical_stream(claiming({0, 1}));
    const Bytes fileinfo = rmtest::encode_logical_stream({});
    const std::vector<Case> cases = {
        {"five MDPRs",
         {{0, "video/x-pn-realvideo", {}},
          {1, "audio/x-pn-realaudio", {}},
          {2, "logical-video/x-pn-realvideo", claims_0_1},
          {3, "logical-fileinfo", fileinfo},
          {4, "video/x-pn-realvideo", {}, "kept"}},
         {4}},
        {"no logical types",
         {{0, "audio/x-pn-realaudio", {}}, {1, "video/x-pn-realvideo", {}}, {2, "", {}}},
         {0, 1, 2}},
        {"numbers beyond the table or of no record are ignored",
         {{0, "video/x-pn-realvideo", {}},
          {1, "audio/x-pn-realaudio", {}},
          {2, "logical-audio", rmtest::encode_logical_stream(claiming({1, 7, 3, 65535}))}},
         {0}},
        {"claims name file numbers, not table positions",
         {{0, "video/x-pn-realvideo", {}},
          {3, "audio/x-pn-realaudio", {}},
          {5, "video/x-pn-realvideo", {}},
          {6, "logical-video", rmtest::encode_logical_stream(claiming({5, 1}))}},
         {0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Handle h;
        h.set_media(c.media);
        ASSERT_EQ(RM_OK, rm_load_logical_streams(h.reader));
        ASSERT_EQ(RM_OK, rm_keep_compatible_streams(h.reader));
        ASSERT_EQ(c.kept.size(), h.reader->stream_count);
        EXPECT_EQ(c.kept.size(), h.reader->media_count);
        EXPECT_EQ(c.kept.size(), h.reader->media_capacity);
        for (size_t i = 0; i < c.kept.size(); ++i) {
            EXPECT_EQ(c.kept[i], h.reader->media_props[i].stream_number);
        }
        EXPECT_EQ(0u, h.reader->logical_count);
        EXPECT_EQ(nullptr, h.reader->logical_streams);
        rm_reader_delete(&h.reader);
        EXPECT_EQ(0u, h.alloc.live());
    }
}

TEST(StreamSelection, KeptRecordsMoveWholeAndFileinfoStays) {
    Handle h;
    h.set_media({{0, "video/x-pn-realvideo", {}},
                 {1, "audio/x-pn-realaudio", {}},
                 {2, "logical-video/x-pn-realvideo", rmtest::encode_logical_stream(claiming({0, 1}))},
                 {3, "logical-fileinfo", rmtest::encode_logical_stream({})},
                 {4, "video/x-pn-realvideo", {9, 8, 7}, "The video"}});
    char* const name = h.reader->media_props[4].stream_name;
    ASSERT_EQ(RM_OK, rm_load_logical_streams(h.reader));
    ASSERT_EQ(RM_OK, rm_keep_compatible_streams(h.reader));
    ASSERT_EQ(1u, h.reader->stream_count);
    const rm_media_props& kept = h.reader->media_props[0];
    EXPECT_EQ(name, kept.stream_name);  // moved, not copied
    EXPECT_STREQ("The video", kept.stream_name);
    EXPECT_STREQ("video/x-pn-realvideo", kept.mime_type);
    ASSERT_EQ(3u, kept.type_specific_length);
    EXPECT_EQ(7, kept.type_specific_data[2]);
    EXPECT_NE(nullptr, h.reader->fileinfo);
    // Handle, new table, one record's name, MIME type and data, the fileinfo record.
    EXPECT_EQ(6u, h.alloc.live());
}

TEST(StreamSelection, NothingLeftIsABadFile) {
    struct Case {
        const char* what;
        std::vector<Media> media;
    };
    const std::vector<Case> cases = {
        {"every physical stream claimed",
         {{0, "video/x-pn-realvideo", {}},
          {1, "audio/x-pn-realaudio", {}},
          {2, "logical-video", rmtest::encode_logical_stream(claiming({0}))},
          {3, "logical-audio", rmtest::encode_logical_stream(claiming({1}))}}},
        {"only logical types", {{0, "logical-fileinfo", rmtest::encode_logical_stream({})}}},
        {"no records", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Handle h;
        h.set_media(c.media, 1);
        ASSERT_EQ(RM_OK, rm_load_logical_streams(h.reader));
        EXPECT_EQ(RM_BAD_FILE, rm_keep_compatible_streams(h.reader));
        EXPECT_EQ(0u, h.reader->stream_count);
        rm_reader_delete(&h.reader);
        EXPECT_EQ(0u, h.alloc.live());
    }
    EXPECT_EQ(RM_BAD_FILE, rm_keep_compatible_streams(nullptr));
}

TEST(StreamSelection, RefusedAllocations) {
    struct Case {
        uint32_t nth;  // request number within the selection
        rm_result expected;
    };
    const Case cases[] = {{1, RM_BAD_FILE}, {2, RM_OUT_OF_MEMORY}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nth);
        Handle h;
        h.set_media({{0, "video/x-pn-realvideo", {}}, {1, "audio/x-pn-realaudio", {}}});
        h.alloc.fail_nth(h.alloc.requests + c.nth);
        EXPECT_EQ(c.expected, rm_keep_compatible_streams(h.reader));
        EXPECT_EQ(0u, h.reader->stream_count);
        rm_reader_delete(&h.reader);
        EXPECT_EQ(0u, h.alloc.live());
    }
}

TEST(StreamSelection, AllZeroSlotIsHarmless) {
    Handle h;
    h.set_media({{0, "video/x-pn-realvideo", {}}}, 3);
    h.reader->media_count = 2;  // the second slot was never filled
    ASSERT_EQ(RM_OK, rm_load_logical_streams(h.reader));
    ASSERT_EQ(RM_OK, rm_keep_compatible_streams(h.reader));
    ASSERT_EQ(2u, h.reader->stream_count);
    EXPECT_EQ(nullptr, h.reader->media_props[1].mime_type);
}

// Through the public reading operations, on a whole file.
TEST(StreamSelection, SureStreamFileEndToEnd) {
    const rmtest::MdprChunk physical_video = rmtest::video_mdpr(0, 20000, 20000);
    const rmtest::MdprChunk physical_audio = rmtest::audio_mdpr(1);
    rmtest::MdprChunk compatible = rmtest::video_mdpr(4, 10000, 10000);
    compatible.stream_name = "compatible";

    struct Case {
        const char* what;
        std::vector<uint16_t> claimed;
        rm_result expected;
    };
    const Case cases[] = {
        {"one compatible stream", {0, 1}, RM_OK},
        {"everything claimed", {0, 1, 4}, RM_BAD_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes file =
            rmtest::simple_file({physical_video, physical_audio,
                                 rmtest::logical_mdpr(2, claiming(c.claimed), "logical-video/x-pn-realvideo"),
                                 rmtest::logical_mdpr(3, {}, "logical-fileinfo"), compatible},
                                {rmtest::make_packet(4, 0, 10, true), rmtest::make_packet(0, 0, 10, true)});
        Handle h;
        rmtest::MemoryIo io(file);
        io.attach(h.reader);
        EXPECT_EQ(c.expected, rm_reader_load_headers(h.reader));
        if (c.expected != RM_OK) {
            EXPECT_EQ("Unsupported file (SureStream file with no backwards-compatible streams)", h.log.last_message());
            EXPECT_EQ(RM_BAD_FILE, h.log.last_code());
            continue;
        }
        ASSERT_EQ(1u, rm_reader_stream_count(h.reader));
        rm_stream_header* header = nullptr;
        ASSERT_EQ(RM_OK, rm_reader_fetch_stream_header(h.reader, 0, &header));
        EXPECT_EQ(0u, rm_stream_header_get_stream_number(header));
        EXPECT_STREQ("compatible", rm_stream_header_get_stream_name(header));
        EXPECT_TRUE(rm_stream_header_is_video(header));
        rm_reader_release_stream_header(h.reader, &header);
        rm_packet* packet = nullptr;
        ASSERT_EQ(RM_OK, rm_reader_next_packet(h.reader, &packet, 0));
        EXPECT_EQ(0, packet->stream);
        rm_reader_release_packet(h.reader, &packet);
    }
}
