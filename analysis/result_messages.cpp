#include "analysis/result_messages.h"

namespace {

struct ResultEntry {
    AnalysisResult result;
    const char* name;
    AnalysisResultMessage message;  // null text: no message box
};

const ResultEntry RESULT_TABLE[] = {
    {ANALYSIS_OK, "ANALYSIS_OK", {nullptr, nullptr}},
    {ANALYSIS_NO_VIDEO, "ANALYSIS_NO_VIDEO", {"There is no RealVideo stream in this file", "Wrong video format"}},
    {ANALYSIS_OPEN_FAILED, "ANALYSIS_OPEN_FAILED", {"Sorry, can not open the file", "Failure to open files"}},
    {ANALYSIS_PARSER_FAILED, "ANALYSIS_PARSER_FAILED", {"Create video file parser failure", "Analysis of failure"}},
    {ANALYSIS_HEADERS_FAILED, "ANALYSIS_HEADERS_FAILED",
     {"Fail to analyse the headers of the .rm file", "Analysis of failure"}},
    {ANALYSIS_FRAME_GAP, "ANALYSIS_FRAME_GAP", {"Some frame errors in the .rm video file", "Frame error"}},
    {ANALYSIS_CANCELLED, "ANALYSIS_CANCELLED", {nullptr, nullptr}},
};

const ResultEntry* FindEntry(AnalysisResult result) {
    for (const ResultEntry& entry : RESULT_TABLE) {
        if (entry.result == result) return &entry;
    }
    return nullptr;
}

}  // namespace

const AnalysisResultMessage* FindResultMessage(AnalysisResult result) {
    const ResultEntry* entry = FindEntry(result);
    return entry && entry->message.text ? &entry->message : nullptr;
}

const char* AnalysisResultName(AnalysisResult result) {
    const ResultEntry* entry = FindEntry(result);
    return entry ? entry->name : "ANALYSIS_UNKNOWN";
}
