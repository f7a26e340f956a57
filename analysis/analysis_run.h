// What every run of the analysis shares: the bitrate series KOV's chart is
// drawn from, the pending flag, a run's result and how its data ended.
#ifndef KOV_ANALYSIS_ANALYSIS_RUN_H
#define KOV_ANALYSIS_ANALYSIS_RUN_H

#include <cstdint>

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

// The runs whose windows KOV charts: the packet loop ran, to its end or to a
// gap in the video.
inline bool ResultIsCharted(AnalysisResult result) { return result == ANALYSIS_OK || result == ANALYSIS_FRAME_GAP; }

// The parser's error callback for runs: parser texts never reach the user.
void IgnoreParserError(void* user, rm_result code, const char* message);

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

#endif
