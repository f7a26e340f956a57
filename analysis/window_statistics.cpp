// Spread, percentiles and the moving-average peak of the stored windows.
#include "analysis/window_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint32_t WindowLength(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms, uint32_t i) {
    const uint32_t end = i + 1 < count ? windows[i + 1].start_ms : series_end_ms;
    return end > windows[i].start_ms ? end - windows[i].start_ms : 0;
}

// Two pointers over the windows: for each first window, the run grows until
// it spans the asked length, and the next first window drops the run's head.
// `visit(first, bits, span)` sees each run that gets long enough: its first
// window, kbps x ms over it, and its length.
template <class Visit>
void WalkRuns(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms, uint32_t span_ms, Visit visit) {
    double bits = 0.0;
    uint64_t span = 0;
    uint32_t last = 0;  // one past the run's last window
    for (uint32_t first = 0; first < count; ++first) {
        while (span < span_ms && last < count) {
            const uint32_t length = WindowLength(windows, count, series_end_ms, last);
            bits += double(windows[last].kbps) * length;
            span += length;
            ++last;
        }
        if (span < span_ms) break;  // no later run gets long enough
        visit(first, bits, span);
        const uint32_t length = WindowLength(windows, count, series_end_ms, first);
        bits -= double(windows[first].kbps) * length;
        span -= length;
    }
}

void FindPeakAverage(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms, WindowStatistics* out) {
    double best = -1.0;
    WalkRuns(windows, count, series_end_ms, out->peak_span_ms, [&](uint32_t first, double bits, uint64_t span) {
        const double average = bits / double(span);
        if (average > best) {
            best = average;
            out->peak_average_kbps = average;
            out->peak_start_ms = windows[first].start_ms;
            out->peak_end_ms = uint32_t(windows[first].start_ms + span);
        }
    });
    if (best >= 0.0) return;
    // Shorter than the span: the whole series' time-weighted average.
    double all_bits = 0.0;
    uint64_t all_span = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = WindowLength(windows, count, series_end_ms, i);
        all_bits += double(windows[i].kbps) * length;
        all_span += length;
    }
    out->peak_is_whole_series = 1;
    out->peak_average_kbps = all_span ? all_bits / double(all_span) : 0.0;
    out->peak_start_ms = windows[0].start_ms;
    out->peak_end_ms = uint32_t(windows[0].start_ms + all_span);
}

}  // namespace

double InterpolatedPercentile(const uint32_t* sorted, uint32_t count, double percent) {
    if (count == 0) return 0.0;
    const double rank = percent / 100.0 * double(count - 1);
    const uint32_t below = uint32_t(std::floor(rank));
    if (below + 1 >= count) return sorted[count - 1];
    const double fraction = rank - below;
    return sorted[below] + (double(sorted[below + 1]) - double(sorted[below])) * fraction;
}

void ComputeWindowStatistics(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms,
                             uint32_t peak_span_ms, uint32_t* scratch, WindowStatistics* out) {
    std::memset(out, 0, sizeof *out);
    out->peak_span_ms = peak_span_ms ? peak_span_ms : 1;  // a run of no length has no average
    if (count == 0) return;
    out->count = count;

    double sum = 0.0;
    for (uint32_t i = 0; i < count; ++i) {
        scratch[i] = windows[i].kbps;
        sum += windows[i].kbps;
    }
    out->mean_kbps = sum / count;
    double squares = 0.0;
    for (uint32_t i = 0; i < count; ++i) {
        const double deviation = windows[i].kbps - out->mean_kbps;
        squares += deviation * deviation;
    }
    out->stddev_kbps = std::sqrt(squares / count);

    std::sort(scratch, scratch + count);
    out->min_kbps = scratch[0];
    out->max_kbps = scratch[count - 1];
    out->median_kbps = InterpolatedPercentile(scratch, count, 50.0);
    out->p90_kbps = InterpolatedPercentile(scratch, count, 90.0);
    out->p95_kbps = InterpolatedPercentile(scratch, count, 95.0);
    out->p99_kbps = InterpolatedPercentile(scratch, count, 99.0);

    FindPeakAverage(windows, count, series_end_ms, out);
}

SeriesStatisticsRecord SeriesStatisticsOf(const BitrateSample* windows, uint32_t count) {
    SeriesStatisticsRecord figures = {0, 0, 0};
    // At most 20000 sums of 32-bit values: the 64-bit sum cannot wrap and the
    // quotient fits the signed field.
    uint64_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        sum += windows[i].kbps;
        if (windows[i].kbps > figures.max_kbps) figures.max_kbps = windows[i].kbps;
        figures.last_start_ms = windows[i].start_ms;
    }
    figures.average_kbps = static_cast<int64_t>(sum / uint64_t(count ? count : 1));
    return figures;
}

std::vector<MovingAveragePoint> MovingAverage(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms,
                                              uint32_t span_ms) {
    std::vector<MovingAveragePoint> points;
    if (span_ms == 0) return points;
    WalkRuns(windows, count, series_end_ms, span_ms, [&](uint32_t first, double bits, uint64_t span) {
        points.push_back({first, windows[first].start_ms + double(span) / 2.0, bits / double(span)});
    });
    return points;
}
