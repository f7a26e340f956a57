// The chart's time zoom: a drag across the plot, Ctrl and Shift with the wheel, the horizontal wheel,
// and the View menu's zoom and pan commands; Whole File undoes them and the arrow keys' stretch.
#include <cstdlib>

#include "analysis/analysis_run.h"
#include "chart/chart_model.h"
#include "chart/chart_win32.h"
#include "chart/plot_geometry_win32.h"

using namespace plot;

namespace {

const int MIN_DRAG_COLUMNS = 4;         // a shorter drag is a click, which does nothing
const double WHEEL_ZOOM_FACTOR = 1.25;  // per notch
const double WHEEL_PAN_FRACTION = 0.1;  // of the view, per notch

RECT ClientRect(HWND window) {
    RECT rect = {0, 0, 0, 0};
    GetClientRect(window, &rect);
    return rect;
}

int ClampColumn(int x, const PlotGeometry& g) {
    if (x < PLOT_LEFT) return PLOT_LEFT;
    if (x > g.right) return g.right;
    return x;
}

// Shows `span`; a span that is the whole file is the whole-file chart again.
void ShowSpan(HWND window, ChartView& view, const TimeSpan& span) {
    const TimeLimits limits = ChartTimeLimits(view);
    view.zoomed = !IsWholeFile(span, limits);
    view.visible = span;
    if (AnalysisPending == 0) RedrawChart(window, view);
}

bool HasData(const ChartView& view) { return view.window_count > 0 && view.windows != nullptr; }

// Whole notches of a wheel that may send parts of one; a turn the other way starts afresh.
int TakeNotches(int* remainder, int delta) {
    if ((delta > 0 && *remainder < 0) || (delta < 0 && *remainder > 0)) *remainder = 0;
    *remainder += delta;
    const int notches = *remainder / WHEEL_DELTA;
    *remainder -= notches * WHEEL_DELTA;
    return notches;
}

}  // namespace

void ZoomChartTime(HWND window, ChartView& view, double factor, int anchor_x) {
    if (!HasData(view)) return;
    const RECT client = ClientRect(window);
    const PlotGeometry g = GeometryOf(&client);
    if (g.plot_width <= 0) return;
    const int column = anchor_x < 0 ? g.plot_width / 2 : ClampColumn(anchor_x, g) - PLOT_LEFT;
    const double anchor_ms = ChartTimeAtColumn(view, column, g.plot_width);
    ShowSpan(window, view,
             ZoomSpan(ShownSpan(view), factor, anchor_ms, double(column) / g.plot_width, ChartTimeLimits(view)));
}

void PanChartTime(HWND window, ChartView& view, double fraction) {
    if (!HasData(view) || !view.zoomed) return;  // the whole file has nowhere to go
    ShowSpan(window, view, PanSpan(view.visible, fraction, ChartTimeLimits(view)));
}

void ShowWholeFile(HWND window, ChartView& view) {
    view.zoomed = false;
    view.drag.active = false;
    ChartCurves[CURVE_VIDEO].scale = VideoCurveSettings.scale;
    ChartCurves[CURVE_VIDEO].offset = VideoCurveSettings.offset;
    if (AnalysisPending == 0) RedrawChart(window, view);
}

void HandleChartButtonDown(HWND window, int x, int y, ChartView& view) {
    const RECT client = ClientRect(window);
    const PlotGeometry g = GeometryOf(&client);
    if (!HasData(view) || AnalysisPending != 0 || g.plot_width <= 0) return;
    if (x < PLOT_LEFT || x > g.right || y < PLOT_TOP || y > g.bottom) return;
    view.drag.active = true;
    view.drag.from_x = x;
    view.drag.to_x = x;
    // The button's release comes here even when it happens outside the window.
    SetCapture(window);
}

bool HandleChartDragMove(HWND window, int x, ChartView& view) {
    if (!view.drag.active) return false;
    const RECT client = ClientRect(window);
    const int column = ClampColumn(x, GeometryOf(&client));
    if (column == view.drag.to_x || AnalysisPending != 0) return false;
    view.drag.to_x = column;
    RedrawChart(window, view);
    return true;
}

void HandleChartButtonUp(HWND window, int x, ChartView& view) {
    if (!view.drag.active) return;
    const RECT client = ClientRect(window);
    const PlotGeometry g = GeometryOf(&client);
    view.drag.to_x = ClampColumn(x, g);
    view.drag.active = false;
    if (GetCapture() == window) ReleaseCapture();
    if (std::abs(view.drag.to_x - view.drag.from_x) < MIN_DRAG_COLUMNS || AnalysisPending != 0) {
        if (AnalysisPending == 0) RedrawChart(window, view);  // the band goes
        return;
    }
    const TimeSpan swept =
        ChartSpanOfColumns(view, view.drag.from_x - PLOT_LEFT, view.drag.to_x - PLOT_LEFT, g.plot_width);
    ShowSpan(window, view, ClampSpan(swept.from_ms, swept.to_ms, ChartTimeLimits(view)));
}

void HandleChartCaptureLost(HWND window, ChartView& view) {
    if (!view.drag.active) return;
    view.drag.active = false;
    if (AnalysisPending == 0) RedrawChart(window, view);
}

void HandleChartTimeWheel(HWND window, int delta, bool zoom, int pointer_x, ChartView& view) {
    const int notches = TakeNotches(&view.pointer.time_wheel_remainder, delta);
    if (notches == 0) return;
    if (zoom) {
        const int MAX_NOTCHES = 40;  // far past either end of any file's zoom
        const int steps = std::abs(notches) < MAX_NOTCHES ? std::abs(notches) : MAX_NOTCHES;
        double factor = 1;
        for (int i = 0; i < steps; ++i) factor *= WHEEL_ZOOM_FACTOR;
        ZoomChartTime(window, view, notches > 0 ? factor : 1 / factor, pointer_x);
    } else {
        // Away from the user is back in time, as a page scrolls up.
        PanChartTime(window, view, -notches * WHEEL_PAN_FRACTION);
    }
}

void HandleChartHorizontalWheel(HWND window, int delta, ChartView& view) {
    const int notches = TakeNotches(&view.pointer.time_wheel_remainder, delta);
    // Tilted right is later in time.
    if (notches != 0) PanChartTime(window, view, notches * WHEEL_PAN_FRACTION);
}
