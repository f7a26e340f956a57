// The back buffer, redraw, paint, the chart's part of window creation and the
// arrow keys, driven through a real window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/analysis_run.h"
#include "chart/chart_model.h"
#include "chart/chart_win32.h"
#include "chart/series_statistics.h"
#include "chart_test_support_win32.h"

using namespace chart_test;

namespace {

const COLORREF BLACK = 0x00000000;
const std::vector<float> SIX_POINTS = {164, 364, 164, 364, 164, 364};

BITMAP BackBufferBitmapInfo() {
    BITMAP info;
    std::memset(&info, 0, sizeof info);
    GetObjectA(BackBufferBitmap, sizeof info, &info);
    return info;
}

// Whether the window has an update region, and its bounding rectangle.
bool HasUpdate(HWND window, RECT* update) { return GetUpdateRect(window, update, FALSE) != FALSE; }

void MarkBackBuffer() {
    PatBlt(BackBufferDC, 0, 0, 4000, 4000, BLACKNESS);
    GdiFlush();
}

class ChartWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        ReleaseBackBuffer();
        AnalysisPending = 0;
    }
};

TEST_F(ChartWindowTest, InitChartMakesTheBackBufferFirstPictureAndDefaults) {
    ChartWindow window(904, 400, false);
    ASSERT_NE(nullptr, window.hwnd());
    // Leftovers that InitChart must replace.
    ChartCurves[5].visible = 1;
    ChartCurves[5].points[3] = 7.0f;
    ChartCurves[CURVE_VIDEO].scale = 3.0f;
    ChartCurves[CURVE_VIDEO].point_count = 9;
    SeriesStatistics.max_kbps = 9;
    SeriesStatistics.last_start_ms = 9;
    SeriesStatistics.average_kbps = 9;

    EXPECT_EQ(1, InitChart(window.hwnd()));

    ASSERT_NE(nullptr, BackBufferDC);
    ASSERT_NE(nullptr, BackBufferBitmap);
    const BITMAP info = BackBufferBitmapInfo();
    EXPECT_EQ(904, info.bmWidth);
    EXPECT_EQ(400, info.bmHeight);
    EXPECT_EQ(1, info.bmPlanes);
    EXPECT_EQ(GetDeviceCaps(BackBufferDC, BITSPIXEL), info.bmBitsPixel);
    EXPECT_EQ(static_cast<HGDIOBJ>(BackBufferBitmap), GetCurrentObject(BackBufferDC, OBJ_BITMAP));

    EXPECT_EQ(0, ChartCurves[5].visible);
    EXPECT_EQ(0.0f, ChartCurves[5].points[3]);
    const ChartCurve& audio = ChartCurves[CURVE_AUDIO];
    EXPECT_EQ(0x0000FF00u, audio.color);
    EXPECT_EQ(1, audio.visible);
    EXPECT_EQ(150.0f, audio.top);
    EXPECT_STREQ("Audio", audio.label);
    const ChartCurve& video = ChartCurves[CURVE_VIDEO];
    EXPECT_EQ(0x0000FFFFu, video.color);
    EXPECT_EQ(1, video.visible);
    EXPECT_EQ(100.0f, video.top);
    EXPECT_EQ(0.0f, video.bottom);
    EXPECT_EQ(1.0f, video.scale);
    EXPECT_EQ(0.0f, video.offset);
    EXPECT_EQ(0, video.point_count);
    EXPECT_STREQ("Video", video.label);
    EXPECT_EQ(0u, SeriesStatistics.max_kbps);
    EXPECT_EQ(0u, SeriesStatistics.last_start_ms);
    EXPECT_EQ(9, SeriesStatistics.average_kbps);  // not InitChart's to reset

    // First picture: background and the offset grid, nothing else.
    Canvas canvas(904, 400);
    CopyBackBuffer(canvas);
    EXPECT_EQ(BACKGROUND, canvas.Pixel(5, 5));
    EXPECT_EQ(GRID, canvas.Pixel(69, 60));
    EXPECT_EQ(BACKGROUND, canvas.Pixel(69, 40));
    EXPECT_EQ(GRID, canvas.Pixel(200, 26));
    EXPECT_EQ(BACKGROUND, canvas.Pixel(110, 200));
    EXPECT_EQ(0, canvas.CountColor(WHITE));
    EXPECT_EQ(904 * 400, canvas.CountColor(BACKGROUND) + canvas.CountColor(GRID));
}

