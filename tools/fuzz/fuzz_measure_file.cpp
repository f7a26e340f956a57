// Fuzz target: KOV's whole measurement of one file (the run's own buffered
// reader, the packet loop, the statistics) over arbitrary bytes, opened by
// name as KOV opens files. The bytes live in an anonymous in-memory file, so a
// run leaves nothing on disk, not even when it stops on a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "analysis/analysis_run.h"
#include "analysis/figures_text.h"
#include "analysis/file_figures.h"
#include "analysis/series_statistics.h"

namespace {

int keep_going(void*) { return 1; }

// The in-memory file, made once per process; -1 when it could not be made.
int InputDescriptor() {
    static const int fd = memfd_create("kov_fuzz_measure", 0);
    return fd;
}

bool WriteInput(int fd, const uint8_t* data, size_t size) {
    if (ftruncate(fd, 0) != 0) {
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t wrote = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = InputDescriptor();
    if (fd < 0 || !WriteInput(fd, data, size)) {
        // Measuring nothing would pass every input: stop instead.
        std::perror("fuzz_measure_file: in-memory input file");
        std::abort();
    }
    // Opening the descriptor's /proc name gives the run its own file
    // position, as a fresh open of a file on disk would.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    AnalysisDetails details;
    const AnalysisResult result = MeasureFile(path.c_str(), keep_going, nullptr, &details);
    if (result == ANALYSIS_OK || result == ANALYSIS_FRAME_GAP) {
        ComputeSeriesStatistics();
    }
    // The end marker of the series must survive every file.
    if (BitrateSeries[BITRATE_SERIES_SIZE - 1].start_ms != 0) {
        __builtin_trap();
    }
    // Damage is found within the file, and only while a stream is read.
    if (details.ending == DATA_END_DAMAGED && (details.damage_offset > size || !details.stream_chosen)) {
        __builtin_trap();
    }

    // The figures pass over the same file: the same windows and ending, and
    // its text and rows written whatever the file holds.
    static FileFigures figures;
    if (MeasureFileFigures(path.c_str(), 10000, keep_going, nullptr, &figures) != result ||
        figures.details.windows_stored != details.windows_stored || figures.details.ending != details.ending ||
        figures.details.damage_offset != details.damage_offset) {
        __builtin_trap();
    }
    for (uint32_t i = 0; i < details.windows_stored; ++i) {
        if (figures.windows[i].start_ms != BitrateSeries[i].start_ms ||
            figures.windows[i].kbps != BitrateSeries[i].kbps) {
            __builtin_trap();
        }
    }
    static char text[64 * 1024];
    FormatFiguresText(figures, "\n", text, sizeof text);
    return 0;
}
