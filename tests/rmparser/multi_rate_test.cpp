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
const char* const LAYOUT_NAMES[] = {"chained", "back to back", "mixed"};
const DataLayout LAYOUTS[] = {DataLayout::CHAINED, DataLayout::BACK_TO_BACK, DataLayout::MIXED};

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

bool operator==(const Seen& a, const Seen& b) {
    return a.stream == b.stream && a.timestamp == b.timestamp && a.flags == b.flags &&
           (!(a.has_rule || b.has_rule) || a.rule == b.rule) && a.header_at == b.header_at &&
           a.payload_at == b.payload_at && a.length == b.length &&
           (a.payload.empty() || b.payload.empty() || a.payload == b.payload);
}

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << "{s" << s.stream << " t" << s.timestamp << " f" << int(s.flags) << " r" << s.rule << " @"
              << s.header_at << " n" << s.length << "}";
}

// What the writer wrote, in file order: chunk after chunk, each stream's
// packets, for the streams `keep` holds (as stream index -> written stream).
std::vector<Seen> written(const MultiRate& m, const std::vector<size_t>& keep, int32_t only = -1) {
    std::vector<Seen> list;
    for (size_t at : m.data_offsets) {
        for (size_t index = 0; index < keep.size(); ++index) {
            const WrittenStream& s = m.streams[keep[index]];
            if (s.data_offset != at || (only != -1 && size_t(only) != index)) continue;
            for (const WrittenPacket& p : s.packets) {
                Seen seen;
                seen.stream = uint16_t(index);
                seen.timestamp = p.timestamp;
                seen.flags = p.keyframe ? RM_PACKET_KEYFRAME : 0;
                seen.has_rule = p.version == 1;
                seen.rule = p.rule;
                seen.header_at = p.offset;
                seen.payload_at = uint32_t(p.offset + (p.version == 1 ? 13 : 12));
                seen.length = uint32_t(p.payload.size());
                seen.payload = p.payload;
                list.push_back(seen);
            }
        }
    }
    return list;
}

std::vector<size_t> every_stream(const MultiRate& m) {
    std::vector<size_t> keep;
    for (size_t i = 0; i < m.streams.size(); ++i) keep.push_back(i);
    return keep;
}

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

size_t chunk_end(const Bytes& file, size_t at) { return at + get_u32(file, at + 4); }

TEST(MultiRate, EveryStreamKeptReadsEveryPacketOfEveryDataChunk) {
    for (size_t l = 0; l < 3; ++l) {
        for (bool compatible : {false, true}) {
            SCOPED_TRACE(testing::Message() << LAYOUT_NAMES[l] << (compatible ? ", compatible stream" : ""));
            MultiRatePlan plan;
            plan.layout = LAYOUTS[l];
            plan.compatible_stream = compatible;
            const MultiRate m = multi_rate_writer(plan);
            const Bytes file = m.writer.bytes();
            const std::vector<size_t> keep = every_stream(m);
            for (int32_t selector : {-1, -2, 1, int32_t(keep.size()) - 1}) {
                SCOPED_TRACE(selector);
                ReaderFixture h(file);
                ASSERT_EQ(rm_reader_keep_every_stream(h.reader, 1), RM_OK);
                ASSERT_EQ(h.load(), RM_OK);
                ASSERT_EQ(rm_reader_stream_count(h.reader), keep.size());
                for (uint32_t i = 0; i < keep.size(); ++i) {
                    rm_stream_header* header = nullptr;
                    ASSERT_EQ(rm_reader_fetch_stream_header(h.reader, i, &header), RM_OK);
                    EXPECT_EQ(rm_stream_header_get_mime_type(header), m.streams[i].mime_type);
                    EXPECT_EQ(rm_stream_header_get_max_packet_size(header), m.streams[i].max_packet_size);
                    rm_reader_release_stream_header(h.reader, &header);
                }
                rm_result end = RM_OK;
                std::vector<Seen> expected = written(m, keep, selector < 0 ? -1 : selector);
                if (selector == -2) {
                    for (Seen& s : expected) s.payload.clear();
                }
                EXPECT_EQ(read_all(h.reader, selector, &end), expected);
                EXPECT_EQ(end, RM_END_OF_DATA);
                EXPECT_EQ(rm_reader_packet_offset(h.reader), chunk_end(file, m.data_offsets.back()));
                EXPECT_EQ(h.log.last_message(), HEADER_MESSAGE);
            }
        }
    }
}

