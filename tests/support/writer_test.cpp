// Tests of the test file writer, the oracle of every reader test: its bytes against the format's field tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

struct Field {
    const char* name;
    size_t offset;
    int width;  // 1, 2 or 4 bytes, big-endian
    uint32_t value;
};

uint32_t read_field(const Bytes& b, size_t offset, int width) {
    switch (width) {
    case 1:
        return get_u8(b, offset);
    case 2:
        return get_u16(b, offset);
    default:
        return get_u32(b, offset);
    }
}

void expect_fields(const Bytes& b, size_t base, const std::vector<Field>& fields) {
    for (const Field& f : fields) {
        ASSERT_LE(base + f.offset + f.width, b.size()) << f.name;
        EXPECT_EQ(read_field(b, base + f.offset, f.width), f.value) << f.name << " at " << base + f.offset;
    }
}

// The MDPR's on-disk length from its field table: 46 fixed bytes plus the
// three variable parts.
size_t mdpr_bytes(const MdprChunk& c) {
    return 46 + c.stream_name.size() + c.mime_type.size() + c.type_specific.size();
}

std::string text_at(const Bytes& b, size_t offset, size_t n) {
    return std::string(b.begin() + offset, b.begin() + offset + n);
}

const uint32_t ID_RMF = 0x2E524D46u, ID_PROP = 0x50524F50u, ID_MDPR = 0x4D445052u, ID_CONT = 0x434F4E54u,
               ID_DATA = 0x44415441u, ID_INDX = 0x494E4458u;

}  // namespace

TEST(WriterBytes, ChunkIdsAreTheAsciiLetters) {
    EXPECT_EQ(fourcc(".RMF"), ID_RMF);
    EXPECT_EQ(fourcc("PROP"), ID_PROP);
    EXPECT_EQ(fourcc("MDPR"), ID_MDPR);
    EXPECT_EQ(fourcc("CONT"), ID_CONT);
    EXPECT_EQ(fourcc("DATA"), ID_DATA);
    EXPECT_EQ(fourcc("INDX"), ID_INDX);
    Bytes b = RmWriter().rmf().bytes();
    EXPECT_EQ(text_at(b, 0, 4), ".RMF");
}

TEST(WriterBytes, FileHeaderAndProperties) {
    RmfChunk rmf;
    rmf.object_version = 1;
    rmf.file_version = 0x01020304;
    PropChunk prop;
    prop.object_version = 7;
    prop.max_bit_rate = 0x11111111;
    prop.avg_bit_rate = 0x22222222;
    prop.max_packet_size = 0x33333333;
    prop.avg_packet_size = 0x44444444;
    prop.packet_count = 0x55555555;
    prop.duration = 0x66666666;
    prop.preroll = 0x77777777;
    prop.index_offset = 0x88888888;
    prop.flags = 0xABCD;
    Bytes b = RmWriter().rmf(rmf).prop(prop).mdpr(video_mdpr()).mdpr(audio_mdpr()).data().bytes();
    const size_t data_at = 18 + 50 + mdpr_bytes(video_mdpr()) + mdpr_bytes(audio_mdpr());
    expect_fields(b, 0,
                  {{"id", 0, 4, ID_RMF},
                   {"size", 4, 4, 18},
                   {"object version", 8, 2, 1},
                   {"file version", 10, 4, 0x01020304},
                   {"header count", 14, 4, 4}});
    expect_fields(b, 18,
                  {{"id", 0, 4, ID_PROP},
                   {"size", 4, 4, 50},
                   {"object version", 8, 2, 7},
                   {"max bit rate", 10, 4, 0x11111111},
                   {"avg bit rate", 14, 4, 0x22222222},
                   {"max packet size", 18, 4, 0x33333333},
                   {"avg packet size", 22, 4, 0x44444444},
                   {"packet count", 26, 4, 0x55555555},
                   {"duration", 30, 4, 0x66666666},
                   {"preroll", 34, 4, 0x77777777},
                   {"index offset", 38, 4, 0x88888888},
                   {"data offset", 42, 4, uint32_t(data_at)},
                   {"stream count", 46, 2, 2},
                   {"flags", 48, 2, 0xABCD}});
    EXPECT_EQ(get_u32(b, data_at), ID_DATA);
    EXPECT_EQ(b.size(), data_at + 18);
}

