// Opening a media file and setting the reader up over it: the start of every
// read of a file, whoever reads it (KOV's run, rmrate's modes), and what a
// failed packet read leaves to say about the file's end.
#ifndef KOV_ANALYSIS_MEDIA_FILE_H
#define KOV_ANALYSIS_MEDIA_FILE_H

#include <cstdint>
#include <cstdio>

#include "analysis/analysis_run.h"
#include "analysis/media_file_buffer.h"
#include "rmparser/rm_reader.h"

// Room for any path KOV is handed, terminator included: paths are UTF-8 (the
// process code page), and the 260 UTF-16 units Windows allows take up to 780
// bytes.
const int PATH_BUFFER_SIZE = 780;

// Where a path's file name starts: after its last '\\', '/' or drive colon.
const char* FileNameOf(const char* path);

// Opens `path` for reading when it names a regular file; null for anything
// else (missing, locked, a directory, a device such as COM1, a pipe), since a
// read from a device or a pipe may wait for ever. `size`, when given, gets the
// file's size.
FILE* OpenMediaFile(const char* path, uint64_t* size);

// Keeps the parser's last report, so that a damaged file can say what broke.
struct ParserReport {
    rm_result code;
    char message[READ_MESSAGE_SIZE];
};

// The parser's error callback for a ParserReport.
void KeepParserReport(void* user, rm_result code, const char* message);

// Another way for a run to read its file than through the run's buffer:
// rmrate maps the file into memory.
struct MediaSource {
    // Attaches the reader's I/O callbacks (and a window callback, if the
    // source has one) to `file`, opened by OpenMediaFile, `size` bytes long
    // and at its start. False when it cannot: the run then reads the file
    // through its buffer.
    bool (*attach)(void* context, FILE* file, uint64_t size, rm_reader* reader);
    // Once the reader is gone, after every attach that succeeded.
    void (*detach)(void* context);
    void* context;
};

// Everything one read of a file holds; released in the fixed order packet,
// stream header, parser, source, file, whatever made the read end.
struct RunResources {
    FILE* file = nullptr;
    rm_reader* reader = nullptr;
    rm_stream_header* header = nullptr;
    rm_packet* packet = nullptr;
    const MediaSource* source = nullptr;  // the source the reader reads through, when not the buffer

    RunResources() = default;
    RunResources(const RunResources&) = delete;
    RunResources& operator=(const RunResources&) = delete;
    ~RunResources();
};

// Big enough that refills are rare next to the packets, small enough for
// the stack of the GUI thread.
const uint32_t RUN_BUFFER_SIZE = 64 * 1024;

// A reader over the open `run->file` (`file_size` bytes), read through
// `source` when it is given and can read the file, otherwise through `io`
// over `buffer` (RUN_BUFFER_SIZE bytes, which must outlive the reader),
// reporting into `report`, with the headers read. RM_OK, or what failed:
// RM_OUT_OF_MEMORY when no reader could be made, else the reader's own
// result. With `every_stream` the reader keeps every physical stream.
rm_result AttachMediaReader(RunResources* run, MediaFileBuffer* io, unsigned char* buffer, ParserReport* report,
                            bool every_stream = false, const MediaSource* source = nullptr, uint64_t file_size = 0);

// The start of a measurement: opens `path` (a regular file only), checks the
// RealMedia magic and reads the headers (AttachMediaReader, with `source`
// when given). ANALYSIS_OK when the read may go on to the streams; otherwise
// the run's result. `file_size` gets the file's size.
AnalysisResult OpenRunFile(const char* path, RunResources* run, MediaFileBuffer* io, unsigned char* buffer,
                           ParserReport* report, uint64_t* file_size, bool every_stream = false,
                           const MediaSource* source = nullptr);

// The reader said there is no next packet (`read` is its result): the end of
// the data, or damage at the packet it could not read.
void NoteEndOfPackets(const rm_reader* reader, rm_result read, const ParserReport& report, uint64_t file_size,
                      AnalysisDetails* details);

#endif
