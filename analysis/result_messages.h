// What the user is told about each way a run can end: the one table shared by
// the run driver's message boxes and the command-line tool.
#ifndef KOV_ANALYSIS_RESULT_MESSAGES_H
#define KOV_ANALYSIS_RESULT_MESSAGES_H

#include <cstddef>
#include <cstdint>

#include "analysis/analysis_run.h"

struct AnalysisResultMessage {
    const char* text;
    const char* caption;
};

// The message box for a result, or null when the result shows none
// (ANALYSIS_OK, ANALYSIS_CANCELLED, or a value that is no result).
const AnalysisResultMessage* FindResultMessage(AnalysisResult result);

// The result's constant name, e.g. "ANALYSIS_OK"; "ANALYSIS_UNKNOWN" for a
// value that is no result.
const char* AnalysisResultName(AnalysisResult result);

// Why a chart is empty, as a phrase for a line of text ("the video stream
// holds no packets"), and as a name for data ("no_packets"); null and
// nullptr-free: CHART_NOT_EMPTY gives null for both.
const char* EmptyChartPhrase(EmptyChart reason);
const char* EmptyChartName(EmptyChart reason);

// The pieces of the texts that say how a file ended. Each writes a terminated
// text into `out`, cut short if `size` is too small.

// Media time as minutes and seconds, truncated: 134467 ms gives "2:14"; the
// minutes go on past 59, as on the chart's time axis.
void FormatMinutesSeconds(uint32_t ms, char* out, size_t size);
// Whole hours and minutes, truncated: 20018999 ms gives "5 h 33 min".
void FormatHoursMinutes(uint32_t ms, char* out, size_t size);
// A byte count with thousands separators: "1,234,567".
void FormatThousands(uint64_t value, char* out, size_t size);
// Copies a text template, putting values[k - 1] where it says %k (k = 1 to
// 9); "%%" gives "%". A place with no value, or any other '%', stays as it
// is, so no template can make it read outside its values.
void FillTextTemplate(const char* text_template, const char* const* values, size_t value_count, char* out, size_t size);

#endif
