// The chart's off-screen picture, its redraw and paint, the chart's share of
// window creation and the arrow keys.
#include "analysis/analysis_run.h"
#include "chart/chart_model.h"
#include "chart/chart_win32.h"
#include "chart/series_statistics.h"

HDC BackBufferDC = nullptr;
HBITMAP BackBufferBitmap = nullptr;

namespace {

const COLORREF BACKGROUND_COLOR = 0x004A4A4A;

// The grid of the first picture is offset from the plot's own; the first
// resize redraws it with the plot grid.
const int FIRST_PICTURE_COLUMN_X = 69;
const int FIRST_PICTURE_ROW_Y = 26;
const int PLOT_GRID_COLUMN_X = 110;
const int PLOT_GRID_ROW_Y = 50;

const float ZOOM_OUT_FACTOR = 0.9f;
const float ZOOM_IN_FACTOR = 1.1f;
const float SHIFT_STEP = 0.1f;
// Bounds of the Video curve's scale and offset. An unbounded scale becomes
// infinite or denormal after about a thousand presses, and from there no
// press brings the curve back, for this file or any later one. The offset
// stays well inside the range where a step still changes a float.
const float SCALE_MIN = 1e-30f;
const float SCALE_MAX = 1e30f;
const float OFFSET_LIMIT = 10000.0f;

// A press that would leave its bounds is ignored; the value stays as it was.
// Through memory, so the product or sum is rounded to single precision
// before it is compared, as it will be stored.
void ChangeWithin(float* value, float factor, float step, float low, float high) {
    volatile float next = *value * factor + step;
    if (next >= low && next <= high) *value = next;
}

RECT ClientRect(HWND window) {
    RECT rect = {0, 0, 0, 0};
    GetClientRect(window, &rect);
    return rect;
}

// What the user asked to see over the chart; nothing unless asked.
void DrawRequestedMarks(const RECT& client, ChartView& view) {
    if (view.keyframes) {
        DrawKeyframeTicks(BackBufferDC, &client, view);
    }
    if (view.pointer.in_window) {
        view.readout_window = ReadoutWindowAt(&client, view, view.pointer.x, view.pointer.y);
        if (view.readout_window >= 0) {
            DrawReadout(BackBufferDC, &client, view, static_cast<uint32_t>(view.readout_window));
        }
    }
}

}  // namespace

int ReleaseBackBuffer() {
    // The DC goes first: the bitmap must not be deleted while selected into it.
    if (BackBufferDC != nullptr) {
        DeleteDC(BackBufferDC);
        BackBufferDC = nullptr;
    }
    if (BackBufferBitmap != nullptr) {
        DeleteObject(BackBufferBitmap);
        BackBufferBitmap = nullptr;
    }
    return 1;
}

int CreateBackBuffer(HWND window) {
    ReleaseBackBuffer();
    const RECT client = ClientRect(window);
    BackBufferDC = CreateCompatibleDC(nullptr);
    if (BackBufferDC == nullptr) {
        return 1;
    }
    const int bits_per_pixel = GetDeviceCaps(BackBufferDC, BITSPIXEL);
    // A 0 x 0 client area (minimised window) still gives a valid bitmap: the
    // system hands out its 1 x 1 default, which is harmless to select and delete.
    BackBufferBitmap = CreateBitmap(client.right, client.bottom, 1, bits_per_pixel, nullptr);
    if (BackBufferBitmap != nullptr) {
        SelectObject(BackBufferDC, BackBufferBitmap);
    }
    return 1;
}

void RedrawChart(HWND window, ChartView& view) {
    const RECT client = ClientRect(window);
    FillBackground(BackBufferDC, BACKGROUND_COLOR, &client);
    view.readout_window = -1;
    // During a run the picture is only the background, and it waits for the
    // next paint rather than forcing one.
    if (AnalysisPending != 0) {
        return;
    }
    if (ShowsWholeFileChart(view)) {
        DrawGrid(BackBufferDC, PLOT_GRID_COLUMN_X, PLOT_GRID_ROW_Y, &client);
        DrawAxesAndAverage(BackBufferDC, &client, view);
        DrawCurves(BackBufferDC, &client, view);
        DrawTicksAndLabels(BackBufferDC, &client, view);
        DrawMovingAverage(BackBufferDC, &client, view);
    } else {
        DrawTimeView(BackBufferDC, &client, view);
    }
    DrawRequestedMarks(client, view);
    DrawDragBand(BackBufferDC, &client, view);
    InvalidateRect(window, &client, FALSE);
}

int ResizeChart(HWND window, ChartView& view) {
    CreateBackBuffer(window);
    RedrawChart(window, view);
    return 1;
}

void PaintChart(HWND window, HDC paint_dc) {
    // Always the whole client area; the system clips it to what needs painting.
    const RECT client = ClientRect(window);
    BitBlt(paint_dc, 0, 0, client.right, client.bottom, BackBufferDC, 0, 0, SRCCOPY);
}

int InitChart(HWND window) {
    CreateBackBuffer(window);
    ResetChartCurves();
    const RECT client = ClientRect(window);
    FillBackground(BackBufferDC, BACKGROUND_COLOR, &client);
    DrawGrid(BackBufferDC, FIRST_PICTURE_COLUMN_X, FIRST_PICTURE_ROW_Y, &client);
    ApplyChartCurveSettings(CURVE_AUDIO, AudioCurveSettings);
    ApplyChartCurveSettings(CURVE_VIDEO, VideoCurveSettings);
    SeriesStatistics.max_kbps = 0;
    SeriesStatistics.last_start_ms = 0;
    return 1;
}

void HandleChartKey(HWND window, WPARAM virtual_key, ChartView& view) {
    // Each result is stored straight back into the float field, so every press
    // rounds to single precision.
    ChartCurve& video = ChartCurves[CURVE_VIDEO];
    switch (virtual_key) {
    case VK_LEFT:
        ChangeWithin(&video.scale, ZOOM_OUT_FACTOR, 0.0f, SCALE_MIN, SCALE_MAX);
        break;
    case VK_UP:
        ChangeWithin(&video.offset, 1.0f, SHIFT_STEP, -OFFSET_LIMIT, OFFSET_LIMIT);
        break;
    case VK_RIGHT:
        ChangeWithin(&video.scale, ZOOM_IN_FACTOR, 0.0f, SCALE_MIN, SCALE_MAX);
        break;
    case VK_DOWN:
        ChangeWithin(&video.offset, 1.0f, -SHIFT_STEP, -OFFSET_LIMIT, OFFSET_LIMIT);
        break;
    default:
        return;
    }
    RedrawChart(window, view);
}
