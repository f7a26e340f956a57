// A measurement: everything one read of a RealMedia file learns, as a value.
// The windows of its first RealVideo stream (the chart's series) with the
// keyframes in each, how its data ended, the window and keyframe figures and
// every kept stream's totals. KOV keeps the measurement of the charted file;
// rmrate prints one per file.
#ifndef KOV_ANALYSIS_MEASUREMENT_H
#define KOV_ANALYSIS_MEASUREMENT_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/file_facts.h"
#include "analysis/video_frames.h"
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
    uint16_t stream_number;         // the file's own, as its MDPR gives it
    uint32_t declared_duration_ms;  // its MDPR's; 0: none declared
    // A rate of a multi-rate file (MeasureOptions::every_stream): its place
    // among its logical stream's rates, from 1 (0: not a rate), how many it
    // has, that stream's MIME type, and the bandwidth its rule book names
    // for it in bits per second (0: none).
    uint16_t rate;
    uint16_t rate_count;
    std::string logical_mime_type;
    uint32_t rule_bandwidth;
    // What was read of its packets.
    uint64_t packets;
    uint64_t bytes;     // payload
    uint32_t first_ms;  // smallest and largest timestamp, when packets > 0
    uint32_t last_ms;
};

// How one stream's windows (or the whole file's) ended.
enum WindowsEnd {
    WINDOWS_WITH_PACKETS = 0,  // with the packets the measurement read
    WINDOWS_STARTED_LATE,      // its first packet lies beyond the first window's limit
    WINDOWS_GAP,               // a gap in its packets ended them
};

// The windows of one stream, or of the whole file, made by the window rule
// from its packets as far as the measurement read them.
struct StreamWindows {
    std::vector<BitrateSample> windows;  // up to STORABLE_WINDOWS of them
    uint32_t series_end_ms = 0;          // where the last stored one ends
    uint32_t not_stored = 0;             // closed beyond the series' room
    WindowsEnd end = WINDOWS_WITH_PACKETS;
    uint32_t max_kbps = 0;  // of the stored windows: the stream's largest 1-second rate
};

// Which windows make a measurement's series (MeasureOptions::series_stream).
const int32_t MEASURE_VIDEO = -1;        // the first RealVideo stream an ordinary player reads
const int32_t MEASURE_ALL_STREAMS = -2;  // every kept stream's packets together: the whole file's rate

struct Measurement {
    AnalysisResult result = ANALYSIS_NO_VIDEO;
    AnalysisDetails details = {};

    // The stored windows (details.windows_stored of them) in time order, the
    // keyframes whose timestamps fall in each (from its start to the next
    // window's), and where the last stored one ends.
    std::vector<BitrateSample> windows;
    std::vector<uint32_t> window_keyframes;
    uint32_t series_end_ms = 0;

    // The chart's three figures, as its legend gives them (a series without
    // a stored window counts as one window of 0 kbps).
    SeriesStatisticsRecord figures = {};
    WindowStatistics statistics = {};
    KeyframeFigures keyframes = {};

    // Every stream the reader kept, in index order. The packets are counted
    // as far as the measurement goes (to the end of the data, the damage, or
    // the point where the measured stream stopped it); without a measured
    // stream, to the end of the data or the damage. totals_ending says which.
    std::vector<StreamFigures> streams;
    DataEnding totals_ending = DATA_END_NOT_REACHED;
    uint64_t file_bytes = 0;  // payload of every kept stream
    int has_file_span = 0;
    uint32_t file_first_ms = 0;
    uint32_t file_last_ms = 0;
    // How every kept stream's packets ended, as details says it for the
    // measured one (ending, the reader's result and report, the offset), with
    // the timestamp of the last packet of any stream read whole.
    AnalysisDetails packets_end = {};

    // The measured video's frames, put together from its packets up to where
    // the packets end (MeasureOptions::frames): their figures, and each frame
    // and GOP when they are kept. A frame the end or damage cuts is not one.
    // Each kept stream's windows, in index order (MeasureOptions::every_stream),
    // and the whole file's (MeasureOptions::whole_file).
    std::vector<StreamWindows> stream_windows;
    StreamWindows file_windows;

    bool frames_measured = false;
    VideoFrameStatistics frame_statistics = {};
    std::vector<VideoFrame> frames;
    std::vector<VideoGop> gops;

    // The file's path, size and what its headers say of it.
    FileFacts file;
};

// Called once per closed window. Returns 0 when the measurement must stop at
// once (a quit was requested), nonzero to go on.
typedef int (*AnalysisPumpFn)(void* context);

struct MediaSource;

struct MeasureOptions {
    uint32_t peak_span_ms = DEFAULT_PEAK_SPAN_MS;  // the moving average whose peak the statistics give
    AnalysisPumpFn pump = nullptr;
    void* pump_context = nullptr;
    // The video's frames too: its payloads are read, not only its packets'
    // lengths. With keep_frames each frame and GOP goes into the measurement;
    // the sinks, when given, get each one as it is found (for a list too long
    // to keep).
    bool frames = false;
    bool keep_frames = false;
    VideoFrameSink frame_sink;
    VideoGopSink gop_sink;
    // Every physical stream (each rate of a multi-rate file, read from every
    // DATA chunk), and each one's windows. MEASURE_VIDEO still measures the
    // stream an ordinary player reads.
    bool every_stream = false;
    // With every_stream, the whole file's windows too. They need every
    // packet's time kept until the pass ends (a stream may lie in a DATA
    // chunk of its own), so memory grows with the file: asked for only where
    // the whole file's curve is wanted. MEASURE_ALL_STREAMS implies it.
    bool whole_file = false;
    // Whose windows make the series: MEASURE_VIDEO, MEASURE_ALL_STREAMS, or
    // the stream the file numbers so (0 to 65535), whatever its type; any
    // but the video implies every_stream. Frames are read only of a video.
    int32_t series_stream = MEASURE_VIDEO;
    // How the file's bytes reach the reader (analysis/media_file.h); null:
    // through the run's own buffer, as KOV reads them.
    const MediaSource* source = nullptr;
    // Where the video stops the measurement on its own (a gap, a late
    // start), the other packets are still counted to the end of the data or
    // the damage, so that packets_end says how the file ends.
    bool read_to_end = false;
    // Looked at before each batch of packets: once it is set, the
    // measurement stops as a pump's stop request stops it.
    const std::atomic<bool>* stop = nullptr;
};

// Reads `path` once, every kept stream's packets in file order, and fills
// `out`. Returns out->result: ANALYSIS_OK when the video's packets were read
// to their end (clean or damaged), ANALYSIS_FRAME_GAP at a gap in them, the
// failure otherwise; ANALYSIS_PARSER_FAILED as well when memory for the
// measurement runs out.
AnalysisResult Measure(const char* path, const MeasureOptions& options, Measurement* out);

// KOV's run: BitrateSeries cleared, the file measured (its frames and GOPs
// kept), and the series filled from its windows. `out` may be null.
AnalysisResult MeasureFile(const char* path, AnalysisPumpFn pump, void* pump_context, Measurement* out);

// Measured average of `bytes` over first_ms..last_ms in kbps; false when the
// span is empty.
bool MeasuredKbps(uint64_t bytes, uint32_t first_ms, uint32_t last_ms, double* kbps);

// The codec's four-character code from a stream's opaque data, as RealVideo
// and RealAudio (version 4) headers carry it; false for anything else.
bool FindCodecFourcc(const uint8_t* opaque, uint32_t length, char fourcc[5]);

#endif
