// Tests of where the packets end: declared DATA ends, DATA chains, files past 4 GiB, reloads, claimed sizes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "rmparser/rm_internal.h"
#include "tests/support/rm_reader_fixture.h"

namespace {

using namespace rmtest;

const char HEADER_MESSAGE[] = "Could not read packet header.";

// Timestamp and header offset of each packet read until a non-zero result,
// which lands in `end`; a reader that never stops fails the test.
std::vector<uint64_t> read_all(rm_reader* reader, int32_t selector, rm_result* end) {
    std::vector<uint64_t> seen;
    for (rm_packet* packet = nullptr; seen.size() < 20000; rm_reader_release_packet(reader, &packet)) {
        if ((*end = rm_reader_next_packet(reader, &packet, selector)) != RM_OK) return seen;
        seen.push_back(uint64_t(packet->timestamp) << 40 | rm_reader_packet_offset(reader));
    }
    ADD_FAILURE() << "the reader never stopped";
    return seen;
}

// A writer that notes what read_all should give for each packet of stream 0.
struct Layout {
    RmWriter w;
    std::vector<uint64_t> video;
    Layout& packet(uint16_t stream, uint32_t timestamp) {
        if (stream == 0) video.push_back(uint64_t(timestamp) << 40 | w.offset());
        w.packet(make_packet(stream, timestamp, 30 + timestamp % 7, timestamp == 0));
        return *this;
    }
};

// "IN" "DX" and the high half of the size would make a header of stream 0
// (the video) with length 17,496: every index from that size on used to be
// read as a video packet. Under emulated Wine every size costs too long; there
// every size to 1 KiB, a spread beyond it and those around 17,496 do.
TEST(DataEnd, IndexAfterTheDataOfAnySizeIsNoPacket) {
    Layout l;
    l.w.rmf().prop().mdpr(video_mdpr(0)).mdpr(audio_mdpr(1)).data();
    l.packet(0, 0).packet(1, 10).packet(0, 40);
    const uint64_t indx_offset = l.w.offset();
    MemoryIo io(l.w.indx(4680).bytes());  // 65,540 bytes
    // A chunk's size covers at least its own head.
    for (uint32_t size = RM_CHUNK_HEADER_SIZE; size <= 65536; ++size) {
#ifdef _WIN32
        if (size > 1024 && size % 61 != 0 && (size < 17495 || size > 17497)) continue;
#endif
        set_u32(io.data, size_t(indx_offset + 4), size);
        io.fail_reads_at = indx_offset + size;  // the file ends with the index
        ReaderFixture h;
        io.attach(h.reader);
        ASSERT_EQ(rm_reader_load_headers(h.reader), RM_OK);
        rm_result end = RM_OK;
        ASSERT_EQ(read_all(h.reader, 0, &end), l.video) << "index of " << size << " bytes";
        ASSERT_EQ(end, RM_END_OF_DATA) << "index of " << size << " bytes";
        ASSERT_EQ(rm_reader_packet_offset(h.reader), indx_offset);
    }
}

// Three DATA chunks, each head naming the next: all their packets, in order,
// for any stream; what lies between them is no packet.
TEST(DataChain, PacketsOfThreeLinkedChunksAreAllRead) {
    DataChunk linked;
    linked.link_next = true;
    Layout l;
    l.w.rmf().prop().mdpr(video_mdpr(0)).mdpr(audio_mdpr(1)).data(linked);
    l.packet(0, 0).packet(1, 5).w.indx(2).data(linked);
    l.packet(0, 40).packet(1, 45).w.data();
    l.packet(0, 80).w.indx(3);
    for (int32_t selector : {0, -1}) {
        ReaderFixture h(l.w.bytes());
        ASSERT_EQ(h.load(), RM_OK);
        rm_result end = RM_OK;
        const std::vector<uint64_t> seen = read_all(h.reader, selector, &end);
        EXPECT_EQ(seen.size(), selector == 0 ? 3u : 5u);
        if (selector == 0) EXPECT_EQ(seen, l.video);
        EXPECT_EQ(end, RM_END_OF_DATA);
        EXPECT_EQ(read_all(h.reader, -1, &end).size(), 0u) << "the end stays the end";
        EXPECT_EQ(end, RM_END_OF_DATA);
    }
}

// A successor that is not wholly after its chunk or is no DATA chunk ends
// the data there, cleanly, each packet read once; one past the end of the
// file is a cut there.
TEST(DataChain, BadSuccessorsEndTheDataCleanly) {
    DataChunk linked;
    linked.link_next = true;
    Layout l;
    l.w.rmf().prop().mdpr(video_mdpr(0));
    const uint32_t first = uint32_t(l.w.offset());
    l.w.data(linked);
    l.packet(0, 0).packet(0, 40);
    const uint32_t index = uint32_t(l.w.offset());
    l.w.indx(2);
    const uint32_t second = uint32_t(l.w.offset());
    l.w.data(DataChunk(0, {}, first));  // points back to the first
    l.packet(0, 80);
    const Bytes chained = l.w.bytes();
    const uint32_t fits = get_u32(chained, second + 4);
    const std::vector<uint64_t> all = l.video;
    const std::vector<uint64_t> two(all.begin(), all.begin() + 2);

    const struct {
        const char* what;
        uint32_t next;  // written into the first head
        uint32_t second_size;
        const std::vector<uint64_t>& packets;
        rm_result end = RM_END_OF_DATA;
    } cases[] = {
        {"a loop back from the second", second, fits, all},
        {"itself", first, fits, two},
        {"inside its own packets", first + 30, fits, two},
        {"past the file", 0x7FFFFFF0u, fits, two, RM_READ_FAILED},
        {"an INDX chunk", index, fits, two},
        {"a DATA head too small for itself", second, 10, two},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReaderFixture h(chained);
        set_u32(h.io.data, first + 14, c.next);
        set_u32(h.io.data, second + 4, c.second_size);
        ASSERT_EQ(h.load(), RM_OK);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(h.reader, -1, &end), c.packets);
        EXPECT_EQ(end, c.end);
        if (c.end != RM_END_OF_DATA) EXPECT_EQ(rm_reader_packet_offset(h.reader), c.next);
    }
}

