// Fuzz target: KOV's whole measurement of one file (the run's own buffered
// reader, the packet loop, the statistics) over arbitrary bytes, opened by
// name as KOV opens files. The bytes live in an anonymous in-memory file, so a
// run leaves nothing on disk, not even when it stops on a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "analysis/analysis_run.h"
#include "analysis/figures_text.h"
#include "analysis/measurement.h"
#include "chart/series_statistics.h"
#include "rmparser/rm_reader.h"

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

// Where the packets of a file lie, as the reader walks every kept stream's
// headers: the first packet's start, the end of the last, and whether every
// packet came from a DATA chunk with a declared end (without one, a cut at a
// packet boundary leaves no evidence, and zero bytes may be padding).
struct PacketSpan {
    bool clean = false;
    bool declared_ends = true;
    uint64_t first = 0;
    uint64_t last_start = 0;
    uint64_t end = 0;
    uint64_t packets = 0;
};

void IgnoreReport(void*, rm_result, const char*) {}

PacketSpan WalkPackets(const std::string& path) {
    PacketSpan span;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return span;
    rm_reader* reader = rm_reader_new(nullptr, IgnoreReport);
    if (reader && rm_reader_attach_stdio(reader, file) == RM_OK && rm_reader_load_headers(reader) == RM_OK) {
        for (;;) {
            rm_packet packet = {};
            const rm_result read = rm_reader_next_packet_header(reader, &packet, -1);
            if (read != RM_OK) {
                span.clean = read == RM_END_OF_DATA;
                break;
            }
            const uint64_t start = rm_reader_packet_offset(reader);
            if (span.packets++ == 0) span.first = start;
            span.last_start = start;
            span.end = start + RM_PACKET_HEADER_SIZE + packet.length;
            if (reader->data_end == 0) span.declared_ends = false;
        }
    }
    rm_reader_delete(&reader);
    std::fclose(file);
    return span;
}

uint64_t Mix(const uint8_t* data, size_t size, uint64_t salt) {
    uint64_t h = 1469598103934665603ull ^ salt;
    for (size_t i = 0; i < size; i += 1 + size / 64) h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

// A file read to a clean end, cut anywhere inside its packet data, is
// damaged, and keeps a prefix of the whole file's windows: the verdict's
// promise, checked on whatever files the fuzzer finds.
void CheckCutsAreDamage(int fd, const std::string& path, const uint8_t* data, size_t size, const Measurement& whole) {
    if (whole.totals_ending != DATA_END_CLEAN) return;
    const PacketSpan span = WalkPackets(path);
    if (!span.clean || !span.declared_ends || span.packets == 0 || span.end <= span.first) return;
    Measurement cut_figures;
    MeasureOptions options;
    options.pump = keep_going;
    const uint64_t cuts[] = {span.first + Mix(data, size, 1) % (span.end - span.first),
                             span.last_start + Mix(data, size, 2) % (span.end - span.last_start)};
    for (uint64_t cut : cuts) {
        if (cut >= size || !WriteInput(fd, data, size_t(cut))) continue;
        Measure(path.c_str(), options, &cut_figures);
        if (cut_figures.totals_ending == DATA_END_CLEAN) __builtin_trap();
        if (cut_figures.details.windows_stored > whole.details.windows_stored) __builtin_trap();
        for (uint32_t i = 0; i < cut_figures.details.windows_stored; ++i) {
            if (cut_figures.windows[i].start_ms != whole.windows[i].start_ms ||
                cut_figures.windows[i].kbps != whole.windows[i].kbps) {
                __builtin_trap();
            }
        }
    }
}

bool SameWindows(const std::vector<BitrateSample>& a, const std::vector<BitrateSample>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].start_ms != b[i].start_ms || a[i].kbps != b[i].kbps) return false;
    }
    return true;
}

// Every stream's packets, as the measurement counted them.
bool SamePackets(const Measurement& a, const Measurement& b) {
    if (a.streams.size() != b.streams.size()) return false;
    for (size_t i = 0; i < a.streams.size(); ++i) {
        if (a.streams[i].packets != b.streams[i].packets) return false;
    }
    return true;
}

