// The chart's pointer input: the readout that follows the pointer over the
// plot, and the wheel, which zooms as the arrow keys do.
#include "analysis/analysis_run.h"
#include "chart/chart_win32.h"

namespace {

RECT ClientRect(HWND window) {
    RECT rect = {0, 0, 0, 0};
    GetClientRect(window, &rect);
    return rect;
}

}  // namespace

void HandleChartPointer(HWND window, int x, int y, ChartView& view) {
    ChartPointer& pointer = view.pointer;
    // Asked again after each leave: the system reports one leave per request.
    if (!pointer.tracking_leave) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        pointer.tracking_leave = TrackMouseEvent(&track) != 0;
    }
    pointer.in_window = true;
    pointer.x = x;
    pointer.y = y;
    // A run redraws the chart when it ends, with the readout where the
    // pointer is then.
    if (AnalysisPending != 0) return;
    const RECT client = ClientRect(window);
    // A drag's band follows the pointer.
    if (HandleChartDragMove(window, x, view)) return;
    // Most moves stay over the window already shown: nothing to draw.
    if (ReadoutWindowAt(&client, view, x, y) != view.readout_window) RedrawChart(window, view);
}

void HandleChartPointerLeave(HWND window, ChartView& view) {
    view.pointer.tracking_leave = false;
    view.pointer.in_window = false;
    if (AnalysisPending == 0 && view.readout_window >= 0) RedrawChart(window, view);
}

void HandleChartWheel(HWND window, int delta, ChartView& view) {
    int& remainder = view.pointer.wheel_remainder;
    // Parts of a notch add up; a turn the other way starts afresh.
    if ((delta > 0 && remainder < 0) || (delta < 0 && remainder > 0)) {
        remainder = 0;
    }
    remainder += delta;
    while (remainder >= WHEEL_DELTA) {
        remainder -= WHEEL_DELTA;
        HandleChartKey(window, VK_RIGHT, view);
    }
    while (remainder <= -WHEEL_DELTA) {
        remainder += WHEEL_DELTA;
        HandleChartKey(window, VK_LEFT, view);
    }
}
