// The one pass over a file: every kept stream's packets counted, the first RealVideo stream's windowed.
#include "analysis/measurement.h"

#include <cstring>
#include <memory>
#include <new>

#include "analysis/media_file.h"
#include "analysis/window_rule.h"

namespace {

// Where the codec's code sits in the opaque data, as the samples and
// ffprobe's codec tags show: RealVideo's "VIDO" block names it right after
// that tag; a version 4 RealAudio header names it after the interleaver, both
// as a length byte and the text.
const uint32_t VIDEO_TAG_OFFSET = 4;
const uint32_t VIDEO_FOURCC_OFFSET = 8;
const uint32_t AUDIO_VERSION_OFFSET = 4;
const uint32_t AUDIO_V4_INTERLEAVER_OFFSET = 56;

// Printable ASCII only: anything else is no code, whatever the file says.
bool CopyFourcc(const uint8_t* bytes, char fourcc[5]) {
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
    }
    std::memcpy(fourcc, bytes, 4);
    fourcc[4] = '\0';
    return true;
}

// Header figures of every stream, in index order, up to the first header
// that cannot be fetched. The measured stream is the first RealVideo one
// among them: only the first in index order is measured, and a failed fetch
// ends the search, even if a later stream would have been video.
bool ReadStreamHeaders(RunResources& run, Measurement* out, uint32_t* measured) {
    bool found = false;
    for (uint32_t i = 0; i < out->streams.size(); ++i) {
        if (rm_reader_fetch_stream_header(run.reader, i, &run.header) != RM_OK || !run.header) break;
        const rm_stream_header& h = *run.header;
        StreamFigures& stream = out->streams[i];
        stream.header_read = 1;
        stream.mime_type = h.mime_type ? h.mime_type : "";
        stream.stream_name = h.stream_name ? h.stream_name : "";
        if (!FindCodecFourcc(h.opaque_data, h.opaque_length, stream.fourcc)) stream.fourcc[0] = '\0';
        stream.declared_avg_bit_rate = h.avg_bit_rate;
        stream.declared_max_bit_rate = h.max_bit_rate;
        if (!found && rm_stream_header_is_video(run.header)) {
            found = true;
            *measured = i;
            out->details.declared_avg_bit_rate = h.avg_bit_rate;
            out->details.declared_max_bit_rate = h.max_bit_rate;
            ReadVideoFormat(h.opaque_data, h.opaque_length, &out->file.video);
        }
        rm_reader_release_stream_header(run.reader, &run.header);
    }
    return found;
}

void CountPacket(const rm_packet& packet, Measurement* out) {
    StreamFigures& stream = out->streams[packet.stream];
    if (stream.packets == 0 || packet.timestamp < stream.first_ms) stream.first_ms = packet.timestamp;
    if (stream.packets == 0 || packet.timestamp > stream.last_ms) stream.last_ms = packet.timestamp;
    ++stream.packets;
    stream.bytes += packet.length;
    if (!out->has_file_span || packet.timestamp < out->file_first_ms) out->file_first_ms = packet.timestamp;
    if (!out->has_file_span || packet.timestamp > out->file_last_ms) out->file_last_ms = packet.timestamp;
    out->has_file_span = 1;
    out->file_bytes += packet.length;
}

// The measured stream's keyframes as they are read.
struct KeyframeTracker {
    bool any = false;
    uint32_t last_ms = 0;
    uint64_t interval_sum = 0;

    // Whether a packet with these flags starts a new keyframe.
    bool IsNewKeyframe(const rm_packet& packet) const {
        return (packet.flags & RM_PACKET_KEYFRAME) != 0 && !(any && packet.timestamp == last_ms);
    }

    void Count(uint32_t timestamp, KeyframeFigures* figures) {
        if (!any) {
            figures->first_ms = timestamp;
        } else if (timestamp > last_ms) {
            const uint32_t interval = timestamp - last_ms;
            if (figures->intervals == 0 || interval < figures->min_interval_ms) figures->min_interval_ms = interval;
            if (interval > figures->max_interval_ms) figures->max_interval_ms = interval;
            ++figures->intervals;
            interval_sum += interval;
            figures->mean_interval_ms = double(interval_sum) / figures->intervals;
        }
        ++figures->count;
        any = true;
        last_ms = timestamp;
    }
};

// Stores a closed window, or, once STORABLE_WINDOWS are stored, counts it as
// not stored: the rest of the file is still read, so a later gap or damage
// is still found, but its windows have no room.
bool KeepWindow(const BitrateSample& window, uint32_t keyframes, Measurement* out) {
    AnalysisDetails& details = out->details;
    if (details.windows_stored < STORABLE_WINDOWS) {
        out->windows.push_back(window);
        out->window_keyframes.push_back(keyframes);
        ++details.windows_stored;
        return true;
    }
    if (!details.series_full) details.charted_until_ms = window.start_ms;
    details.series_full = 1;
    ++details.windows_not_stored;
    return false;
}