TEST_F(ChartWindowTest, RedrawDrawsTheStepsInOrderAndInvalidatesTheClientArea) {
    ChartWindow window(904, 400, true);
    LoadChart(564, 90000, 282, SIX_POINTS);
    ValidateRect(window.hwnd(), nullptr);
    RedrawChart(window.hwnd(), TestView());

    RECT update;
    ASSERT_TRUE(HasUpdate(window.hwnd(), &update));
    EXPECT_EQ(0, update.left);
    EXPECT_EQ(0, update.top);
    EXPECT_EQ(904, update.right);
    EXPECT_EQ(400, update.bottom);

    Canvas expected(904, 400);
    RECT r = expected.rect();
    FillBackground(expected.dc(), BACKGROUND, &r);
    DrawGrid(expected.dc(), 110, 50, &r);
    DrawAxesAndAverage(expected.dc(), &r, ChartView());
    DrawCurves(expected.dc(), &r, ChartView());
    DrawTicksAndLabels(expected.dc(), &r, ChartView());
    Canvas actual(904, 400);
    CopyBackBuffer(actual);
    int differing = 0;
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 904; ++x) {
            differing += actual.Pixel(x, y) != expected.Pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(0, differing);
    EXPECT_EQ(YELLOW, actual.Pixel(250, 150));
}

TEST_F(ChartWindowTest, ResizeWhilePendingGivesANewSizeOfPlainBackgroundAndNoInvalidation) {
    ChartWindow window(904, 400, true);
    LoadChart(564, 90000, 282, SIX_POINTS);
    AnalysisPending = 1;
    window.Resize(834, 300);
    ValidateRect(window.hwnd(), nullptr);
    EXPECT_EQ(1, ResizeChart(window.hwnd(), TestView()));

    RECT update;
    EXPECT_FALSE(HasUpdate(window.hwnd(), &update));
    const BITMAP info = BackBufferBitmapInfo();
    EXPECT_EQ(834, info.bmWidth);
    EXPECT_EQ(300, info.bmHeight);
    Canvas canvas(834, 300);
    CopyBackBuffer(canvas);
    EXPECT_EQ(834 * 300, canvas.CountColor(BACKGROUND));
}

// ---- arrow keys ----

TEST_F(ChartWindowTest, ArrowKeysScaleAndShiftTheVideoCurveInSinglePrecision) {
    ChartWindow window(904, 400, false);
    LoadChart(564, 90000, 282, SIX_POINTS);
    AnalysisPending = 1;  // keeps a thousand redraws cheap
    const HWND w = window.hwnd();

    volatile float expected = 1.0f;
    for (int i = 0; i < 10; ++i) {
        HandleChartKey(w, VK_LEFT, TestView());
        expected = expected * 0.9f;
    }
    EXPECT_EQ(static_cast<float>(expected), ChartCurves[CURVE_VIDEO].scale);
    EXPECT_NEAR(0.349, ChartCurves[CURVE_VIDEO].scale, 0.001);
    // 0.9 to the tenth in double precision rounds to a different float.
    EXPECT_NE(static_cast<float>(std::pow(0.9, 10)), ChartCurves[CURVE_VIDEO].scale);

    for (int i = 0; i < 3; ++i) {
        HandleChartKey(w, VK_RIGHT, TestView());
        expected = expected * 1.1f;
    }
    EXPECT_EQ(static_cast<float>(expected), ChartCurves[CURVE_VIDEO].scale);

    volatile float offset = 0.0f;
    for (int i = 0; i < 3; ++i) {
        HandleChartKey(w, VK_UP, TestView());
        offset = offset + 0.1f;
    }
    EXPECT_EQ(static_cast<float>(offset), ChartCurves[CURVE_VIDEO].offset);
    for (int i = 0; i < 5; ++i) {
        HandleChartKey(w, VK_DOWN, TestView());
        offset = offset - 0.1f;
    }
    EXPECT_EQ(static_cast<float>(offset), ChartCurves[CURVE_VIDEO].offset);
    EXPECT_LT(ChartCurves[CURVE_VIDEO].offset, 0.0f);
    // Only the Video curve moves.
    EXPECT_EQ(1.0f, ChartCurves[CURVE_AUDIO].scale);
    EXPECT_EQ(0.0f, ChartCurves[CURVE_AUDIO].offset);
}

