// Everything one picture of the chart shows, handed to every drawing step:
// the curve slots and the legend's figures the chart is drawn from, the
// charted file's windows, what is drawn over them on request, and the
// pointer the readout follows.
#ifndef KOV_CHART_CHART_VIEW_H
#define KOV_CHART_CHART_VIEW_H

#include <cstdint>

#include "analysis/analysis_run.h"
#include "chart/chart_model.h"
#include "chart/series_statistics.h"

// Where the pointer is, as the chart's input learns it.
struct ChartPointer {
    bool in_window = false;  // over the client area since its last move, until it left
    int x = 0;
    int y = 0;
    bool tracking_leave = false;  // the system will say when it leaves
    int wheel_remainder = 0;      // of a notch, from wheels that send parts of one
};

struct ChartView {
    const ChartCurve* curves = ChartCurves;  // CURVE_SLOT_COUNT slots
    const SeriesStatisticsRecord* figures = &SeriesStatistics;
    // The charted windows in time order, and the keyframes counted in each
    // (null: not known); none while nothing is charted. A run that stored no
    // window charts one window of 0 kbps, as the curve does.
    const BitrateSample* windows = nullptr;
    const uint32_t* window_keyframes = nullptr;
    uint32_t window_count = 0;
    // Ticks under the windows that hold a keyframe (View > Keyframes).
    bool keyframes = false;
    ChartPointer pointer;
    // The window whose readout the picture shows, -1 for none: set by each
    // redraw from the pointer.
    int32_t readout_window = -1;
};

// Where the charted windows lie along the Video curve of a plot `plot_width`
// pixels wide (columns counted from the value axis, 0 to plot_width). Up to
// 512 windows a window is drawn as two points; the window under a column is
// the one whose point lies nearest. Beyond, the points are buckets of start
// times and the columns a time axis from 0 to the last window's start; the
// window under a column is the one whose start lies nearest that column's
// time. -1 when nothing is charted or the plot has no width.
int32_t ChartedWindowAtColumn(const ChartView& view, int column, int plot_width);
// The column a window's mark goes under: the middle of its two points, or
// its bucket's point.
int ChartedWindowColumn(const ChartView& view, uint32_t index, int plot_width);

#endif
