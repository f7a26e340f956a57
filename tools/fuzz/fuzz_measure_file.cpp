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
    return 0;
}
