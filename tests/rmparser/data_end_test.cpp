// Where the packets end: the DATA chunk's declared end, chains of DATA
// chunks, files near 4 GiB, a handle loaded again, and what a chunk size may
// make the reader allocate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "rmparser/rm_internal.h"
#include "tests/support/rm_test_io.h"

namespace {

using rmtest::Bytes;
using rmtest::make_packet;
using rmtest::Packet;
using rmtest::RmWriter;

const char kNotRmf[] = "First four bytes are are not \".RMF\" - this is not an .rm file";
const char kChunkData[] = "Could not read chunk data.";

struct Seen {
    uint32_t timestamp;
    uint16_t stream;
    uint64_t header_offset;  // rm_reader_packet_offset after the packet
};

bool operator==(const Seen& a, const Seen& b)
{
    return a.timestamp == b.timestamp && a.stream == b.stream && a.header_offset == b.header_offset;
}

std::ostream& operator<<(std::ostream& out, const Seen& s)
{
    return out << "{" << s.timestamp << " s" << s.stream << " @" << s.header_offset << "}";
}

// Reads every packet of a handle whose headers are loaded; `end` gets the
// result that stopped it. Gives up after `limit` calls (a loop is a failure).
std::vector<Seen> read_all(rm_reader* reader, int32_t selector, rm_result* end, size_t limit = 100000)
{
    std::vector<Seen> seen;
    for (size_t call = 0; call < limit; ++call) {
        rm_packet* packet = nullptr;
        *end = rm_reader_next_packet(reader, &packet, selector);
        if (*end != RM_OK) {
            return seen;
        }
        seen.push_back({packet->timestamp, packet->stream, rm_reader_packet_offset(reader)});
        rm_reader_release_packet(reader, &packet);
    }
    ADD_FAILURE() << "the reader never stopped";
    return seen;
}

// A handle over a memory file, with a counting allocator and an error log;
// leaks and foreign frees fail the test.
struct Opened {
    rmtest::TestAllocator alloc;
    rmtest::ErrorLog log;
    rmtest::MemoryIo io;
    rm_reader* reader = nullptr;

    explicit Opened(const Bytes& bytes) : io(bytes)
    {
        reader = rm_reader_new_custom(&log, &rmtest::ErrorLog::report, &alloc, &rmtest::TestAllocator::allocate,
                                      &rmtest::TestAllocator::release);
        io.attach(reader);
    }
    ~Opened()
    {
        rm_reader_delete(&reader);
        EXPECT_EQ(alloc.live(), 0u);
        EXPECT_EQ(alloc.foreign_releases, 0u);
    }
};

// The packets as a writer lays them out: offsets of their headers.
struct Layout {
    RmWriter w;
    std::vector<Seen> packets;

