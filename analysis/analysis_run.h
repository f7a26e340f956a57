// The analysis run's portable core: one RealMedia file in, the bitrate series
// of its first RealVideo stream out. The Win32 caller (AnalyzeFile) adds the
// pending flag, the Open dialog, the wait dialog and the message pump.
#ifndef KOV_ANALYSIS_ANALYSIS_RUN_H
#define KOV_ANALYSIS_ANALYSIS_RUN_H

#include <cstdint>
#include <cstdio>

#include "rmparser/rm_reader.h"

struct BitrateSample {
    uint32_t start_ms;
    uint32_t kbps;
};

const int BITRATE_SERIES_SIZE = 20000;
// Entry 0 always belongs to the series; it ends at the first later entry
// whose start_ms is 0.
extern BitrateSample BitrateSeries[BITRATE_SERIES_SIZE];

// 1 from program start until the first run ends, and during every run.
extern int32_t AnalysisPending;

enum AnalysisResult {
    ANALYSIS_OK = 1,
    ANALYSIS_NO_VIDEO = 0,
    ANALYSIS_OPEN_FAILED = -1,
    ANALYSIS_PARSER_FAILED = -2,
    ANALYSIS_HEADERS_FAILED = -3,
    ANALYSIS_FRAME_GAP = -4,
    ANALYSIS_CANCELLED = -5,
};

// The parser's error callback for runs: parser texts never reach the user.
void IgnoreParserError(void* user, rm_result code, const char* message);

// Called once per stored window. Returns 0 when the run must stop at once
// (a quit was requested), nonzero to go on.
typedef int (*AnalysisPumpFn)(void* context);

// How the reading of the measured stream's packets ended.
enum DataEnding {
    // The packets were not read to an end: no stream to measure, or the
    // measurement stopped on its own (a frame gap, a stream that starts too
    // late, a stop request).
    DATA_END_NOT_REACHED = 0,
    DATA_END_CLEAN = 1,    // the reader found the end of the data
    DATA_END_DAMAGED = 2,  // a packet could not be read
};

const int READ_MESSAGE_SIZE = 128;

// Why a run that would draw a chart stored no window: every such run says why.
enum EmptyChart {
    CHART_NOT_EMPTY = 0,
    EMPTY_NO_PACKETS,   // the video stream holds no packets
    EMPTY_STARTS_LATE,  // its first packet lies beyond the first window's limit
    EMPTY_TOO_SHORT,    // its packets end before the first window closes
    EMPTY_DAMAGED,      // the data breaks off before the first window closes
};

// What a run learnt besides the series.
struct AnalysisDetails {
    int stream_chosen;  // 0 when no RealVideo stream was chosen
    uint32_t stream_index;
    uint32_t declared_avg_bit_rate;
    uint32_t declared_max_bit_rate;
    uint32_t windows_stored;
    int stopped_by_pump;  // the pump asked to stop
    int series_full;      // windows closed after the table was full (not stored)
    uint32_t windows_not_stored;
    uint32_t charted_until_ms;  // series full: where the last stored window ends

    DataEnding ending;
    // Damaged: the reader's result, its last report ("" when it made none),
    // and the file offset where reading failed (never past the file's end).
    rm_result read_result;
    char read_message[READ_MESSAGE_SIZE];
    uint64_t damage_offset;
    // Timestamp of the last packet of the measured stream that was read whole.
    int has_last_timestamp;
    uint32_t last_timestamp_ms;

    EmptyChart empty_chart;
};

// A window's bitrate: bytes x 8 / milliseconds, truncated, in 64 bits so a
// window of more than 512 MiB cannot wrap; saturates at 0xFFFFFFFF.
uint32_t WindowKbps(uint64_t bytes, uint32_t duration_ms);

// Opens `path` for reading when it names a regular file; null for anything
// else (missing, locked, a directory, a device such as COM1, a pipe), since a
// read from a device or a pipe may wait for ever. `size`, when given, gets the
// file's size.
FILE* OpenMediaFile(const char* path, uint64_t* size);

// Clears BitrateSeries, then opens, probes and reads `path` and fills the
// series. Does not touch AnalysisPending. `pump` may be null; `details` may
// be null.
AnalysisResult MeasureFile(const char* path, AnalysisPumpFn pump, void* pump_context, AnalysisDetails* details);

#endif
