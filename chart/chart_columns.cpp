// Which charted window lies under which column of the plot, and where each one's mark goes.
#include "chart/chart_view.h"

#include <algorithm>
#include <cmath>

namespace {

// The column of point j of a curve of `point_count` points, as the curve is
// drawn: 64-bit product, truncated.
int PointColumn(int64_t j, int64_t point_count, int plot_width) {
    if (point_count < 2) return 0;
    return static_cast<int>(j * plot_width / (point_count - 1));
}

bool TwoPointsPerWindow(const ChartView& view) { return view.window_count <= uint32_t(TWO_POINTS_PER_WINDOW_LIMIT); }

uint32_t LastStart(const ChartView& view) { return view.windows[view.window_count - 1].start_ms; }

// The nearest of the 2n points; of two equally near, the left one.
int32_t WindowOfNearestPoint(const ChartView& view, int column, int plot_width) {
    const int64_t point_count = 2 * int64_t(view.window_count);
    // The point the column would hold if columns were not truncated; the
    // truncated ones lie at most one point away from it.
    const int64_t guess = (2 * int64_t(column) * (point_count - 1) + plot_width) / (2 * int64_t(plot_width));
    int64_t best = -1;
    int best_distance = 0;
    for (int64_t j = guess - 1; j <= guess + 1; ++j) {
        if (j < 0 || j >= point_count) continue;
        int distance = PointColumn(j, point_count, plot_width) - column;
        if (distance < 0) distance = -distance;
        if (best < 0 || distance < best_distance) {
            best = j;
            best_distance = distance;
        }
    }
    return static_cast<int32_t>(best / 2);
}

// The window whose start lies nearest the column's time; of two equally
// near, the earlier.
int32_t WindowOfNearestStart(const ChartView& view, int column, int plot_width) {
    const double time = double(column) * LastStart(view) / plot_width;
    // The first window that starts at or after that time.
    uint32_t low = 0;
    uint32_t high = view.window_count - 1;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (view.windows[middle].start_ms < time) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low > 0 && time - view.windows[low - 1].start_ms <= view.windows[low].start_ms - time) {
        return static_cast<int32_t>(low - 1);
    }
    return static_cast<int32_t>(low);
}

}  // namespace

int32_t ChartedWindowAtColumn(const ChartView& view, int column, int plot_width) {
    if (view.window_count == 0 || view.windows == nullptr || plot_width <= 0) return -1;
    if (column < 0) column = 0;
    if (column > plot_width) column = plot_width;
    if (TwoPointsPerWindow(view)) return WindowOfNearestPoint(view, column, plot_width);
    return WindowOfNearestStart(view, column, plot_width);
}

int ChartedWindowColumn(const ChartView& view, uint32_t index, int plot_width) {
    if (index >= view.window_count || view.windows == nullptr || plot_width <= 0) return 0;
    if (TwoPointsPerWindow(view)) {
        const int64_t point_count = 2 * int64_t(view.window_count);
        return (PointColumn(2 * int64_t(index), point_count, plot_width) +
                PointColumn(2 * int64_t(index) + 1, point_count, plot_width)) /
               2;
    }
    const uint32_t last = LastStart(view);
    const int64_t point_count = int64_t(VideoCurveBucket(last, last)) + 1;
    return PointColumn(VideoCurveBucket(view.windows[index].start_ms, last), point_count, plot_width);
}

TimeLimits ChartTimeLimits(const ChartView& view) {
    TimeLimits limits;
    double end = view.series_end_ms;
    if (view.frame_count > 0 && view.frame_places && view.frame_order) {
        end = std::max(end, view.frame_places[view.frame_order[view.frame_count - 1]] + view.frame_interval_ms);
    }
    for (uint32_t i = 0; i < view.extra_count; ++i) end = std::max(end, double(view.extra_series[i].end_ms));
    if (view.gop_count > 0) {
        end = std::max(end, double(view.gops[view.gop_count - 1].start_ms) + view.gops[view.gop_count - 1].duration_ms);
    }
    const double largest = 4294967295.0;  // damaged timestamps may reach past what a span holds
    limits.end_ms = end < 1 ? 1 : end > largest ? uint32_t(largest) : uint32_t(std::ceil(end));
    const double few_frames = MIN_VISIBLE_FRAMES * view.frame_interval_ms;
    limits.min_ms = few_frames > MIN_VISIBLE_MS ? uint32_t(few_frames) : MIN_VISIBLE_MS;
    return limits;
}

TimeSpan ShownSpan(const ChartView& view) {
    if (view.zoomed) return view.visible;
    return TimeSpan{0, ChartTimeLimits(view).end_ms};
}

bool ShowsWholeFileChart(const ChartView& view) {
    return !view.zoomed && view.kind == CHART_BITRATE && view.extra_count == 0;
}

namespace {

uint32_t WindowEnd(const ChartView& view, uint32_t i) {
    return i + 1 < view.window_count ? view.windows[i + 1].start_ms
                                     : std::max(view.series_end_ms, view.windows[i].start_ms);
}

}  // namespace

double ChartTimeAtColumn(const ChartView& view, int column, int plot_width) {
    if (ShowsWholeFileChart(view)) {
        const int32_t window = ChartedWindowAtColumn(view, column, plot_width);
        if (window < 0) return 0;
        return (double(view.windows[window].start_ms) + WindowEnd(view, uint32_t(window))) / 2;
    }
    return TimeOfColumn(ShownSpan(view), column, plot_width);
}

TimeSpan ChartSpanOfColumns(const ChartView& view, int column0, int column1, int plot_width) {
    if (column1 < column0) std::swap(column0, column1);
    if (ShowsWholeFileChart(view)) {
        const int32_t first = ChartedWindowAtColumn(view, column0, plot_width);
        const int32_t last = ChartedWindowAtColumn(view, column1, plot_width);
        if (first < 0 || last < 0) return ShownSpan(view);
        return TimeSpan{view.windows[first].start_ms, WindowEnd(view, uint32_t(last))};
    }
    const TimeSpan shown = ShownSpan(view);
    const double from = std::max(0.0, TimeOfColumn(shown, column0, plot_width));
    const double to = std::max(from, TimeOfColumn(shown, column1, plot_width));
    return TimeSpan{uint32_t(std::floor(from)), uint32_t(std::ceil(to))};
}