// What the file says about where its packets end is all that ends them: a
// DATA size too small for its packets, a head's packet count that the file
// falls short of when there is no declared end, a chained head the file cuts
// off. Each is damage where it shows; what may follow packets (an index, no
// more bytes) is a clean end.
TEST(DataEnd, DeclaredEndsAndWhatFollowsThem) {
    const uint32_t data_at = uint32_t(RmWriter().rmf().prop().mdpr(video_mdpr(0)).offset());
    const uint32_t first = data_at + RM_DATA_HEADER_SIZE;
    const uint32_t packet = RM_PACKET_HEADER_SIZE + 30;  // every packet here: 30 payload bytes
    const struct {
        const char* what;
        std::optional<uint32_t> size;  // the DATA head's (default: its packets)
        std::optional<uint32_t> count;
        uint32_t packets;  // written
        uint32_t kept;     // bytes of the file after the DATA head (default: all)
        bool index_after;
        uint32_t delivered;
        rm_result end;
        uint64_t offset;
        const char* message;
    } cases[] = {
        {"whole, an index after", {}, {}, 5, 0, true, 5, RM_END_OF_DATA, first + 5 * packet, HEADER_MESSAGE},
        {"size ends at a packet boundary",
         18 + 3 * packet,
         {},
         5,
         0,
         false,
         3,
         RM_CORRUPT,
         first + 3 * packet,
         "The DATA size ends before its packets."},
        {"size ends inside a packet",
         18 + 3 * packet + 7,
         {},
         5,
         0,
         false,
         3,
         RM_CORRUPT,
         first + 3 * packet,
         "Packet runs past the end of its DATA chunk - possibly a corrupt file."},
        {"no declared end, every declared packet there", 0u, 5u, 5, 0, false, 5, RM_END_OF_DATA, first + 5 * packet,
         HEADER_MESSAGE},
        {"no declared end, an index after", 0u, 5u, 5, 0, true, 5, RM_END_OF_DATA, first + 5 * packet, HEADER_MESSAGE},
        {"no declared end, cut at a packet boundary", 0u, 5u, 5, 3 * packet, false, 3, RM_READ_FAILED,
         first + 3 * packet, HEADER_MESSAGE},
        // Without a count there is no evidence of the packets lost.
        {"no declared end, no count, cut at a boundary", 0u, 0u, 5, 3 * packet, false, 3, RM_END_OF_DATA,
         first + 3 * packet, HEADER_MESSAGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RmWriter w;
        DataChunk data;
        data.size = c.size;
        data.packet_count = c.count;
        w.rmf().prop().mdpr(video_mdpr(0)).data(data);
        for (uint32_t k = 0; k < c.packets; ++k) w.packet(make_packet(0, 100 * k, 30, k == 0));
        if (c.index_after) w.indx(2);
        Bytes file = w.bytes();
        if (c.kept != 0) file.resize(first + c.kept);
        ReaderFixture h(file);
        ASSERT_EQ(h.load(), RM_OK);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(h.reader, 0, &end).size(), c.delivered);
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(rm_reader_packet_offset(h.reader), c.offset);
        EXPECT_EQ(h.log.last_message(), c.message);
    }
}