// Without the call: the backwards-compatible stream alone, its packets, and
// only the DATA chunks a chain reaches. (Read by its selector or as every
// kept stream's headers: with selector -1 a dropped stream's packet is
// damage, as ever.)
TEST(MultiRate, DefaultSelectionIsAsEver) {
    for (size_t l = 0; l < 3; ++l) {
        SCOPED_TRACE(LAYOUT_NAMES[l]);
        MultiRatePlan plan;
        plan.layout = LAYOUTS[l];
        plan.compatible_stream = true;
        const MultiRate m = multi_rate_writer(plan);
        const Bytes file = m.writer.bytes();
        for (int32_t selector : {0, -2}) {
            SCOPED_TRACE(selector);
            ReaderFixture h(file);
            if (selector == 0) ASSERT_EQ(rm_reader_keep_every_stream(h.reader, 0), RM_OK);
            ASSERT_EQ(h.load(), RM_OK);
            ASSERT_EQ(rm_reader_stream_count(h.reader), 1u);
            rm_stream_rate rate;
            ASSERT_EQ(rm_reader_stream_rate(h.reader, 0, &rate), RM_OK);
            EXPECT_EQ(rate.claimed, 0);
            EXPECT_EQ(rate.logical_mime_type, nullptr);
            rm_result end = RM_OK;
            std::vector<Seen> expected = written(m, {m.streams.size() - 1});
            if (selector == -2) {
                for (Seen& s : expected) s.payload.clear();
            }
            EXPECT_EQ(read_all(h.reader, selector, &end), expected);
            EXPECT_EQ(end, RM_END_OF_DATA);
            // The chain ends after the last chunk, the second (the first
            // chained to it) or the first: the chunk after is not entered.
            const size_t last = LAYOUTS[l] == DataLayout::CHAINED ? m.data_offsets.size() - 1
                                : LAYOUTS[l] == DataLayout::MIXED ? 1
                                                                  : 0;
            EXPECT_EQ(rm_reader_packet_offset(h.reader), chunk_end(file, m.data_offsets[last]));
        }
    }
    ReaderFixture h(multi_rate_writer().writer.bytes());
    EXPECT_EQ(h.load(), RM_BAD_FILE);
    EXPECT_EQ(h.log.last_message(), "Unsupported file (SureStream file with no backwards-compatible streams)");
}

TEST(MultiRate, StreamRatesSayWhatEachStreamIs) {
    MultiRatePlan plan;
    plan.compatible_stream = true;
    const MultiRate m = multi_rate_writer(plan);
    ReaderFixture h(m.writer.bytes());
    ASSERT_EQ(rm_reader_keep_every_stream(h.reader, 1), RM_OK);
    ASSERT_EQ(h.load(), RM_OK);
    ASSERT_EQ(rm_reader_stream_count(h.reader), 6u);
    for (uint32_t i = 0; i < m.streams.size(); ++i) {
        const WrittenStream& s = m.streams[i];
        SCOPED_TRACE(s.stream_number);
        rm_stream_rate rate;
        ASSERT_EQ(rm_reader_stream_rate(h.reader, i, &rate), RM_OK);
        EXPECT_EQ(rate.claimed, s.logical_mime_type.empty() ? 0 : 1);
        EXPECT_EQ(rate.logical_mime_type ? std::string(rate.logical_mime_type) : "", s.logical_mime_type);
        EXPECT_EQ(rate.logical_stream_number, s.logical_stream_number);
        EXPECT_EQ(rate.rate, s.rate);
        EXPECT_EQ(rate.rate_count, s.rate_count);
        EXPECT_EQ(rate.rule_count, s.rule_count);
        EXPECT_EQ(rate.average_bandwidth, s.logical_mime_type.empty() ? 0 : s.average_bandwidth);
    }
    rm_stream_rate rate;
    EXPECT_EQ(rm_reader_stream_rate(h.reader, 6, &rate), RM_FAIL);
    EXPECT_EQ(rm_reader_stream_rate(h.reader, 0, nullptr), RM_FAIL);
    EXPECT_EQ(rm_reader_stream_rate(nullptr, 0, &rate), RM_FAIL);
    EXPECT_EQ(rm_reader_keep_every_stream(nullptr, 1), RM_FAIL);

    // The setting holds for the next load; a file without logical streams
    // then has every stream unclaimed, and the MIME types of the last are gone.
    h.attach(simple_file({video_mdpr(0), audio_mdpr(1)}, {make_packet(0, 0, 10, true)}));
    ASSERT_EQ(h.load(), RM_OK);
    ASSERT_EQ(rm_reader_stream_count(h.reader), 2u);
    ASSERT_EQ(rm_reader_stream_rate(h.reader, 1, &rate), RM_OK);
    EXPECT_EQ(rate.claimed, 0);
    // A file with nothing but logical MDPRs has no stream to keep.
    LogicalStream claims;
    claims.physical_streams = {0};
    h.attach(simple_file({logical_mdpr(0, claims, "logical-video/x-pn-realvideo"), logical_mdpr(1, {})}, {}));
    EXPECT_EQ(h.load(), RM_BAD_FILE);
    EXPECT_EQ(h.log.last_message(), "Unsupported file (no stream besides logical ones)");
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

// Every allocation of a load with every stream kept refused in turn: none
// leaves anything behind (the fixture counts the blocks).
TEST(MultiRate, RefusedAllocationsLeakNothing) {
    const Bytes file = multi_rate_writer().writer.bytes();
    for (uint32_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        ReaderFixture h(file);
        ASSERT_EQ(rm_reader_keep_every_stream(h.reader, 1), RM_OK);
        h.alloc.fail_nth(h.alloc.requests + n);
        const rm_result result = h.load();
        if (h.alloc.failures == 0) {
            EXPECT_EQ(result, RM_OK);
            break;
        }
        // Only the advisory property lists may come out short; whatever
        // tells streams apart is there whole or the load fails.
        if (result == RM_OK) {
            rm_stream_rate rate;
            ASSERT_EQ(rm_reader_stream_count(h.reader), 5u);
            ASSERT_EQ(rm_reader_stream_rate(h.reader, 4, &rate), RM_OK);
            EXPECT_STREQ(rate.logical_mime_type, "logical-audio/x-pn-realaudio");
        }
    }
}

}  // namespace
