// rmrate --report: a verdict per file over files and folder trees, from a
// pool of workers, written in path order.
#ifndef KOV_TOOLS_RMRATE_REPORT_H
#define KOV_TOOLS_RMRATE_REPORT_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/file_report.h"

// Exit status of a report that a stop request (Ctrl+C) ended.
const int EXIT_INTERRUPTED = 130;

struct ReportOptions {
    bool csv = false;
    unsigned jobs = 1;
    // Draw the progress line on stderr (when it is a terminal).
    bool progress = false;
};

// One file's line: a JSON object, or a CSV row (after ReportCsvHeader).
std::string ReportJsonLine(const std::string& path, const FileReport& report);
std::string ReportCsvHeader();
std::string ReportCsvRow(const std::string& path, const FileReport& report);

// The progress line: files done of all, bytes, rate and time left.
std::string ProgressLine(uint64_t files_done, uint64_t files, uint64_t bytes_done, uint64_t bytes, double seconds);

// Whether stderr is a terminal that a progress line may be drawn on.
bool StderrIsTerminal();

// Reports on every file the operands name; returns the exit status: 0 when
// every file is clean, 1 when any is not, EXIT_INTERRUPTED after a stop
// request, when only whole lines have been written.
int RunReport(const std::vector<std::string>& operands, const ReportOptions& options);

#endif