// Why a run that stored no window would still be drawn shows nothing.
void NoteEmptyChart(bool started_late, Measurement* out) {
    AnalysisDetails& details = out->details;
    details.empty_chart = CHART_NOT_EMPTY;
    if (out->result != ANALYSIS_OK || !details.stream_chosen || details.windows_stored != 0) return;
    if (started_late) {
        details.empty_chart = EMPTY_STARTS_LATE;
    } else if (details.ending == DATA_END_DAMAGED) {
        details.empty_chart = EMPTY_DAMAGED;
    } else if (details.ending == DATA_END_CLEAN) {
        details.empty_chart = details.has_last_timestamp ? EMPTY_TOO_SHORT : EMPTY_NO_PACKETS;
    }
}

// The video's frames as its packets go by: put together, counted in the
// figures, kept and handed on as the options ask.
class FrameReader {
public:
    FrameReader(const MeasureOptions& options, const char* fourcc, Measurement* out)
        : options_(options),
          out_(out),
          assembler_(CodecOfFourcc(fourcc), [this](const VideoFrame& frame) { Frame(frame); }),
          gops_([this](const VideoGop& gop) { Gop(gop); }) {}

    void Packet(uint64_t offset, const rm_packet& packet) {
        assembler_.AddPacket(offset, packet.timestamp, uint8_t(packet.version),
                             (packet.flags & RM_PACKET_KEYFRAME) != 0, packet.data, packet.data ? packet.length : 0);
    }
    void Finish() {
        assembler_.Finish();
        gops_.Finish();
        statistics_.Finish(assembler_.MisfitPackets());
        out_->frame_statistics = statistics_.Statistics();
        out_->frames_measured = true;
    }

private:
    void Frame(const VideoFrame& frame) {
        statistics_.Add(frame);
        gops_.Add(frame);
        if (options_.keep_frames) out_->frames.push_back(frame);
        if (options_.frame_sink) options_.frame_sink(frame);
    }
    void Gop(const VideoGop& gop) {
        if (options_.keep_frames) out_->gops.push_back(gop);
        if (options_.gop_sink) options_.gop_sink(gop);
    }

    const MeasureOptions& options_;
    Measurement* out_;
    VideoFrameAssembler assembler_;
    VideoGopBuilder gops_;
    VideoFrameStatisticsAccumulator statistics_;
};

// The packet loop: every kept stream's packets counted, the measured stream's
// (when there is one) windowed, up to the end of the data, the damage, or
// where the measured stream stops the measurement (a gap, a late start, a
// stop request). Only the packets' lengths are needed, and the video's
// payloads when its frames are asked for: no payload is ever allocated.
AnalysisResult ReadPackets(RunResources& run, bool measuring, uint32_t measured, const MeasureOptions& options,
                           ParserReport& report, uint64_t file_size, Measurement* out, bool* started_late) {
    std::unique_ptr<FrameReader> frames;
    std::vector<uint8_t> payload;
    if (measuring && options.frames) {
        frames.reset(new FrameReader(options, out->streams[measured].fourcc, out));
        payload.resize(RM_MAX_PAYLOAD_SIZE);
    }
    AnalysisDetails& details = out->details;
    WindowAccumulator windows = {};
    KeyframeTracker keyframes;
    uint32_t open_keyframes = 0;  // in the open window
    AnalysisResult result = measuring ? ANALYSIS_OK : ANALYSIS_NO_VIDEO;
    // Reports made while the headers were read say nothing about the packets.
    report.code = RM_OK;
    report.message[0] = '\0';

    for (;;) {
        rm_packet packet;
        const rm_result read = frames ? rm_reader_next_packet_payload(run.reader, &packet, int32_t(measured),
                                                                      payload.data(), uint32_t(payload.size()))
                                      : rm_reader_next_packet_header(run.reader, &packet, -1);
        if (read != RM_OK) {
            AnalysisDetails ending = {};
            NoteEndOfPackets(run.reader, read, report, file_size, measuring ? &details : &ending);
            out->totals_ending = measuring ? details.ending : ending.ending;
            break;
        }
        if (packet.stream >= out->streams.size()) continue;  // the reader keeps no such stream
        CountPacket(packet, out);
        if (!measuring || packet.stream != measured) continue;
        if (frames) frames->Packet(rm_reader_packet_offset(run.reader), packet);

        details.has_last_timestamp = 1;
        details.last_timestamp_ms = packet.timestamp;
        const bool new_keyframe = keyframes.IsNewKeyframe(packet);
        BitrateSample closed;
        const WindowStep step = AddPacketToWindow(&windows, packet.timestamp, packet.length, &closed);
        if (step == WINDOW_STARTS_LATE) {
            *started_late = true;
            break;
        }
        if (step == WINDOW_GAP) {
            result = ANALYSIS_FRAME_GAP;
            break;
        }
        if (step == WINDOW_CLOSED) {
            // Once per closed window, stored or not, so the window stays
            // alive through files longer than the series.
            if (options.pump && !options.pump(options.pump_context)) {
                details.stopped_by_pump = 1;
                result = ANALYSIS_CANCELLED;
                break;
            }
            if (KeepWindow(closed, open_keyframes, out)) out->series_end_ms = packet.timestamp;
            // A keyframe that closes a window lies at the next one's start.
            open_keyframes = 0;
        }
        if (new_keyframe) {
            ++open_keyframes;
            keyframes.Count(packet.timestamp, &out->keyframes);
        }
    }
    if (frames) frames->Finish();
    return result;
}

