// The figures pass: one read of a file for windows, keyframes and every stream's totals.
#include "analysis/file_figures.h"

#include "analysis/media_file_buffer.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Where the codec's code sits in the opaque data, as the samples and
// ffprobe's codec tags show: RealVideo's "VIDO" block names it right after
// that tag; a version 4 RealAudio header names it after the interleaver, both
// as a length byte and the text.
const uint32_t VIDEO_TAG_OFFSET = 4;
const uint32_t VIDEO_FOURCC_OFFSET = 8;
const uint32_t AUDIO_VERSION_OFFSET = 4;
const uint32_t AUDIO_V4_INTERLEAVER_OFFSET = 56;

// Everything the pass holds; released in the order packet header (none:
// the records are the caller's), stream header, parser, file.
// Printable ASCII only: anything else is no code, whatever the file says.
bool CopyFourcc(const uint8_t* bytes, char fourcc[5]) {
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
    }
    std::memcpy(fourcc, bytes, 4);
    fourcc[4] = '\0';
    return true;
}

void ResetFigures(FileFigures* out) {
    out->result = ANALYSIS_NO_VIDEO;
    std::memset(&out->details, 0, sizeof out->details);
    out->series_end_ms = 0;
    std::memset(&out->statistics, 0, sizeof out->statistics);
    std::memset(&out->keyframes, 0, sizeof out->keyframes);
    out->streams.clear();
    out->totals_ending = DATA_END_NOT_REACHED;
    out->file_bytes = 0;
    out->has_file_span = 0;
    out->file_first_ms = 0;
    out->file_last_ms = 0;
}

// Header figures of every stream, in index order, up to the first header
// that cannot be fetched. The measured stream is the first RealVideo one
// among them, as MeasureFile chooses it.
bool ReadStreamHeaders(RunResources& pass, FileFigures* out, uint32_t* measured) {
    bool found = false;
    for (uint32_t i = 0; i < out->streams.size(); ++i) {
        if (rm_reader_fetch_stream_header(pass.reader, i, &pass.header) != RM_OK || !pass.header) break;
        const rm_stream_header& h = *pass.header;
        StreamFigures& stream = out->streams[i];
        stream.header_read = 1;
        stream.mime_type = h.mime_type ? h.mime_type : "";
        stream.stream_name = h.stream_name ? h.stream_name : "";
        if (!FindCodecFourcc(h.opaque_data, h.opaque_length, stream.fourcc)) stream.fourcc[0] = '\0';
        stream.declared_avg_bit_rate = h.avg_bit_rate;
        stream.declared_max_bit_rate = h.max_bit_rate;
        if (!found && rm_stream_header_is_video(pass.header)) {
            found = true;
            *measured = i;
            out->details.declared_avg_bit_rate = h.avg_bit_rate;
            out->details.declared_max_bit_rate = h.max_bit_rate;
        }
        rm_reader_release_stream_header(pass.reader, &pass.header);
    }
    return found;
}

void CountPacket(const rm_packet& packet, FileFigures* out) {
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

// The packet loop: every kept stream's packets counted, the measured
// stream's (when there is one) windowed as MeasureFile windows them.
AnalysisResult ReadPackets(RunResources& pass, bool measuring, uint32_t measured, AnalysisPumpFn pump,
                           void* pump_context, ParserReport& report, uint64_t file_size, FileFigures* out) {
    AnalysisDetails& details = out->details;
    const int32_t checked = measuring ? int32_t(static_cast<uint16_t>(measured)) : -1;
    WindowAccumulator windows = {};
    KeyframeTracker keyframes;
    uint32_t open_keyframes = 0;  // in the open window
    AnalysisResult result = measuring ? ANALYSIS_OK : ANALYSIS_NO_VIDEO;
    bool started_late = false;
    // Reports made while the headers were read say nothing about the packets.
    report.code = RM_OK;
    report.message[0] = '\0';

    for (;;) {
        rm_packet packet;
        const rm_result read = rm_reader_next_packet_header(pass.reader, &packet, checked);
        if (read != RM_OK) {
            AnalysisDetails ending = {};
            NoteEndOfPackets(pass.reader, read, report, file_size, measuring ? &details : &ending);
            out->totals_ending = measuring ? details.ending : ending.ending;
            break;
        }
        if (packet.stream >= out->streams.size()) continue;  // the reader keeps no such stream
        CountPacket(packet, out);
        if (!measuring || packet.stream != measured) continue;

        details.has_last_timestamp = 1;
        details.last_timestamp_ms = packet.timestamp;
        const bool new_keyframe = keyframes.IsNewKeyframe(packet);
        BitrateSample closed;
        const WindowStep step = AddPacketToWindow(&windows, packet.timestamp, packet.length, &closed);
        if (step == WINDOW_STARTS_LATE) {
            started_late = true;
            break;
        }
        if (step == WINDOW_GAP) {
            result = ANALYSIS_FRAME_GAP;
            break;
        }
        if (step == WINDOW_CLOSED) {
            if (pump && !pump(pump_context)) {
                details.stopped_by_pump = 1;
                result = ANALYSIS_CANCELLED;
                break;
            }
            const uint32_t index = details.windows_stored;
            if (KeepWindow(out->windows, closed, &details)) {
                out->window_keyframes[index] = open_keyframes;
                out->series_end_ms = packet.timestamp;
            }
            // A keyframe that closes a window lies at the next one's start.
            open_keyframes = 0;
        }
        if (new_keyframe) {
            ++open_keyframes;
            keyframes.Count(packet.timestamp, &out->keyframes);
        }
    }
    NoteEmptyChart(result, started_late, &details);
    return result;
}

AnalysisResult RunPass(const char* path, uint32_t peak_span_ms, AnalysisPumpFn pump, void* pump_context,
                       FileFigures* out) {
    // Declared before the pass's resources, so they outlive the parser.
    unsigned char buffer[RUN_BUFFER_SIZE];
    MediaFileBuffer io;
    ParserReport report = {RM_OK, ""};
    RunResources pass;
    uint64_t file_size = 0;
    const AnalysisResult opened = OpenRunFile(path, &pass, &io, buffer, &report, &file_size);
    if (opened != ANALYSIS_OK) return opened;

    const uint32_t count = rm_reader_stream_count(pass.reader);
    if (count == 0) return ANALYSIS_NO_VIDEO;
    // One record per kept stream: the file's own MDPR chunks back each.
    out->streams.resize(count, StreamFigures());
    uint32_t measured = 0;
    const bool measuring = ReadStreamHeaders(pass, out, &measured);
    if (measuring) {
        out->details.stream_chosen = 1;
        out->details.stream_index = measured;
    }
    const AnalysisResult result = ReadPackets(pass, measuring, measured, pump, pump_context, report, file_size, out);
    ComputeWindowStatistics(out->windows, out->details.windows_stored, out->series_end_ms, peak_span_ms,
                            out->sorted_kbps, &out->statistics);
    return result;
}

}  // namespace

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

AnalysisResult MeasureFileFigures(const char* path, uint32_t peak_span_ms, AnalysisPumpFn pump, void* pump_context,
                                  FileFigures* out) {
    ResetFigures(out);
    // The stream records are the pass's only allocations; no exception
    // leaves it, so a window procedure may call it.
    try {
        out->result = RunPass(path, peak_span_ms, pump, pump_context, out);
    } catch (const std::bad_alloc&) {
        out->streams.clear();
        out->result = ANALYSIS_PARSER_FAILED;
    }
    if (out->statistics.peak_span_ms == 0) out->statistics.peak_span_ms = peak_span_ms ? peak_span_ms : 1;
    return out->result;
}
