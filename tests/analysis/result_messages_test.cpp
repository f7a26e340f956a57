// The pieces of the texts that tell the user how a file ended.
#include "analysis/result_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EndingTextsTest, MediaTimes) {
    struct Case {
        uint32_t ms;
        const char* minutes_seconds;
        const char* hours_minutes;
    };
    const Case cases[] = {
        {0, "0:00", "0 h 0 min"},
        {999, "0:00", "0 h 0 min"},
        {134467, "2:14", "0 h 2 min"},
        {3599999, "59:59", "0 h 59 min"},
        // Minutes go on past the hour, as on the chart's time axis.
        {3600000, "60:00", "1 h 0 min"},
        // 19999 windows of 1001 ms: what a full series charts.
        {19999u * 1001u, "333:38", "5 h 33 min"},
        {UINT32_MAX, "71582:47", "1193 h 2 min"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        char text[32];
        FormatMinutesSeconds(c.ms, text, sizeof text);
        EXPECT_STREQ(c.minutes_seconds, text);
        FormatHoursMinutes(c.ms, text, sizeof text);
        EXPECT_STREQ(c.hours_minutes, text);
    }
}

TEST(EndingTextsTest, ThousandsSeparators) {
    struct Case {
        uint64_t value;
        const char* text;
    };
    const Case cases[] = {
        {0, "0"},         {999, "999"},           {1000, "1,000"},
        {12345, "12,345"}, {1234567, "1,234,567"}, {100000000, "100,000,000"},
        {UINT64_MAX, "18,446,744,073,709,551,615"},
    };
    for (const Case& c : cases) {
        char text[32];
        FormatThousands(c.value, text, sizeof text);
        EXPECT_STREQ(c.text, text) << c.value;
    }
    // Cut short, still terminated.
    char small[4];
    FormatThousands(1234567, small, sizeof small);
    EXPECT_STREQ("1,2", small);
}

TEST(EndingTextsTest, TemplatesTakeTheirValuesAndNothingElse) {
    const char* const values[] = {"2:14", "1,234,567"};
    struct Case {
        const char* text_template;
        size_t value_count;
        const char* text;
    };
    const Case cases[] = {
        {"The file is damaged after %1 (byte %2).", 2, "The file is damaged after 2:14 (byte 1,234,567)."},
        {"%2 before %1", 2, "1,234,567 before 2:14"},
        {"%1%1", 2, "2:142:14"},
        // A place with no value, and any other '%', stay as written.
        {"%3 and %2", 2, "%3 and 1,234,567"},
        {"%2", 1, "%2"},
        {"100%% of %1, %s %d %", 2, "100% of 2:14, %s %d %"},
        {"", 2, ""},
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
