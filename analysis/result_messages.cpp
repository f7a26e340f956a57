// Each result's message and name, and the pieces the ending texts are made of.
#include "analysis/result_messages.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

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
    {ANALYSIS_HEADERS_FAILED,
     "ANALYSIS_HEADERS_FAILED",
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

const char* EmptyChartPhrase(EmptyChart reason) {
    switch (reason) {
    case EMPTY_NO_PACKETS:
        return "the video stream holds no packets";
    case EMPTY_STARTS_LATE:
        return "the video starts after 0:10; KOV charts videos that start within their first 10 seconds";
    case EMPTY_TOO_SHORT:
        return "the video ends before its first window (a little over a second) is complete";
    case EMPTY_DAMAGED:
        return "the file breaks off before the video's first window is complete";
    default:
        return nullptr;
    }
}

const char* EmptyChartName(EmptyChart reason) {
    switch (reason) {
    case EMPTY_NO_PACKETS:
        return "no_packets";
    case EMPTY_STARTS_LATE:
        return "starts_late";
    case EMPTY_TOO_SHORT:
        return "too_short";
    case EMPTY_DAMAGED:
        return "damaged";
    default:
        return nullptr;
    }
}

void FormatMinutesSeconds(uint32_t ms, char* out, size_t size) {
    const uint32_t seconds = ms / 1000;
    std::snprintf(out, size, "%" PRIu32 ":%02" PRIu32, seconds / 60, seconds % 60);
}

void FormatHoursMinutes(uint32_t ms, char* out, size_t size) {
    const uint32_t minutes = ms / 60000;
    std::snprintf(out, size, "%" PRIu32 " h %" PRIu32 " min", minutes / 60, minutes % 60);
}

void FormatThousands(uint64_t value, char* out, size_t size) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%" PRIu64, value);
    char grouped[32];
    size_t used = 0;
    for (int i = 0; i < length; ++i) {
        if (i > 0 && (length - i) % 3 == 0) grouped[used++] = ',';
        grouped[used++] = digits[i];
    }
    grouped[used] = '\0';
    std::snprintf(out, size, "%s", grouped);
}

void FillTextTemplate(const char* text_template, const char* const* values, size_t value_count, char* out,
                      size_t size) {
    if (!out || size == 0) return;
    size_t used = 0;
    auto put = [&](const char* text, size_t length) {
        const size_t room = size - 1 - used;
        const size_t part = length < room ? length : room;
        std::memcpy(out + used, text, part);
        used += part;
    };
    for (const char* p = text_template ? text_template : ""; *p;) {
        if (p[0] == '%' && p[1] == '%') {
            put("%", 1);
            p += 2;
            continue;
        }
        if (p[0] == '%' && p[1] >= '1' && p[1] <= '9') {
            const size_t k = static_cast<size_t>(p[1] - '1');
            if (k < value_count && values[k]) {
                put(values[k], std::strlen(values[k]));
                p += 2;
                continue;
            }
        }
        put(p, 1);
        ++p;
    }
    out[used] = '\0';
}
