// One more pass over a RealMedia file, beside KOV's packet loop: the same
// windows as the chart for its first RealVideo stream, with the keyframes in
// each, plus figures over the windows, the keyframes and every stream. Used
// by rmrate and KOV's Statistics and export; the chart itself keeps using
// MeasureFile.
#ifndef KOV_ANALYSIS_FILE_FIGURES_H
#define KOV_ANALYSIS_FILE_FIGURES_H

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/measured_stream.h"
#include "analysis/window_statistics.h"

struct KeyframeFigures {
    // Keyframes of the measured stream up to where the measurement stopped:
    // packets the header flags key. The packets of one frame share its
    // timestamp, so a key packet with the timestamp of the keyframe before
    // it belongs to that keyframe.
    uint32_t count;
    uint32_t first_ms;  // count > 0
    // Between consecutive keyframes, over the `intervals` pairs whose later
    // keyframe has the larger timestamp (count > 1 and intervals > 0).
    uint32_t intervals;
    uint32_t min_interval_ms;
    uint32_t max_interval_ms;
    double mean_interval_ms;
};

struct StreamFigures {
    int header_read;  // 0: its header could not be fetched, only the totals below are known
    std::string mime_type;
    std::string stream_name;
    char fourcc[5];                  // the codec's four-character code; "" when its opaque data carries none
    uint32_t declared_avg_bit_rate;  // bits per second
    uint32_t declared_max_bit_rate;
    // What was read of its packets.
    uint64_t packets;
    uint64_t bytes;     // payload
    uint32_t first_ms;  // smallest and largest timestamp, when packets > 0
    uint32_t last_ms;
};

struct FileFigures {
    AnalysisResult result;    // as MeasureFile would return it for the file
    AnalysisDetails details;  // as MeasureFile would fill it
    // The windows MeasureFile stores (details.windows_stored of them), the
    // keyframes whose timestamps fall in each (from its start to the next
    // window's), and where the last stored one ends.
    BitrateSample windows[STORABLE_WINDOWS];
    uint32_t window_keyframes[STORABLE_WINDOWS];
    uint32_t series_end_ms;

    WindowStatistics statistics;
    KeyframeFigures keyframes;

    // Every stream the reader kept, in index order. The packets are read as
    // far as the measurement goes (to the end of the data, the damage, or
    // the point where the measured stream stopped it); without a measured
    // stream, to the end of the data or the damage. totals_ending says which.
    std::vector<StreamFigures> streams;
    DataEnding totals_ending;
    uint64_t file_bytes;  // payload of every kept stream
    int has_file_span;
    uint32_t file_first_ms;
    uint32_t file_last_ms;

    uint32_t sorted_kbps[STORABLE_WINDOWS];  // room for the percentiles
};

// Measured average of `bytes` over first_ms..last_ms in kbps; false when the
// span is empty.
bool MeasuredKbps(uint64_t bytes, uint32_t first_ms, uint32_t last_ms, double* kbps);

// The codec's four-character code from a stream's opaque data, as RealVideo
// and RealAudio (version 4) headers carry it; false for anything else.
bool FindCodecFourcc(const uint8_t* opaque, uint32_t length, char fourcc[5]);

// Reads `path` once and fills `out` (large: keep it static or on the heap).
// `peak_span_ms` is the moving average's length. `pump` is called once per
// closed window as MeasureFile calls it, and may be null. Returns what
// MeasureFile would return for the file; ANALYSIS_PARSER_FAILED as well when
// memory for the stream records runs out.
AnalysisResult MeasureFileFigures(const char* path, uint32_t peak_span_ms, AnalysisPumpFn pump, void* pump_context,
                                  FileFigures* out);

#endif