    void packet(const Packet& p, uint16_t stream_index)
    {
        packets.push_back({p.timestamp, stream_index, w.offset()});
        w.packet(p);
    }
};

std::vector<Seen> of_stream(const std::vector<Seen>& all, uint16_t stream)
{
    std::vector<Seen> some;
    std::copy_if(all.begin(), all.end(), std::back_inserter(some), [&](const Seen& s) { return s.stream == stream; });
    return some;
}

// ---------------------------------------------------------------- the DATA end

// An index after the packets is never read as one. "IN" / "DX" / the size's
// high half would make a header of stream 0 (the video) whose length is
// 17,496: every index from 17,496 bytes on used to become a video packet.
TEST(DataEnd, IndexAfterTheDataOfAnySizeIsNoPacket)
{
    Layout l;
    l.w.rmf().prop().mdpr(rmtest::video_mdpr(0)).mdpr(rmtest::audio_mdpr(1)).data();
    l.packet(make_packet(0, 0, 300, true), 0);
    l.packet(make_packet(1, 10, 50), 1);
    l.packet(make_packet(0, 40, 200), 0);
    const uint64_t indx_offset = l.w.offset();
    const uint32_t largest = 64 * 1024;
    l.w.indx((largest - 20) / 14 + 1);
    Bytes file = l.w.bytes();

    rmtest::TestAllocator alloc;
    rmtest::ErrorLog log;
    rmtest::MemoryIo io(file);
    // Every size from 8 bytes to 64 KiB: the file ends with the index. Under
    // emulated Wine a load costs too much for 65,000 of them; there every size
    // up to 1 KiB, a spread beyond and the sizes around "DX" do.
    std::vector<uint32_t> sizes;
    for (uint32_t size = 8; size <= largest; ++size) {
#ifdef _WIN32
        if (size > 1024 && size % 61 != 0 && (size < 17495 || size > 17497) && size != largest) continue;
#endif
        sizes.push_back(size);
    }
    for (uint32_t size : sizes) {
        rmtest::set_u32(io.data, size_t(indx_offset + 4), size);
        io.fail_reads_at = indx_offset + size;
        io.position = 0;
        rm_reader* reader = rm_reader_new_custom(&log, &rmtest::ErrorLog::report, &alloc,
                                                 &rmtest::TestAllocator::allocate, &rmtest::TestAllocator::release);
        io.attach(reader);
        ASSERT_EQ(rm_reader_load_headers(reader), RM_OK);
        rm_result end = RM_OK;
        const std::vector<Seen> seen = read_all(reader, 0, &end);
        rm_reader_delete(&reader);
        if (seen != of_stream(l.packets, 0) || end != RM_END_OF_DATA) {
            ADD_FAILURE() << "index of " << size << " bytes: " << ::testing::PrintToString(seen) << ", end 0x"
                          << std::hex << end;
            break;
        }
    }
    EXPECT_EQ(alloc.live(), 0u);
    EXPECT_LT(alloc.largest_request, 4096u);

    Opened all(file);
    ASSERT_EQ(rm_reader_load_headers(all.reader), RM_OK);
    rm_result end = RM_OK;
    EXPECT_EQ(read_all(all.reader, -1, &end), l.packets);
    EXPECT_EQ(end, RM_END_OF_DATA);
    EXPECT_EQ(rm_reader_packet_offset(all.reader), indx_offset);
}

// The declared packet count is no guide to the end in either direction.
TEST(DataEnd, PacketCountNeitherEndsNorExtendsTheData)
{
    const struct {
        const char* what;
        uint32_t declared;
        size_t kept_bytes;  // of the file; 0: whole
        size_t packets_read;
        rm_result end;
    } cases[] = {
        {"intact, count too large", 50, 0, 5, RM_END_OF_DATA},
        {"intact, count too small", 2, 0, 5, RM_END_OF_DATA},
        {"cut after packet 3, count 2", 2, 3, 3, RM_READ_FAILED},
        {"cut after packet 3, count 5", 5, 3, 3, RM_READ_FAILED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Layout l;
        rmtest::DataChunk data;
        data.packet_count = c.declared;
        l.w.rmf().prop().mdpr(rmtest::video_mdpr(0)).data(data);
        for (uint32_t i = 0; i < 5; ++i) {
            l.packet(make_packet(0, i * 40, 30, i == 0), 0);
        }
        l.w.indx(3);
        Bytes file = l.w.bytes();
        if (c.kept_bytes != 0) {
            file.resize(size_t(l.packets[c.kept_bytes].header_offset));
        }
        Opened f(file);
        ASSERT_EQ(rm_reader_load_headers(f.reader), RM_OK);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(f.reader, -1, &end).size(), c.packets_read);
        EXPECT_EQ(end, c.end);
        const uint64_t where = c.packets_read < 5 ? l.packets[c.packets_read].header_offset : file.size() - 20 - 3 * 14;
        EXPECT_EQ(rm_reader_packet_offset(f.reader), where);
    }
}

// A DATA size too small for its own head declares no end: the packets run to
// the end of the file, where only a header read that finds nothing, or
// zeros, ends them cleanly.
TEST(DataEnd, WithoutADeclaredEndThePacketsRunToTheEndOfTheFile)
{
    const struct {
        const char* what;
        uint32_t size;
        Bytes tail;
        rm_result end;
    } cases[] = {
        {"size 0, nothing after", 0, {}, RM_END_OF_DATA},
        {"size 17, zeros after", 17, Bytes(5, 0), RM_END_OF_DATA},
        {"size 0, a cut header after", 0, {0x00, 0x00, 0x00, 0x20, 0x00}, RM_READ_FAILED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        rmtest::DataChunk data(0, {}, 0, c.size);
        RmWriter w;
        w.rmf().prop().mdpr(rmtest::video_mdpr(0)).data(data);
        for (uint32_t i = 0; i < 3; ++i) w.packet(make_packet(0, i * 40, 30, i == 0));
        const uint64_t end_of_packets = w.offset();
        w.raw(c.tail);
        Opened f(w.bytes());
        ASSERT_EQ(rm_reader_load_headers(f.reader), RM_OK);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(f.reader, -1, &end).size(), 3u);
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(rm_reader_packet_offset(f.reader), end_of_packets);
        EXPECT_EQ(f.log.count(), 1u);
    }
}

// A header that starts inside the declared data but whose payload runs past
// a cut is damage, wherever the cut falls in it.
TEST(DataEnd, CutInsideTheLastPacketFailsAndSaysWhere)
{
    Layout l;
    l.w.rmf().prop().mdpr(rmtest::video_mdpr(0)).data();
    l.packet(make_packet(0, 0, 30, true), 0);
    l.packet(make_packet(0, 40, 30), 0);
    l.w.indx(1);
    const Bytes whole = l.w.bytes();
    const uint64_t last = l.packets[1].header_offset;
    for (uint64_t cut = last + 1; cut < last + 42; ++cut) {
        SCOPED_TRACE(cut);
        Opened f(Bytes(whole.begin(), whole.begin() + long(cut)));
        ASSERT_EQ(rm_reader_load_headers(f.reader), RM_OK);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(f.reader, 0, &end).size(), 1u);
        EXPECT_EQ(end, RM_READ_FAILED);
        EXPECT_EQ(rm_reader_packet_offset(f.reader), last);
    }
}

