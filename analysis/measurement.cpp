// The one pass over a file: every kept stream's packets counted, the first RealVideo stream's windowed.
#include "analysis/measurement.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/media_file.h"
#include "analysis/window_rule.h"

namespace {

// Packet records taken from the reader at once.
const uint32_t PACKET_BATCH = 128;

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

// Whether a kept stream is the one the options measure: the first video
// (the reader keeps what an ordinary player reads), or the stream the file
// numbers so.
bool IsMeasured(const MeasureOptions& options, const rm_stream_header& header, const StreamFigures& stream) {
    if (options.series_stream >= 0) return stream.stream_number == uint32_t(options.series_stream);
    return options.series_stream == MEASURE_VIDEO && rm_stream_header_is_video(&header);
}

// Header figures of every stream, in index order, up to the first header
// that cannot be fetched. The measured stream is the first among them that
// the options measure: a failed fetch ends the search, even if a later
// stream would have been the one.
bool ReadStreamHeaders(RunResources& run, const MeasureOptions& options, Measurement* out, uint32_t* measured,
                       bool* measured_is_video) {
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
        stream.declared_duration_ms = h.duration;
        rm_reader_stream_file_number(run.reader, i, &stream.stream_number);
        rm_stream_rate rate = {};
        if (rm_reader_stream_rate(run.reader, i, &rate) == RM_OK && rate.claimed) {
            stream.rate = rate.rate;
            stream.rate_count = rate.rate_count;
            stream.logical_mime_type = rate.logical_mime_type ? rate.logical_mime_type : "";
            stream.rule_bandwidth = rate.average_bandwidth;
        }
        if (!found && IsMeasured(options, h, stream)) {
            found = true;
            *measured = i;
            *measured_is_video = rm_stream_header_is_video(run.header) != 0;
            out->details.declared_avg_bit_rate = h.avg_bit_rate;
            out->details.declared_max_bit_rate = h.max_bit_rate;
            ReadVideoFormat(h.opaque_data, h.opaque_length, &out->file.video);
        }
        rm_reader_release_stream_header(run.reader, &run.header);
    }
    return found;
}

// One stream's windows (or the whole file's) as its packets go by, never
// stopping the measurement: a late start or a gap ends only these windows.
class WindowsBuilder {
public:
    void Add(uint32_t timestamp, uint32_t length, StreamWindows* out) {
        if (stopped_) return;
        BitrateSample closed;
        switch (AddPacketToWindow(&open_, timestamp, length, &closed)) {
        case WINDOW_CLOSED:
            if (out->windows.size() < STORABLE_WINDOWS) {
                out->windows.push_back(closed);
                out->series_end_ms = timestamp;
                if (closed.kbps > out->max_kbps) out->max_kbps = closed.kbps;
            } else {
                ++out->not_stored;
            }
            break;
        case WINDOW_STARTS_LATE:
            stopped_ = true;
            out->end = WINDOWS_STARTED_LATE;
            break;
        case WINDOW_GAP:
            stopped_ = true;
            out->end = WINDOWS_GAP;
            break;
        case WINDOW_GOES_ON:
            break;
        }
    }
    // A run of packets: its first, then the rest, which the reader keeps
    // within the span the first leaves open (the window's), so each goes on.
    void AddRun(uint32_t first_timestamp, uint32_t first_length, uint64_t rest, StreamWindows* out) {
        Add(first_timestamp, first_length, out);
        if (!stopped_) open_.bytes += rest;
    }

private:
    bool stopped_ = false;
    WindowAccumulator open_ = {};
};

