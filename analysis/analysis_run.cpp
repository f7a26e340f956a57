// The process-wide state of the analysis run: the series and the pending flag.
#include "analysis/analysis_run.h"

BitrateSample BitrateSeries[BITRATE_SERIES_SIZE];
int32_t AnalysisPending = 1;

void IgnoreParserError(void*, rm_result, const char*) {}
