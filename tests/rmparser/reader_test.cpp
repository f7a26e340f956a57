// Tests of the header read and the public reading operations, through synthetic files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rmparser/rm_internal.h"
#include "rmparser/rm_reader.h"
#include "tests/support/rm_reader_fixture.h"

using namespace rmtest;

namespace {

const char* const CHUNK_HEADER = "Could not read chunk header.";
const char* const CHUNK_DATA = "Could not read chunk data.";
const char* const NOT_RMF = "First four bytes are are not \".RMF\" - this is not an .rm file";
const char* const BAD_VERSION = "Unsupported file header version.";
const char* const ILLEGAL_STREAM = "Illegal stream number - possibly a corrupt file.";
const char* const BAD_MEDIA_PROPS = "Failed to parse media props header - possibly a corrupt file.";
const char* const BAD_CONTENT = "Failed to parse content header - possibly a corrupt file.";
const char* const NO_COMPATIBLE = "Unsupported file (SureStream file with no backwards-compatible streams)";

std::vector<uint32_t> stream_numbers_of_kept(rm_reader* reader) {
    std::vector<uint32_t> numbers;
    for (uint32_t i = 0; i < reader->media_count; ++i) {
        numbers.push_back(reader->media_props[i].stream_number);
    }
    return numbers;
}

}  // namespace

TEST(HeaderRead, WellFormedFileLoadsEveryStage) {
    ReaderFixture h(simple_file({video_mdpr(0, 300000, 450000), audio_mdpr(1, 8000, 8000)},
                                {make_packet(0, 40, 100, true), make_packet(1, 40, 20)}));
    ASSERT_EQ(h.load(), RM_OK);
    EXPECT_EQ(rm_reader_stream_count(h.reader), 2u);
    EXPECT_EQ(h.reader->start_timestamp, 40u);
    EXPECT_NE(h.reader->stream_headers, nullptr);
    EXPECT_NE(h.reader->stream_map, nullptr);
    EXPECT_EQ(h.log.count(), 0u);
}

TEST(HeaderRead, HandleWithoutReleaseCallbackCannotRead) {
    TestAllocator memory;
    rm_reader* reader = rm_reader_new_custom(nullptr, nullptr, &memory, &TestAllocator::allocate, nullptr);
    ASSERT_NE(reader, nullptr);
    MemoryIo io(video_file({make_packet(0, 0, 10)}));
    io.attach(reader);
    EXPECT_EQ(rm_reader_load_headers(reader), RM_OUT_OF_MEMORY);

    rm_packet packet{};
    rm_packet* packet_pointer = &packet;
    rm_reader_release_packet(reader, &packet_pointer);
    EXPECT_EQ(packet_pointer, &packet);  // nothing done without a release callback
    // A stream header is given up all the same: the caller's pointer is cleared.
    rm_stream_header header{};
    rm_stream_header* header_pointer = &header;
    rm_reader_release_stream_header(reader, &header_pointer);
    EXPECT_EQ(header_pointer, nullptr);
    rm_reader_delete(&reader);
    EXPECT_NE(reader, nullptr);  // neither freed nor cleared
    EXPECT_EQ(memory.live(), 1u);
}

TEST(HeaderRead, HandleWithoutIoFailsAtTheChunkHeader) {
    ReaderFixture h;
    EXPECT_EQ(h.load(), RM_READ_FAILED);
    EXPECT_EQ(h.log.count(), 1u);
    EXPECT_EQ(h.log.last_message(), CHUNK_HEADER);
    EXPECT_EQ(rm_reader_stream_count(h.reader), 0u);
    rm_reader_delete(&h.reader);
    EXPECT_EQ(h.alloc.live(), 0u);
}

