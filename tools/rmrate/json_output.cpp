// rmrate's JSON: one object per file with its windows, figures and ending, and the text rules every JSON string
// follows.
#include <cstring>
#include <string>

#include "analysis/result_messages.h"
#include "tools/rmrate/rmrate.h"

namespace {

// Length of a well-formed UTF-8 sequence starting at text[i] and its code
// point, or 0 when the bytes there are not one.
size_t DecodeUtf8(const unsigned char* text, size_t length, size_t i, uint32_t* code_point) {
    const unsigned char lead = text[i];
    size_t count;
    uint32_t value;
    uint32_t smallest;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2, value = lead & 0x1Fu, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3, value = lead & 0x0Fu, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4, value = lead & 0x07u, smallest = 0x10000;
    } else {
        return 0;
    }
    if (length - i < count) return 0;
    for (size_t k = 1; k < count; ++k) {
        if ((text[i + k] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (text[i + k] & 0x3Fu);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code_point = value;
    return count;
}

}  // namespace

// The writer escapes everything beyond ASCII.

std::string JsonText(const char* text, size_t length) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    std::string utf8;
    utf8.reserve(length);
    for (size_t i = 0; i < length;) {
        uint32_t code_point = 0;
        const size_t used = bytes[i] >= 0x80 ? DecodeUtf8(bytes, length, i, &code_point) : 0;
        if (used > 0) {
            utf8.append(text + i, used);
            i += used;
        } else if (bytes[i] < 0x80) {
            utf8 += text[i++];
        } else {
            utf8 += static_cast<char>(0xC0 | (bytes[i] >> 6));
            utf8 += static_cast<char>(0x80 | (bytes[i] & 0x3F));
            ++i;
        }
    }
    return utf8;
}

// A JSON string, or null for no text.
Json JsonString(const char* text) { return text ? Json(JsonText(text, std::strlen(text))) : Json(nullptr); }

std::string Dump(const Json& value) { return value.dump(-1, ' ', true); }

// "end": how the data ended, or null when the packets were not read to an
// end (no stream measured, a frame gap, a stream starting too late).
Json EndJson(const AnalysisDetails& d) {
    if (d.ending == DATA_END_NOT_REACHED) return nullptr;
    const bool damaged = d.ending == DATA_END_DAMAGED;
    Json end = {{"status", damaged ? "damaged" : "clean"},
                {"result", damaged ? CodeText(d.read_result) : CodeText(RM_END_OF_DATA)},
                {"message", JsonString(damaged && d.read_message[0] != '\0' ? d.read_message : nullptr)},
                {"offset", nullptr},
                {"last_timestamp_ms", nullptr}};
    if (damaged) end["offset"] = d.damage_offset;
    if (d.has_last_timestamp) end["last_timestamp_ms"] = d.last_timestamp_ms;
    return end;
}

namespace {

// A measured average in kbps, or null for a span of no length.
Json KbpsJson(uint64_t bytes, uint32_t first_ms, uint32_t last_ms) {
    double kbps = 0.0;
    if (!MeasuredKbps(bytes, first_ms, last_ms, &kbps)) return nullptr;
    return kbps;
}

const char* EndingName(DataEnding ending) {
    switch (ending) {
    case DATA_END_CLEAN:
        return "clean";
    case DATA_END_DAMAGED:
        return "damaged";
    default:
        return "not_reached";
    }
}

// The video's frames and GOPs, null when no video was measured.
void AddFrameFiguresJson(Json& doc, const Measurement& f) {
    if (!f.frames_measured) {
        doc["frames"] = nullptr;
        doc["gops"] = nullptr;
        return;
    }
    const VideoFrameStatistics& v = f.frame_statistics;
    Json types = Json::object();
    for (int t = 0; t < VIDEO_FRAME_TYPE_COUNT; ++t) {
        const VideoTypeFigures& type = v.types[t];
        types[std::string(1, VIDEO_FRAME_TYPES[t])] = {{"count", type.count},
                                                       {"mean_bytes", type.mean_bytes},
                                                       {"max_bytes", type.largest_bytes},
                                                       {"share", type.share}};
    }
    Json largest = nullptr;
    if (v.frames > 0) {
        largest = {{"type", std::string(1, v.largest_type)},
                   {"bytes", v.largest_bytes},
                   {"timestamp_ms", v.largest_timestamp_ms},
                   {"offset", v.largest_offset}};
    }
    const bool timed = v.mean_fps > 0;
    doc["frames"] = {{"count", v.frames},
                     {"bytes", v.bytes},
                     {"fps", timed ? Json(v.mean_fps) : Json(nullptr)},
                     {"min_interval_ms", timed ? Json(v.shortest_interval_ms) : Json(nullptr)},
                     {"max_interval_ms", timed ? Json(v.longest_interval_ms) : Json(nullptr)},
                     {"types", std::move(types)},
                     {"largest", std::move(largest)},
                     {"misfit_packets", v.misfit_packets}};
    const bool any = v.gops > 0;
    doc["gops"] = {{"count", v.gops},
                   {"min_frames", any ? Json(v.shortest_gop_frames) : Json(nullptr)},
                   {"mean_frames", any ? Json(v.mean_gop_frames) : Json(nullptr)},
                   {"max_frames", any ? Json(v.longest_gop_frames) : Json(nullptr)},
                   {"min_ms", any ? Json(v.shortest_gop_ms) : Json(nullptr)},
                   {"mean_ms", any ? Json(v.mean_gop_ms) : Json(nullptr)},
                   {"max_ms", any ? Json(v.longest_gop_ms) : Json(nullptr)}};
}

Json FileInfoJson(const FileFacts& file) {
    if (!file.has_file_info) return nullptr;
    Json properties = Json::array();
    for (const FileInfoProperty& property : file.file_info) {
        Json value;
        const char* type = "buffer";
        if (property.type == RM_PROPERTY_INT) {
            type = "int";
            value = property.number;
        } else if (property.type == RM_PROPERTY_STRING) {
            type = "string";
            value = JsonText(property.bytes.data(), property.bytes.size());
        } else {
            std::string hex;
            AppendHex(hex, property.bytes.data(), property.bytes.size());
            value = hex;
        }
        properties.push_back(
            {{"name", JsonText(property.name.data(), property.name.size())}, {"type", type}, {"value", value}});
    }
    return properties;
}

// The file's own account of itself, as the Statistics' first section gives it.
void AddFileFactsJson(Json& doc, const Measurement& f) {
    const FileFacts& file = f.file;
    doc["file_size"] = file.opened ? Json(file.size) : Json(nullptr);
    doc["duration_ms"] = file.headers_read ? Json(file.duration_ms) : Json(nullptr);
    const VideoFormat& video = file.video;
    doc["video_format"] =
        video.known ? Json({{"width", video.width}, {"height", video.height}, {"fps", video.fps}}) : Json(nullptr);
    doc["content"] = file.has_content ? Json({{"title", JsonText(file.title.data(), file.title.size())},
                                              {"author", JsonText(file.author.data(), file.author.size())},
                                              {"copyright", JsonText(file.copyright.data(), file.copyright.size())},
                                              {"comment", JsonText(file.comment.data(), file.comment.size())}})
                                      : Json(nullptr);
    doc["file_info"] = FileInfoJson(file);
}

// What --stats adds to a file's object; every key new, none of the others
// changed.
void AddFiguresJson(Json& doc, const Measurement& f) {
    const WindowStatistics& s = f.statistics;
    Json keyframes_per_window = Json::array();
    for (uint32_t keyframes : f.window_keyframes) keyframes_per_window.push_back(keyframes);
    doc["window_keyframes"] = std::move(keyframes_per_window);
    doc["series_end_ms"] = f.details.windows_stored ? Json(f.series_end_ms) : Json(nullptr);
    if (s.count > 0) {
        doc["statistics"] = {{"windows", s.count},
                             {"min_kbps", s.min_kbps},
                             {"median_kbps", s.median_kbps},
                             {"p90_kbps", s.p90_kbps},
                             {"p95_kbps", s.p95_kbps},
                             {"p99_kbps", s.p99_kbps},
                             {"max_kbps", s.max_kbps},
                             {"mean_kbps", s.mean_kbps},
                             {"stddev_kbps", s.stddev_kbps},
                             {"peak",
                              {{"span_ms", s.peak_span_ms},
                               {"average_kbps", s.peak_average_kbps},
                               {"start_ms", s.peak_start_ms},
                               {"end_ms", s.peak_end_ms},
                               {"whole_series", s.peak_is_whole_series != 0}}}};
    } else {
        doc["statistics"] = nullptr;
    }
    const KeyframeFigures& k = f.keyframes;
    Json keyframes = {{"count", k.count},
                      {"first_ms", nullptr},
                      {"min_interval_ms", nullptr},
                      {"mean_interval_ms", nullptr},
                      {"max_interval_ms", nullptr}};
    if (k.count > 0) keyframes["first_ms"] = k.first_ms;
    if (k.intervals > 0) {
        keyframes["min_interval_ms"] = k.min_interval_ms;
        keyframes["mean_interval_ms"] = k.mean_interval_ms;
        keyframes["max_interval_ms"] = k.max_interval_ms;
    }
    doc["keyframes"] = f.details.stream_chosen && f.details.stream_index < f.streams.size() ? keyframes : Json(nullptr);
    const StreamFigures* video = f.details.stream_chosen && f.details.stream_index < f.streams.size()
                                     ? &f.streams[f.details.stream_index]
                                     : nullptr;
    doc["measured_avg_kbps"] = video ? KbpsJson(video->bytes, video->first_ms, video->last_ms) : Json(nullptr);

    Json streams = Json::array();
    for (size_t i = 0; i < f.streams.size(); ++i) {
        const StreamFigures& st = f.streams[i];
        Json stream = {{"index", i}};
        if (st.header_read) {
            stream["mime_type"] = JsonText(st.mime_type.data(), st.mime_type.size());
            stream["stream_name"] = JsonText(st.stream_name.data(), st.stream_name.size());
            stream["fourcc"] = st.fourcc[0] ? Json(JsonText(st.fourcc, std::strlen(st.fourcc))) : Json(nullptr);
            stream["declared_avg_bit_rate"] = st.declared_avg_bit_rate;
            stream["declared_max_bit_rate"] = st.declared_max_bit_rate;
        } else {
            stream["mime_type"] = nullptr;
            stream["stream_name"] = nullptr;
            stream["fourcc"] = nullptr;
            stream["declared_avg_bit_rate"] = nullptr;
            stream["declared_max_bit_rate"] = nullptr;
        }
        stream["packets"] = st.packets;
        stream["bytes"] = st.bytes;
        stream["first_ms"] = st.packets ? Json(st.first_ms) : Json(nullptr);
        stream["last_ms"] = st.packets ? Json(st.last_ms) : Json(nullptr);
        stream["measured_kbps"] = KbpsJson(st.bytes, st.first_ms, st.last_ms);
        stream["number"] = st.stream_number;
        const bool rate = st.rate != 0;
        stream["rate"] = rate ? Json(st.rate) : Json(nullptr);
        stream["rate_count"] = rate ? Json(st.rate_count) : Json(nullptr);
        stream["logical_mime_type"] =
            rate ? Json(JsonText(st.logical_mime_type.data(), st.logical_mime_type.size())) : Json(nullptr);
        stream["rule_bandwidth"] = rate && st.rule_bandwidth ? Json(st.rule_bandwidth) : Json(nullptr);
        // The largest of its own windows, when each stream's were made.
        const StreamWindows* own = i < f.stream_windows.size() ? &f.stream_windows[i] : nullptr;
        stream["max_1s_kbps"] = own && !own->windows.empty() ? Json(own->max_kbps) : Json(nullptr);
        streams.push_back(std::move(stream));
    }
    doc["streams"] = std::move(streams);
    doc["totals_end"] = EndingName(f.totals_ending);
    doc["file_bytes"] = f.file_bytes;
    doc["file_first_ms"] = f.has_file_span ? Json(f.file_first_ms) : Json(nullptr);
    doc["file_last_ms"] = f.has_file_span ? Json(f.file_last_ms) : Json(nullptr);
    doc["file_measured_kbps"] = KbpsJson(f.file_bytes, f.file_first_ms, f.file_last_ms);
    doc["file_max_1s_kbps"] =
        !f.stream_windows.empty() && !f.file_windows.windows.empty() ? Json(f.file_windows.max_kbps) : Json(nullptr);
    AddFrameFiguresJson(doc, f);
    AddFileFactsJson(doc, f);
}

}  // namespace

void PrintFiguresJson(const char* path, const FileResult& r) {
    const Measurement& m = *r.measurement;
    const std::string message = ResultText(r);
    const AnalysisDetails& d = m.details;
    // The whole file's windows come from no one stream.
    const bool one_stream = d.stream_chosen && d.stream_index < m.streams.size();
    Json doc = {{"file", JsonString(path)},
                {"result", AnalysisResultName(m.result)},
                {"code", static_cast<int>(m.result)},
                {"message", JsonString(message.empty() ? nullptr : message.c_str())},
                {"stream_index", one_stream ? Json(d.stream_index) : Json(nullptr)}};
    if (r.stream != MEASURE_VIDEO) {
        doc["stream"] = r.stream == MEASURE_ALL_STREAMS ? Json("all") : Json(r.stream);
    }
    Json windows = Json::array();
    for (const BitrateSample& window : m.windows) windows.push_back({window.start_ms, window.kbps});
    doc["windows"] = std::move(windows);
    // Figures only where KOV would show them.
    doc["max_time_s"] = r.has_figures ? Json(m.figures.last_start_ms / 1000) : Json(nullptr);
    doc["last_start_ms"] = r.has_figures ? Json(m.figures.last_start_ms) : Json(nullptr);
    doc["max_kbps"] = r.has_figures ? Json(m.figures.max_kbps) : Json(nullptr);
    doc["average_kbps"] = r.has_figures ? Json(m.figures.average_kbps) : Json(nullptr);
    doc["declared_avg_bit_rate"] = one_stream ? Json(d.declared_avg_bit_rate) : Json(nullptr);
    doc["declared_max_bit_rate"] = one_stream ? Json(d.declared_max_bit_rate) : Json(nullptr);
    doc["windows_not_stored"] = d.windows_not_stored;
    doc["end"] = EndJson(d);
    const char* empty = EmptyChartName(d.empty_chart);
    doc["empty_chart"] = empty ? Json(empty) : Json(nullptr);
    if (r.with_stats) AddFiguresJson(doc, m);
    WriteLine(Dump(doc));
}
