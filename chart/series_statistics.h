// The series reduced to the legend's figures and the Video curve: what the
// chart draws of a run, filled from the bitrate series the run left.
#ifndef KOV_CHART_SERIES_STATISTICS_H
#define KOV_CHART_SERIES_STATISTICS_H

#include <cstdint>

#include "analysis/window_statistics.h"

extern SeriesStatisticsRecord SeriesStatistics;

// Reads BitrateSeries; writes SeriesStatistics, the ranges of the Audio and
// Video curves and the Video points. Always returns 1.
int ComputeSeriesStatistics();

// How windows become Video points: two equal points per window up to this
// many windows; beyond, one point per bucket of start times.
const int TWO_POINTS_PER_WINDOW_LIMIT = 512;
// The bucket (the point) of a window that starts at start_ms, in a series
// whose largest start is largest_start_ms: 0 to 1023.
uint32_t VideoCurveBucket(uint32_t start_ms, uint32_t largest_start_ms);

#endif
