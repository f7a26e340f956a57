// The packet loop: one file's first RealVideo stream measured into BitrateSeries.
#include "analysis/analysis_run.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

#include "analysis/measured_stream.h"
#include "analysis/media_file_buffer.h"

BitrateSample BitrateSeries[BITRATE_SERIES_SIZE];
int32_t AnalysisPending = 1;

void IgnoreParserError(void*, rm_result, const char*) {}

namespace {

// Only the first RealVideo stream in index order is measured. A failed fetch
// ends the search, even if a later stream would have been video.
bool ChooseVideoStream(RunResources& run, uint32_t count, uint32_t* index) {
    for (uint32_t i = 0; i < count; ++i) {
        rm_stream_header* header = nullptr;
        if (rm_reader_fetch_stream_header(run.reader, i, &header) != RM_OK || !header) return false;
        if (rm_stream_header_is_video(header)) {
            run.header = header;
            *index = i;
            return true;
        }
        rm_reader_release_stream_header(run.reader, &header);
    }
    return false;
}

AnalysisResult MeasureStream(RunResources& run, uint32_t stream_index, AnalysisPumpFn pump, void* pump_context,
                             ParserReport& report, uint64_t file_size, AnalysisDetails* details) {
    // Stream indexes come from a 16-bit stream count, so the selector is
    // never negative.
    const int32_t selector = static_cast<uint16_t>(stream_index);
    WindowAccumulator windows = {};
    AnalysisResult result = ANALYSIS_OK;
    bool started_late = false;
    // Reports made while the headers were read say nothing about the packets.
    report.code = RM_OK;
    report.message[0] = '\0';

    for (;;) {
        // Whatever ends the packets, the windows stored so far stand and the
        // open window is dropped; how the data ended goes into the details.
        const rm_result read = rm_reader_next_packet(run.reader, &run.packet, selector);
        if (read != RM_OK || !run.packet) {
            NoteEndOfPackets(run.reader, read, report, file_size, details);
            break;
        }
        details->has_last_timestamp = 1;
        details->last_timestamp_ms = run.packet->timestamp;

        BitrateSample closed;
        const WindowStep step = AddPacketToWindow(&windows, run.packet->timestamp, run.packet->length, &closed);
        if (step == WINDOW_GOES_ON) {
            rm_reader_release_packet(run.reader, &run.packet);
            continue;
        }
        if (step == WINDOW_STARTS_LATE) {
            started_late = true;
            break;
        }
        if (step == WINDOW_GAP) {
            result = ANALYSIS_FRAME_GAP;
            break;
        }
        // Once per closed window, stored or not, so the window stays alive
        // through files longer than the table.
        if (pump && !pump(pump_context)) {
            details->stopped_by_pump = 1;
            result = ANALYSIS_CANCELLED;
            break;
        }
        KeepWindow(BitrateSeries, closed, details);
        rm_reader_release_packet(run.reader, &run.packet);
    }
    NoteEmptyChart(result, started_late, details);
    return result;
}

// A name the system describes as anything but a regular file is refused
// before it is opened: opening a FIFO waits for a writer. Devices that only
// show after opening (COM1 on Windows) are caught on the open descriptor.
#ifdef _WIN32
typedef struct _stati64 FileStatus;
int StatusOfPath(const char* path, FileStatus* status) { return _stati64(path, status); }
int StatusOfFile(FILE* file, FileStatus* status) { return _fstati64(_fileno(file), status); }
bool IsRegularFile(const FileStatus& status) { return (status.st_mode & _S_IFMT) == _S_IFREG; }
#else
typedef struct stat FileStatus;
int StatusOfPath(const char* path, FileStatus* status) { return stat(path, status); }
int StatusOfFile(FILE* file, FileStatus* status) { return fstat(fileno(file), status); }
bool IsRegularFile(const FileStatus& status) { return S_ISREG(status.st_mode); }
#endif

}  // namespace

uint32_t WindowKbps(uint64_t bytes, uint32_t duration_ms) {
    if (duration_ms == 0) return 0;  // never asked by the run: a window spans more than 1000 ms
    if (bytes > UINT64_MAX / 8) return 0xFFFFFFFFu;
    const uint64_t kbps = bytes * 8 / duration_ms;
    return kbps > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(kbps);
}

FILE* OpenMediaFile(const char* path, uint64_t* size) {
    if (size) *size = 0;
    if (!path) return nullptr;
    FileStatus status;
    if (StatusOfPath(path, &status) == 0 && !IsRegularFile(status)) return nullptr;
    FILE* file = std::fopen(path, "rb");
    if (!file) return nullptr;
    if (StatusOfFile(file, &status) != 0 || !IsRegularFile(status) || status.st_size < 0) {
        std::fclose(file);
        return nullptr;
    }
    if (size) *size = static_cast<uint64_t>(status.st_size);
    return file;
}

AnalysisResult MeasureFile(const char* path, AnalysisPumpFn pump, void* pump_context, AnalysisDetails* details) {
    AnalysisDetails unused;
    if (!details) details = &unused;
    std::memset(details, 0, sizeof *details);
    std::memset(BitrateSeries, 0, sizeof BitrateSeries);

    // Declared before the run's resources, so they outlive the parser.
    unsigned char buffer[RUN_BUFFER_SIZE];
    MediaFileBuffer io;
    ParserReport report = {RM_OK, ""};
    RunResources run;
    uint64_t file_size = 0;
    const AnalysisResult opened = OpenRunFile(path, &run, &io, buffer, &report, &file_size);
    if (opened != ANALYSIS_OK) return opened;

    const uint32_t count = rm_reader_stream_count(run.reader);
    if (count == 0) return ANALYSIS_NO_VIDEO;
    uint32_t stream_index = 0;
    if (!ChooseVideoStream(run, count, &stream_index)) return ANALYSIS_NO_VIDEO;
    details->stream_chosen = 1;
    details->stream_index = stream_index;
    details->declared_avg_bit_rate = run.header->avg_bit_rate;
    details->declared_max_bit_rate = run.header->max_bit_rate;
    return MeasureStream(run, stream_index, pump, pump_context, report, file_size, details);
}
