// Figures over the stored windows of a bitrate series that the chart's three
// figures leave out: spread, percentiles and the peak of a moving average.
#ifndef KOV_ANALYSIS_WINDOW_STATISTICS_H
#define KOV_ANALYSIS_WINDOW_STATISTICS_H

#include <cstdint>
#include <vector>

#include "analysis/analysis_run.h"

const uint32_t DEFAULT_PEAK_SPAN_MS = 10000;

// The three figures of the chart's legend.
struct SeriesStatisticsRecord {
    uint32_t max_kbps;
    uint32_t last_start_ms;
    int64_t average_kbps;  // the mean of the windows' kbps, truncated
};

// One value of the moving average: the time-weighted average of the run of
// whole windows from `first_window` that is the first to reach the span (as
// the statistics' peak takes them), placed at the run's middle.
struct MovingAveragePoint {
    uint32_t first_window;
    double middle_ms;
    double kbps;
};

// The moving average over `span_ms` of `count` windows, each ending where the
// next starts and the last at `series_end_ms`: one point per window that
// starts a run long enough, in time order (none when the windows are
// shorter than the span). Its largest value is the statistics' peak.
std::vector<MovingAveragePoint> MovingAverage(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms,
                                              uint32_t span_ms);

// The legend's figures of `count` windows in time order, as the chart counts
// them: no window at all is one window of 0 kbps.
SeriesStatisticsRecord SeriesStatisticsOf(const BitrateSample* windows, uint32_t count);

struct WindowStatistics {
    uint32_t count;  // windows covered; 0: no window, and every figure is 0
    uint32_t min_kbps;
    uint32_t max_kbps;
    double mean_kbps;  // of the windows' kbps, each window counting once
    // Percentiles by linear interpolation between closest ranks: the p-th
    // lies at rank p/100 x (count - 1) of the sorted values, counted from 0.
    double median_kbps;
    double p90_kbps;
    double p95_kbps;
    double p99_kbps;
    double stddev_kbps;  // population standard deviation
    // The peak of the moving average over peak_span_ms: the largest
    // time-weighted average (the windows' kbps weighted by their lengths) of
    // a run of whole consecutive windows that starts at a window and ends at
    // the first one that makes it at least peak_span_ms long. A series
    // shorter than that gives its whole average (peak_is_whole_series).
    uint32_t peak_span_ms;
    double peak_average_kbps;
    uint32_t peak_start_ms;
    uint32_t peak_end_ms;
    int peak_is_whole_series;
};

// Value at `percent` (0 to 100) of `count` ascending values, interpolated
// as above; 0 for no value.
double InterpolatedPercentile(const uint32_t* sorted, uint32_t count, double percent);

// `windows`: `count` windows in time order, each ending where the next
// starts and the last at `series_end_ms`. `scratch` holds `count` values
// (the sorted kbps afterwards).
void ComputeWindowStatistics(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms,
                             uint32_t peak_span_ms, uint32_t* scratch, WindowStatistics* out);

#endif
