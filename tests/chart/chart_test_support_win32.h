// Shared helpers of the chart's Windows tests: a memory canvas whose pixels
// can be read directly, a GDI object counter, chart data set-up and a minimal
// window that routes its messages to the chart the way the main window does.
#ifndef KOV_TESTS_CHART_CHART_TEST_SUPPORT_WIN32_H
#define KOV_TESTS_CHART_CHART_TEST_SUPPORT_WIN32_H

#include <windows.h>

#include <cstdint>

#include <set>
#include <string>
#include <vector>
#include "chart/chart_view.h"

namespace chart_test {

const COLORREF BACKGROUND = 0x004A4A4A;
const COLORREF GRID = 0x00555555;
const COLORREF WHITE = 0x00FFFFFF;
const COLORREF RED = 0x000000FF;
const COLORREF YELLOW = 0x0000FFFF;
const COLORREF GREEN = 0x0000FF00;

// A memory DC holding a 32-bit top-down DIB section of the given size.
class Canvas {
public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    RECT rect() const { return RECT{0, 0, width_, height_}; }
    int width() const { return width_; }
    int height() const { return height_; }
    // COLORREF (0x00BBGGRR) of a pixel; out-of-range positions read as ~0u.
    COLORREF Pixel(int x, int y) const;
    void Fill(COLORREF color);
    // Rows y with Pixel(x, y) == color, top to bottom.
    std::vector<int> RowsOfColor(int x, COLORREF color, int y_from = 0, int y_to = -1) const;
    // Columns x with Pixel(x, y) == color, left to right.
    std::vector<int> ColumnsOfColor(int y, COLORREF color, int x_from = 0, int x_to = -1) const;
    int CountColor(COLORREF color) const;
    // Positions whose pixel differs from `other`'s, top to bottom; every
    // position when the sizes differ.
    std::vector<POINT> Differences(const Canvas& other) const;

private:
    int width_;
    int height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_bitmap_;
    uint32_t* bits_;
};

// Counts the GDI objects, DCs and selections made by code in this executable
// while installed, by patching the executable's import table. Wine's
// GetGuiResources always answers 0, so the count cannot come from there.
class GdiCounter {
public:
    GdiCounter();
    ~GdiCounter();
    GdiCounter(const GdiCounter&) = delete;
    GdiCounter& operator=(const GdiCounter&) = delete;

    // Objects made by CreatePen/CreateSolidBrush/CreateBitmap and not deleted.
    size_t LiveObjects() const;
    // DCs made by CreateCompatibleDC and not deleted.
    size_t LiveDCs() const;
    int Created() const;
    // DeleteObject/DeleteDC calls that failed, or that named an object not made
    // while counting (a double delete, or a stock object).
    int BadDeletes() const;
    bool Installed() const;
};

// The view the test window and the tests draw, as the main window draws its
// document's: the chart's globals, with the windows a test charts.
ChartView& TestView();

// Charts `windows` in TestView(), with the keyframes counted in each (none
// given: not known); kept until the next call.
void ChartTestWindows(const std::vector<BitrateSample>& windows, const std::vector<uint32_t>& keyframes = {});

// Puts the chart into the state of a finished run: the reset and creation
// settings, the given figures, Video points and a pending flag of 0.
void LoadChart(uint32_t max_kbps, uint32_t last_start_ms, int64_t average_kbps, const std::vector<float>& video_points);

// A window whose procedure calls the chart the way the main window does
// (a pop-up by default, so the client area is the window size). Destroyed
// with the object.
class ChartWindow {
public:
    ChartWindow(int width, int height, bool visible, DWORD style = WS_POPUP);
    ~ChartWindow();
    ChartWindow(const ChartWindow&) = delete;
    ChartWindow& operator=(const ChartWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    void Resize(int width, int height);

private:
    HWND hwnd_;
};

// Copies the back buffer into a fresh canvas of the given size.
void CopyBackBuffer(Canvas& canvas);

// The picture of a redraw as the drawing steps alone give it, for the chart
// as it stands: background, grid, axes and average, curves, ticks and labels.
void DrawChartSteps(Canvas& canvas);

// Writes text as the chart writes its labels and readout: in the stock fixed
// font, whichever face the machine gives it (its smoothing too), white (or
// `color`) and transparent, placed at (x, y) as `align` says. Returns the text's extent.
// A picture with text is compared with one whose text came from here, never
// with a colour or a count of pixels a face happens to give.
SIZE DrawChartText(Canvas& canvas, int x, int y, UINT align, const std::string& text, COLORREF color = WHITE);

}  // namespace chart_test

#endif
