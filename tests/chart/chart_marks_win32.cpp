// What the chart draws over its picture on request, on memory canvases: the
// keyframe ticks and the readout, where they go and that they touch nothing
// else, and which window the readout takes for a pointer position.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "chart/chart_view.h"
#include "chart/chart_win32.h"
#include "chart_test_support_win32.h"

using namespace chart_test;

namespace {

const COLORREF CYAN = 0x00FFFF00;

// Charts `count` windows starting every `step` ms (kbps 40 + i), with
// keyframes in the windows listed.
void ChartWindows(uint32_t count, uint32_t step, const std::vector<uint32_t>& with_keyframes) {
    std::vector<BitrateSample> windows;
    for (uint32_t i = 0; i < count; ++i) windows.push_back({i * step, 40 + i});
    std::vector<uint32_t> keyframes(count, 0);
    for (uint32_t i : with_keyframes) keyframes[i] = 1;
    ChartTestWindows(windows, keyframes);
    LoadChart(40 + count, (count - 1) * step, 40, {});
}

// Eight windows on a canvas 904 x 400 (plot 700 wide, time axis at y = 332):
// 16 points at j x 700 / 15; window i's tick in the middle of points 2i and
// 2i + 1.
TEST(ChartKeyframeTicks, LieBetweenTheTimeTicksAndTheirLabelsUnderTheirWindows) {
    ChartWindows(8, 1250, {0, 2, 5});
    Canvas chart(904, 400);
    DrawChartSteps(chart);
    Canvas marked(904, 400);
    DrawChartSteps(marked);
    const RECT rect = marked.rect();
    EXPECT_EQ(1, DrawKeyframeTicks(marked.dc(), &rect, TestView()));

    // Points 0 and 1 at 0 and 46, 4 and 5 at 186 and 233, 10 and 11 at 466
    // and 513.
    const std::vector<int> columns = {110 + 23, 110 + 209, 110 + 489};
    for (int y = 338; y <= 341; ++y) EXPECT_EQ(columns, marked.ColumnsOfColor(y, CYAN)) << y;
    // One row clear of the time ticks (332 to 336), ending above the time
    // labels (from 342): every changed pixel is a tick's.
    const std::vector<POINT> changed = marked.Differences(chart);
    EXPECT_EQ(columns.size() * 4, changed.size());
    for (const POINT& p : changed) {
        EXPECT_EQ(CYAN, marked.Pixel(p.x, p.y));
        EXPECT_GE(p.y, 338);
        EXPECT_LE(p.y, 341);
    }
}

// 2000 windows every 1001 ms: the points are buckets of start times, and a
// tick lies under its window's bucket, at b x 700 / 1023.
TEST(ChartKeyframeTicks, UnderTheirBucketsInALongSeries) {
    ChartWindows(2000, 1001, {0, 100, 101, 350, 1999});
    Canvas marked(904, 400);
    DrawChartSteps(marked);
    const RECT rect = marked.rect();
    DrawKeyframeTicks(marked.dc(), &rect, TestView());
    // Buckets 0, 51 (windows 100 and 101 share it), 179 and 1023.
    EXPECT_EQ((std::vector<int>{110, 110 + 34, 110 + 122, 110 + 700}), marked.ColumnsOfColor(340, CYAN));
}

TEST(ChartKeyframeTicks, NothingWhileTheKeyframesAreUnknownOrThePlotHasNoWidth) {
    ChartWindows(8, 1250, {1});
    Canvas narrow(200, 400);
    narrow.Fill(BACKGROUND);
    RECT rect = narrow.rect();
    DrawKeyframeTicks(narrow.dc(), &rect, TestView());
    EXPECT_EQ(0, narrow.CountColor(CYAN));

    TestView().window_keyframes = nullptr;  // a view whose keyframes are not known
    Canvas canvas(904, 400);
    rect = canvas.rect();
    DrawKeyframeTicks(canvas.dc(), &rect, TestView());
    EXPECT_EQ(0, canvas.CountColor(CYAN));
}

TEST(ChartReadout, TextIsTheWindowsStartAsMinutesAndSecondsAndItsKbps) {
    ChartTestWindows({{0, 300}, {65000, 5}, {20018999, 4294967295u}});
    struct Case {
        uint32_t window;
        const char* text;
    };
    const Case cases[] = {
        {0, "0:00  300 kbps"}, {1, "1:05  5 kbps"}, {2, "333:38  4294967295 kbps"}, {3, ""},  // no such window
    };
    for (const Case& c : cases) {
        char text[64];
        FormatReadout(TestView(), c.window, text, sizeof text);
        EXPECT_STREQ(c.text, text);
    }
}

// Right-aligned 10 pixels in from the right edge, from y = 5, in the band
// above the legend and "(kbps)", which the steps leave as background: the
// picture is the steps' with the window's text written there as the chart
// writes text, and the text's pixels cover background only.
TEST(ChartReadout, InTheTopRightCornerAboveEverythingElse) {
    ChartWindows(8, 1250, {});
    for (int width : {904, 750, 300}) {
        SCOPED_TRACE(width);
        Canvas chart(width, 400);
        DrawChartSteps(chart);
        Canvas read(width, 400);
        DrawChartSteps(read);
        const RECT rect = read.rect();
        EXPECT_EQ(1, DrawReadout(read.dc(), &rect, TestView(), 7));

        Canvas expected(width, 400);
        DrawChartSteps(expected);
        // Window 7 starts at 8750 ms and holds 47 kbps.
        const SIZE extent = DrawChartText(expected, width - 10, 5, TA_RIGHT | TA_TOP, "0:08  47 kbps");
        const std::vector<POINT> wrong = read.Differences(expected);
        EXPECT_TRUE(wrong.empty()) << wrong.size() << " pixels differ, the first at " << wrong[0].x << ", "
                                   << wrong[0].y;

        const std::vector<POINT> changed = read.Differences(chart);
        ASSERT_FALSE(changed.empty());
        for (const POINT& p : changed) {
            EXPECT_EQ(BACKGROUND, chart.Pixel(p.x, p.y)) << p.x << ", " << p.y;
        }
        // The text's line ends above the legend's top, at y = 25.
        EXPECT_LE(5 + extent.cy, 25);
    }
}

TEST(ChartReadout, WindowUnderThePointerOnlyOverThePlot) {
    ChartWindows(3, 1100, {});  // six points on a plot 700 wide: at 110, 250, ..., 810
    const RECT rect = {0, 0, 904, 400};
    struct Case {
        int x, y;
        int window;
    };
    const Case cases[] = {
        {110, 50, 0},   {810, 332, 2},  {460, 200, 1},  // corners and the middle
        {109, 200, -1}, {811, 200, -1}, {460, 49, -1}, {460, 333, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.window, ReadoutWindowAt(&rect, TestView(), c.x, c.y)) << c.x << ", " << c.y;
    }
    ChartTestWindows({});
    EXPECT_EQ(-1, ReadoutWindowAt(&rect, TestView(), 460, 200));
}

}  // namespace