// The whole file's packets by time. Its streams may lie in DATA chunks of
// their own (each rate of a multi-rate file does), so the file's order is not
// time's: the packets are kept, a timestamp's first packet apart from the
// rest, and the window rule runs over them in time order once all are read.
class FileWindows {
public:
    void Add(uint32_t timestamp, uint32_t length) {
        if (times_.empty() || times_.back().timestamp < timestamp) {
            times_.push_back({timestamp, length, 0});
            return;
        }
        if (times_.back().timestamp == timestamp) {
            times_.back().rest += length;
            return;
        }
        // Interleaved streams step back in time by a few packets, or onto a
        // timestamp met before (a stream whose packets all carry one): kept
        // in order, a timestamp met before takes the packet into its rest (a
        // later packet than its first), a new one goes into its place. A new
        // one further back than that leaves the order to the sort.
        if (in_order_) {
            // Such a stream's timestamp first, where it was the last time.
            if (merged_ < times_.size() && times_[merged_].timestamp == timestamp) {
                times_[merged_].rest += length;
                return;
            }
            const auto place = std::lower_bound(times_.begin(), times_.end(), timestamp,
                                                [](const Time& a, uint32_t t) { return a.timestamp < t; });
            if (place->timestamp == timestamp) {
                place->rest += length;
                merged_ = size_t(place - times_.begin());
                return;
            }
            if (size_t(times_.end() - place) <= IN_PLACE_REACH) {
                times_.insert(place, Time{timestamp, length, 0});
                return;
            }
            in_order_ = false;
        }
        times_.push_back({timestamp, length, 0});
    }

    void Finish(StreamWindows* out) {
        // Stable, so a timestamp's first packet in the file stays its first;
        // a file whose packets came in time order has nothing to sort.
        if (!in_order_) {
            std::stable_sort(times_.begin(), times_.end(),
                             [](const Time& a, const Time& b) { return a.timestamp < b.timestamp; });
        }
        WindowsBuilder windows;
        for (size_t i = 0; i < times_.size();) {
            const Time& first = times_[i];
            uint64_t rest = first.rest;
            size_t next = i + 1;
            for (; next < times_.size() && times_[next].timestamp == first.timestamp; ++next) {
                rest += times_[next].first + times_[next].rest;
            }
            // The first packet may close a window; the rest lie in the next.
            windows.Add(first.timestamp, first.first, out);
            for (; rest > 0; rest -= std::min<uint64_t>(rest, UINT32_MAX)) {
                windows.Add(first.timestamp, uint32_t(std::min<uint64_t>(rest, UINT32_MAX)), out);
            }
            i = next;
        }
        times_.clear();
        times_.shrink_to_fit();
    }

private:
    struct Time {
        uint32_t timestamp;
        uint32_t first;  // the length of its first packet
        uint64_t rest;   // the lengths of the packets after it
    };
    // How far back a packet is put into its place.
    static const size_t IN_PLACE_REACH = 64;
    std::vector<Time> times_;
    bool in_order_ = true;  // times_ ascending, each timestamp once
    size_t merged_ = 0;     // where a packet stepping back last met its timestamp
};

// Every kept stream's windows and the whole file's.
struct EveryStreamWindows {
    EveryStreamWindows(size_t count, bool whole_file) : streams(count), whole_file(whole_file) {}
    void Add(const rm_packet_brief& packet, Measurement* out) {
        streams[packet.stream].Add(packet.timestamp, packet.length, &out->stream_windows[packet.stream]);
        if (whole_file) file.Add(packet.timestamp, packet.length);
    }
    void Add(const rm_packet_view& view, Measurement* out) { Add(view.brief, out); }
    // Never for the whole file's windows, which take every packet's time.
    void Add(const rm_packet_run& run, Measurement* out) {
        streams[run.last.stream].AddRun(run.first_timestamp, run.first_length, run.bytes - run.first_length,
                                        &out->stream_windows[run.last.stream]);
    }
    void Add(const rm_packet_view_run& run, Measurement* out) { Add(run.run, out); }
    std::vector<WindowsBuilder> streams;
    bool whole_file;
    FileWindows file;
};

// What is counted of a stream's packets as they go by, apart from the
// stream's figures so that the count per packet stays small.
struct PacketTotals {
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint32_t first_ms = UINT32_MAX;
    uint32_t last_ms = 0;
};