AnalysisResult RunMeasurement(const char* path, const MeasureOptions& options, Measurement* out, bool* started_late) {
    // Declared before the run's resources, so they outlive the parser.
    unsigned char buffer[RUN_BUFFER_SIZE];
    MediaFileBuffer io;
    ParserReport report = {RM_OK, ""};
    RunResources run;
    uint64_t file_size = 0;
    const AnalysisResult opened = OpenRunFile(path, &run, &io, buffer, &report, &file_size);
    out->file.opened = run.file != nullptr;
    out->file.size = file_size;
    if (opened != ANALYSIS_OK) return opened;
    ReadHeaderFacts(run.reader, &out->file);

    const uint32_t count = rm_reader_stream_count(run.reader);
    if (count == 0) return ANALYSIS_NO_VIDEO;
    // One record per kept stream: the file's own MDPR chunks back each.
    out->streams.resize(count, StreamFigures());
    uint32_t measured = 0;
    const bool measuring = ReadStreamHeaders(run, out, &measured);
    if (measuring) {
        out->details.stream_chosen = 1;
        out->details.stream_index = measured;
    }
    return ReadPackets(run, measuring, measured, options, report, file_size, out, started_late);
}

// What the windows add up to, once they are all read.
void ComputeFigures(uint32_t peak_span_ms, Measurement* out) {
    const uint32_t count = out->details.windows_stored;
    out->figures = SeriesStatisticsOf(out->windows.data(), count);
    std::vector<uint32_t> sorted(count);
    ComputeWindowStatistics(out->windows.data(), count, out->series_end_ms, peak_span_ms, sorted.data(),
                            &out->statistics);
}

}  // namespace

AnalysisResult Measure(const char* path, const MeasureOptions& options, Measurement* out) {
    *out = Measurement();
    const uint32_t peak_span_ms = options.peak_span_ms ? options.peak_span_ms : 1;
    out->statistics.peak_span_ms = peak_span_ms;
    // The windows and stream records are the measurement's only allocations;
    // no exception leaves it, so a window procedure may call it.
    try {
        bool started_late = false;
        if (path) out->file.path = path;
        out->result = RunMeasurement(path, options, out, &started_late);
        NoteEmptyChart(started_late, out);
        ComputeFigures(peak_span_ms, out);
    } catch (const std::bad_alloc&) {
        *out = Measurement();
        out->statistics.peak_span_ms = peak_span_ms;
        out->result = ANALYSIS_PARSER_FAILED;
    }
    return out->result;
}

AnalysisResult MeasureFile(const char* path, AnalysisPumpFn pump, void* pump_context, Measurement* out) {
    std::memset(BitrateSeries, 0, sizeof BitrateSeries);
    Measurement local;
    if (!out) out = &local;
    MeasureOptions options;
    options.pump = pump;
    options.pump_context = pump_context;
    // KOV shows the frames' figures and exports every frame.
    options.frames = true;
    options.keep_frames = true;
    const AnalysisResult result = Measure(path, options, out);
    if (!out->windows.empty()) {
        std::memcpy(BitrateSeries, out->windows.data(), out->windows.size() * sizeof(BitrateSample));
    }
    return result;
}

bool MeasuredKbps(uint64_t bytes, uint32_t first_ms, uint32_t last_ms, double* kbps) {
    if (last_ms <= first_ms) return false;
    *kbps = double(bytes) * 8.0 / double(last_ms - first_ms);
    return true;
}

bool FindCodecFourcc(const uint8_t* opaque, uint32_t length, char fourcc[5]) {
    fourcc[0] = '\0';
    if (!opaque) return false;
    if (length >= VIDEO_FOURCC_OFFSET + 4 && std::memcmp(opaque + VIDEO_TAG_OFFSET, "VIDO", 4) == 0) {
        return CopyFourcc(opaque + VIDEO_FOURCC_OFFSET, fourcc);
    }
    if (length >= AUDIO_V4_INTERLEAVER_OFFSET + 1 && std::memcmp(opaque, ".ra\xfd", 4) == 0 &&
        opaque[AUDIO_VERSION_OFFSET] == 0 && opaque[AUDIO_VERSION_OFFSET + 1] == 4) {
        const uint32_t codec_at = AUDIO_V4_INTERLEAVER_OFFSET + 1 + opaque[AUDIO_V4_INTERLEAVER_OFFSET];
        if (length >= codec_at + 1 + 4 && opaque[codec_at] == 4) return CopyFourcc(opaque + codec_at + 1, fourcc);
    }
    return false;
}