TEST(WriterBytes, MediaProperties) {
    MdprChunk c;
    c.object_version = 3;
    c.stream_number = 0x0102;
    c.max_bit_rate = 1;
    c.avg_bit_rate = 2;
    c.max_packet_size = 3;
    c.avg_packet_size = 4;
    c.start_time = 5;
    c.preroll = 6;
    c.duration = 7;
    c.stream_name = "ab";
    c.mime_type = "xyz";
    c.type_specific = {0xDE, 0xAD, 0xBE, 0xEF, 0x00};
    Bytes b = RmWriter().mdpr(c).bytes();
    ASSERT_EQ(b.size(), 46u + 2 + 3 + 5);
    expect_fields(b, 0,
                  {{"id", 0, 4, ID_MDPR},
                   {"size", 4, 4, 56},
                   {"object version", 8, 2, 3},
                   {"stream number", 10, 2, 0x0102},
                   {"max bit rate", 12, 4, 1},
                   {"avg bit rate", 16, 4, 2},
                   {"max packet size", 20, 4, 3},
                   {"avg packet size", 24, 4, 4},
                   {"start time", 28, 4, 5},
                   {"preroll", 32, 4, 6},
                   {"duration", 36, 4, 7},
                   {"name length", 40, 1, 2},
                   {"MIME length", 43, 1, 3},
                   {"type-specific length", 47, 4, 5}});
    EXPECT_EQ(text_at(b, 41, 2), "ab");
    EXPECT_EQ(text_at(b, 44, 3), "xyz");
    EXPECT_EQ(Bytes(b.begin() + 51, b.end()), c.type_specific);
}

TEST(WriterBytes, ContentWithAnEmptyText) {
    ContChunk c;
    c.object_version = 2;
    c.title = "T1";
    c.copyright = "(c)";
    c.comment = "hello";
    Bytes b = RmWriter().cont(c).bytes();
    ASSERT_EQ(b.size(), 18u + 2 + 0 + 3 + 5);
    expect_fields(b, 0,
                  {{"id", 0, 4, ID_CONT},
                   {"size", 4, 4, 28},
                   {"object version", 8, 2, 2},
                   {"title length", 10, 2, 2},
                   {"author length", 14, 2, 0},
                   {"copyright length", 16, 2, 3},
                   {"comment length", 21, 2, 5}});
    EXPECT_EQ(text_at(b, 12, 2), "T1");
    EXPECT_EQ(text_at(b, 18, 3), "(c)");
    EXPECT_EQ(text_at(b, 23, 5), "hello");
}

TEST(WriterBytes, DataHeadAndPackets) {
    Packet first;
    first.version = 1;
    first.stream_number = 0x0203;
    first.timestamp = 0xA1B2C3D4;
    first.group = 0x45;
    first.flags = 0x02;
    first.payload = {9, 8, 7};
    DataChunk head;
    head.object_version = 0;
    head.next_data_header = 0x12345678;
    Bytes b = RmWriter().data(head).packet(first).packet(make_packet(1, 40, 5)).bytes();
    ASSERT_EQ(b.size(), 18u + 15 + 17);
    expect_fields(b, 0,
                  {{"id", 0, 4, ID_DATA},
                   {"size", 4, 4, 18 + 15 + 17},
                   {"version", 8, 2, 0},
                   {"packet count", 10, 4, 2},
                   {"next data header", 14, 4, 0x12345678}});
    expect_fields(b, 18,
                  {{"version", 0, 2, 1},
                   {"length", 2, 2, 15},
                   {"stream number", 4, 2, 0x0203},
                   {"timestamp", 6, 4, 0xA1B2C3D4},
                   {"group", 10, 1, 0x45},
                   {"flags", 11, 1, 0x02},
                   {"payload 0", 12, 1, 9},
                   {"payload 2", 14, 1, 7}});
    expect_fields(b, 33,
                  {{"length", 2, 2, 17},
                   {"stream number", 4, 2, 1},
                   {"timestamp", 6, 4, 40},
                   {"flags", 11, 1, 0},
                   {"filler 0", 12, 1, 0},
                   {"filler 4", 16, 1, 4}});
}

