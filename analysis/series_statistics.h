// Reduces the bitrate series to the legend's figures and the Video curve.
#ifndef KOV_ANALYSIS_SERIES_STATISTICS_H
#define KOV_ANALYSIS_SERIES_STATISTICS_H

#include <cstdint>

struct SeriesStatisticsRecord {
    uint32_t max_kbps;
    uint32_t last_start_ms;
    int64_t average_kbps;
};

extern SeriesStatisticsRecord SeriesStatistics;

// Reads BitrateSeries; writes SeriesStatistics, the ranges of the Audio and
// Video curves and the Video points. Always returns 1.
int ComputeSeriesStatistics();

#endif