void CountPacket(const rm_packet_brief& packet, PacketTotals* totals) {
    PacketTotals& stream = totals[packet.stream];
    if (packet.timestamp < stream.first_ms) stream.first_ms = packet.timestamp;
    if (packet.timestamp > stream.last_ms) stream.last_ms = packet.timestamp;
    ++stream.packets;
    stream.bytes += packet.length;
}
void CountPacket(const rm_packet_view& packet, PacketTotals* totals) { CountPacket(packet.brief, totals); }
void CountPacket(const rm_packet_run& run, PacketTotals* totals) {
    PacketTotals& stream = totals[run.last.stream];
    if (run.min_timestamp < stream.first_ms) stream.first_ms = run.min_timestamp;
    if (run.max_timestamp > stream.last_ms) stream.last_ms = run.max_timestamp;
    stream.packets += run.packets;
    stream.bytes += run.bytes;
}
void CountPacket(const rm_packet_view_run& run, PacketTotals* totals) { CountPacket(run.run, totals); }

// Each stream's totals into its figures, and all streams together: every
// packet counts in one stream.
void CountFileTotals(const std::vector<PacketTotals>& totals, Measurement* out) {
    for (size_t i = 0; i < totals.size(); ++i) {
        StreamFigures& stream = out->streams[i];
        stream.packets = totals[i].packets;
        stream.bytes = totals[i].bytes;
        if (stream.packets == 0) continue;
        stream.first_ms = totals[i].first_ms;
        stream.last_ms = totals[i].last_ms;
        if (!out->has_file_span || stream.first_ms < out->file_first_ms) out->file_first_ms = stream.first_ms;
        if (!out->has_file_span || stream.last_ms > out->file_last_ms) out->file_last_ms = stream.last_ms;
        out->has_file_span = 1;
        out->file_bytes += stream.bytes;
    }
}

bool StopRequested(const MeasureOptions& options) {
    return options.stop && options.stop->load(std::memory_order_relaxed);
}

// The measured stream's keyframes as they are read.
struct KeyframeTracker {
    bool any = false;
    uint32_t last_ms = 0;
    uint64_t interval_sum = 0;