// A chained DATA head that the file cuts off, anywhere in its 18 bytes or
// before it, is a cut there; the packets before it stand.
TEST(DataChain, NextHeadCutOffIsACut) {
    DataChunk linked;
    linked.link_next = true;
    Layout l;
    l.w.rmf().prop().mdpr(video_mdpr(0)).data(linked);
    l.packet(0, 0).packet(0, 40);
    const uint64_t first_end = l.w.offset();
    l.w.indx(1);
    const uint64_t second = l.w.offset();
    l.w.data();
    l.packet(0, 80);
    const Bytes file = l.w.bytes();
    for (uint64_t cut = first_end; cut < second + RM_DATA_HEADER_SIZE; ++cut) {
        SCOPED_TRACE(cut);
        ReaderFixture h(Bytes(file.begin(), file.begin() + std::ptrdiff_t(cut)));
        ASSERT_EQ(h.load(), RM_OK);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(h.reader, -1, &end), std::vector<uint64_t>(l.video.begin(), l.video.begin() + 2));
        EXPECT_EQ(end, RM_READ_FAILED);
        EXPECT_EQ(rm_reader_packet_offset(h.reader), second);
        EXPECT_EQ(h.log.last_message(), "Could not read the next DATA chunk header.");
    }
}

// A file of 4 GiB and more, sparse: the header chunks at 0, a DATA chunk at
// `data_at`, zeros between. Tell says 0xFFFFFFFF past 32 bits, as stdio's does.
struct SparseIo {
    Bytes head, data;
    uint64_t data_at = 0, position = 0;
    static uint32_t read(void* user, void* destination, uint32_t count) {
        SparseIo* io = static_cast<SparseIo*>(user);
        uint32_t n = 0;
        for (; n < count && io->position < io->data_at + io->data.size(); ++n, ++io->position) {
            const uint64_t at = io->position;
            static_cast<uint8_t*>(destination)[n] = at < io->head.size() ? io->head[size_t(at)]
                                                    : at >= io->data_at  ? io->data[size_t(at - io->data_at)]
                                                                         : 0;
        }
        return n;
    }
    static void seek(void* user, int32_t offset, int origin) {
        SparseIo* io = static_cast<SparseIo*>(user);
        io->position = origin == RM_SEEK_SET ? uint64_t(uint32_t(offset)) : io->position + int64_t(offset);
    }
    static uint32_t tell(void* user) {
        const uint64_t at = static_cast<SparseIo*>(user)->position;
        return at > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(at);
    }
};

