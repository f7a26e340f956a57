// Multi-rate files with every physical stream kept: selection, what each stream is, every DATA chunk's packets.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/rm_reader_fixture.h"

namespace {

using namespace rmtest;

const char HEADER_MESSAGE[] = "Could not read packet header.";
const char CHAIN_MESSAGE[] = "Could not read the next DATA chunk header.";

// One packet as the reader delivered it, or as the writer says it wrote it.
struct Seen {
    uint16_t stream = 0;
    uint32_t timestamp = 0;
    uint8_t flags = 0;
    uint16_t rule = 0;        // compared for version 1 packets only
    bool has_rule = false;    // on the writer's side: a version 1 packet
    uint64_t header_at = 0;   // rm_reader_packet_offset
    uint32_t payload_at = 0;  // file_offset
    uint32_t length = 0;
    Bytes payload;  // empty when read without payloads
};

// Every packet up to a non-zero result, which lands in `end`: with payloads
// through a selector, or (selector -2) every kept stream's headers alone.
std::vector<Seen> read_all(rm_reader* reader, int32_t selector, rm_result* end) {
    std::vector<Seen> list;
    for (int guard = 0; guard < 10000; ++guard) {
        Seen seen;
        rm_packet header = {};
        rm_packet* packet = &header;
        *end = selector == -2 ? rm_reader_next_packet_header(reader, &header, -1)
                              : rm_reader_next_packet(reader, &packet, selector);
        if (*end != RM_OK) return list;
        seen.stream = packet->stream;
        seen.timestamp = packet->timestamp;
        seen.flags = packet->flags;
        seen.rule = packet->asm_rule_number;
        EXPECT_EQ(packet->asm_rule, packet->asm_rule_number < 256 ? packet->asm_rule_number : 255);
        seen.header_at = rm_reader_packet_offset(reader);
        seen.payload_at = packet->file_offset;
        seen.length = packet->length;
        if (packet->data) seen.payload.assign(packet->data, packet->data + packet->length);
        if (selector != -2) rm_reader_release_packet(reader, &packet);
        list.push_back(seen);
    }
    ADD_FAILURE() << "the reader never stopped";
    return list;
}

// How rule books and rule maps are read: the bandwidth of each stream is the
// largest that its rules name; a map entry past the physical streams, or a
// rule past the book, names nothing; the first claim of a stream holds.
TEST(MultiRate, RuleBooksNameEachStreamsBandwidth) {
    struct Logical {
        std::vector<uint16_t> physical;
        std::vector<uint16_t> rule_map;
        std::string book;  // "" for no rule book property
    };
    struct Rate {
        uint16_t logical;  // 0: unclaimed, else the logical MDPR's number (10 + its place in the case)
        uint16_t rate, rate_count, rules;
        uint32_t bandwidth;
    };
    const struct {
        const char* what;
        std::vector<Logical> logical;
        std::vector<Rate> rates;  // streams 0, 1, 2
    } cases[] = {
        {"quoted, any case, blanks",
         {{{0, 1},
           {0, 0, 1},
           "#($Bandwidth >= 1000),averagebandwidth = \"1000\";AverageBandwidth=0, OnDepend=\"0\"; "
           " AVERAGEBANDWIDTH=2500 ,Priority=5;"}},
         {{10, 1, 2, 2, 1000}, {10, 2, 2, 1, 2500}, {0, 0, 0, 0, 0}}},
        {"separators within quotes",
         {{{0, 1}, {0, 1}, "Name=\"a;b,AverageBandwidth=9\",AverageBandwidth=700;AverageBandwidth=800"}},
         {{10, 1, 2, 1, 700}, {10, 2, 2, 1, 800}, {0, 0, 0, 0, 0}}},
        {"the largest of several, saturated",
         {{{2}, {0, 0, 0, 0}, "AverageBandwidth=5000;AverageBandwidth=7000;AverageBandwidth=0;"},
          {{0}, {0}, "AverageBandwidth=99999999999;"}},
         {{11, 1, 1, 1, UINT32_MAX}, {0, 0, 0, 0, 0}, {10, 1, 1, 4, 7000}}},
        {"a short book, places past the streams",
         {{{0, 1}, {0, 1, 7, 2}, "AverageBandwidth=300;"}},
         {{10, 1, 2, 1, 300}, {10, 2, 2, 1, 0}, {0, 0, 0, 0, 0}}},
        {"no rule book", {{{1, 0}, {0, 1, 1}, ""}}, {{10, 2, 2, 2, 0}, {10, 1, 2, 1, 0}, {0, 0, 0, 0, 0}}},
        {"the first claim holds",
         {{{0, 1, 0}, {0, 1, 2}, "AverageBandwidth=100;AverageBandwidth=200;AverageBandwidth=150;"},
          {{1, 2}, {0, 1}, "AverageBandwidth=900;AverageBandwidth=950;"}},
         {{10, 1, 3, 2, 150}, {10, 2, 3, 1, 200}, {11, 2, 2, 1, 950}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<MdprChunk> mdprs = {video_mdpr(0), video_mdpr(1), video_mdpr(2)};
        for (size_t k = 0; k < c.logical.size(); ++k) {
            LogicalStream ls;
            ls.physical_streams = c.logical[k].physical;
            ls.rule_map = c.logical[k].rule_map;
            if (!c.logical[k].book.empty()) ls.properties = {nv_string("ASMRuleBook", c.logical[k].book)};
            mdprs.push_back(logical_mdpr(uint16_t(10 + k), ls, "logical-video/x-pn-realvideo"));
        }
        PropChunk prop;
        prop.stream_count = 20;  // room for the numbers 10 and 11
        RmWriter w;
        w.rmf().prop(prop);
        for (const MdprChunk& mdpr : mdprs) w.mdpr(mdpr);
        w.data().packet(make_packet(0, 0, 10, true));
        ReaderFixture h(w.bytes());
        ASSERT_EQ(rm_reader_keep_every_stream(h.reader, 1), RM_OK);
        ASSERT_EQ(h.load(), RM_OK);
        ASSERT_EQ(rm_reader_stream_count(h.reader), 3u);
        const std::vector<Rate>& rates = c.rates;
        for (uint32_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            rm_stream_rate got;
            ASSERT_EQ(rm_reader_stream_rate(h.reader, i, &got), RM_OK);
            EXPECT_EQ(got.claimed, rates[i].logical != 0 ? 1 : 0);
            EXPECT_EQ(got.logical_stream_number, rates[i].logical);
            EXPECT_EQ(got.rate, rates[i].rate);
            EXPECT_EQ(got.rate_count, rates[i].rate_count);
            EXPECT_EQ(got.rule_count, rates[i].rules);
            EXPECT_EQ(got.average_bandwidth, rates[i].bandwidth);
        }
    }
}

// With every stream kept, the DATA chunks that no chain names: one right
// after a chunk without a declared end, one that a logical stream header
// names beyond an index, a named one the file no longer holds, a head cut
// within its id. The default selection, which keeps stream 0 alone, enters
// none of them.
TEST(MultiRate, UnchainedDataChunks) {
    enum class After { NOTHING, INDEX, CUT_HEAD };
    const struct {
        const char* what;
        bool every;
        std::optional<uint32_t> first_size;  // the first DATA head's (default: its packets)
        After between;
        int named;         // what the logical header names: 0 none, 1 the second chunk, 2 past the file, 3 the index
        size_t delivered;  // of the four packets
        rm_result end;
        int stopped;  // where: 1 the first chunk's end, 2 the second's, 3 the named offset
        const char* message;
    } cases[] = {
        {"back to back", true, {}, After::NOTHING, 0, 4, RM_END_OF_DATA, 2, HEADER_MESSAGE},
        {"back to back, default", false, {}, After::NOTHING, 1, 2, RM_END_OF_DATA, 1, HEADER_MESSAGE},
        {"after no declared end", true, 0u, After::NOTHING, 0, 4, RM_END_OF_DATA, 2, HEADER_MESSAGE},
        {"named beyond an index", true, {}, After::INDEX, 1, 4, RM_END_OF_DATA, 2, HEADER_MESSAGE},
        {"beyond an index, unnamed", true, {}, After::INDEX, 0, 2, RM_END_OF_DATA, 1, HEADER_MESSAGE},
        {"named beyond an index, default", false, {}, After::INDEX, 1, 2, RM_END_OF_DATA, 1, HEADER_MESSAGE},
        {"named in the index", true, {}, After::INDEX, 3, 2, RM_END_OF_DATA, 1, HEADER_MESSAGE},
        {"named past the file", true, {}, After::INDEX, 2, 2, RM_READ_FAILED, 3, CHAIN_MESSAGE},
        {"a head cut within its id", true, {}, After::CUT_HEAD, 0, 2, RM_READ_FAILED, 1, CHAIN_MESSAGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file;
        size_t first_end = 0, second = 0, index = 0;
        for (int pass = 0; pass < 2; ++pass) {
            LogicalStream ls;
            ls.physical_streams = {1};
            const uint32_t named = c.named == 1 ? uint32_t(second) : c.named == 2 ? 100000u : uint32_t(index + 4);
            ls.data_offsets = {c.named == 0 ? 0u : named};
            RmWriter w;
            w.rmf()
                .prop()
                .mdpr(video_mdpr(0))
                .mdpr(video_mdpr(1))
                .mdpr(logical_mdpr(2, ls, "logical-video/x-pn-realvideo"));
            w.data(DataChunk(0, {}, 0, c.first_size));
            w.packet(make_v1_packet(0, 0, 30, 1, true)).packet(make_v1_packet(0, 100, 20, 2));
            first_end = w.offset();
            index = w.offset();
            if (c.between == After::INDEX) w.indx(2);
            second = w.offset();
            w.data().packet(make_v1_packet(1, 0, 40, 1, true)).packet(make_v1_packet(1, 100, 25, 2));
            file = w.bytes();
        }
        if (c.between == After::CUT_HEAD) file.resize(second + 2);
        ReaderFixture h(file);
        ASSERT_EQ(rm_reader_keep_every_stream(h.reader, c.every ? 1 : 0), RM_OK);
        ASSERT_EQ(h.load(), RM_OK);
        rm_result end = RM_OK;
        const std::vector<Seen> seen = read_all(h.reader, -1, &end);
        EXPECT_EQ(seen.size(), c.delivered);
        if (seen.size() == 4) EXPECT_EQ(seen[2].header_at, second + 18);
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(h.log.last_message(), c.message);
        const uint64_t stopped = c.stopped == 1 ? first_end : c.stopped == 2 ? file.size() : 100000u;
        EXPECT_EQ(rm_reader_packet_offset(h.reader), c.between == After::CUT_HEAD ? second : stopped);
    }
}

}  // namespace