// Unbounded, a thousand presses made the scale infinite (or denormal the
// other way), and no press ever brought the curve back.
TEST_F(ChartWindowTest, ScaleAndOffsetStayWithinBoundsAndNeverStick) {
    ChartWindow window(904, 400, false);
    LoadChart(564, 90000, 282, SIX_POINTS);
    AnalysisPending = 1;
    const HWND w = window.hwnd();
    ChartCurve& video = ChartCurves[CURVE_VIDEO];

    // The largest product of 1.1 that stays within 1e30, pressed as the keys do.
    volatile float largest = 1.0f;
    for (volatile float next = largest * 1.1f; next <= 1e30f; next = largest * 1.1f) largest = next;
    for (int i = 0; i < 1000; ++i) HandleChartKey(w, VK_RIGHT, TestView());
    EXPECT_EQ(static_cast<float>(largest), video.scale);
    EXPECT_GT(video.scale, 1e29f);

    for (int i = 0; i < 2000; ++i) HandleChartKey(w, VK_LEFT, TestView());
    EXPECT_GE(video.scale, 1e-30f);
    EXPECT_LT(video.scale * 0.9f, 1e-30f);  // the next press would leave the bounds
    EXPECT_EQ(FP_NORMAL, std::fpclassify(video.scale));
    const float smallest = video.scale;
    HandleChartKey(w, VK_RIGHT, TestView());
    EXPECT_GT(video.scale, smallest);  // and it moves back at once

    // The offset stops at its bound too, and comes back by a step.
    video.offset = 9999.95f;
    HandleChartKey(w, VK_UP, TestView());
    EXPECT_EQ(9999.95f, video.offset);
    HandleChartKey(w, VK_DOWN, TestView());
    EXPECT_LT(video.offset, 9999.95f);
    video.offset = -9999.95f;
    HandleChartKey(w, VK_DOWN, TestView());
    EXPECT_EQ(-9999.95f, video.offset);
    video.offset = 0.0f;

    // At the smallest scale the curve and the average lie on the time axis,
    // all of it but the ten time ticks drawn over it.
    video.scale = smallest;
    AnalysisPending = 0;
    RedrawChart(w, TestView());
    Canvas canvas(904, 400);
    CopyBackBuffer(canvas);
    EXPECT_EQ(690u, canvas.ColumnsOfColor(332, YELLOW, 110, 809).size());
    EXPECT_EQ(690, canvas.CountColor(YELLOW));
    video.scale = 1.0f;
}

// ---- paint ----

TEST_F(ChartWindowTest, PaintCopiesTheWholeClientRectangle) {
    ChartWindow window(904, 400, false);
    LoadChart(564, 90000, 282, SIX_POINTS);
    RedrawChart(window.hwnd(), TestView());
    Canvas back(904, 400);
    CopyBackBuffer(back);

    Canvas target(1000, 500);
    target.Fill(BLACK);
    PaintChart(window.hwnd(), target.dc());
    GdiFlush();
    int differing = 0;
    for (int y = 0; y < 500; ++y) {
        for (int x = 0; x < 1000; ++x) {
            const COLORREF want = x < 904 && y < 400 ? back.Pixel(x, y) : BLACK;
            differing += target.Pixel(x, y) != want ? 1 : 0;
        }
    }
    EXPECT_EQ(0, differing);
}