TEST(WriterBytes, PayloadSizeCutsOrPadsThePayload) {
    struct Case {
        Bytes payload;
        uint32_t size;
        Bytes expected;
    } cases[] = {
        {{0xEE, 0xEE}, 4, {0xEE, 0xEE, 2, 3}},
        {{0xEE, 0xEE, 0xEE}, 1, {0xEE}},
        {{0xEE}, 0, {}},
    };
    for (const Case& c : cases) {
        Packet p;
        p.payload = c.payload;
        p.payload_size = c.size;
        Bytes b = RmWriter().packet(p).bytes();
        ASSERT_EQ(b.size(), 12 + c.expected.size());
        EXPECT_EQ(get_u16(b, 2), 12 + c.expected.size());
        EXPECT_EQ(Bytes(b.begin() + 12, b.end()), c.expected);
    }
}

TEST(WriterBytes, IndexAndAnyChunk) {
    Bytes b = RmWriter().indx(2).chunk(fourcc("ABCD"), {1, 2, 3}, {}, 5).bytes();
    ASSERT_EQ(b.size(), 20u + 2 * 14 + 13);
    expect_fields(b, 0,
                  {{"id", 0, 4, ID_INDX},
                   {"size", 4, 4, 48},
                   {"version", 8, 2, 0},
                   {"entries", 10, 4, 2},
                   {"stream number", 14, 2, 0},
                   {"next index", 16, 4, 0},
                   {"entry 1 timestamp", 20 + 14 + 2, 4, 1000}});
    expect_fields(b, 48,
                  {{"id", 0, 4, fourcc("ABCD")},
                   {"size", 4, 4, 13},
                   {"version", 8, 2, 5},
                   {"body", 10, 1, 1},
                   {"body end", 12, 1, 3}});
}

TEST(WriterDefaults, HeaderCountAndDataOffsetFollowTheLayout) {
    ContChunk cont;
    cont.title = "x";
    RmWriter w;
    w.rmf().prop().cont(cont).mdpr(video_mdpr(0)).raw({0xFF, 0xFF});
    const size_t data_at = w.offset();
    w.data().packet(make_packet(0, 0, 10)).packet(make_packet(0, 40, 0)).indx(1).chunk(fourcc("DATA"), {});
    Bytes b = w.bytes();
    EXPECT_EQ(data_at, 18u + 50 + 19 + mdpr_bytes(video_mdpr(0)) + 2);
    // PROP, CONT, MDPR, DATA: raw bytes are no chunk, the INDX and the second
    // DATA come after the first DATA.
    EXPECT_EQ(get_u32(b, 14), 4u);
    EXPECT_EQ(get_u32(b, 18 + 42), data_at);
    EXPECT_EQ(get_u16(b, 18 + 46), 1u);
    EXPECT_EQ(get_u32(b, data_at), ID_DATA);
    EXPECT_EQ(get_u32(b, data_at + 4), 18u + 22 + 12);
    EXPECT_EQ(get_u32(b, data_at + 10), 2u);
    EXPECT_EQ(get_u16(b, data_at + 18 + 2), 22u);
    EXPECT_EQ(get_u16(b, data_at + 18 + 22 + 2), 12u);
    EXPECT_EQ(b.size(), w.offset());
}

TEST(WriterDefaults, PacketsBelongToTheLatestData) {
    RmWriter w;
    w.data().packet(make_packet(0, 0, 1));
    const size_t second = w.offset();
    w.data().packet(make_packet(0, 0, 2)).packet(make_packet(0, 0, 3));
    Bytes b = w.bytes();
    EXPECT_EQ(get_u32(b, 4), 18u + 13);
    EXPECT_EQ(get_u32(b, 10), 1u);
    EXPECT_EQ(get_u32(b, second + 4), 18u + 14 + 15);
    EXPECT_EQ(get_u32(b, second + 10), 2u);
}

TEST(WriterDefaults, NoDataMeansOffsetZeroAndEveryChunkCounted) {
    Bytes b = RmWriter().rmf().prop().mdpr(video_mdpr(0)).mdpr(audio_mdpr(1)).bytes();
    EXPECT_EQ(get_u32(b, 14), 3u);
    EXPECT_EQ(get_u32(b, 18 + 42), 0u);
    EXPECT_EQ(get_u16(b, 18 + 46), 2u);
}

