// The series reduced to the legend's figures and the Video curve's points.
#include "chart/series_statistics.h"

#include "analysis/analysis_run.h"
#include "chart/chart_model.h"

SeriesStatisticsRecord SeriesStatistics;

namespace {

// Entry 0 always counts; the series ends at the first later zero start time
// or at the end of the table.
int CountVisitedSamples() {
    int n = 1;
    while (n < BITRATE_SERIES_SIZE && BitrateSeries[n].start_ms != 0) ++n;
    return n;
}

static_assert(TWO_POINTS_PER_WINDOW_LIMIT * 2 == CURVE_MAX_POINTS, "two points per window fill the curve");

void FillTwoPointsPerSample(ChartCurve& video, int n) {
    for (int i = 0; i < n; ++i) {
        const float value = static_cast<float>(BitrateSeries[i].kbps);
        video.points[2 * i] = value;
        video.points[2 * i + 1] = value;
    }
    video.point_count = 2 * n;
}

// Long series: each sample raises every bucket from the previous sample's
// bucket up to its own, so neighbouring samples share their end buckets and
// no bucket between them stays empty.
void FillBuckets(ChartCurve& video, int n, uint32_t largest_start) {
    for (float& point : video.points) point = 0.0f;
    int64_t current = 0;
    for (int i = 0; i < n; ++i) {
        const int64_t bucket = VideoCurveBucket(BitrateSeries[i].start_ms, largest_start);
        const float value = static_cast<float>(BitrateSeries[i].kbps);
        if (bucket >= current) {
            for (int64_t b = current; b <= bucket; ++b) {
                if (value > video.points[b]) video.points[b] = value;
            }
        }
        current = bucket;
    }
    video.point_count = static_cast<int32_t>(current + 1);
}

}  // namespace

uint32_t VideoCurveBucket(uint32_t start_ms, uint32_t largest_start_ms) {
    // A start beyond the largest (never in a series) still stays on the curve.
    if (start_ms > largest_start_ms) start_ms = largest_start_ms;
    return uint32_t(uint64_t(start_ms) * CURVE_MAX_POINTS / (uint64_t(largest_start_ms) + 1));
}

int ComputeSeriesStatistics() {
    const int n = CountVisitedSamples();
    SeriesStatistics = SeriesStatisticsOf(BitrateSeries, uint32_t(n));
    uint32_t largest_start = 0;
    for (int i = 0; i < n; ++i) {
        if (BitrateSeries[i].start_ms > largest_start) largest_start = BitrateSeries[i].start_ms;
    }

    const float top = static_cast<float>(SeriesStatistics.max_kbps);
    ChartCurves[CURVE_AUDIO].top = top;
    ChartCurves[CURVE_AUDIO].bottom = 0.0f;
    ChartCurves[CURVE_VIDEO].top = top;
    ChartCurves[CURVE_VIDEO].bottom = 0.0f;

    if (n <= TWO_POINTS_PER_WINDOW_LIMIT) {
        FillTwoPointsPerSample(ChartCurves[CURVE_VIDEO], n);
    } else {
        FillBuckets(ChartCurves[CURVE_VIDEO], n, largest_start);
    }
    return 1;
}