TEST_F(ChartWindowTest, PaintMessageShowsTheBackBufferOnScreen) {
    ChartWindow window(400, 300, true);
    MarkBackBuffer();
    InvalidateRect(window.hwnd(), nullptr, FALSE);
    UpdateWindow(window.hwnd());
    // Now the picture changes in the back buffer only; a partial paint copies
    // the whole client area and the system clips it to the invalid part.
    AnalysisPending = 1;
    RedrawChart(window.hwnd(), TestView());
    RECT part = {100, 100, 200, 150};
    InvalidateRect(window.hwnd(), &part, FALSE);
    UpdateWindow(window.hwnd());

    HDC screen = GetDC(window.hwnd());
    EXPECT_EQ(BACKGROUND, GetPixel(screen, 150, 120));
    EXPECT_EQ(BACKGROUND, GetPixel(screen, 100, 100));
    EXPECT_EQ(BLACK, GetPixel(screen, 99, 100));
    EXPECT_EQ(BLACK, GetPixel(screen, 300, 250));
    ReleaseDC(window.hwnd(), screen);
}

// ---- sizes and lifetime ----

TEST_F(ChartWindowTest, ZeroSizedClientAreaThenFullSize) {
    ChartWindow window(0, 0, false);
    ASSERT_NE(nullptr, window.hwnd());
    RECT client;
    GetClientRect(window.hwnd(), &client);
    ASSERT_EQ(0, client.right);
    ASSERT_EQ(0, client.bottom);
    LoadChart(564, 90000, 282, SIX_POINTS);
    EXPECT_EQ(1, ResizeChart(window.hwnd(), TestView()));
    EXPECT_NE(nullptr, BackBufferDC);
    EXPECT_NE(nullptr, BackBufferBitmap);

    window.Resize(780, 400);
    const BITMAP info = BackBufferBitmapInfo();
    EXPECT_EQ(780, info.bmWidth);
    EXPECT_EQ(400, info.bmHeight);
    Canvas canvas(780, 400);
    CopyBackBuffer(canvas);
    EXPECT_EQ(WHITE, canvas.Pixel(400, 332));
    EXPECT_EQ(YELLOW, canvas.Pixel(225, 150));
}

TEST_F(ChartWindowTest, ReleaseTwiceDoesNothingTheSecondTime) {
    ChartWindow window(300, 200, false);
    ReleaseBackBuffer();  // the one made at creation is not the counter's
    GdiCounter counter;
    ASSERT_TRUE(counter.Installed());
    CreateBackBuffer(window.hwnd());
    EXPECT_EQ(1u, counter.LiveDCs());
    EXPECT_EQ(1u, counter.LiveObjects());

    EXPECT_EQ(1, ReleaseBackBuffer());
    EXPECT_EQ(nullptr, BackBufferDC);
    EXPECT_EQ(nullptr, BackBufferBitmap);
    EXPECT_EQ(1, ReleaseBackBuffer());
    EXPECT_EQ(0u, counter.LiveDCs());
    EXPECT_EQ(0u, counter.LiveObjects());
    EXPECT_EQ(0, counter.BadDeletes());
}

TEST_F(ChartWindowTest, NoGdiObjectLeaksAcrossAThousandRedrawsAndResizes) {
    ChartWindow window(904, 400, false);
    LoadChart(564, 90000, 282, SIX_POINTS);
    const DWORD gui_objects_before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    {
        GdiCounter counter;
        ASSERT_TRUE(counter.Installed());
        for (int i = 0; i < 1000; ++i) {
            RedrawChart(window.hwnd(), TestView());
        }
        // Per redraw: background brush, grid pen, axis and average pens, the
        // Audio and Video pens, the tick pen.
        EXPECT_EQ(7000, counter.Created());
        EXPECT_EQ(0u, counter.LiveObjects());
        EXPECT_EQ(0, counter.BadDeletes());
    }
    ReleaseBackBuffer();
    {
        GdiCounter counter;
        ASSERT_TRUE(counter.Installed());
        for (int i = 0; i < 200; ++i) {
            ResizeChart(window.hwnd(), TestView());
        }
        // Only the current back buffer is alive.
        EXPECT_EQ(1u, counter.LiveDCs());
        EXPECT_EQ(1u, counter.LiveObjects());
        EXPECT_EQ(0, counter.BadDeletes());
        ReleaseBackBuffer();
        EXPECT_EQ(0u, counter.LiveDCs());
        EXPECT_EQ(0u, counter.LiveObjects());
        EXPECT_EQ(0, counter.BadDeletes());
    }
    // Where the system counts GDI objects (Windows; Wine answers 0), it agrees.
    CreateBackBuffer(window.hwnd());
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gui_objects_before);
}

}  // namespace