// Keeping every stream leaves the default measurement as it is where it
// reads the same packets (it also reads the DATA chunks a multi-rate file
// chains, which an ordinary read leaves), and the whole file's series is the
// whole file's windows when both passes read every packet.
void CheckEveryStream(const std::string& path, const Measurement& usual) {
    MeasureOptions options;
    options.pump = keep_going;
    options.every_stream = true;
    options.whole_file = true;
    Measurement every;
    Measure(path.c_str(), options, &every);
    if (SamePackets(every, usual) && (every.result != usual.result || !SameWindows(every.windows, usual.windows))) {
        __builtin_trap();
    }
    if (every.stream_windows.size() != every.streams.size()) __builtin_trap();
    // Without the whole file's windows the streams' packets come in runs cut
    // by their windows' spans: the same windows as packet by packet.
    options.whole_file = false;
    Measurement spanned;
    Measure(path.c_str(), options, &spanned);
    if (spanned.result != every.result || !SameWindows(spanned.windows, every.windows) ||
        spanned.stream_windows.size() != every.stream_windows.size() || !SamePackets(spanned, every)) {
        __builtin_trap();
    }
    for (size_t i = 0; i < every.stream_windows.size(); ++i) {
        const StreamWindows& a = every.stream_windows[i];
        const StreamWindows& b = spanned.stream_windows[i];
        if (!SameWindows(a.windows, b.windows) || a.series_end_ms != b.series_end_ms || a.not_stored != b.not_stored ||
            a.end != b.end || a.max_kbps != b.max_kbps || every.streams[i].bytes != spanned.streams[i].bytes) {
            __builtin_trap();
        }
    }
    options.whole_file = true;
    options.series_stream = MEASURE_ALL_STREAMS;
    Measurement all;
    Measure(path.c_str(), options, &all);
    // Unless the video stopped the first pass early (a gap, a late start).
    if (every.totals_ending != DATA_END_NOT_REACHED && !SameWindows(all.windows, every.file_windows.windows)) {
        __builtin_trap();
    }
}

// The frames pass (runs of views) counts what the usual pass (runs) counts,
// and stops where it stops.
void CheckFramesPassCountsAlike(const std::string& path, const Measurement& usual) {
    MeasureOptions options;
    options.pump = keep_going;
    options.frames = true;
    Measurement viewed;
    Measure(path.c_str(), options, &viewed);
    if (viewed.result != usual.result || !SameWindows(viewed.windows, usual.windows)) __builtin_trap();
    if (viewed.streams.size() != usual.streams.size() || viewed.totals_ending != usual.totals_ending) __builtin_trap();
    for (size_t i = 0; i < usual.streams.size(); ++i) {
        const StreamFigures& a = usual.streams[i];
        const StreamFigures& b = viewed.streams[i];
        if (a.packets != b.packets || a.bytes != b.bytes ||
            (a.packets != 0 && (a.first_ms != b.first_ms || a.last_ms != b.last_ms))) {
            __builtin_trap();
        }
    }
    if (viewed.packets_end.has_last_timestamp != usual.packets_end.has_last_timestamp ||
        viewed.packets_end.last_timestamp_ms != usual.packets_end.last_timestamp_ms) {
        __builtin_trap();
    }
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
    Measurement measurement;
    const AnalysisResult result = MeasureFile(path.c_str(), keep_going, nullptr, &measurement);
    if (ResultIsCharted(result)) {
        ComputeSeriesStatistics();
    }
    // The end marker of the series must survive every file.
    if (BitrateSeries[BITRATE_SERIES_SIZE - 1].start_ms != 0) {
        __builtin_trap();
    }
    // Damage is found within the file, and only while a stream is read.
    const AnalysisDetails& details = measurement.details;
    if (details.ending == DATA_END_DAMAGED && (details.damage_offset > size || !details.stream_chosen)) {
        __builtin_trap();
    }
    // The series is the measurement's windows, every one of them.
    if (measurement.windows.size() != details.windows_stored ||
        measurement.window_keyframes.size() != details.windows_stored) {
        __builtin_trap();
    }
    for (uint32_t i = 0; i < details.windows_stored; ++i) {
        if (measurement.windows[i].start_ms != BitrateSeries[i].start_ms ||
            measurement.windows[i].kbps != BitrateSeries[i].kbps) {
            __builtin_trap();
        }
    }
    // Its text, whatever the file holds.
    static char text[64 * 1024];
    FormatFiguresText(measurement, "\n", text, sizeof text);

    // Before the cuts, which write over the input.
    CheckEveryStream(path, measurement);
    CheckFramesPassCountsAlike(path, measurement);
    CheckCutsAreDamage(fd, path, data, size, measurement);
    return 0;
}
