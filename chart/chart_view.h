// Everything one picture of the chart shows, handed to every drawing step:
// the curve slots and the legend's figures the chart is drawn from, the
// charted file's windows, what is drawn over them on request, and the
// pointer the readout follows.
#ifndef KOV_CHART_CHART_VIEW_H
#define KOV_CHART_CHART_VIEW_H

#include <cstdint>

#include "analysis/analysis_run.h"
#include "analysis/video_frames.h"
#include "chart/chart_model.h"
#include "chart/chart_time.h"
#include "chart/series_statistics.h"

// Where the pointer is, as the chart's input learns it.
struct ChartPointer {
    bool in_window = false;  // over the client area since its last move, until it left
    int x = 0;
    int y = 0;
    bool tracking_leave = false;   // the system will say when it leaves
    int wheel_remainder = 0;       // of a notch, from wheels that send parts of one
    int time_wheel_remainder = 0;  // the same for the wheels that zoom and pan time
};

// What the plot shows: the bitrate of the windows (KOV's chart), each frame
// of the video as a bar, or each GOP as a bar.
enum ChartKind { CHART_BITRATE = 0, CHART_FRAMES, CHART_GOPS };

// A drag across the plot with the left button, from one column to another.
struct ChartDrag {
    bool active = false;
    int from_x = 0;
    int to_x = 0;
};

// Another series of windows drawn beside the charted video's: a stream of
// the file, the whole file or a second file's video. Its name goes into its
// legend line and the readout.
struct ChartSeries {
    const BitrateSample* windows = nullptr;
    uint32_t count = 0;
    uint32_t end_ms = 0;  // where the last window ends
    uint32_t color = 0;   // COLORREF layout, 0x00BBGGRR
    const char* name = "";
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
    // The item (window, frame or GOP, as `kind` says) whose readout the
    // picture shows, -1 for none: set by each redraw from the pointer.
    int32_t readout_window = -1;

    // The charted file's frames, where each shows on the time axis and the
    // frames in that order (see PlaceFrames), and one frame interval; its
    // GOPs; where its windows end.
    const VideoFrame* frames = nullptr;
    const double* frame_places = nullptr;
    const uint32_t* frame_order = nullptr;
    uint32_t frame_count = 0;
    double frame_interval_ms = 0;
    const VideoGop* gops = nullptr;
    uint32_t gop_count = 0;
    uint32_t series_end_ms = 0;

    ChartKind kind = CHART_BITRATE;
    // A stretch of time instead of the whole file (View > Zoom In, a drag).
    bool zoomed = false;
    TimeSpan visible = {0, 1};
    // The moving average drawn over the bitrate (View > Moving Average) and
    // its span; a span of 0 draws none.
    uint32_t moving_average_ms = 0;
    const MovingAveragePoint* moving_average = nullptr;
    uint32_t moving_average_count = 0;
    ChartDrag drag;
    // More curves on the bitrate plot, each with a legend line; with any, the
    // value axis fits the largest curve shown.
    const ChartSeries* extra_series = nullptr;
    uint32_t extra_count = 0;
};

// The file's length on the time axis and the narrowest view of it.
TimeLimits ChartTimeLimits(const ChartView& view);
// The stretch the plot shows: the visible one, or the whole file.
TimeSpan ShownSpan(const ChartView& view);
// The time under a plot column (from the value axis), as the shown plot
// places time: over the whole-file chart the middle of the window drawn
// there, elsewhere the column's own time.
double ChartTimeAtColumn(const ChartView& view, int column, int plot_width);
// The stretch between two plot columns: over the whole-file chart from the
// start of the window under the left one to the end of the one under the
// right, so a drag shows the windows it swept over.
TimeSpan ChartSpanOfColumns(const ChartView& view, int column0, int column1, int plot_width);
// Whether the picture is KOV's own chart of the whole file (the drawing
// steps alone), rather than a stretch of time or another kind of plot.
bool ShowsWholeFileChart(const ChartView& view);

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
