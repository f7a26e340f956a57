// Multi-rate files with every physical stream kept: selection, what each stream is, every DATA chunk's packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/rm_reader_fixture.h"

namespace {

using namespace rmtest;

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

}  // namespace
