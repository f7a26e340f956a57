// What the user is told about each way a run can end: the one table shared by
// the run driver's message boxes and the command-line tool.
#ifndef KOV_ANALYSIS_RESULT_MESSAGES_H
#define KOV_ANALYSIS_RESULT_MESSAGES_H

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

#endif