// ---------------------------------------------------------------- chains of DATA chunks

TEST(DataChain, PacketsOfThreeLinkedChunksAreAllRead)
{
    Layout l;
    rmtest::DataChunk linked;
    linked.link_next = true;
    l.w.rmf().prop().mdpr(rmtest::video_mdpr(0)).mdpr(rmtest::audio_mdpr(1));
    l.w.data(linked);
    l.packet(make_packet(0, 0, 40, true), 0);
    l.packet(make_packet(1, 5, 20, true), 1);
    l.w.indx(2);  // something between the chunks that is not a packet
    l.w.data(linked);
    l.packet(make_packet(0, 40, 40), 0);
    l.packet(make_packet(1, 45, 20), 1);
    l.w.data();  // the last one names no successor
    l.packet(make_packet(0, 80, 40), 0);
    l.w.indx(3);
    const Bytes file = l.w.bytes();

    for (int32_t selector : {-1, 0, 1}) {
        SCOPED_TRACE(selector);
        Opened f(file);
        ASSERT_EQ(rm_reader_load_headers(f.reader), RM_OK);
        EXPECT_EQ(f.reader->start_timestamp, 0u);
        rm_result end = RM_OK;
        const std::vector<Seen> seen = read_all(f.reader, selector, &end);
        EXPECT_EQ(seen, selector == -1 ? l.packets : of_stream(l.packets, uint16_t(selector)));
        EXPECT_EQ(end, RM_END_OF_DATA);
        // Reading on after the end stays at the end.
        EXPECT_EQ(read_all(f.reader, selector, &end).size(), 0u);
        EXPECT_EQ(end, RM_END_OF_DATA);
    }
}

