// Regular files only, the reader set up over the run's buffer, and how the packets ended.
#include "analysis/media_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

namespace {

const uint32_t PROBE_BYTES = 16;

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

const char* FileNameOf(const char* path) {
    const char* name = path;
    for (const char* c = path; *c; ++c) {
        if (*c == '\\' || *c == '/' || *c == ':') name = c + 1;
    }
    return name;
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

void KeepParserReport(void* user, rm_result code, const char* message) {
    ParserReport* report = static_cast<ParserReport*>(user);
    report->code = code;
    std::snprintf(report->message, sizeof report->message, "%s", message ? message : "");
}

RunResources::~RunResources() {
    if (packet) rm_reader_release_packet(reader, &packet);
    if (header) rm_reader_release_stream_header(reader, &header);
    if (reader) rm_reader_delete(&reader);
    if (source) source->detach(source->context);
    if (file) std::fclose(file);
}

rm_result AttachMediaReader(RunResources* run, MediaFileBuffer* io, unsigned char* buffer, ParserReport* report,
                            bool every_stream, const MediaSource* source, uint64_t file_size) {
    run->reader = rm_reader_new(report, KeepParserReport);
    if (!run->reader) return RM_OUT_OF_MEMORY;
    if (every_stream) rm_reader_keep_every_stream(run->reader, 1);
    if (source && source->attach(source->context, run->file, file_size, run->reader)) {
        run->source = source;
    } else {
        // The file through a larger buffer of our own: the stdio tell per
        // packet and seek per skipped packet each cost a system call, which
        // is most of a run's time on a large file. The buffer is the
        // reader's window too, so that headers are decoded where they lie.
        InitMediaFileBuffer(io, run->file, buffer, RUN_BUFFER_SIZE);
        rm_result attached = rm_reader_attach_io(run->reader, MediaFileRead, MediaFileSeek, MediaFileTell, io);
        if (attached == RM_OK) attached = rm_reader_attach_window(run->reader, MediaFileWindow);
        if (attached != RM_OK) return attached;
    }
    return rm_reader_load_headers(run->reader);
}

AnalysisResult OpenRunFile(const char* path, RunResources* run, MediaFileBuffer* io, unsigned char* buffer,
                           ParserReport* report, uint64_t* file_size, bool every_stream, const MediaSource* source) {
    run->file = OpenMediaFile(path, file_size);
    if (!run->file) return ANALYSIS_OPEN_FAILED;

    unsigned char head[PROBE_BYTES];
    if (std::fread(head, 1, PROBE_BYTES, run->file) < PROBE_BYTES) return ANALYSIS_NO_VIDEO;
    SeekFile(run->file, 0, SEEK_SET);
    if (!rm_reader_probe(head, PROBE_BYTES)) return ANALYSIS_NO_VIDEO;

    const rm_result loaded = AttachMediaReader(run, io, buffer, report, every_stream, source, *file_size);
    if (!run->reader) return ANALYSIS_PARSER_FAILED;
    if (loaded != RM_OK) return ANALYSIS_HEADERS_FAILED;
    return ANALYSIS_OK;
}

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
    // The reader never reports damage beyond the file, but a size read before
    // another program shortened the file is still the bound.
    const uint64_t offset = rm_reader_packet_offset(reader);
    details->damage_offset = offset < file_size ? offset : file_size;
}