TEST(WriterOverrides, LandAsGivenAndMoveNoBytes) {
    RmfChunk rmf;
    rmf.id = fourcc("XRMF");
    rmf.size = 9;
    rmf.header_count = 77;
    PropChunk prop;
    prop.size = 3;
    prop.data_offset = 0xFFFFFFF0;
    prop.stream_count = 9;
    MdprChunk mdpr = video_mdpr(0);
    mdpr.size = 0xFFFFFFFF;
    mdpr.stream_name_length = 200;
    mdpr.mime_type_length = 0;
    mdpr.type_specific_length = 0x7FFFFFFF;
    ContChunk cont;
    cont.title = "abc";
    cont.title_length = 1;
    cont.comment_length = 500;
    cont.size = 4;
    DataChunk data;
    data.size = 5;
    data.packet_count = 1000;
    Packet packet = make_packet(3, 0, 4);
    packet.length = 0;

    RmWriter plain;
    plain.rmf()
        .prop()
        .mdpr(video_mdpr(0))
        .cont([] {
            ContChunk c;
            c.title = "abc";
            return c;
        }())
        .data()
        .packet(make_packet(3, 0, 4))
        .indx(0);
    RmWriter damaged;
    damaged.rmf(rmf).prop(prop).mdpr(mdpr).cont(cont).data(data).packet(packet).indx(0, 7);
    Bytes b = damaged.bytes();
    ASSERT_EQ(b.size(), plain.bytes().size());

    const size_t prop_at = 18, mdpr_at = prop_at + 50, cont_at = mdpr_at + mdpr_bytes(mdpr);
    const size_t data_at = cont_at + 18 + 3, packet_at = data_at + 18, indx_at = packet_at + 16;
    expect_fields(b, 0, {{"id", 0, 4, fourcc("XRMF")}, {"size", 4, 4, 9}, {"header count", 14, 4, 77}});
    expect_fields(b, prop_at, {{"size", 4, 4, 3}, {"data offset", 42, 4, 0xFFFFFFF0}, {"stream count", 46, 2, 9}});
    const size_t name = mdpr.stream_name.size();
    expect_fields(b, mdpr_at,
                  {{"size", 4, 4, 0xFFFFFFFF},
                   {"name length", 40, 1, 200},
                   {"MIME length", 41 + name, 1, 0},
                   {"type-specific length", 42 + name + mdpr.mime_type.size(), 4, 0x7FFFFFFF}});
    expect_fields(
        b, cont_at,
        {{"size", 4, 4, 4}, {"title length", 10, 2, 1}, {"author length", 15, 2, 0}, {"comment length", 19, 2, 500}});
    expect_fields(b, data_at, {{"size", 4, 4, 5}, {"packet count", 10, 4, 1000}});
    expect_fields(b, packet_at, {{"length", 2, 2, 0}, {"stream", 4, 2, 3}});
    expect_fields(b, indx_at, {{"id", 0, 4, ID_INDX}, {"size", 4, 4, 7}});
}

TEST(WriterDefaults, TooLongForItsFieldIsATestMistake) {
    MdprChunk mdpr;
    mdpr.stream_name.assign(256, 'n');
    EXPECT_THROW(RmWriter().mdpr(mdpr).bytes(), std::length_error);
    mdpr.stream_name_length = 1;  // explicit value: a damaged file, written as asked
    EXPECT_NO_THROW(RmWriter().mdpr(mdpr).bytes());
    EXPECT_THROW(RmWriter().packet(make_packet(0, 0, 65524)).bytes(), std::length_error);
    EXPECT_NO_THROW(RmWriter().packet(make_packet(0, 0, 65523)).bytes());
}

TEST(WriterLogical, StreamHeaderLayout) {
    LogicalStream ls;
    ls.object_version = 1;
    ls.physical_streams = {0, 1};
    ls.rule_map = {0, 1, 1};
    ls.properties = {nv_int("a", 0x01020304), nv_string("bc", "hi")};
    Bytes b = encode_logical_stream(ls);
    // 12 fixed + 6p + 2r, then (13 + 1 + 4) and (13 + 2 + 3).
    const size_t props_at = 12 + 6 * 2 + 2 * 3;
    ASSERT_EQ(b.size(), props_at + 18 + 18);
    expect_fields(b, 0,
                  {{"size", 0, 4, uint32_t(b.size())},
                   {"object version", 4, 2, 1},
                   {"physical count", 6, 2, 2},
                   {"physical 1", 10, 2, 1},
                   {"data offset 0", 12, 4, 0},
                   {"data offset 1", 16, 4, 0},
                   {"rule count", 20, 2, 3},
                   {"rule 2", 26, 2, 1},
                   {"property count", 28, 2, 2}});
    expect_fields(b, props_at,
                  {{"size", 0, 4, 18},
                   {"version", 4, 2, 0},
                   {"name length", 6, 1, 1},
                   {"type", 8, 4, 0},
                   {"value length", 12, 2, 4},
                   {"value", 14, 4, 0x01020304}});
    expect_fields(b, props_at + 18,
                  {{"size", 0, 4, 18}, {"name length", 6, 1, 2}, {"type", 9, 4, 2}, {"value length", 13, 2, 3}});
    EXPECT_EQ(text_at(b, props_at + 18 + 7, 2), "bc");
    EXPECT_EQ(text_at(b, props_at + 18 + 15, 3), std::string("hi\0", 3));
}

