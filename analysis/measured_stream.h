// The rules of the measured stream, shared by KOV's packet loop (MeasureFile)
// and the figures pass: how its packets make windows, which windows the
// series keeps, how a read of a file starts and how the reading of its
// packets ended.
#ifndef KOV_ANALYSIS_MEASURED_STREAM_H
#define KOV_ANALYSIS_MEASURED_STREAM_H

#include <cstdint>
#include <cstdio>

#include "analysis/analysis_run.h"
#include "analysis/media_file_buffer.h"
#include "rmparser/rm_reader.h"

// A window closes on the first packet more than this far past its start.
const uint32_t WINDOW_MS = 1000;
// Until the first window is closed, a packet this far in means the stream
// starts too late to measure.
const uint32_t FIRST_WINDOW_LIMIT_MS = 10000;
// After the first window, a packet further than this (or before the window
// start, which wraps to a huge distance) is a gap in the video.
const uint32_t GAP_LIMIT_MS = 2000;
// The last entry of the series is never written, so the zero end marker
// always survives and readers that stop at it never run off the table.
const uint32_t STORABLE_WINDOWS = BITRATE_SERIES_SIZE - 1;

// The open window. Zero-initialise it to start: the first window starts at
// 0 ms, whatever the stream's first timestamp.
struct WindowAccumulator {
    uint32_t start_ms;
    uint64_t bytes;
    uint32_t closed;  // windows closed so far, stored or not
};

enum WindowStep {
    WINDOW_GOES_ON,      // the packet lies in the open window
    WINDOW_CLOSED,       // the packet closed it and counts in it
    WINDOW_STARTS_LATE,  // no window yet and the packet lies too far in
    WINDOW_GAP,          // a gap in the video: a frame gap
};

// Adds one packet of the measured stream. On WINDOW_CLOSED, `closed` gets the
// window the packet closes, and the next one starts at the packet's
// timestamp without its bytes. The other steps end the measurement.
WindowStep AddPacketToWindow(WindowAccumulator* windows, uint32_t timestamp, uint32_t length, BitrateSample* closed);

// Stores a closed window as entry details->windows_stored of `table`, or,
// once STORABLE_WINDOWS are stored, counts it as not stored. Returns whether
// it was stored.
bool KeepWindow(BitrateSample* table, const BitrateSample& window, AnalysisDetails* details);

// Keeps the parser's last report, so that a damaged file can say what broke.
struct ParserReport {
    rm_result code;
    char message[READ_MESSAGE_SIZE];
};

// The parser's error callback for a ParserReport.
void KeepParserReport(void* user, rm_result code, const char* message);

// Everything one read of a file holds; released in the fixed order packet,
// stream header, parser, file, whatever made the read end.
struct RunResources {
    FILE* file = nullptr;
    rm_reader* reader = nullptr;
    rm_stream_header* header = nullptr;
    rm_packet* packet = nullptr;

    RunResources() = default;
    RunResources(const RunResources&) = delete;
    RunResources& operator=(const RunResources&) = delete;
    ~RunResources();
};

// Big enough that refills are rare next to the packets, small enough for
// the stack of the GUI thread.
const uint32_t RUN_BUFFER_SIZE = 64 * 1024;

// The start of every read of a file: opens `path` (a regular file only),
// checks the RealMedia magic, creates the reader with `report` as its error
// record, reads through `io` over `buffer` (RUN_BUFFER_SIZE bytes, which must
// outlive `run`'s reader) and reads the headers. ANALYSIS_OK when the read may
// go on to the streams; otherwise the run's result. `file_size` gets the
// file's size.
AnalysisResult OpenRunFile(const char* path, RunResources* run, MediaFileBuffer* io, unsigned char* buffer,
                           ParserReport* report, uint64_t* file_size);

// After the packet loop of a run whose result is `result`: why its chart is
// empty, when it stored no window but would still be drawn. `started_late`:
// the loop ended at a first packet beyond FIRST_WINDOW_LIMIT_MS.
void NoteEmptyChart(AnalysisResult result, bool started_late, AnalysisDetails* details);

// The reader said there is no next packet (`read` is its result): the end of
// the data, or damage at the packet it could not read.
void NoteEndOfPackets(const rm_reader* reader, rm_result read, const ParserReport& report, uint64_t file_size,
                      AnalysisDetails* details);

#endif
