// rmrate's plain lines, the statistics block under them, and the CSV rows.
#include <cstring>
#include <string>

#include "analysis/figures_text.h"
#include "analysis/result_messages.h"
#include "analysis/text_escape.h"
#include "tools/rmrate/rmrate.h"

namespace {

// What broke the data, as the reader put it, or its result's name when it
// said nothing.
std::string DamageMessage(const AnalysisDetails& details) {
    if (details.read_message[0] != '\0') return details.read_message;
    return CodeText(details.read_result);
}

// "; series full: ...", "; damaged at ..." and "; nothing charted: ...", in
// the order they happen in the file; nothing for a file that ended cleanly.
void AppendEnding(std::string& out, const FileResult& r) {
    const AnalysisDetails& d = r.measurement->details;
    if (d.series_full) {
        out += "; series full: ";
        AppendNumber(out, d.windows_not_stored);
        out += d.windows_not_stored == 1 ? " window not stored" : " windows not stored";
    }
    if (r.damaged) {
        out += "; damaged at byte ";
        AppendNumber(out, d.damage_offset);
        if (d.has_last_timestamp) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, " after %" PRIu32 ".%03" PRIu32 " s", d.last_timestamp_ms / 1000,
                          d.last_timestamp_ms % 1000);
            out += seconds;
        } else {
            out += " before the first video packet";
        }
        out += ": ";
        AppendEscaped(out, DamageMessage(d).c_str());
    }
    if (d.empty_chart != CHART_NOT_EMPTY) {
        out += "; nothing charted: ";
        out += EmptyChartPhrase(d.empty_chart);
    }
}

// The statistics block, each line indented under the file's line.
void PrintStatisticsBlock(const Measurement& m) {
    const size_t needed = FormatFiguresText(m, "\n", nullptr, 0);
    std::string text(needed + 1, '\0');
    FormatFiguresText(m, "\n", &text[0], text.size());
    text.resize(needed);
    std::string indented;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        indented += "  ";
        indented.append(text, start, end == std::string::npos ? std::string::npos : end + 1 - start);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    std::fwrite(indented.data(), 1, indented.size(), stdout);
}

}  // namespace

bool StreamMissing(const FileResult& r) {
    const Measurement& m = *r.measurement;
    return r.stream >= 0 && !m.details.stream_chosen && m.result == ANALYSIS_NO_VIDEO && !m.streams.empty();
}

std::string ResultText(const FileResult& r) {
    if (StreamMissing(r)) {
        char text[64];
        std::snprintf(text, sizeof text, "The file has no stream %" PRId32 ".", r.stream);
        return text;
    }
    const AnalysisResultMessage* message = FindResultMessage(r.measurement->result);
    return message ? message->text : "";
}

// Paths go out as they were given, the bytes unchanged: the console shows
// the name the user typed. Only the file's own texts are escaped.
void PrintFigures(const char* path, const FileResult& r) {
    const Measurement& m = *r.measurement;
    const std::string message = ResultText(r);
    std::string line;
    if (r.has_figures) {
        line += path;
        line += ": ";
        AppendNumber(line, m.details.windows_stored);
        line += " windows, max time ";
        // Whole seconds, as the chart's legend shows them.
        AppendNumber(line, m.figures.last_start_ms / 1000);
        line += " s, max bitrate ";
        AppendNumber(line, m.figures.max_kbps);
        line += " kbps, average bitrate ";
        AppendSigned(line, m.figures.average_kbps);
        line += " kbps";
        AppendEnding(line, r);
        WriteLine(line);
    }
    if (!message.empty()) {
        line.clear();
        line += path;
        line += ": ";
        line += message;
        WriteLine(line);
    }
    if (r.with_stats && m.result != ANALYSIS_OPEN_FAILED) PrintStatisticsBlock(m);
}

bool MeasuredCleanly(const FileResult& r) {
    // A chart with no window is no measurement either.
    return r.measurement->result == ANALYSIS_OK && !r.damaged && r.measurement->details.empty_chart == CHART_NOT_EMPTY;
}

void PrintCsv(const char* path, const FileResult& r) {
    bool written = WriteWindowsCsv(*r.measurement, stdout);
    (void)written;  // a failed write shows when stdout is flushed at the end
    PrintEndingToStderr(path, r);
}

void PrintEndingToStderr(const char* path, const FileResult& r) {
    // The rows are data; what went wrong, or what the rows leave out, goes
    // beside them.
    const std::string message = ResultText(r);
    if (!message.empty()) std::fprintf(stderr, "%s: %s\n", path, message.c_str());
    std::string ending;
    AppendEnding(ending, r);
    if (!ending.empty()) std::fprintf(stderr, "%s: %s\n", path, ending.c_str() + 2);
}
