#include "analysis/analysis_run.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

BitrateSample BitrateSeries[BITRATE_SERIES_SIZE];
int32_t AnalysisPending = 1;

void IgnoreParserError(void*, rm_result, const char*) {}

namespace {

const uint32_t PROBE_BYTES = 16;
// A window closes on the first packet more than this far past its start.
const uint32_t WINDOW_MS = 1000;
// Until the first window is stored, a packet this far in means the stream
// starts too late to measure.
const uint32_t FIRST_WINDOW_LIMIT_MS = 10000;
// After the first window, a packet further than this (or before the window
// start, which wraps to a huge distance) is a gap in the video.
const uint32_t GAP_LIMIT_MS = 2000;
// The last entry is never written, so the zero end marker always survives
// and readers that stop at it never run off the table.
const uint32_t STORABLE_WINDOWS = BITRATE_SERIES_SIZE - 1;

// Big enough that refills are rare next to the packets, small enough for
// the stack of the GUI thread.
const uint32_t RUN_BUFFER_SIZE = 64 * 1024;

// How far forward a seek may go by reading instead of seeking.
const uint64_t FORWARD_READ_LIMIT = 1u << 20;

// Seek and tell in 64 bits: fseek and ftell take a long, 32 bits on Windows,
// whose C runtime also keeps a 32-bit position for relative seeks, so files
// beyond 2 GiB need its 64-bit pair.
int SeekFile(FILE* file, int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

int64_t TellFile(FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

// Everything one run holds; released in the fixed order packet, stream
// header, parser, file, whatever made the run end.
struct RunResources {
    FILE* file = nullptr;
    rm_reader* reader = nullptr;
    rm_stream_header* header = nullptr;
    rm_packet* packet = nullptr;

    ~RunResources() {
        if (packet) rm_reader_release_packet(reader, &packet);
        if (header) rm_reader_release_stream_header(reader, &header);
        if (reader) rm_reader_delete(&reader);
        if (file) std::fclose(file);
    }
};

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

// Keeps the parser's last report, so that a damaged file can say what broke.
struct ParserReport {
    rm_result code;
    char message[READ_MESSAGE_SIZE];
};

void KeepParserReport(void* user, rm_result code, const char* message) {
    ParserReport* report = static_cast<ParserReport*>(user);
    report->code = code;
    std::snprintf(report->message, sizeof report->message, "%s", message ? message : "");
}

// The reader said there is no next packet: the end of the data, or damage at
// the packet it could not read.
void NoteEndOfPackets(const rm_reader* reader, rm_result read, const ParserReport& report, uint64_t file_size,
                      AnalysisDetails* details) {
    if (read == RM_END_OF_DATA) {
        details->ending = DATA_END_CLEAN;
        return;
    }
    details->ending = DATA_END_DAMAGED;
    details->read_result = read == RM_OK ? RM_FAIL : read;
    // Its report belongs to this failure only when it carries the same code
    // (a short read at the end of the data is reported and then forgiven).
    if (report.code == details->read_result) {
        std::memcpy(details->read_message, report.message, sizeof details->read_message);
    }
    // A skipped packet of another stream that runs past a cut puts the next
    // header beyond the end of the file; the damage lies within it.
    const uint64_t offset = rm_reader_packet_offset(reader);
    details->damage_offset = offset < file_size ? offset : file_size;
}

AnalysisResult MeasureStream(RunResources& run, uint32_t stream_index, AnalysisPumpFn pump, void* pump_context,
                             ParserReport& report, uint64_t file_size, AnalysisDetails* details) {
    // Stream indexes come from a 16-bit stream count, so the selector is
    // never negative.
    const int32_t selector = static_cast<uint16_t>(stream_index);
    uint32_t window_start = 0;
    uint64_t window_bytes = 0;
    uint32_t stored = 0;
    AnalysisResult result = ANALYSIS_OK;
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

        window_bytes += run.packet->length;
        const uint32_t distance = run.packet->timestamp - window_start;
        if (distance <= WINDOW_MS) {
            rm_reader_release_packet(run.reader, &run.packet);
            continue;
        }
        if (stored == 0 && distance > FIRST_WINDOW_LIMIT_MS) break;
        if (stored > 0 && distance > GAP_LIMIT_MS) {
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
        if (stored < STORABLE_WINDOWS) {
            BitrateSeries[stored].start_ms = window_start;
            BitrateSeries[stored].kbps = WindowKbps(window_bytes, distance);
            ++stored;
            details->windows_stored = stored;
        } else {
            // The rest of the file is still read, so a later gap or damage is
            // still found, but its windows have no room.
            if (!details->series_full) details->charted_until_ms = window_start;
            details->series_full = 1;
            ++details->windows_not_stored;
        }

        window_bytes = 0;
        window_start = run.packet->timestamp;
        rm_reader_release_packet(run.reader, &run.packet);
    }
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

void InitMediaFileBuffer(MediaFileBuffer* io, FILE* file, unsigned char* data, uint32_t capacity) {
    const int64_t position = file ? TellFile(file) : -1;
    io->file = file;
    io->data = data;
    io->capacity = capacity;
    io->data_offset = position > 0 ? static_cast<uint64_t>(position) : 0;
    io->filled = 0;
    io->cursor = 0;
}

uint32_t MediaFileRead(void* user, void* destination, uint32_t count) {
    MediaFileBuffer* io = static_cast<MediaFileBuffer*>(user);
    if (!io || !io->file || !destination || count == 0) return 0;
    unsigned char* out = static_cast<unsigned char*>(destination);
    if (count <= io->filled - io->cursor) {
        // The common case: a packet header or payload inside the buffer.
        std::memcpy(out, io->data + io->cursor, count);
        io->cursor += count;
        return count;
    }
    uint32_t done = 0;
    while (done < count) {
        if (io->cursor < io->filled) {
            const uint32_t left = io->filled - io->cursor;
            const uint32_t part = left < count - done ? left : count - done;
            std::memcpy(out + done, io->data + io->cursor, part);
            io->cursor += part;
            done += part;
            continue;
        }
        io->data_offset += io->filled;
        io->filled = 0;
        io->cursor = 0;
        const uint32_t wanted = count - done;
        if (wanted >= io->capacity) {
            // A large block goes straight to its destination.
            const size_t got = std::fread(out + done, 1, wanted, io->file);
            io->data_offset += got;
            done += static_cast<uint32_t>(got);
            break;
        }
        io->filled = static_cast<uint32_t>(std::fread(io->data, 1, io->capacity, io->file));
        if (io->filled == 0) break;
    }
    return done;
}

void MediaFileSeek(void* user, int32_t offset, int origin) {
    MediaFileBuffer* io = static_cast<MediaFileBuffer*>(user);
    if (!io || !io->file) return;
    int64_t target;
    if (origin == RM_SEEK_SET) {
        target = static_cast<uint32_t>(offset);
    } else if (origin == RM_SEEK_CUR) {
        target = static_cast<int64_t>(io->data_offset + io->cursor) + offset;
    } else {
        // From the end: the buffer cannot answer it.
        if (SeekFile(io->file, offset, origin) != 0) return;
        const int64_t position = TellFile(io->file);
        if (position < 0) return;
        io->data_offset = static_cast<uint64_t>(position);
        io->filled = 0;
        io->cursor = 0;
        return;
    }
    if (target < 0) return;  // refused, as fseek refuses it
    const uint64_t wanted = static_cast<uint64_t>(target);
    if (wanted >= io->data_offset && wanted <= io->data_offset + io->filled) {
        io->cursor = static_cast<uint32_t>(wanted - io->data_offset);
        return;
    }
    // A short way forward (skipped packets of other streams) is read rather
    // than sought: it costs no more than the seek plus the read that follows.
    const uint64_t buffer_end = io->data_offset + io->filled;
    if (wanted > buffer_end && wanted - buffer_end <= FORWARD_READ_LIMIT) {
        while (wanted > io->data_offset + io->filled) {
            io->data_offset += io->filled;
            io->cursor = 0;
            io->filled = static_cast<uint32_t>(std::fread(io->data, 1, io->capacity, io->file));
            if (io->filled == 0) {
                // The file ends first. As with fseek, the position may lie
                // past the end; reads there find nothing.
                io->data_offset = wanted;
                return;
            }
        }
        io->cursor = static_cast<uint32_t>(wanted - io->data_offset);
        return;
    }
    if (SeekFile(io->file, static_cast<int64_t>(wanted), SEEK_SET) != 0) return;
    io->data_offset = wanted;
    io->filled = 0;
    io->cursor = 0;
}

uint32_t MediaFileTell(void* user) {
    const MediaFileBuffer* io = static_cast<const MediaFileBuffer*>(user);
    if (!io) return 0xFFFFFFFFu;
    const uint64_t position = io->data_offset + io->cursor;
    return position > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(position);
}

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
    run.file = OpenMediaFile(path, &file_size);
    if (!run.file) return ANALYSIS_OPEN_FAILED;

    unsigned char head[PROBE_BYTES];
    if (std::fread(head, 1, PROBE_BYTES, run.file) < PROBE_BYTES) return ANALYSIS_NO_VIDEO;
    SeekFile(run.file, 0, SEEK_SET);
    if (!rm_reader_probe(head, PROBE_BYTES)) return ANALYSIS_NO_VIDEO;

    // Parser texts never reach KOV's user, but a damaged file's report is
    // kept for the command-line tool.
    run.reader = rm_reader_new(&report, KeepParserReport);
    if (!run.reader) return ANALYSIS_PARSER_FAILED;
    if (rm_reader_attach_stdio(run.reader, run.file) != RM_OK) return ANALYSIS_NO_VIDEO;
    // Same file, same bytes, read through a larger buffer of our own: the
    // stdio tell per packet and seek per skipped packet each cost a system
    // call, which is most of the run's time on a large file.
    InitMediaFileBuffer(&io, run.file, buffer, RUN_BUFFER_SIZE);
    if (rm_reader_attach_io(run.reader, MediaFileRead, MediaFileSeek, MediaFileTell, &io) != RM_OK) {
        return ANALYSIS_NO_VIDEO;
    }
    if (rm_reader_load_headers(run.reader) != RM_OK) return ANALYSIS_HEADERS_FAILED;

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
