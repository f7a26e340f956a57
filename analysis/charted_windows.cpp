// The charted windows, their keyframe marks, and the columns they lie at.
#include "analysis/charted_windows.h"

#include <cstring>

#include "analysis/series_statistics.h"

ChartedWindowsRecord ChartedWindows;

namespace {

// The column of point j of a curve of `point_count` points, as the curve is
// drawn: 64-bit product, truncated.
int PointColumn(int64_t j, int64_t point_count, int plot_width) {
    if (point_count < 2) return 0;
    return static_cast<int>(j * plot_width / (point_count - 1));
}

bool TwoPointsPerWindow() { return ChartedWindows.count <= uint32_t(TWO_POINTS_PER_WINDOW_LIMIT); }

uint32_t LastStart() { return ChartedWindows.windows[ChartedWindows.count - 1].start_ms; }

// The nearest of the 2n points; of two equally near, the left one.
int32_t WindowOfNearestPoint(int column, int plot_width) {
    const int64_t point_count = 2 * int64_t(ChartedWindows.count);
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
int32_t WindowOfNearestStart(int column, int plot_width) {
    const double time = double(column) * LastStart() / plot_width;
    // The first window that starts at or after that time.
    uint32_t low = 0;
    uint32_t high = ChartedWindows.count - 1;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (ChartedWindows.windows[middle].start_ms < time) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low > 0 && time - ChartedWindows.windows[low - 1].start_ms <= ChartedWindows.windows[low].start_ms - time) {
        return static_cast<int32_t>(low - 1);
    }
    return static_cast<int32_t>(low);
}

}  // namespace

void KeepChartedWindows() {
    uint32_t n = 1;
    while (n < uint32_t(BITRATE_SERIES_SIZE) && BitrateSeries[n].start_ms != 0) ++n;
    std::memcpy(ChartedWindows.windows, BitrateSeries, n * sizeof(BitrateSample));
    ChartedWindows.count = n;
    ChartedWindows.keyframes_known = 0;
    std::memset(ChartedWindows.keyframe, 0, sizeof ChartedWindows.keyframe);
}

bool ChartShowsWindows(const BitrateSample* windows, uint32_t count) {
    const ChartedWindowsRecord& charted = ChartedWindows;
    if (charted.count == 0) return false;
    if (count == 0) {
        return charted.count == 1 && charted.windows[0].start_ms == 0 && charted.windows[0].kbps == 0;
    }
    if (count != charted.count) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (windows[i].start_ms != charted.windows[i].start_ms || windows[i].kbps != charted.windows[i].kbps) {
            return false;
        }
    }
    return true;
}

bool NoteChartedKeyframes(const uint32_t* keyframes, uint32_t count) {
    if (ChartedWindows.count == 0) return false;
    // No stored window: the chart's one empty window holds no keyframe.
    const bool nothing_stored = count == 0 && ChartedWindows.count == 1;
    if (!nothing_stored && count != ChartedWindows.count) return false;
    std::memset(ChartedWindows.keyframe, 0, sizeof ChartedWindows.keyframe);
    for (uint32_t i = 0; i < count; ++i) ChartedWindows.keyframe[i] = keyframes[i] > 0 ? 1 : 0;
    ChartedWindows.keyframes_known = 1;
    return true;
}

int32_t ChartedWindowAtColumn(int column, int plot_width) {
    if (ChartedWindows.count == 0 || plot_width <= 0) return -1;
    if (column < 0) column = 0;
    if (column > plot_width) column = plot_width;
    if (TwoPointsPerWindow()) return WindowOfNearestPoint(column, plot_width);
    return WindowOfNearestStart(column, plot_width);
}

int ChartedWindowColumn(uint32_t index, int plot_width) {
    if (index >= ChartedWindows.count || plot_width <= 0) return 0;
    if (TwoPointsPerWindow()) {
        const int64_t point_count = 2 * int64_t(ChartedWindows.count);
        return (PointColumn(2 * int64_t(index), point_count, plot_width) +
                PointColumn(2 * int64_t(index) + 1, point_count, plot_width)) /
               2;
    }
    const uint32_t last = LastStart();
    const int64_t point_count = int64_t(VideoCurveBucket(last, last)) + 1;
    return PointColumn(VideoCurveBucket(ChartedWindows.windows[index].start_ms, last), point_count, plot_width);
}