    // Whether a packet with these flags starts a new keyframe.
    bool IsNewKeyframe(const rm_packet_brief& packet) const {
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
          statistics_(options.keep_frames || options.gop_sink ? VideoGopSink([this](const VideoGop& gop) { Gop(gop); })
                                                              : VideoGopSink()) {}

    void Packet(const rm_packet_brief& brief, uint64_t offset, const uint8_t* data) {
        assembler_.AddPacket(offset, brief.timestamp, brief.version, (brief.flags & RM_PACKET_KEYFRAME) != 0, data,
                             data ? brief.length : 0);
    }
    void Finish() {
        assembler_.Finish();
        statistics_.Finish(assembler_.MisfitPackets());
        out_->frame_statistics = statistics_.Statistics();
        out_->frames_measured = true;
    }

private:
    void Frame(const VideoFrame& frame) {
        statistics_.Add(frame);
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
    // Its GOPs are the ones kept and handed on.
    VideoFrameStatisticsAccumulator statistics_;
};

// The brief of a batch's record, and its frames' part: views carry the
// video's payloads, briefs none.
const rm_packet_brief& BriefIn(const rm_packet_brief& brief) { return brief; }
const rm_packet_brief& BriefIn(const rm_packet_view& view) { return view.brief; }
const rm_packet_brief& BriefIn(const rm_packet_run& run) { return run.last; }
const rm_packet_brief& BriefIn(const rm_packet_view_run& run) { return run.run.last; }
void AddFramePacket(FrameReader*, const rm_packet_brief&) {}
void AddFramePacket(FrameReader*, const rm_packet_run&) {}
void AddFramePacket(FrameReader* frames, const rm_packet_view& view) {
    frames->Packet(view.brief, view.offset, view.data);
}
// A run of the measured stream is one packet.
void AddFramePacket(FrameReader* frames, const rm_packet_view_run& run) {
    frames->Packet(run.run.last, run.offset, run.data);
}

// The measured stream's packets as they come: the window rule, the
// keyframes, the pump once per closed window.
class VideoPass {
public:
    VideoPass(const MeasureOptions& options, Measurement* out) : options_(options), out_(out) {}

    // False when the measurement stops at this packet (a late start, a gap,
    // a stop request); result() and started_late() say which.
    bool Add(const rm_packet_brief& packet) {
        AnalysisDetails& details = out_->details;
        details.has_last_timestamp = 1;
        details.last_timestamp_ms = packet.timestamp;
        const bool new_keyframe = keyframes_.IsNewKeyframe(packet);
        BitrateSample closed;
        const WindowStep step = AddPacketToWindow(&windows_, packet.timestamp, packet.length, &closed);
        if (step == WINDOW_STARTS_LATE) {
            started_late_ = true;
            return false;
        }
        if (step == WINDOW_GAP) {
            result_ = ANALYSIS_FRAME_GAP;
            return false;
        }
        if (step == WINDOW_CLOSED) {
            // Once per closed window, stored or not, so the window stays
            // alive through files longer than the series.
            if (options_.pump && !options_.pump(options_.pump_context)) {
                details.stopped_by_pump = 1;
                result_ = ANALYSIS_CANCELLED;
                return false;
            }
            if (KeepWindow(closed, open_keyframes_, out_)) out_->series_end_ms = packet.timestamp;
            // A keyframe that closes a window lies at the next one's start.
            open_keyframes_ = 0;
        }
        if (new_keyframe) {
            ++open_keyframes_;
            keyframes_.Count(packet.timestamp, &out_->keyframes);
        }
        return true;
    }

    AnalysisResult result() const { return result_; }
    bool started_late() const { return started_late_; }

private:
    const MeasureOptions& options_;
    Measurement* out_;
    WindowAccumulator windows_ = {};
    KeyframeTracker keyframes_;
    uint32_t open_keyframes_ = 0;  // in the open window
    AnalysisResult result_ = ANALYSIS_OK;
    bool started_late_ = false;
};

// The packet loop: every kept stream's packets counted, the measured stream's
// (when there is one) windowed, up to the end of the data, the damage, or
// where the measured stream stops the measurement (a gap, a late start, a
// stop request). Only the packets' lengths are needed, and the video's
// payloads when its frames are asked for: no payload is ever allocated.
AnalysisResult ReadPackets(RunResources& run, bool measuring, uint32_t measured, bool measured_is_video,
                           const MeasureOptions& options, ParserReport& report, uint64_t file_size, Measurement* out,
                           bool* started_late) {
    const bool all = options.series_stream == MEASURE_ALL_STREAMS;
    std::unique_ptr<EveryStreamWindows> every;
    if (!out->stream_windows.empty()) {
        every.reset(new EveryStreamWindows(out->stream_windows.size(), all || options.whole_file));
    }
    std::unique_ptr<FrameReader> frames;
    std::vector<uint8_t> payload;
    if (measuring && !all && measured_is_video && options.frames) {
        frames.reset(new FrameReader(options, out->streams[measured].fourcc, out));
        payload.resize(RM_MAX_PAYLOAD_SIZE);
    }
    AnalysisDetails& details = out->details;
    VideoPass video(options, out);
    // Reports made while the headers were read say nothing about the packets.
    report.code = RM_OK;
    report.message[0] = '\0';

    // Taken from the reader a batch at a time: one call for the packets a
    // window shows, rather than one per packet. Packets of a batch after the
    // one that stops the measurement are never looked at. With frames, the
    // batches are views, which show the video's payloads too.
    std::vector<PacketTotals> totals(out->streams.size());
    const size_t stream_count = totals.size();
    uint32_t video_stream = measuring && !all ? measured : UINT32_MAX;
    // The video stopped the measurement on its own (a gap, a late start);
    // with read_to_end the other packets are still counted.
    bool stopped_by_video = false;
    bool stop_requested = false;
    rm_packet_brief batch[PACKET_BATCH];
    rm_packet_view views[PACKET_BATCH];
    // Unless the whole file's windows need every packet's time, the other
    // streams' packets come joined into runs between the measured stream's
    // (with frames, runs of views): a run is counted whole, and never spans
    // the packet that stops the measurement.
    rm_packet_run runs[PACKET_BATCH];
    rm_packet_view_run view_runs[PACKET_BATCH];
    const bool running = !all && !(every && every->whole_file);
    // With every stream's windows, a run also ends where its stream's window
    // does: the reader's spans start where the windows start, 0, and move as
    // they close, by the same rule.
    std::vector<uint32_t> span_starts(every ? stream_count : 0, 0);
    rm_run_spans window_spans = {span_starts.data(), uint32_t(span_starts.size()), WINDOW_MS};
    rm_run_spans* const spans = every ? &window_spans : nullptr;
    // One batch's packets, each loop made for its kind of record; false
    // once a packet stops the measurement.
    auto take = [&](const auto* records, uint32_t count) {
        for (const auto* record = records; record != records + count; ++record) {
            const rm_packet_brief& brief = BriefIn(*record);
            if (brief.stream >= stream_count) continue;  // the reader keeps no such stream
            CountPacket(*record, totals.data());
            out->packets_end.has_last_timestamp = 1;
            out->packets_end.last_timestamp_ms = brief.timestamp;
            if (every) every->Add(*record, out);
            if (all) {
                // The whole file's windows come from every packet in time order, below.
                details.has_last_timestamp = 1;
                if (brief.timestamp > details.last_timestamp_ms) details.last_timestamp_ms = brief.timestamp;
                continue;
            }
            if (brief.stream != video_stream) continue;
            AddFramePacket(frames.get(), *record);
            if (video.Add(brief)) continue;
            if (options.read_to_end && video.result() != ANALYSIS_CANCELLED) {
                stopped_by_video = true;
                video_stream = UINT32_MAX;
                continue;
            }
            return false;
        }
        return true;
    };
    for (bool going = true; going;) {
        if (StopRequested(options)) {
            details.stopped_by_pump = 1;
            stop_requested = true;
            break;
        }
        uint32_t batched = 0;
        const bool viewing = frames && !stopped_by_video;
        const int32_t single = video_stream < stream_count ? int32_t(video_stream) : -1;
        const rm_result read =
            viewing && running
                ? rm_reader_next_packet_view_runs(run.reader, view_runs, PACKET_BATCH, &batched, int32_t(measured),
                                                  payload.data(), uint32_t(payload.size()), spans)
            : viewing ? rm_reader_next_packet_views(run.reader, views, PACKET_BATCH, &batched, int32_t(measured),
                                                    payload.data(), uint32_t(payload.size()))
            : running ? rm_reader_next_packet_runs(run.reader, runs, PACKET_BATCH, &batched, single, spans)
                      : rm_reader_next_packet_briefs(run.reader, batch, PACKET_BATCH, &batched);
        if (read != RM_OK) {
            NoteEndOfPackets(run.reader, read, report, file_size, &out->packets_end);
            if (measuring && !stopped_by_video) NoteEndOfPackets(run.reader, read, report, file_size, &details);
            out->totals_ending = out->packets_end.ending;
            break;
        }
        going = viewing && running ? take(view_runs, batched)
                : viewing          ? take(views, batched)
                : running          ? take(runs, batched)
                                   : take(batch, batched);
    }
    if (frames) frames->Finish();
    CountFileTotals(totals, out);
    *started_late = video.started_late();
    AnalysisResult result = measuring ? video.result() : ANALYSIS_NO_VIDEO;
    if (stop_requested) result = ANALYSIS_CANCELLED;
    if (every && every->whole_file) every->file.Finish(&out->file_windows);
    if (all) {
        const StreamWindows& file = out->file_windows;
        for (const BitrateSample& w : file.windows) KeepWindow(w, 0, out);
        out->series_end_ms = file.series_end_ms;
        if (file.not_stored > 0) {
            details.series_full = 1;
            details.charted_until_ms = file.series_end_ms;
            details.windows_not_stored = file.not_stored;
        }
        if (file.end == WINDOWS_STARTED_LATE) *started_late = true;
        if (file.end == WINDOWS_GAP && result == ANALYSIS_OK) result = ANALYSIS_FRAME_GAP;
    }
    return result;
}

bool EveryStream(const MeasureOptions& options) {
    return options.every_stream || options.series_stream != MEASURE_VIDEO;
}

// The video an ordinary player's selection measures, by the number the file
// gives it, or how that selection fails: with every stream kept, the usual
// series stays exactly the stream and the result a default run gives, however
// the file's headers are broken. Reads the headers alone.
AnalysisResult DefaultVideo(const char* path, bool* found, uint32_t* number) {
    unsigned char buffer[RUN_BUFFER_SIZE];
    MediaFileBuffer io;
    ParserReport report = {RM_OK, ""};
    RunResources run;
    uint64_t file_size = 0;
    *found = false;
    const AnalysisResult opened = OpenRunFile(path, &run, &io, buffer, &report, &file_size, false);
    if (opened != ANALYSIS_OK) return opened;
    Measurement headers;
    headers.streams.resize(rm_reader_stream_count(run.reader), StreamFigures());
    uint32_t index = 0;
    bool is_video = false;
    *found = ReadStreamHeaders(run, MeasureOptions(), &headers, &index, &is_video);
    if (*found) *number = headers.streams[index].stream_number;
    return ANALYSIS_OK;
}

AnalysisResult RunMeasurement(const char* path, const MeasureOptions& options, Measurement* out, bool* started_late) {
    MeasureOptions chosen = options;
    AnalysisResult usual = ANALYSIS_OK;
    if (options.every_stream && options.series_stream == MEASURE_VIDEO) {
        bool found = false;
        uint32_t number = 0;
        usual = DefaultVideo(path, &found, &number);
        // No stream number reaches 65536: none is measured.
        chosen.series_stream = found && usual == ANALYSIS_OK ? int32_t(number) : 65536;
    }

    // Declared before the run's resources, so they outlive the parser.
    unsigned char buffer[RUN_BUFFER_SIZE];
    MediaFileBuffer io;
    ParserReport report = {RM_OK, ""};
    RunResources run;
    uint64_t file_size = 0;
    const AnalysisResult opened =
        OpenRunFile(path, &run, &io, buffer, &report, &file_size, EveryStream(options), options.source);
    out->file.opened = run.file != nullptr;
    out->file.size = file_size;
    if (opened != ANALYSIS_OK) return usual != ANALYSIS_OK ? usual : opened;
    ReadHeaderFacts(run.reader, &out->file);

    const uint32_t count = rm_reader_stream_count(run.reader);
    if (count == 0) return ANALYSIS_NO_VIDEO;
    // One record per kept stream: the file's own MDPR chunks back each.
    out->streams.resize(count, StreamFigures());
    if (EveryStream(options)) out->stream_windows.resize(count);
    uint32_t measured = 0;
    bool measured_is_video = false;
    bool measuring = ReadStreamHeaders(run, chosen, out, &measured, &measured_is_video);
    if (options.series_stream == MEASURE_ALL_STREAMS) {
        // The whole file is measured whatever its streams are.
        measuring = true;
        measured = count;
    }
    if (measuring) {
        out->details.stream_chosen = 1;
        out->details.stream_index = measured;
    }
    const AnalysisResult result =
        ReadPackets(run, measuring, measured, measured_is_video, options, report, file_size, out, started_late);
    // Where an ordinary player's selection fails (logical streams claim every
    // stream, say), so does the measurement; the streams and their windows
    // stand all the same.
    return usual != ANALYSIS_OK ? usual : result;
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