// Each damaged file ends the header read at the first failure, with the
// message and code of that failure and nothing else reported.
TEST(HeaderRead, FailureTable) {
    struct Case {
        const char* name;
        Bytes file;
        rm_result code;
        const char* message;  // null: no report
    };
    const std::vector<Packet> packets = {make_packet(0, 0, 10)};

    RmWriter not_rmf;
    not_rmf.chunk(fourcc("RIFF"), Bytes(8, 0)).prop().mdpr(video_mdpr()).data();

    RmWriter not_rmf_cut;
    not_rmf_cut.chunk(fourcc("RIFF"), Bytes(8, 0), 5000u);
    RmWriter not_rmf_huge;  // a first size no header chunk may have
    not_rmf_huge.chunk(fourcc("RIFF"), Bytes(8, 0), 5000000u);

    RmWriter object_version_2;
    object_version_2.rmf({2}).prop().mdpr(video_mdpr()).data().packet(packets[0]);
    RmWriter file_version_2;
    file_version_2.rmf({0, 2}).prop().mdpr(video_mdpr()).data().packet(packets[0]);

    RmWriter short_rmf;
    short_rmf.rmf({0, 0, {}, 17u});

    RmWriter short_prop;
    short_prop.rmf().chunk(fourcc("PROP"), Bytes(39, 0)).mdpr(video_mdpr()).data();

    RmWriter mdpr_before_prop;
    mdpr_before_prop.rmf().mdpr(video_mdpr()).prop().data().packet(packets[0]);

    RmWriter mdpr_number_too_big;
    PropChunk one_stream;
    one_stream.stream_count = 1;
    mdpr_number_too_big.rmf().prop(one_stream).mdpr(video_mdpr(1)).data().packet(packets[0]);

    MdprChunk bad_mdpr = video_mdpr();
    bad_mdpr.mime_type_length = 200;  // longer than the bytes left
    RmWriter mdpr_bad_length;
    mdpr_bad_length.rmf().prop().mdpr(bad_mdpr).data().packet(packets[0]);

    ContChunk bad_cont;
    bad_cont.title = "title";
    bad_cont.comment_length = 50;
    RmWriter cont_bad_length;
    cont_bad_length.rmf().prop().cont(bad_cont).mdpr(video_mdpr()).data().packet(packets[0]);

    RmWriter header_count_zero;
    header_count_zero.rmf({0, 0, 0u}).prop().mdpr(video_mdpr()).data().packet(packets[0]);

    LogicalStream claims_zero;
    claims_zero.physical_streams = {0};
    RmWriter all_claimed;
    all_claimed.rmf()
        .prop()
        .mdpr(video_mdpr(0))
        .mdpr(logical_mdpr(1, claims_zero, "logical-video/x-pn-realvideo"))
        .data()
        .packet(packets[0]);

    RmWriter chunk_cut;
    chunk_cut.rmf().prop().mdpr(video_mdpr()).data().packet(packets[0]);
    Bytes cut = chunk_cut.bytes();
    cut.resize(18 + 30);  // inside PROP

    RmWriter header_cut;
    header_cut.rmf({0, 0, 3u}).prop().raw({'M', 'D', 'P', 'R'});  // four bytes of the next chunk header
    const Bytes header_cut_bytes = header_cut.bytes();

    const std::vector<Case> cases = {
        {"not_rmf", not_rmf.bytes(), RM_BAD_FILE, NOT_RMF},
        {"not_rmf_cut", not_rmf_cut.bytes(), RM_READ_FAILED, CHUNK_DATA},
        {"not_rmf_huge", not_rmf_huge.bytes(), RM_BAD_FILE, NOT_RMF},
        {"object_version_2", object_version_2.bytes(), RM_BAD_FILE, BAD_VERSION},
        {"file_version_2", file_version_2.bytes(), RM_BAD_FILE, BAD_VERSION},
        {"short_rmf", short_rmf.bytes(), RM_FAIL, nullptr},
        {"short_prop", short_prop.bytes(), RM_FAIL, nullptr},
        {"mdpr_before_prop", mdpr_before_prop.bytes(), RM_CORRUPT, ILLEGAL_STREAM},
        {"mdpr_number_too_big", mdpr_number_too_big.bytes(), RM_CORRUPT, ILLEGAL_STREAM},
        {"mdpr_bad_length", mdpr_bad_length.bytes(), RM_CORRUPT, BAD_MEDIA_PROPS},
        {"cont_bad_length", cont_bad_length.bytes(), RM_FAIL, BAD_CONTENT},
        {"header_count_zero", header_count_zero.bytes(), RM_BAD_FILE, NO_COMPATIBLE},
        {"all_claimed", all_claimed.bytes(), RM_BAD_FILE, NO_COMPATIBLE},
        {"chunk_cut", cut, RM_READ_FAILED, CHUNK_DATA},
        {"header_cut", header_cut_bytes, RM_READ_FAILED, CHUNK_HEADER},
        {"empty", Bytes(), RM_READ_FAILED, CHUNK_HEADER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderFixture h(c.file);
        EXPECT_EQ(h.load(), c.code);
        if (c.message) {
            ASSERT_EQ(h.log.count(), 1u);
            EXPECT_EQ(h.log.last_code(), c.code);
            EXPECT_EQ(h.log.last_message(), c.message);
        } else {
            EXPECT_EQ(h.log.count(), 0u);
        }
        rm_reader_delete(&h.reader);
        EXPECT_EQ(h.alloc.live(), 0u);
        EXPECT_EQ(h.alloc.foreign_releases, 0u);
    }
}

TEST(HeaderRead, VersionsZeroAndOnePassInEitherField) {
    for (uint16_t object_version : {0, 1}) {
        for (uint32_t file_version : {0u, 1u}) {
            RmWriter w;
            w.rmf({object_version, file_version}).prop().mdpr(video_mdpr()).data().packet(make_packet(0, 0, 4));
            ReaderFixture h(w.bytes());
            EXPECT_EQ(h.load(), RM_OK) << object_version << "/" << file_version;
        }
    }
}

TEST(HeaderRead, StreamCountFollowsHowFarTheReadGot) {
    // Stopped before selection: 0.
    RmWriter early;
    early.rmf().mdpr(video_mdpr()).prop().data();
    ReaderFixture before(early.bytes());
    EXPECT_EQ(rm_reader_stream_count(before.reader), 0u);
    before.load();
    EXPECT_EQ(rm_reader_stream_count(before.reader), 0u);

    // Failed after selection (data_offset points at no DATA chunk): the kept
    // streams are already counted.
    RmWriter late;
    PropChunk prop;
    prop.data_offset = 18;  // the PROP chunk itself
    late.rmf().prop(prop).mdpr(video_mdpr(0)).mdpr(audio_mdpr(1)).data().packet(make_packet(0, 0, 4));
    ReaderFixture after(late.bytes());
    EXPECT_EQ(after.load(), RM_BAD_DATA_CHUNK);
    EXPECT_EQ(rm_reader_stream_count(after.reader), 2u);
    EXPECT_EQ(rm_reader_stream_count(nullptr), 0u);
}

TEST(HeaderRead, UnknownChunkIsSkippedAndIndxConsumesOnlyItsHead) {
    RmWriter unknown;
    unknown.rmf().chunk(fourcc("ABCD"), Bytes(300, 7)).prop().mdpr(video_mdpr()).data().packet(make_packet(0, 0, 4));
    ReaderFixture h(unknown.bytes());
    EXPECT_EQ(h.load(), RM_OK);

    // An INDX of two entries inside the header count: the next chunk read
    // starts 20 bytes into it, inside its entries, and fails there.
    RmWriter indx;
    indx.rmf().prop().indx(2).mdpr(video_mdpr()).data().packet(make_packet(0, 0, 4));
    ReaderFixture hi(indx.bytes());
    EXPECT_NE(hi.load(), RM_OK);
    EXPECT_EQ(hi.reader->media_count, 0u);
}

TEST(HeaderRead, SecondPropStartsANewEmptyTable) {
    RmWriter w;
    w.rmf().prop().mdpr(audio_mdpr(0)).prop().mdpr(video_mdpr(0)).data().packet(make_packet(0, 0, 4));
    ReaderFixture h(w.bytes());
    ASSERT_EQ(h.load(), RM_OK);
    EXPECT_EQ(rm_reader_stream_count(h.reader), 1u);
    EXPECT_TRUE(rm_mime_is_video(h.reader->media_props[0].mime_type));
    EXPECT_EQ(h.alloc.foreign_releases, 0u);
}

// Stream numbers with gaps or repeats: every decoded stream is kept in
// stream-number order, the later of two MDPRs with one number wins, and
// nothing is leaked or written outside the table.
TEST(HeaderRead, StreamNumbersWithGapsAndRepeats) {
    struct Case {
        const char* name;
        std::vector<uint16_t> numbers;
        std::vector<uint32_t> kept;
    };
    const std::vector<Case> cases = {
        {"in_order", {0, 1, 2}, {0, 1, 2}},    {"gap", {0, 2}, {0, 2}},
        {"reversed_gap", {3, 1}, {1, 3}},      {"repeat", {0, 0}, {0}},
        {"repeat_and_gap", {1, 1, 3}, {1, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PropChunk prop;
        prop.stream_count = 4;
        RmWriter w;
        w.rmf().prop(prop);
        for (size_t i = 0; i < c.numbers.size(); ++i) {
            MdprChunk m = video_mdpr(c.numbers[i]);
            m.stream_name = "stream" + std::to_string(i);
            w.mdpr(m);
        }
        w.data().packet(make_packet(c.numbers[0], 0, 4));
        ReaderFixture h(w.bytes());
        ASSERT_EQ(h.load(), RM_OK);
        EXPECT_EQ(stream_numbers_of_kept(h.reader), c.kept);
        EXPECT_EQ(rm_reader_stream_count(h.reader), c.kept.size());
        if (std::string(c.name) == "repeat") {
            EXPECT_STREQ(h.reader->media_props[0].stream_name, "stream1");
        }
        rm_reader_delete(&h.reader);
        EXPECT_EQ(h.alloc.live(), 0u);
    }
}

// What a PROP declares sizes nothing: memory follows the MDPR chunks that
// are really there, and many repeated numbers stay fast.
TEST(HeaderRead, DeclaredStreamCountAllocatesNothingByItself) {
    PropChunk prop;
    prop.stream_count = 65535;
    RmWriter w;
    w.rmf({0, 1}).prop(prop).mdpr(video_mdpr(65535)).data().packet(make_packet(65535, 0, 4));
    ReaderFixture h(w.bytes());
    EXPECT_NE(h.load(), RM_OUT_OF_MEMORY);
    // The largest block is the stream map, one entry per possible stream
    // number up to the largest one present (at most 64 Ki entries).
    EXPECT_LE(h.alloc.largest_request, 65536u * 4u);
    EXPECT_LT(h.alloc.peak_live_bytes, 512u * 1024u);

    RmWriter repeats;
    PropChunk two;
    two.stream_count = 2;
    repeats.rmf().prop(two);
    for (int i = 0; i < 20000; ++i) {
        MdprChunk m = video_mdpr(uint16_t(i % 2));
        m.stream_name = "s" + std::to_string(i);
        repeats.mdpr(m);
    }
    repeats.data().packet(make_packet(0, 0, 4));
    ReaderFixture r(repeats.bytes());
    ASSERT_EQ(r.load(), RM_OK);
    EXPECT_EQ(stream_numbers_of_kept(r.reader), (std::vector<uint32_t>{0, 1}));
    EXPECT_STREQ(r.reader->media_props[0].stream_name, "s19998");
    EXPECT_STREQ(r.reader->media_props[1].stream_name, "s19999");
    rm_reader_delete(&r.reader);
    EXPECT_EQ(r.alloc.live(), 0u);
}

TEST(ReadingOperations, FetchReleaseAndDeleteBoundaries) {
    PropChunk prop;
    prop.stream_count = 6;
    RmWriter w;
    w.rmf().prop(prop).mdpr(video_mdpr(5)).data().packet(make_packet(5, 0, 8));
    ReaderFixture h(w.bytes());
    ASSERT_EQ(h.load(), RM_OK);

    rm_stream_header* header = reinterpret_cast<rm_stream_header*>(0x1);
    EXPECT_EQ(rm_reader_fetch_stream_header(h.reader, 1, &header), RM_FAIL);
    EXPECT_EQ(header, reinterpret_cast<rm_stream_header*>(0x1));
    EXPECT_EQ(rm_reader_fetch_stream_header(h.reader, 0, nullptr), RM_FAIL);
    EXPECT_EQ(rm_reader_fetch_stream_header(nullptr, 0, &header), RM_FAIL);

    header = nullptr;
    ASSERT_EQ(rm_reader_fetch_stream_header(h.reader, 0, &header), RM_OK);
    EXPECT_EQ(rm_stream_header_get_stream_number(header), 0u);  // the index, not the file's 5
    rm_reader_release_stream_header(h.reader, &header);
    EXPECT_EQ(header, nullptr);
    rm_reader_release_stream_header(h.reader, &header);  // null record: nothing
    rm_reader_release_stream_header(h.reader, nullptr);

    rm_packet* packet = nullptr;
    EXPECT_EQ(rm_reader_next_packet(nullptr, &packet, -1), RM_FAIL);
    EXPECT_EQ(rm_reader_next_packet(h.reader, nullptr, -1), RM_FAIL);
    ASSERT_EQ(rm_reader_next_packet(h.reader, &packet, -1), RM_OK);
    EXPECT_EQ(packet->length, 8u);
    rm_reader_release_packet(h.reader, &packet);
    EXPECT_EQ(packet, nullptr);
    rm_reader_release_packet(h.reader, &packet);
    rm_reader_release_packet(h.reader, nullptr);
    EXPECT_EQ(rm_reader_next_packet(h.reader, &packet, -1), RM_END_OF_DATA);

    rm_reader_delete(&h.reader);
    EXPECT_EQ(h.reader, nullptr);
    rm_reader_delete(&h.reader);  // second call: nothing
    rm_reader_delete(nullptr);
    EXPECT_EQ(h.alloc.live(), 0u);
}

TEST(ReadingOperations, DeleteRightAfterNewFreesOnlyTheHandle) {
    TestAllocator memory;
    rm_reader* reader =
        rm_reader_new_custom(nullptr, nullptr, &memory, &TestAllocator::allocate, &TestAllocator::release);
    ASSERT_EQ(memory.allocations, 1u);
    rm_reader_delete(&reader);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(memory.releases, 1u);
    EXPECT_EQ(memory.live(), 0u);
}

// The handle can be deleted in any state after any failure without a leak:
// every cut of a file, and a refused allocation at every position.
TEST(ReadingOperations, DeleteAfterAnyFailureLeaksNothing) {
    LogicalStream logical;
    logical.physical_streams = {2};
    logical.properties = {nv_int("Foo", 1), nv_string("Bar", "baz")};
    RmWriter w;
    ContChunk cont;
    cont.title = "t";
    cont.author = "a";
    w.rmf({0, 1})
        .prop()
        .cont(cont)
        .mdpr(video_mdpr(0, 100000, 200000))
        .mdpr(audio_mdpr(1, 8000, 8000))
        .mdpr(video_mdpr(2))
        .mdpr(logical_mdpr(3, logical, "logical-video/x-pn-realvideo"))
        .mdpr(logical_mdpr(4, logical))
        .data()
        .packet(make_packet(0, 10, 30, true))
        .packet(make_packet(1, 20, 30))
        .packet(make_packet(0, 30, 30));
    const Bytes whole = w.bytes();

    auto read_everything = [](ReaderFixture& h) {
        if (h.load() != RM_OK) {
            return;
        }
        for (uint32_t i = 0; i < rm_reader_stream_count(h.reader); ++i) {
            rm_stream_header* header = nullptr;
            if (rm_reader_fetch_stream_header(h.reader, i, &header) == RM_OK) {
                rm_reader_release_stream_header(h.reader, &header);
            }
        }
        rm_packet* packet = nullptr;
        for (int guard = 0; guard < 100 && rm_reader_next_packet(h.reader, &packet, -1) == RM_OK; ++guard) {
            rm_reader_release_packet(h.reader, &packet);
        }
    };

    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        ReaderFixture h(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        read_everything(h);
        rm_reader_delete(&h.reader);
        ASSERT_EQ(h.alloc.live(), 0u) << "cut at " << cut;
        ASSERT_EQ(h.alloc.foreign_releases, 0u) << "cut at " << cut;
    }

    uint32_t total_requests = 0;
    {
        ReaderFixture h(whole);
        read_everything(h);
        total_requests = h.alloc.requests;
    }
    ASSERT_GT(total_requests, 20u);
    for (uint32_t n = 2; n <= total_requests; ++n) {  // request 1 is the handle itself
        ReaderFixture h(whole);
        h.alloc.fail_nth(n);
        read_everything(h);
        rm_reader_delete(&h.reader);
        ASSERT_EQ(h.alloc.live(), 0u) << "allocation " << n << " refused";
        ASSERT_EQ(h.alloc.foreign_releases, 0u) << "allocation " << n << " refused";
    }
}

TEST(ReadingOperations, HugeHeaderCountEndsAtTheEndOfTheFile) {
    RmWriter w;
    w.rmf({0, 0, 0xFFFFFFFFu}).prop().mdpr(video_mdpr());
    ReaderFixture h(w.bytes());
    EXPECT_EQ(h.load(), RM_READ_FAILED);
    EXPECT_EQ(h.log.last_message(), CHUNK_HEADER);
}
