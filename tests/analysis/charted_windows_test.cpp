// The charted windows: what is kept of a series, how a later measurement is
// matched against them, and which window lies under which column of the plot.
#include "analysis/charted_windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "analysis/analysis_run.h"

namespace {

// Windows i = 0 .. count-1 starting at i * step ms, kbps 10 + i.
std::vector<BitrateSample> Windows(uint32_t count, uint32_t step) {
    std::vector<BitrateSample> windows;
    for (uint32_t i = 0; i < count; ++i) windows.push_back({i * step, 10 + i});
    return windows;
}

void Chart(const std::vector<BitrateSample>& windows) {
    std::memset(BitrateSeries, 0, sizeof BitrateSeries);
    for (size_t i = 0; i < windows.size(); ++i) BitrateSeries[i] = windows[i];
    KeepChartedWindows();
}

class ChartedWindowsTest : public testing::Test {
protected:
    void SetUp() override { std::memset(&ChartedWindows, 0, sizeof ChartedWindows); }
};

TEST_F(ChartedWindowsTest, KeepsTheSeriesAsTheChartReadsIt) {
    Chart({{0, 300}, {1100, 500}, {2210, 400}});
    BitrateSeries[4] = {5000, 9};  // beyond the end marker
    KeepChartedWindows();
    ASSERT_EQ(3u, ChartedWindows.count);
    EXPECT_EQ(2210u, ChartedWindows.windows[2].start_ms);
    EXPECT_EQ(400u, ChartedWindows.windows[2].kbps);

    // A run that stored nothing is charted as one empty window.
    Chart({});
    EXPECT_EQ(1u, ChartedWindows.count);

    // A full series: every stored entry, up to the end marker that stays.
    Chart(Windows(BITRATE_SERIES_SIZE - 1, 1001));
    EXPECT_EQ(uint32_t(BITRATE_SERIES_SIZE - 1), ChartedWindows.count);

    // A new chart forgets the keyframes of the last.
    const uint32_t keyframes[] = {1, 0, 2};
    Chart(Windows(3, 1001));
    ASSERT_TRUE(NoteChartedKeyframes(keyframes, 3));
    Chart(Windows(3, 1001));
    EXPECT_EQ(0, ChartedWindows.keyframes_known);
    EXPECT_EQ(0, ChartedWindows.keyframe[0]);
}

TEST_F(ChartedWindowsTest, MatchesOnlyTheSameWindows) {
    EXPECT_FALSE(ChartShowsWindows(nullptr, 0));  // nothing charted yet
    const std::vector<BitrateSample> charted = {{0, 300}, {1100, 500}, {2210, 400}};
    Chart(charted);
    struct Case {
        const char* name;
        std::vector<BitrateSample> windows;
        bool match;
    };
    const Case cases[] = {
        {"the same", charted, true},
        {"one kbps differs", {{0, 300}, {1100, 501}, {2210, 400}}, false},
        {"one start differs", {{0, 300}, {1101, 500}, {2210, 400}}, false},
        {"one window less", {{0, 300}, {1100, 500}}, false},
        {"one window more", {{0, 300}, {1100, 500}, {2210, 400}, {3300, 1}}, false},
        {"none", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.match, ChartShowsWindows(c.windows.data(), uint32_t(c.windows.size())));
    }

    // No stored window is what the chart shows as its one empty window.
    Chart({});
    EXPECT_TRUE(ChartShowsWindows(nullptr, 0));
    const BitrateSample empty = {0, 0};
    EXPECT_TRUE(ChartShowsWindows(&empty, 1));
    Chart({{0, 7}});
    EXPECT_FALSE(ChartShowsWindows(nullptr, 0));
}

TEST_F(ChartedWindowsTest, KeyframesAreMarkedOnlyForTheChartedCount) {
    const uint32_t keyframes[] = {0, 3, 1, 0};
    EXPECT_FALSE(NoteChartedKeyframes(keyframes, 4));  // nothing charted yet
    Chart(Windows(4, 1001));
    EXPECT_FALSE(NoteChartedKeyframes(keyframes, 3));
    EXPECT_EQ(0, ChartedWindows.keyframes_known);
    ASSERT_TRUE(NoteChartedKeyframes(keyframes, 4));
    EXPECT_EQ(1, ChartedWindows.keyframes_known);
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 1, 0}),
              std::vector<uint8_t>(ChartedWindows.keyframe, ChartedWindows.keyframe + 4));

    Chart({});
    EXPECT_TRUE(NoteChartedKeyframes(nullptr, 0));
    EXPECT_EQ(0, ChartedWindows.keyframe[0]);
}

// Three windows on a plot 700 wide: six points at columns 0, 140, 280, 420,
// 560, 700; window k owns points 2k and 2k + 1.
TEST_F(ChartedWindowsTest, UpTo512WindowsTheNearestPointDecides) {
    Chart(Windows(3, 1100));
    struct Case {
        int column;
        int32_t window;
    };
    const Case cases[] = {
        {-5, 0},  {0, 0},   {140, 0}, {210, 0},  // halfway between points 1 and 2: the left one
        {211, 1}, {350, 1}, {490, 1}, {491, 2}, {700, 2}, {750, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.window, ChartedWindowAtColumn(c.column, 700)) << "column " << c.column;
    }
    EXPECT_EQ(70, ChartedWindowColumn(0, 700));
    EXPECT_EQ(350, ChartedWindowColumn(1, 700));
    EXPECT_EQ(630, ChartedWindowColumn(2, 700));
    EXPECT_EQ(-1, ChartedWindowAtColumn(10, 0));

    // One window spans the plot; its mark is in the middle.
    Chart({});
    EXPECT_EQ(0, ChartedWindowAtColumn(0, 700));
    EXPECT_EQ(0, ChartedWindowAtColumn(700, 700));
    EXPECT_EQ(350, ChartedWindowColumn(0, 700));

    // 512 windows, as wide as a screen: every window's mark lies under it.
    Chart(Windows(512, 1001));
    for (uint32_t i = 0; i < 512; ++i) {
        ASSERT_EQ(int32_t(i), ChartedWindowAtColumn(ChartedWindowColumn(i, 3000), 3000)) << i;
    }
    EXPECT_EQ(511, ChartedWindowAtColumn(3000, 3000));
}

// 600 windows every 1001 ms: buckets, and the columns a time axis up to the
// last start, 599599 ms.
TEST_F(ChartedWindowsTest, BeyondThatTheNearestStartDecides) {
    Chart(Windows(600, 1001));
    struct Case {
        int column;
        int32_t window;
    };
    const Case cases[] = {
        {0, 0},
        {1, 1},  // 599.6 ms: nearer 1001 than 0
        // 299799.5 ms lies halfway between the starts of windows 299 and 300:
        // the earlier one.
        {500, 299},
        {501, 300},
        {1000, 599},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.window, ChartedWindowAtColumn(c.column, 1000)) << "column " << c.column;
    }
    // Window 300 (300300 ms) falls in bucket 512 of 1024, drawn at
    // 512 x 1000 / 1023.
    EXPECT_EQ(500, ChartedWindowColumn(300, 1000));
    EXPECT_EQ(0, ChartedWindowColumn(0, 1000));
    EXPECT_EQ(1000, ChartedWindowColumn(599, 1000));
}

TEST_F(ChartedWindowsTest, NothingChartedHasNoWindowUnderAnyColumn) {
    EXPECT_EQ(-1, ChartedWindowAtColumn(0, 700));
    EXPECT_EQ(0, ChartedWindowColumn(0, 700));
}

}  // namespace
