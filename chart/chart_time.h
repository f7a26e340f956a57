// The chart's time axis once the user looks at a stretch of time: the
// visible span and how it zooms and pans, the labels it gets, and what of
// the windows, frames and GOPs lies in it. Portable: the drawing calls it.
#ifndef KOV_CHART_CHART_TIME_H
#define KOV_CHART_CHART_TIME_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/video_frames.h"
#include "analysis/window_statistics.h"

// A stretch of media time, from_ms < to_ms.
struct TimeSpan {
    uint32_t from_ms;
    uint32_t to_ms;
};

// Zoomed views never shrink below this many frame intervals, nor below the
// floor when the frame rate is not known.
const uint32_t MIN_VISIBLE_FRAMES = 4;
const uint32_t MIN_VISIBLE_MS = 200;

// The whole file and the least a view may show of it.
struct TimeLimits {
    uint32_t end_ms;  // the file's length on the axis: its last window's end, or its frames'
    uint32_t min_ms;  // the narrowest view
};

// `span` moved and narrowed into the limits: inside [0, end], at least
// min_ms long (or the whole file when that is shorter), its length kept when
// it only had to move.
TimeSpan ClampSpan(int64_t from_ms, int64_t to_ms, const TimeLimits& limits);
// Zoomed by `factor` (above 1: in) around `anchor_ms`, which stays at
// `anchor_place` of the plot's width (0 its left end, 1 its right).
TimeSpan ZoomSpan(const TimeSpan& span, double factor, double anchor_ms, double anchor_place, const TimeLimits& limits);
// Whether a span is the whole file.
bool IsWholeFile(const TimeSpan& span, const TimeLimits& limits);
// Moved by `fraction` of its length (negative: back in time).
TimeSpan PanSpan(const TimeSpan& span, double fraction, const TimeLimits& limits);

// Where a time lies on a plot `plot_width` wide, and the time at a column.
double ColumnOfTime(const TimeSpan& span, double time_ms, int plot_width);
double TimeOfColumn(const TimeSpan& span, double column, int plot_width);

// The step between time labels: the smallest of 0.1, 0.2, 0.5, 1, 2, 5, 10,
// 15, 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 5, 10 h that leaves at least
// `min_spacing` columns between labels.
uint32_t TimeLabelStepMs(const TimeSpan& span, int plot_width, int min_spacing);
// "m:ss", or "m:ss.s" when the step is below a second.
void FormatTimeLabel(uint32_t time_ms, uint32_t step_ms, char* out, size_t size);
// The stretch as the legend names it: "0:12.0 - 0:47.5".
void FormatSpan(const TimeSpan& span, char* out, size_t size);

// The windows that lie in the span, whole or in part: [*first, *last). Each
// window ends where the next starts, the last at `series_end_ms`.
void WindowsInSpan(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms, const TimeSpan& span,
                   uint32_t* first, uint32_t* last);

// One column of a bar chart: the item drawn there (the largest of those
// that fall in it) or -1, and where the bar starts and ends.
struct ChartBar {
    int32_t item;
    int x0;
    int x1;  // exclusive
};

// Where each frame shows on the time axis, and the frames in that order.
struct FramePlacement {
    std::vector<double> places;   // per frame, in file order
    std::vector<uint32_t> order;  // frame indices by place (file order among equals)
};

// Frames come in decode order, and not every frame has a time of its own: a
// B-frame carries its reference's time (plus 1 ms), though it shows before
// that reference, after the one before it; a frame behind another in one
// packet carries the packet's. So each reference frame (not B) stands at its
// time, or one interval after the reference before it when it shares the
// time of the frame before it; the B-frames after a reference in the file
// share the span between the reference before it and that one evenly (before
// the first reference, they lead up to it an interval apart).
FramePlacement PlaceFrames(const VideoFrame* frames, uint32_t count, double interval_ms);

// The frames that show in the span: positions [*first, *last) of `order`.
// A search, not a walk over every frame.
void FramesInSpan(const double* places, const uint32_t* order, uint32_t count, const TimeSpan& span, uint32_t* first,
                  uint32_t* last);

// The frames that show in the span as bars along a plot `plot_width` wide:
// one bar per frame, a frame interval wide (at least a column); where
// several frames share a column, the column shows the largest of them. Left
// to right; each bar's item is a frame index.
std::vector<ChartBar> FrameBars(const VideoFrame* frames, const double* places, const uint32_t* order, uint32_t count,
                                double interval_ms, const TimeSpan& span, int plot_width);
// The GOPs of the span as bars as wide as each lasts (at least a column).
std::vector<ChartBar> GopBars(const VideoGop* gops, uint32_t count, const TimeSpan& span, int plot_width);

#endif