// A successor that is not wholly after the chunk before it, or not a DATA
// chunk, ends the data there: cleanly, every packet once.
TEST(DataChain, BadSuccessorsEndTheDataCleanly)
{
    // The first chunk of the file starts at offset `first`, its end is `end`.
    enum Target { Itself, FirstFromSecond, Inside, PastTheFile, Index, TooSmallData, Zero };
    const struct {
        const char* what;
        Target target;
    } cases[] = {
        {"the chunk itself", Itself},
        {"second points back at the first", FirstFromSecond},
        {"inside the chunk's packets", Inside},
        {"past the end of the file", PastTheFile},
        {"an INDX chunk", Index},
        {"a DATA chunk too small for its head", TooSmallData},
        {"nothing", Zero},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Layout l;
        rmtest::DataChunk linked;
        linked.link_next = true;
        l.w.rmf().prop().mdpr(rmtest::video_mdpr(0));
        const uint64_t first = l.w.offset();
        l.w.data(linked);
        l.packet(make_packet(0, 0, 40, true), 0);
        l.packet(make_packet(0, 40, 40), 0);
        const uint64_t index = l.w.offset();
        l.w.indx(2);
        const uint64_t second = l.w.offset();
        rmtest::DataChunk bad(0, {}, 0, c.target == TooSmallData ? std::optional<uint32_t>(10u) : std::nullopt);
        l.w.data(bad);
        if (c.target == FirstFromSecond) {
            l.packet(make_packet(0, 80, 40), 0);
        } else {
            l.w.packet(make_packet(0, 80, 40));  // must never be read
        }
        Bytes file = l.w.bytes();
        const size_t first_next = size_t(first + 14);
        switch (c.target) {
            case Itself: rmtest::set_u32(file, first_next, uint32_t(first)); break;
            case FirstFromSecond: rmtest::set_u32(file, size_t(second + 14), uint32_t(first)); break;
            case Inside: rmtest::set_u32(file, first_next, uint32_t(first + 18 + 52)); break;
            case PastTheFile: rmtest::set_u32(file, first_next, uint32_t(file.size() + 100)); break;
            case Index: rmtest::set_u32(file, first_next, uint32_t(index)); break;
            case TooSmallData: break;
            case Zero: rmtest::set_u32(file, first_next, 0); break;
        }
        Opened f(file);
        ASSERT_EQ(rm_reader_load_headers(f.reader), RM_OK);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(f.reader, -1, &end, 100), l.packets);
        EXPECT_EQ(end, RM_END_OF_DATA);
    }
}

// ---------------------------------------------------------------- 4 GiB

// A file of more than 4 GiB held sparsely: given byte ranges, zeros between.
struct SparseIo {
    std::map<uint64_t, Bytes> pieces;
    uint64_t size = 0;
    uint64_t position = 0;

    void put(uint64_t offset, const Bytes& bytes)
    {
        pieces[offset] = bytes;
        size = std::max(size, offset + bytes.size());
    }
    static uint32_t read(void* user, void* destination, uint32_t count)
    {
        SparseIo* io = static_cast<SparseIo*>(user);
        const uint64_t n = io->position >= io->size ? 0 : std::min<uint64_t>(count, io->size - io->position);
        uint8_t* out = static_cast<uint8_t*>(destination);
        std::memset(out, 0, size_t(n));
        for (const auto& piece : io->pieces) {
            const uint64_t from = std::max(piece.first, io->position);
            const uint64_t to = std::min(piece.first + piece.second.size(), io->position + n);
            for (uint64_t at = from; at < to; ++at) out[at - io->position] = piece.second[size_t(at - piece.first)];
        }
        io->position += n;
        return uint32_t(n);
    }
    static void seek(void* user, int32_t offset, int origin)
    {
        SparseIo* io = static_cast<SparseIo*>(user);
        if (origin == 0) io->position = uint32_t(offset);
        if (origin == 1 && (offset >= 0 || uint64_t(-int64_t(offset)) <= io->position)) io->position += offset;
    }
    static uint32_t tell(void* user)
    {
        const uint64_t at = static_cast<SparseIo*>(user)->position;
        return at > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(at);
    }
};

