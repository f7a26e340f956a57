// Fuzz target: KOV's whole measurement of one file (the run's own buffered
// reader, the packet loop, the statistics) over arbitrary bytes written to a
// file, as KOV opens files by name.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "analysis/analysis_run.h"
#include "analysis/series_statistics.h"

namespace {

int keep_going(void*) { return 1; }

const std::string& input_path() {
    static const std::string path = "/tmp/kov_fuzz_measure_" + std::to_string(getpid()) + ".rm";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(input_path().c_str(), "wb");
    if (!file) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        return 0;
    }
    AnalysisDetails details;
    const AnalysisResult result = MeasureFile(input_path().c_str(), keep_going, nullptr, &details);
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
