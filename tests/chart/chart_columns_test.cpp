// Which charted window lies under which column of the plot, and where each one's mark goes.
#include "chart/chart_view.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Windows i = 0 .. count-1 starting at i * step ms, kbps 10 + i.
std::vector<BitrateSample> Windows(uint32_t count, uint32_t step) {
    std::vector<BitrateSample> windows;
    for (uint32_t i = 0; i < count; ++i) windows.push_back({i * step, 10 + i});
    return windows;
}

// A view of these windows, as a charted file's.
struct ChartedWindows {
    explicit ChartedWindows(std::vector<BitrateSample> list) : windows(std::move(list)) {
        view.windows = windows.data();
        view.window_count = uint32_t(windows.size());
    }
    std::vector<BitrateSample> windows;
    ChartView view;
};

// Three windows on a plot 700 wide: six points at columns 0, 140, 280, 420,
// 560, 700; window k owns points 2k and 2k + 1.
TEST(ChartColumns, UpTo512WindowsTheNearestPointDecides) {
    const ChartedWindows three(Windows(3, 1100));
    const ChartView& view = three.view;
    struct Case {
        int column;
        int32_t window;
    };
    const Case cases[] = {
        {-5, 0},  {0, 0},   {140, 0}, {210, 0},  // halfway between points 1 and 2: the left one
        {211, 1}, {350, 1}, {490, 1}, {491, 2}, {700, 2}, {750, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.window, ChartedWindowAtColumn(view, c.column, 700)) << "column " << c.column;
    }
    EXPECT_EQ(70, ChartedWindowColumn(view, 0, 700));
    EXPECT_EQ(350, ChartedWindowColumn(view, 1, 700));
    EXPECT_EQ(630, ChartedWindowColumn(view, 2, 700));
    EXPECT_EQ(-1, ChartedWindowAtColumn(view, 10, 0));

    // One window spans the plot; its mark is in the middle.
    const ChartedWindows one({{0, 0}});
    EXPECT_EQ(0, ChartedWindowAtColumn(one.view, 0, 700));
    EXPECT_EQ(0, ChartedWindowAtColumn(one.view, 700, 700));
    EXPECT_EQ(350, ChartedWindowColumn(one.view, 0, 700));

    // 512 windows, as wide as a screen: every window's mark lies under it.
    const ChartedWindows wide(Windows(512, 1001));
    for (uint32_t i = 0; i < 512; ++i) {
        ASSERT_EQ(int32_t(i), ChartedWindowAtColumn(wide.view, ChartedWindowColumn(wide.view, i, 3000), 3000)) << i;
    }
    EXPECT_EQ(511, ChartedWindowAtColumn(wide.view, 3000, 3000));
}

// 600 windows every 1001 ms: buckets, and the columns a time axis up to the
// last start, 599599 ms.
TEST(ChartColumns, BeyondThatTheNearestStartDecides) {
    const ChartedWindows long_series(Windows(600, 1001));
    const ChartView& view = long_series.view;
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
        EXPECT_EQ(c.window, ChartedWindowAtColumn(view, c.column, 1000)) << "column " << c.column;
    }
    // Window 300 (300300 ms) falls in bucket 512 of 1024, drawn at
    // 512 x 1000 / 1023.
    EXPECT_EQ(500, ChartedWindowColumn(view, 300, 1000));
    EXPECT_EQ(0, ChartedWindowColumn(view, 0, 1000));
    EXPECT_EQ(1000, ChartedWindowColumn(view, 599, 1000));
}

TEST(ChartColumns, NothingChartedHasNoWindowUnderAnyColumn) {
    const ChartView nothing;
    EXPECT_EQ(-1, ChartedWindowAtColumn(nothing, 0, 700));
    EXPECT_EQ(0, ChartedWindowColumn(nothing, 0, 700));
}

}  // namespace