// A DATA chunk whose head ends just past 4 GiB: its packets lie beyond, and
// a 32-bit position would have wrapped the first one to offset 2.
TEST(DataEnd, PacketsPastFourGibAreReadWhereTheyAre)
{
    for (uint32_t data_offset : {0xFFFFFFF0u, 0xFFFFFFEEu, 0xFFFFFFFFu - 30}) {
        SCOPED_TRACE(data_offset);
        rmtest::PropChunk prop;
        prop.data_offset = data_offset;
        RmWriter head;
        head.rmf().prop(prop).mdpr(rmtest::video_mdpr(0));
        RmWriter data;
        data.data();
        std::vector<Seen> expected;
        for (uint32_t i = 0; i < 4; ++i) {
            expected.push_back({i * 40, 0, uint64_t(data_offset) + data.offset()});
            data.packet(make_packet(0, i * 40, 100, i == 0));
        }
        data.indx(2);
        SparseIo io;
        io.put(0, head.bytes());
        io.put(data_offset, data.bytes());

        rmtest::TestAllocator alloc;
        rmtest::ErrorLog log;
        rm_reader* reader = rm_reader_new_custom(&log, &rmtest::ErrorLog::report, &alloc,
                                                 &rmtest::TestAllocator::allocate, &rmtest::TestAllocator::release);
        ASSERT_EQ(rm_reader_attach_io(reader, &SparseIo::read, &SparseIo::seek, &SparseIo::tell, &io), RM_OK);
        ASSERT_EQ(rm_reader_load_headers(reader), RM_OK);
        EXPECT_EQ(reader->start_timestamp, 0u);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(reader, -1, &end), expected);
        EXPECT_EQ(end, RM_END_OF_DATA);
        EXPECT_EQ(rm_reader_packet_offset(reader), data_offset + uint64_t(data.offset()) - 20 - 2 * 14);
        rm_reader_delete(&reader);
        EXPECT_EQ(alloc.live(), 0u);
    }
}

// ---------------------------------------------------------------- a handle loaded again

TEST(Reload, OneHandleReadsFilesOfOtherStreamCountsInTurn)
{
    auto file_of = [](uint16_t streams, uint32_t first_timestamp) {
        std::vector<rmtest::MdprChunk> mdprs;
        std::vector<Packet> packets;
        for (uint16_t n = 0; n < streams; ++n) {
            mdprs.push_back(n == 0 ? rmtest::video_mdpr(0) : rmtest::audio_mdpr(n));
            packets.push_back(make_packet(n, first_timestamp + n, 20, true));
        }
        rmtest::ContChunk cont;
        cont.title = "streams " + std::to_string(streams);
        RmWriter w;
        w.rmf().prop().cont(cont);
        for (const auto& m : mdprs) w.mdpr(m);
        w.data();
        for (const auto& p : packets) w.packet(p);
        w.indx(1);
        return w.bytes();
    };
    rmtest::TestAllocator alloc;
    rmtest::ErrorLog log;
    rmtest::MemoryIo io;
    rm_reader* reader = rm_reader_new_custom(&log, &rmtest::ErrorLog::report, &alloc,
                                             &rmtest::TestAllocator::allocate, &rmtest::TestAllocator::release);
    io.attach(reader);
    const uint16_t order[] = {1, 4, 1, 4, 4, 2};
    for (uint16_t streams : order) {
        SCOPED_TRACE(streams);
        io.data = file_of(streams, 1000u * streams);
        io.position = 0;
        ASSERT_EQ(rm_reader_load_headers(reader), RM_OK);
        ASSERT_EQ(rm_reader_stream_count(reader), streams);
        EXPECT_EQ(std::string(reader->cont_record.title), "streams " + std::to_string(streams));
        rm_stream_header* header = nullptr;
        ASSERT_EQ(rm_reader_fetch_stream_header(reader, streams - 1u, &header), RM_OK);
        rm_reader_release_stream_header(reader, &header);
        EXPECT_EQ(reader->start_timestamp, 1000u * streams);
        rm_result end = RM_OK;
        EXPECT_EQ(read_all(reader, -1, &end).size(), streams);
        EXPECT_EQ(end, RM_END_OF_DATA);
    }
    // A failed load leaves nothing of the file before to read.
    io.data = Bytes(40, 0x41);
    io.position = 0;
    EXPECT_EQ(rm_reader_load_headers(reader), RM_BAD_FILE);
    EXPECT_EQ(rm_reader_stream_count(reader), 0u);
    rm_stream_header* header = nullptr;
    EXPECT_EQ(rm_reader_fetch_stream_header(reader, 0, &header), RM_FAIL);
    rm_packet* packet = nullptr;
    EXPECT_NE(rm_reader_next_packet(reader, &packet, -1), RM_OK);
    EXPECT_EQ(packet, nullptr);

    rm_reader_delete(&reader);
    EXPECT_EQ(alloc.live(), 0u);
    EXPECT_EQ(alloc.foreign_releases, 0u);
}