TEST(WriterLogical, OverridesAndGivenDataOffsets) {
    LogicalStream ls;
    ls.physical_streams = {4};
    ls.data_offsets = {0xAABBCCDD, 0x11};  // more than p: written as given
    ls.size = 1;
    ls.physical_count = 9;
    ls.rule_count = 0xFFFF;
    ls.property_count = 3;
    NameValue nv = nv_buffer("k", {1, 2});
    nv.size = 0;
    nv.name_length = 50;
    nv.value_length = 999;
    ls.properties = {nv};
    Bytes b = encode_logical_stream(ls);
    ASSERT_EQ(b.size(), 8u + 2 + 8 + 2 + 2 + (13 + 1 + 2));
    expect_fields(b, 0,
                  {{"size", 0, 4, 1},
                   {"physical count", 6, 2, 9},
                   {"physical 0", 8, 2, 4},
                   {"data offset 0", 10, 4, 0xAABBCCDD},
                   {"data offset 1", 14, 4, 0x11},
                   {"rule count", 18, 2, 0xFFFF},
                   {"property count", 20, 2, 3},
                   {"nv size", 22, 4, 0},
                   {"nv name length", 28, 1, 50},
                   {"nv type", 30, 4, 1},
                   {"nv value length", 34, 2, 999}});
    // An empty header is exactly the 12 fixed bytes.
    EXPECT_EQ(encode_logical_stream(LogicalStream{}), (Bytes{0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(WriterHelpers, SimpleFileHoldsEveryPiece) {
    Bytes b = simple_file({video_mdpr(0), audio_mdpr(1)},
                          {make_packet(0, 0, 100, true), make_packet(1, 0, 50), make_packet(0, 40, 80)}, 1);
    EXPECT_EQ(get_u32(b, 10), 1u);  // file version
    EXPECT_EQ(get_u32(b, 14), 4u);  // PROP, 2 MDPR, DATA
    const uint32_t data_at = get_u32(b, 18 + 42);
    EXPECT_EQ(get_u32(b, data_at), ID_DATA);
    EXPECT_EQ(get_u32(b, data_at + 4), 18u + 112 + 62 + 92);
    EXPECT_EQ(b.size(), data_at + get_u32(b, data_at + 4));
    EXPECT_EQ(get_u8(b, data_at + 18 + 11), 0x02);

    const size_t mdpr_at = 18 + 50;
    EXPECT_EQ(text_at(b, mdpr_at + 42 + 12, 20), "video/x-pn-realvideo");
}

// ---------------------------------------------------------------- test I/O

TEST(TestIo, MemoryIoReadsSeeksAndTells) {
    MemoryIo io(Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    uint8_t buf[16] = {};
    EXPECT_EQ(MemoryIo::read(&io, buf, 4), 4u);
    EXPECT_EQ(buf[3], 3);
    struct Step {
        int32_t offset;
        int origin;
        uint32_t position_after;
    } steps[] = {
        {2, RM_SEEK_CUR, 6},            // relative forward
        {-10, RM_SEEK_CUR, 6},          // before the start: refused
        {-3, RM_SEEK_END, 7},           // from the end
        {20, RM_SEEK_SET, 20},          // past the end is allowed
        {-1, RM_SEEK_SET, 0xFFFFFFFF},  // from the start the offset is unsigned
        {1, RM_SEEK_SET, 1},
    };
    for (const Step& s : steps) {
        MemoryIo::seek(&io, s.offset, s.origin);
        EXPECT_EQ(MemoryIo::tell(&io), s.position_after) << s.offset << "/" << s.origin;
    }
    ASSERT_EQ(io.seeks.size(), 6u);
    EXPECT_EQ(io.seeks[1].offset, -10);
    EXPECT_EQ(io.seeks[2].origin, RM_SEEK_END);
    EXPECT_EQ(MemoryIo::read(&io, buf, 16), 9u);  // short at the end
    EXPECT_EQ(MemoryIo::read(&io, buf, 16), 0u);
    MemoryIo::seek(&io, 0x7FFFFFFF, RM_SEEK_CUR);
    MemoryIo::seek(&io, 0x7FFFFFFF, RM_SEEK_CUR);
    EXPECT_EQ(MemoryIo::tell(&io), 0xFFFFFFFFu);  // beyond 32 bits

    io.position = 2;
    io.fail_reads_at = 5;
    EXPECT_EQ(MemoryIo::read(&io, buf, 8), 3u);
    EXPECT_EQ(MemoryIo::read(&io, buf, 8), 0u);
}

TEST(TestIo, AllocatorCountsAndFailsOnDemand) {
    TestAllocator a;
    a.fail_nth(3);
    a.fail_larger_than(100);
    void* b1 = TestAllocator::allocate(&a, 10);
    void* b2 = TestAllocator::allocate(&a, 0);
    void* b3 = TestAllocator::allocate(&a, 10);   // the 3rd request
    void* b4 = TestAllocator::allocate(&a, 101);  // over the limit
    EXPECT_NE(b1, nullptr);
    EXPECT_NE(b2, nullptr);
    EXPECT_EQ(b3, nullptr);
    EXPECT_EQ(b4, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(b1)[9], 0xA5);
    EXPECT_EQ(a.requests, 4u);
    EXPECT_EQ(a.allocations, 2u);
    EXPECT_EQ(a.failures, 2u);
    EXPECT_EQ(a.largest_request, 101u);
    EXPECT_EQ(a.live(), 2u);
    EXPECT_EQ(a.live_bytes, 10u);
    TestAllocator::release(&a, b1);
    TestAllocator::release(&a, nullptr);
    TestAllocator::release(&a, b1);  // twice: counted, not freed again
    EXPECT_EQ(a.releases, 1u);
    EXPECT_EQ(a.null_releases, 1u);
    EXPECT_EQ(a.foreign_releases, 1u);
    EXPECT_FALSE(a.owns(b1));
    EXPECT_TRUE(a.owns(b2));
    TestAllocator::release(&a, b2);
    EXPECT_EQ(a.live(), 0u);
    EXPECT_EQ(a.peak_live_bytes, 10u);
}

TEST(TestIo, ErrorLogRecordsReports) {
    ErrorLog log;
    EXPECT_EQ(log.last_code(), RM_OK);
    ErrorLog::report(&log, RM_READ_FAILED, "Could not read chunk header.");
    ErrorLog::report(&log, RM_CORRUPT, nullptr);
    EXPECT_EQ(log.count(), 2u);
    EXPECT_EQ(log.last_code(), RM_CORRUPT);
    EXPECT_EQ(log.last_message(), "");
    EXPECT_FALSE(log.entries[1].has_message);
    EXPECT_EQ(log.count_of("Could not read chunk header."), 1u);
}

TEST(TestIo, FilesHoldTheBytes) {
    const Bytes bytes = video_file({make_packet(0, 0, 300, true)});
    FILE* f = open_memory_file(bytes);
    ASSERT_NE(f, nullptr);
    Bytes back(bytes.size() + 1);
    EXPECT_EQ(std::fread(back.data(), 1, back.size(), f), bytes.size());
    back.resize(bytes.size());
    EXPECT_EQ(back, bytes);
    std::fclose(f);

    std::string path;
    {
        TempFile t1(bytes), t2(Bytes{1, 2});
        ASSERT_FALSE(t1.path.empty());
        EXPECT_NE(t1.path, t2.path);
        path = t1.path;
        FILE* g = std::fopen(path.c_str(), "rb");
        ASSERT_NE(g, nullptr);
        Bytes disk(bytes.size() + 1);
        EXPECT_EQ(std::fread(disk.data(), 1, disk.size(), g), bytes.size());
        std::fclose(g);
    }
    EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);  // removed with its owner
}

TEST(WriterBytes, VersionOnePacketHeader) {
    Bytes b = RmWriter().packet(make_v1_packet(0x0203, 0xA1B2C3D4, 3, 0x1234, true)).bytes();
    ASSERT_EQ(b.size(), 13u + 3);
    expect_fields(b, 0,
                  {{"version", 0, 2, 1},
                   {"length", 2, 2, 16},
                   {"stream number", 4, 2, 0x0203},
                   {"timestamp", 6, 4, 0xA1B2C3D4},
                   {"rule", 10, 2, 0x1234},
                   {"ASM flags", 12, 1, 0x02},
                   {"filler 0", 13, 1, 0},
                   {"filler 2", 15, 1, 2}});
    Packet given = make_v1_packet(1, 0, 4, 7);
    given.length = 9;
    EXPECT_EQ(RmWriter().packet(given).bytes().size(), 13u + 4);
}

namespace {

// The writer's multi-rate files read back here with nothing of its own:
// chunk by chunk, every field taken from the bytes.
struct ReadBack {
    struct Chunk {
        uint32_t id;
        size_t offset, size;
    };
    struct Logical {
        std::string mime;
        uint16_t number;
        std::vector<uint16_t> physical, rule_map;
        std::vector<uint32_t> offsets;
        std::string rule_book;
    };
    std::vector<Chunk> chunks;
    std::vector<Logical> logical;
    std::vector<uint16_t> physical_numbers;
};

ReadBack read_back(const Bytes& b) {
    ReadBack r;
    for (size_t at = 0; at + 10 <= b.size();) {
        const ReadBack::Chunk c = {get_u32(b, at), at, get_u32(b, at + 4)};
        r.chunks.push_back(c);
        if (c.id == ID_MDPR) {
            const size_t name_length = get_u8(b, at + 40);
            const size_t mime_at = at + 41 + name_length + 1;
            const std::string mime = text_at(b, mime_at, get_u8(b, mime_at - 1));
            size_t t = mime_at + mime.size() + 4;  // the type-specific bytes
            if (mime.compare(0, 8, "logical-") != 0) {
                r.physical_numbers.push_back(get_u16(b, at + 10));
            } else if (mime != "logical-fileinfo") {
                ReadBack::Logical l;
                l.mime = mime;
                l.number = get_u16(b, at + 10);
                const uint16_t n = get_u16(b, t + 6);
                for (uint16_t k = 0; k < n; ++k) l.physical.push_back(get_u16(b, t + 8 + 2 * k));
                for (uint16_t k = 0; k < n; ++k) l.offsets.push_back(get_u32(b, t + 8 + 2 * n + 4 * k));
                t += 8 + 6 * n;
                const uint16_t rules = get_u16(b, t);
                for (uint16_t k = 0; k < rules; ++k) l.rule_map.push_back(get_u16(b, t + 2 + 2 * k));
                t += 2 + 2 * rules;
                EXPECT_EQ(get_u16(b, t), 1) << "one property: the rule book";
                const size_t name_at = t + 2 + 4 + 2 + 1;
                EXPECT_EQ(text_at(b, name_at, get_u8(b, name_at - 1)), "ASMRuleBook");
                const size_t value_at = name_at + 11 + 4 + 2;
                EXPECT_EQ(get_u32(b, value_at - 6), 2u) << "a string";
                l.rule_book = text_at(b, value_at, get_u16(b, value_at - 2) - 1u);
                r.logical.push_back(l);
            }
        }
        at += c.size;
    }
    return r;
}

}  // namespace

// Every chunk where the writer says, each DATA chunk holding one stream's
// packets as told, the chain or the adjacency its layout asks for, and the
// logical headers naming those streams, offsets and rules.
TEST(WriterMultiRate, EveryPieceIsWhereItSays) {
    for (DataLayout layout : {DataLayout::CHAINED, DataLayout::BACK_TO_BACK, DataLayout::MIXED}) {
        for (bool compatible : {false, true}) {
            SCOPED_TRACE(testing::Message() << "layout " << int(layout) << (compatible ? ", compatible" : ""));
            MultiRatePlan plan;
            plan.layout = layout;
            plan.compatible_stream = compatible;
            const MultiRate m = multi_rate_writer(plan);
            const Bytes b = m.writer.bytes();
            const ReadBack r = read_back(b);
            ASSERT_EQ(m.streams.size(), compatible ? 6u : 5u);

            std::vector<size_t> data;
            for (const ReadBack::Chunk& c : r.chunks) {
                if (c.id == ID_DATA) data.push_back(c.offset);
            }
            ASSERT_EQ(data, m.data_offsets);
            EXPECT_EQ(r.chunks.back().id, ID_INDX);
            EXPECT_EQ(r.chunks.back().offset + r.chunks.back().size, b.size());
            EXPECT_EQ(get_u32(b, 18 + 10 + 4 * 8), data[0]) << "PROP's data offset";
            for (size_t c = 0; c < data.size(); ++c) {
                const size_t end = data[c] + get_u32(b, data[c] + 4);
                const bool chained = c + 1 < data.size() &&
                                     (layout == DataLayout::CHAINED || (layout == DataLayout::MIXED && c % 2 == 0));
                EXPECT_EQ(get_u32(b, data[c] + 14), chained ? data[c + 1] : 0u) << "chunk " << c;
                if (c + 1 < data.size() && !chained) EXPECT_EQ(end, data[c + 1]) << "back to back";
                if (chained && layout == DataLayout::MIXED) EXPECT_EQ(get_u32(b, end), ID_INDX);
            }

            std::vector<uint16_t> numbers;
            for (const WrittenStream& s : m.streams) {
                SCOPED_TRACE(s.stream_number);
                numbers.push_back(s.stream_number);
                // Its own chunk, packet after packet, nothing else in it.
                ASSERT_EQ(std::count(data.begin(), data.end(), s.data_offset), 1);
                EXPECT_EQ(get_u32(b, s.data_offset + 10), s.packets.size());
                size_t at = s.data_offset + 18;
                for (const WrittenPacket& p : s.packets) {
                    const size_t header = p.version == 1 ? 13 : 12;
                    ASSERT_EQ(at, p.offset);
                    EXPECT_EQ(get_u16(b, at), p.version);
                    EXPECT_EQ(get_u16(b, at + 2), header + p.payload.size());
                    EXPECT_EQ(get_u16(b, at + 4), s.stream_number);
                    EXPECT_EQ(get_u32(b, at + 6), p.timestamp);
                    if (p.version == 1) EXPECT_EQ(get_u16(b, at + 10), p.rule);
                    EXPECT_EQ(get_u8(b, at + header - 1), p.keyframe ? 2 : 0);
                    EXPECT_EQ(Bytes(b.begin() + std::ptrdiff_t(at + header),
                                    b.begin() + std::ptrdiff_t(at + header + p.payload.size())),
                              p.payload);
                    EXPECT_LE(p.payload.size(), s.max_packet_size);
                    at += header + p.payload.size();
                }
                EXPECT_EQ(at, s.data_offset + get_u32(b, s.data_offset + 4));
                if (s.logical_mime_type.empty()) continue;

                const auto logical = std::find_if(r.logical.begin(), r.logical.end(), [&](const ReadBack::Logical& l) {
                    return l.mime == s.logical_mime_type;
                });
                ASSERT_NE(logical, r.logical.end());
                EXPECT_EQ(logical->number, s.logical_stream_number);
                ASSERT_EQ(logical->physical.size(), s.rate_count);
                EXPECT_EQ(logical->physical[s.rate - 1u], s.stream_number);
                EXPECT_EQ(logical->offsets[s.rate - 1u], s.data_offset);
                EXPECT_EQ(std::count(logical->rule_map.begin(), logical->rule_map.end(), s.rate - 1u), s.rule_count);
                // One rule per ';', and each packet's rule names its stream:
                // a keyframe's the stream's bandwidth, the others' 0.
                const std::string& book = logical->rule_book;
                ASSERT_EQ(size_t(std::count(book.begin(), book.end(), ';')), logical->rule_map.size());
                for (const WrittenPacket& p : s.packets) {
                    ASSERT_LT(p.rule, logical->rule_map.size());
                    EXPECT_EQ(logical->rule_map[p.rule], s.rate - 1u);
                    size_t from = 0;
                    for (uint16_t k = 0; k < p.rule; ++k) from = book.find(';', from) + 1;
                    const std::string rule = book.substr(from, book.find(';', from) - from);
                    const std::string named =
                        "AverageBandwidth=" + std::to_string(p.keyframe ? s.average_bandwidth : 0) + ",";
                    EXPECT_NE(rule.find(named), std::string::npos) << rule;
                }
            }
            EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
            EXPECT_EQ(r.physical_numbers, numbers);
            EXPECT_EQ(r.logical.size(), 2u);
            EXPECT_EQ(m.video_rule_book, r.logical[0].rule_book);
        }
    }
}
