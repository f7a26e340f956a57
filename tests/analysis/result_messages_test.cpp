// The pieces of the texts that tell the user how a file ended.
#include "analysis/result_messages.h"

#include <gtest/gtest.h>

namespace {

TEST(EndingTextsTest, TimesAndOffsets) {
    char text[32];
    // Minutes go on past the hour, as on the chart's time axis.
    FormatMinutesSeconds(3600999, text, sizeof text);
    EXPECT_STREQ("60:00", text);
    FormatMinutesSeconds(UINT32_MAX, text, sizeof text);
    EXPECT_STREQ("71582:47", text);
    FormatHoursMinutes(19999u * 1001u, text, sizeof text);  // a full series
    EXPECT_STREQ("5 h 33 min", text);
    for (const auto& c : {std::make_pair(uint64_t{999}, "999"), std::make_pair(uint64_t{1000}, "1,000"),
                          std::make_pair(uint64_t{100000000}, "100,000,000"),
                          std::make_pair(UINT64_MAX, "18,446,744,073,709,551,615")}) {
        FormatThousands(c.first, text, sizeof text);
        EXPECT_STREQ(c.second, text);
    }
    char small[4];
    FormatThousands(1234567, small, sizeof small);  // cut short, still terminated
    EXPECT_STREQ("1,2", small);
}

// The templates come from the string table: whatever one says, it cannot
// make the filling read past its values or write past its buffer.
TEST(EndingTextsTest, TemplatesTakeTheirValuesAndNothingElse) {
    const char* const values[] = {"2:14", "1,234,567"};
    struct Case {
        const char* text_template;
        size_t value_count;
        const char* text;
    };
    const Case cases[] = {
        {"after %1 (byte %2).", 2, "after 2:14 (byte 1,234,567)."},
        {"%2 before %1%1", 2, "1,234,567 before 2:142:14"},
        {"%3 and %2", 2, "%3 and 1,234,567"},
        {"%2", 1, "%2"},
        {"100%% of %1, %s %d %", 2, "100% of 2:14, %s %d %"},
    };
    for (const Case& c : cases) {
        char text[64];
        FillTextTemplate(c.text_template, values, c.value_count, text, sizeof text);
        EXPECT_STREQ(c.text, text) << c.text_template;
    }
    char small[8];
    FillTextTemplate("after %1 (byte %2)", values, 2, small, sizeof small);
    EXPECT_STREQ("after 2", small);
    FillTextTemplate(nullptr, values, 2, small, sizeof small);
    EXPECT_STREQ("", small);
}

}  // namespace