// ---------------------------------------------------------------- what a size may cost

TEST(ChunkSize, OtherFileWithAHugeFirstSizeIsToldItIsNoRealMedia)
{
    for (uint32_t size : {5000000u, 0xFFFFFFFFu, 9u}) {
        SCOPED_TRACE(size);
        RmWriter w;
        w.chunk(rmtest::fourcc("RIFF"), Bytes(200, 0x20), size);
        Opened f(w.bytes());
        EXPECT_EQ(rm_reader_load_headers(f.reader), RM_BAD_FILE);
        ASSERT_EQ(f.log.count(), 1u);
        EXPECT_EQ(f.log.last_code(), RM_BAD_FILE);
        EXPECT_EQ(f.log.last_message(), kNotRmf);
        EXPECT_LE(f.alloc.largest_request, std::max<uint32_t>(sizeof(rm_reader), 256));
    }
}

// The reader's own fixed costs are the handle and the first 256-byte read
// buffer; a size field claiming more than the file holds buys nothing more.
TEST(ChunkSize, ClaimedSizeAllocatesNoMoreThanTheFileHolds)
{
    RmWriter w;
    rmtest::MdprChunk mdpr = rmtest::video_mdpr(0);
    mdpr.size = 4u * 1024 * 1024;
    w.rmf().prop().mdpr(mdpr).data().packet(make_packet(0, 0, 8, true));
    Bytes file = w.bytes();
    file.resize(175);
    {
        Opened f(file);
        EXPECT_EQ(rm_reader_load_headers(f.reader), RM_READ_FAILED);
        EXPECT_EQ(f.log.last_message(), kChunkData);
        ASSERT_GE(f.alloc.request_sizes.size(), 2u);
        EXPECT_EQ(f.alloc.request_sizes[0], sizeof(rm_reader));
        EXPECT_EQ(f.alloc.request_sizes[1], 256u);
        for (size_t i = 2; i < f.alloc.request_sizes.size(); ++i) {
            EXPECT_LT(f.alloc.request_sizes[i], file.size()) << "request " << i;
        }
    }
    // A larger file: the buffer grows with what arrives, to at most twice it.
    mdpr.type_specific = Bytes(100000, 0x33);
    mdpr.size = 4u * 1024 * 1024;
    RmWriter big;
    big.rmf().prop().mdpr(mdpr);
    Opened f(big.bytes());
    EXPECT_EQ(rm_reader_load_headers(f.reader), RM_READ_FAILED);
    EXPECT_EQ(f.log.last_message(), kChunkData);
    EXPECT_LT(f.alloc.largest_request, 2 * big.offset());
}

}  // namespace
