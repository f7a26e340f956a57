// The chart's pointer input: the readout that follows the pointer over the
// plot, and the wheel, which zooms as the arrow keys do.
#include "analysis/analysis_run.h"
#include "chart/chart_win32.h"

ChartMarksRecord ChartMarks = NO_CHART_MARKS;

namespace {

RECT ClientRect(HWND window) {
    RECT rect = {0, 0, 0, 0};
    GetClientRect(window, &rect);
    return rect;
}

}  // namespace

void HandleChartPointer(HWND window, int x, int y) {
    // Asked again after each leave: the system reports one leave per request.
    if (!ChartMarks.tracking_leave) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        ChartMarks.tracking_leave = TrackMouseEvent(&track) ? 1 : 0;
    }
    ChartMarks.pointer_in_window = 1;
    ChartMarks.pointer_x = x;
    ChartMarks.pointer_y = y;
    // A run redraws the chart when it ends, with the readout where the
    // pointer is then.
    if (AnalysisPending != 0) return;
    const RECT client = ClientRect(window);
    // Most moves stay over the window already shown: nothing to draw.
    if (ReadoutWindowAt(&client, x, y) != ChartMarks.readout_window) RedrawChart(window);
}

void HandleChartPointerLeave(HWND window) {
    ChartMarks.tracking_leave = 0;
    ChartMarks.pointer_in_window = 0;
    if (AnalysisPending == 0 && ChartMarks.readout_window >= 0) RedrawChart(window);
}

void HandleChartWheel(HWND window, int delta) {
    // Parts of a notch add up; a turn the other way starts afresh.
    if ((delta > 0 && ChartMarks.wheel_remainder < 0) || (delta < 0 && ChartMarks.wheel_remainder > 0)) {
        ChartMarks.wheel_remainder = 0;
    }
    ChartMarks.wheel_remainder += delta;
    while (ChartMarks.wheel_remainder >= WHEEL_DELTA) {
        ChartMarks.wheel_remainder -= WHEEL_DELTA;
        HandleChartKey(window, VK_RIGHT);
    }
    while (ChartMarks.wheel_remainder <= -WHEEL_DELTA) {
        ChartMarks.wheel_remainder += WHEEL_DELTA;
        HandleChartKey(window, VK_LEFT);
    }
}