// A DATA head ending within 18 bytes past 4 GiB: its packets lie beyond, and a
// 32-bit position used to wrap the first one back to offset 2.
TEST(DataEnd, PacketsPastFourGibAreReadWhereTheyAre) {
    for (uint32_t data_at : {0xFFFFFFF0u, 0xFFFFFFEEu, 0xFFFFFFE1u}) {
        SCOPED_TRACE(data_at);
        PropChunk prop;
        prop.data_offset = data_at;
        SparseIo io;
        io.head = RmWriter().rmf().prop(prop).mdpr(video_mdpr(0)).bytes();
        io.data_at = data_at;
        Layout l;
        l.w.data();
        l.packet(0, 0).packet(0, 40).packet(0, 80).w.indx(2);
        io.data = l.w.bytes();
        ReaderFixture h;
        ASSERT_EQ(rm_reader_attach_io(h.reader, &SparseIo::read, &SparseIo::seek, &SparseIo::tell, &io), RM_OK);
        ASSERT_EQ(rm_reader_load_headers(h.reader), RM_OK);
        EXPECT_EQ(h.reader->start_timestamp, 0u);
        rm_result end = RM_OK;
        std::vector<uint64_t> expected;
        for (uint64_t v : l.video) expected.push_back(v + data_at);
        EXPECT_EQ(read_all(h.reader, -1, &end), expected);
        EXPECT_EQ(end, RM_END_OF_DATA);
        EXPECT_EQ(rm_reader_packet_offset(h.reader), data_at + uint64_t(io.data.size()) - 48);
    }
}

// One handle, files of 1, 4, 1 and 4 streams in turn: each read whole, with
// its own title and stream headers; then a failed load leaves nothing to read.
TEST(Reload, OneHandleReadsFilesOfOtherStreamCountsInTurn) {
    ReaderFixture h(Bytes{});
    for (uint16_t streams : {1, 4, 1, 4, 2}) {
        SCOPED_TRACE(streams);
        ContChunk cont;
        cont.title = std::to_string(streams);
        RmWriter w;
        w.rmf().prop().cont(cont);
        for (uint16_t n = 0; n < streams; ++n) w.mdpr(n == 0 ? video_mdpr(0) : audio_mdpr(n));
        w.data();
        for (uint16_t n = 0; n < streams; ++n) w.packet(make_packet(n, 100u * streams + n, 20, true));
        h.io.data = w.indx(1).bytes();
        ASSERT_EQ(h.load(), RM_OK);
        ASSERT_EQ(rm_reader_stream_count(h.reader), streams);
        EXPECT_EQ(std::string(h.reader->cont_record.title), cont.title);
        EXPECT_EQ(h.reader->start_timestamp, 100u * streams);
        rm_stream_header* header = nullptr;
        ASSERT_EQ(rm_reader_fetch_stream_header(h.reader, streams - 1u, &header), RM_OK);
        rm_reader_release_stream_header(h.reader, &header);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(h.reader, -1, &end).size(), streams);
        EXPECT_EQ(end, RM_END_OF_DATA);
    }
    h.io.data = Bytes(40, 0x41);
    EXPECT_EQ(h.load(), RM_BAD_FILE);
    EXPECT_EQ(rm_reader_stream_count(h.reader), 0u);
    rm_stream_header* header = nullptr;
    EXPECT_EQ(rm_reader_fetch_stream_header(h.reader, 0, &header), RM_FAIL);
}

// Beyond the handle and the first 256-byte read buffer, a size field that
// claims more than the file holds buys nothing: the buffer grows only with
// bytes that arrive, to at most twice them.
TEST(ChunkSize, ClaimedSizeAllocatesNoMoreThanTheFileHolds) {
    for (bool small : {true, false}) {
        MdprChunk mdpr = video_mdpr(0);
        if (!small) mdpr.type_specific = Bytes(100000, 0x33);
        mdpr.size = 4u * 1024 * 1024;
        Bytes file = RmWriter().rmf().prop().mdpr(mdpr).data().packet(make_packet(0, 0, 40, true)).bytes();
        if (small) file.resize(175);
        ReaderFixture h(file);
        EXPECT_EQ(h.load(), RM_READ_FAILED);
        EXPECT_EQ(h.log.last_message(), "Could not read chunk data.");
        ASSERT_GE(h.alloc.request_sizes.size(), 2u);
        EXPECT_EQ(h.alloc.request_sizes[0], sizeof(rm_reader));
        EXPECT_EQ(h.alloc.request_sizes[1], 256u);
        for (size_t i = 2; i < h.alloc.request_sizes.size(); ++i) {
            EXPECT_LT(h.alloc.request_sizes[i], small ? file.size() : 2 * file.size());
        }
    }
}

}  // namespace
