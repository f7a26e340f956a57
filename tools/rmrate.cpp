// rmrate: KOV's measurement without the window. Runs the same analysis and
// statistics as the chart and prints the figures, the windows as JSON or CSV,
// or the stream headers the parser hands out.
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "analysis/analysis_run.h"
#include "analysis/figures_text.h"
#include "analysis/file_figures.h"
#include "analysis/result_messages.h"
#include "analysis/series_statistics.h"
#include "rmparser/rm_reader.h"

namespace {

const int EXIT_ALL_OK = 0;
const int EXIT_SOME_FAILED = 1;
const int EXIT_USAGE = 2;

// Keys in the order they are added, as the output has always listed them.
using Json = nlohmann::ordered_json;

// ---------------------------------------------------------------- text output
// Output stays plain ASCII whatever bytes a path or a file holds.

template <typename Out>
void AppendPlain(Out& out, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
}

template <typename Out>
void AppendPlain(Out& out, const char* text) {
    AppendPlain(out, text, std::strlen(text));
}

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

// Text for a JSON string: well-formed UTF-8 keeps its characters, any other
// byte is taken as Latin-1, so no path or file makes the output invalid. The
// writer escapes everything beyond ASCII.
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

// One compact line of ASCII.
std::string Dump(const Json& value) { return value.dump(-1, ' ', true); }

template <typename Out>
void AppendNumber(Out& out, uint64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%" PRIu64, value);
    out += digits;
}

template <typename Out>
void AppendSigned(Out& out, int64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%" PRId64, value);
    out += digits;
}

template <typename Out>
void AppendHex(Out& out, const void* data, uint32_t size) {
    static const char HEX_DIGITS[] = "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (uint32_t i = 0; i < size; ++i) {
        out += HEX_DIGITS[bytes[i] >> 4];
        out += HEX_DIGITS[bytes[i] & 0x0F];
    }
}

// Writes to stdout through a fixed buffer, for output that may be large: a
// file's stream headers can carry megabytes of properties, which are never
// held whole.
class StdoutSink {
public:
    StdoutSink() = default;
    StdoutSink(const StdoutSink&) = delete;
    StdoutSink& operator=(const StdoutSink&) = delete;
    ~StdoutSink() { Flush(); }

    StdoutSink& operator+=(char c) {
        if (used_ == sizeof buffer_) Flush();
        buffer_[used_++] = c;
        at_line_start_ = c == '\n';
        return *this;
    }
    StdoutSink& operator+=(const char* text) {
        while (*text) *this += *text++;
        return *this;
    }
    StdoutSink& operator+=(const std::string& text) {
        for (char c : text) *this += c;
        return *this;
    }
    void Flush() {
        std::fwrite(buffer_, 1, used_, stdout);
        used_ = 0;
    }
    bool AtLineStart() const { return at_line_start_; }

private:
    char buffer_[16 * 1024];
    size_t used_ = 0;
    bool at_line_start_ = true;
};

void WriteLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

// ---------------------------------------------------------------- stream headers

std::string CodeText(rm_result code) {
    const char* name = rm_result_name(code);
    if (name) return name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08" PRIX32, code);
    return hex;
}

// Keeps the parser's last report, to say why a header read failed. A fixed
// buffer: nothing may throw inside a callback of the reader.
struct LastParserError {
    rm_result code = RM_OK;
    char message[READ_MESSAGE_SIZE] = "";

    static void Record(void* user, rm_result code, const char* message) {
        LastParserError* self = static_cast<LastParserError*>(user);
        self->code = code;
        std::snprintf(self->message, sizeof self->message, "%s", message ? message : "");
    }
};

// A string property's text: up to its NUL, never past its block.
size_t PropertyTextLength(const rm_property& property) {
    const char* text = static_cast<const char*>(property.value.data);
    size_t length = 0;
    while (length < property.size && text[length] != '\0') ++length;
    return length;
}

const char* PropertyTypeName(uint32_t type) {
    switch (type) {
    case RM_PROPERTY_INT:
        return "int";
    case RM_PROPERTY_STRING:
        return "string";
    case RM_PROPERTY_BUFFER:
        return "buffer";
    default:
        return "unknown";
    }
}

template <typename Out>
void AppendPropertyValuePlain(Out& out, const rm_property& property) {
    if (property.type == RM_PROPERTY_INT) {
        AppendNumber(out, property.value.number);
    } else if (!property.value.data) {
        out += "(none)";
    } else if (property.type == RM_PROPERTY_STRING) {
        out += '"';
        AppendPlain(out, static_cast<const char*>(property.value.data), PropertyTextLength(property));
        out += '"';
    } else if (property.type == RM_PROPERTY_BUFFER) {
        AppendHex(out, property.value.data, property.size);
    } else {
        out += "?";
    }
}

Json PropertyValueJson(const rm_property& property) {
    if (property.type == RM_PROPERTY_INT) return property.value.number;
    if (!property.value.data) return nullptr;
    if (property.type == RM_PROPERTY_STRING) {
        return JsonText(static_cast<const char*>(property.value.data), PropertyTextLength(property));
    }
    if (property.type == RM_PROPERTY_BUFFER) {
        std::string hex;
        AppendHex(hex, property.value.data, property.size);
        return hex;
    }
    return nullptr;
}

template <typename Out>
void AppendQuotedPlain(Out& out, const char* text) {
    if (!text) {
        out += "(none)";
        return;
    }
    out += '"';
    AppendPlain(out, text);
    out += '"';
}

struct NamedNumber {
    const char* name;
    uint32_t value;
};

// The numeric fields of a stream header, in the order both formats list them.
std::array<NamedNumber, 8> HeaderNumbers(const rm_stream_header& h) {
    return {{{"max_bit_rate", h.max_bit_rate},
             {"avg_bit_rate", h.avg_bit_rate},
             {"max_packet_size", h.max_packet_size},
             {"avg_packet_size", h.avg_packet_size},
             {"duration", h.duration},
             {"preroll", h.preroll},
             {"start_time", h.start_time},
             {"opaque_length", h.opaque_length}}};
}

template <typename Out>
void AppendHeaderPlain(Out& out, const rm_stream_header& h) {
    out += "stream ";
    AppendNumber(out, h.stream_number);
    out += ": mime_type ";
    AppendQuotedPlain(out, h.mime_type);
    out += ", stream_name ";
    AppendQuotedPlain(out, h.stream_name);
    for (const NamedNumber& field : HeaderNumbers(h)) {
        out += ", ";
        out += field.name;
        out += ' ';
        AppendNumber(out, field.value);
    }
    out += '\n';
    for (uint32_t k = 0; k < h.property_count; ++k) {
        const rm_property& property = h.properties[k];
        out += "  ";
        if (property.name) {
            AppendPlain(out, property.name);
        } else {
            out += "(none)";
        }
        out += ' ';
        out += PropertyTypeName(property.type);
        out += ' ';
        AppendPropertyValuePlain(out, property);
        out += '\n';
    }
}

Json HeaderJson(const rm_stream_header& h) {
    Json header = {
        {"index", h.stream_number}, {"mime_type", JsonString(h.mime_type)}, {"stream_name", JsonString(h.stream_name)}};
    for (const NamedNumber& field : HeaderNumbers(h)) header[field.name] = field.value;
    Json properties = Json::array();
    for (uint32_t k = 0; k < h.property_count; ++k) {
        const rm_property& property = h.properties[k];
        properties.push_back({{"name", JsonString(property.name)},
                              {"type", PropertyTypeName(property.type)},
                              {"value", PropertyValueJson(property)}});
    }
    header["properties"] = std::move(properties);
    return header;
}

// ---------------------------------------------------------------- figures, JSON, CSV

struct Options {
    bool json = false;
    bool csv = false;
    bool streams = false;
    bool stats = false;
    uint32_t peak_span_ms = DEFAULT_PEAK_SPAN_MS;
};

struct Measurement {
    AnalysisResult result;
    AnalysisDetails details;
    bool has_figures;            // the chart would show this file's figures
    bool damaged;                // the data broke off: the figures cover only what came before
    const FileFigures* figures;  // the figures pass, when it ran
};

// Large (the windows of a whole series): one for the process.
FileFigures PassFigures;

// The chart's three figures from the windows, through KOV's own statistics.
void LoadSeries(const FileFigures& figures) {
    std::memset(BitrateSeries, 0, sizeof BitrateSeries);
    std::memcpy(BitrateSeries, figures.windows, figures.details.windows_stored * sizeof(BitrateSample));
}

// KOV's packet loop alone, or the figures pass, which yields the same windows
// and ending and more.
Measurement Measure(const char* path, bool with_figures, uint32_t peak_span_ms) {
    Measurement m;
    m.figures = nullptr;
    if (with_figures) {
        m.result = MeasureFileFigures(path, peak_span_ms, nullptr, nullptr, &PassFigures);
        m.details = PassFigures.details;
        m.figures = &PassFigures;
        LoadSeries(PassFigures);
    } else {
        m.result = MeasureFile(path, nullptr, nullptr, &m.details);
    }
    m.has_figures = m.result == ANALYSIS_OK || m.result == ANALYSIS_FRAME_GAP;
    m.damaged = m.details.ending == DATA_END_DAMAGED;
    if (m.has_figures) ComputeSeriesStatistics();
    return m;
}

// What broke the data, as the reader put it, or its result's name when it
// said nothing.
std::string DamageMessage(const AnalysisDetails& details) {
    if (details.read_message[0] != '\0') return details.read_message;
    return CodeText(details.read_result);
}

// "; series full: ..." and "; damaged at ...", in the order they happen in
// the file; nothing for a file that ended cleanly.
void AppendEnding(std::string& out, const Measurement& m) {
    const AnalysisDetails& d = m.details;
    if (d.series_full) {
        out += "; series full: ";
        AppendNumber(out, d.windows_not_stored);
        out += d.windows_not_stored == 1 ? " window not stored" : " windows not stored";
    }
    if (m.damaged) {
        out += "; damaged at byte ";
        AppendNumber(out, d.damage_offset);
        if (d.has_last_timestamp) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, " after %" PRIu32 ".%03" PRIu32 " s", d.last_timestamp_ms / 1000,
                          d.last_timestamp_ms % 1000);
            out += seconds;
        } else {
            out += " before the first video packet";
        }
        out += ": ";
        AppendPlain(out, DamageMessage(d).c_str());
    }
    if (d.empty_chart != CHART_NOT_EMPTY) {
        out += "; nothing charted: ";
        out += EmptyChartPhrase(d.empty_chart);
    }
}

// The statistics block, each line indented under the file's line.
void PrintStatisticsBlock(const FileFigures& figures) {
    const size_t needed = FormatFiguresText(figures, "\n", nullptr, 0);
    std::string text(needed + 1, '\0');
    FormatFiguresText(figures, "\n", &text[0], text.size());
    text.resize(needed);
    std::string indented;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        indented += "  ";
        indented.append(text, start, end == std::string::npos ? std::string::npos : end + 1 - start);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    std::fwrite(indented.data(), 1, indented.size(), stdout);
}

void PrintFigures(const char* path, const Measurement& m) {
    const AnalysisResultMessage* message = FindResultMessage(m.result);
    std::string line;
    if (m.has_figures) {
        AppendPlain(line, path);
        line += ": ";
        AppendNumber(line, m.details.windows_stored);
        line += " windows, max time ";
        // Whole seconds, as the chart's legend shows them.
        AppendNumber(line, SeriesStatistics.last_start_ms / 1000);
        line += " s, max bitrate ";
        AppendNumber(line, SeriesStatistics.max_kbps);
        line += " kbps, average bitrate ";
        AppendSigned(line, SeriesStatistics.average_kbps);
        line += " kbps";
        AppendEnding(line, m);
        WriteLine(line);
    }
    if (message) {
        line.clear();
        AppendPlain(line, path);
        line += ": ";
        line += message->text;
        WriteLine(line);
    }
    if (m.figures && m.result != ANALYSIS_OPEN_FAILED) PrintStatisticsBlock(*m.figures);
}

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

// What --stats adds to a file's object; every key new, none of the others
// changed.
void AddFiguresJson(Json& doc, const FileFigures& f) {
    const WindowStatistics& s = f.statistics;
    Json keyframes_per_window = Json::array();
    for (uint32_t i = 0; i < f.details.windows_stored; ++i) keyframes_per_window.push_back(f.window_keyframes[i]);
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
    doc["keyframes"] = f.details.stream_chosen ? keyframes : Json(nullptr);
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
        streams.push_back(std::move(stream));
    }
    doc["streams"] = std::move(streams);
    doc["totals_end"] = EndingName(f.totals_ending);
    doc["file_bytes"] = f.file_bytes;
    doc["file_first_ms"] = f.has_file_span ? Json(f.file_first_ms) : Json(nullptr);
    doc["file_last_ms"] = f.has_file_span ? Json(f.file_last_ms) : Json(nullptr);
    doc["file_measured_kbps"] = KbpsJson(f.file_bytes, f.file_first_ms, f.file_last_ms);
}

void PrintFiguresJson(const char* path, const Measurement& m) {
    const AnalysisResultMessage* message = FindResultMessage(m.result);
    const AnalysisDetails& d = m.details;
    Json doc = {{"file", JsonString(path)},
                {"result", AnalysisResultName(m.result)},
                {"code", static_cast<int>(m.result)},
                {"message", JsonString(message ? message->text : nullptr)},
                {"stream_index", d.stream_chosen ? Json(d.stream_index) : Json(nullptr)}};
    Json windows = Json::array();
    for (uint32_t i = 0; i < d.windows_stored; ++i)
        windows.push_back({BitrateSeries[i].start_ms, BitrateSeries[i].kbps});
    doc["windows"] = std::move(windows);
    // Figures only where KOV would show them.
    doc["max_time_s"] = m.has_figures ? Json(SeriesStatistics.last_start_ms / 1000) : Json(nullptr);
    doc["last_start_ms"] = m.has_figures ? Json(SeriesStatistics.last_start_ms) : Json(nullptr);
    doc["max_kbps"] = m.has_figures ? Json(SeriesStatistics.max_kbps) : Json(nullptr);
    doc["average_kbps"] = m.has_figures ? Json(SeriesStatistics.average_kbps) : Json(nullptr);
    doc["declared_avg_bit_rate"] = d.stream_chosen ? Json(d.declared_avg_bit_rate) : Json(nullptr);
    doc["declared_max_bit_rate"] = d.stream_chosen ? Json(d.declared_max_bit_rate) : Json(nullptr);
    doc["windows_not_stored"] = d.windows_not_stored;
    doc["end"] = EndJson(d);
    const char* empty = EmptyChartName(d.empty_chart);
    doc["empty_chart"] = empty ? Json(empty) : Json(nullptr);
    if (m.figures) AddFiguresJson(doc, *m.figures);
    WriteLine(Dump(doc));
}

void PrintCsv(const char* path, const Measurement& m) {
    bool written = WriteWindowsCsv(*m.figures, stdout);
    (void)written;  // a failed write shows when stdout is flushed at the end

    // The rows are data; what went wrong, or what the rows leave out, goes
    // beside them.
    std::string name;
    AppendPlain(name, path);
    const AnalysisResultMessage* message = FindResultMessage(m.result);
    if (message) std::fprintf(stderr, "%s: %s\n", name.c_str(), message->text);
    std::string ending;
    AppendEnding(ending, m);
    if (!ending.empty()) std::fprintf(stderr, "%s: %s\n", name.c_str(), ending.c_str() + 2);
}

// Fetched stream headers and what they come from, released whatever ends the
// listing.
struct StreamsRun {
    FILE* file = nullptr;
    rm_reader* reader = nullptr;
    rm_stream_header* header = nullptr;

    ~StreamsRun() {
        if (header) rm_reader_release_stream_header(reader, &header);
        if (reader) rm_reader_delete(&reader);
        if (file) std::fclose(file);
    }
};

// Reads the headers of one file and prints every stream header as it is
// fetched: a file's headers can carry megabytes of properties, so the JSON
// object is written piece by piece, one header at a time. Returns true when
// everything could be read.
bool PrintStreams(const char* path, bool json, StdoutSink& out) {
    StreamsRun run;
    run.file = OpenMediaFile(path, nullptr);
    if (!run.file) {
        if (json) {
            out += "{\"file\":";
            out += Dump(JsonString(path));
            out += ",\"result\":\"OPEN_FAILED\",\"streams\":[]}\n";
        } else {
            AppendPlain(out, path);
            out += ": ";
            out += FindResultMessage(ANALYSIS_OPEN_FAILED)->text;
            out += '\n';
        }
        return false;
    }

    LastParserError last_error;
    run.reader = rm_reader_new(&last_error, LastParserError::Record);
    rm_result code = run.reader ? rm_reader_attach_stdio(run.reader, run.file) : RM_OUT_OF_MEMORY;
    if (code == RM_OK) code = rm_reader_load_headers(run.reader);
    const uint32_t count = code == RM_OK ? rm_reader_stream_count(run.reader) : 0;

    if (json) {
        out += "{\"file\":";
        out += Dump(JsonString(path));
        out += ",\"streams\":[";
    } else if (code == RM_OK) {
        AppendPlain(out, path);
        out += ": ";
        AppendNumber(out, count);
        out += count == 1 ? " stream\n" : " streams\n";
    }
    for (uint32_t i = 0; i < count && code == RM_OK; ++i) {
        code = rm_reader_fetch_stream_header(run.reader, i, &run.header);
        if (code != RM_OK || !run.header) break;
        if (json) {
            if (i) out += ',';
            out += Dump(HeaderJson(*run.header));
        } else {
            AppendHeaderPlain(out, *run.header);
        }
        rm_reader_release_stream_header(run.reader, &run.header);
    }

    if (json) {
        out += "],\"result\":";
        out += Dump(CodeText(code));
        out += "}\n";
    } else if (code != RM_OK) {
        AppendPlain(out, path);
        out += ": ";
        out += CodeText(code);
        if (last_error.code == code && last_error.message[0] != '\0') {
            out += " (";
            AppendPlain(out, last_error.message);
            out += ')';
        }
        out += '\n';
    }
    return code == RM_OK;
}

// ---------------------------------------------------------------- command line

const char DESCRIPTION[] =
    "Measures the bitrate of the first RealVideo stream of each RealMedia file (.rm, .rmvb) as KOV does: "
    "windows of a little more than one second of media time, with the chart's figures.";

const char FOOTER[] =
    "Output:\n"
    "  plain     one line per file: windows, max time, max and average bitrate, or KOV's message\n"
    "  --json    one JSON object per line and file, with every window as [start_ms, kbps]\n"
    "  --csv     start_ms,kbps,keyframes rows of one file's windows\n"
    "  --streams every stream header with its properties (plain, or JSON with --json)\n"
    "  --stats   adds the figures of one more pass: window statistics (minimum, median, 90th/95th/99th\n"
    "            percentiles by linear interpolation between closest ranks, population standard\n"
    "            deviation), the peak of the --peak-window moving average (time-weighted over whole\n"
    "            consecutive windows spanning at least that long; a shorter series gives its whole\n"
    "            average), keyframes (count, first, intervals; per window in JSON), and every stream's\n"
    "            MIME type, name, codec, declared rates and measured bytes and kbps\n"
    "How the data ended: a file whose packets break off is damaged; its windows up\n"
    "to there are still given, and the line adds \"; damaged at byte N after T s:\n"
    "MESSAGE\" (N: where the unreadable packet starts; T: the last video packet\n"
    "read whole). A video longer than the series holds adds \"; series full: N\n"
    "windows not stored\". --json gives both as \"windows_not_stored\" and \"end\":\n"
    "{\"status\":\"clean\"|\"damaged\",\"result\",\"message\",\"offset\",\n"
    "\"last_timestamp_ms\"}, or null when the packets were not read to an end (no\n"
    "video, a frame gap); --csv writes them to stderr. A chart with no window\n"
    "says why: \"; nothing charted: ...\" (--json: \"empty_chart\": \"no_packets\",\n"
    "\"starts_late\", \"too_short\" or \"damaged\", else null).\n"
    "Only regular files are read: a directory, a device (COM1) or a pipe cannot be\n"
    "opened.\n"
    "Exit status: 0 when every file was measured to a clean end (ANALYSIS_OK, not\n"
    "damaged, at least one window; with --streams: every header read), 1 when any\n"
    "was not (a file that cannot be opened included), 2 for a usage error.\n";

const char SHORT_USAGE[] = "usage: rmrate [OPTIONS] FILE...\n";

// A finite number of seconds in range. CLI::Range compares with < and >,
// which let NaN through.
const double PEAK_SECONDS_MIN = 0.001;
const double PEAK_SECONDS_MAX = 86400.0;
const CLI::Validator PEAK_SECONDS(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || !(value >= PEAK_SECONDS_MIN && value <= PEAK_SECONDS_MAX)) {
            return "Value " + text + " not in range [0.001 - 86400]";
        }
        return std::string();
    },
    "FLOAT in [0.001 - 86400]");

// Parses the command line into `options` and `files`. Returns -1 to go on,
// otherwise the exit status (help printed, or a usage error reported).
int ParseCommandLine(int argc, char** argv, Options* options, std::vector<std::string>* files) {
    CLI::App app(DESCRIPTION, "rmrate");
    app.get_formatter()->label("Usage", "usage");
    app.get_formatter()->column_width(22);
    app.set_help_flag("-h,--help", "Print this help and exit");
    // A path may start with '/' (Wine hands Unix paths through), and has
    // always been a file, never an option, on Windows too.
    app.allow_windows_style_options(false);
    app.footer(FOOTER);
    CLI::Option* json =
        app.add_flag("--json", options->json, "One JSON object per file (with --streams: per header list)");
    CLI::Option* csv = app.add_flag("--csv", options->csv, "The windows of one file as start_ms,kbps,keyframes rows");
    CLI::Option* streams = app.add_flag("--streams", options->streams, "Every stream header with its properties");
    CLI::Option* stats =
        app.add_flag("--stats", options->stats, "Add statistics, keyframes and every stream's figures");
    double peak_seconds = DEFAULT_PEAK_SPAN_MS / 1000.0;
    app.add_option("--peak-window", peak_seconds, "Seconds of the moving average whose peak --stats gives (default 10)")
        ->type_name("S")
        ->check(PEAK_SECONDS)
        ->needs(stats);
    app.add_option("FILE", *files, "RealMedia files to measure")->type_name("")->required();
    csv->excludes(json)->excludes(streams)->excludes(stats);
    streams->excludes(stats);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return EXIT_ALL_OK;
    } catch (const CLI::ParseError& error) {
        std::string problem;
        AppendPlain(problem, error.what());
        std::fprintf(stderr, "rmrate: %s\n%sTry 'rmrate --help' for more information.\n", problem.c_str(), SHORT_USAGE);
        return EXIT_USAGE;
    }
    if (options->csv && files->size() != 1) {
        std::fprintf(stderr, "rmrate: --csv takes exactly one file\n%sTry 'rmrate --help' for more information.\n",
                     SHORT_USAGE);
        return EXIT_USAGE;
    }
    options->peak_span_ms = static_cast<uint32_t>(peak_seconds * 1000.0 + 0.5);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::vector<std::string> files;
    // CLI11 reports through exceptions; memory running out while it parses
    // is reported like any other failure.
    int parsed;
    try {
        parsed = ParseCommandLine(argc, argv, &options, &files);
    } catch (const std::exception&) {
        std::fputs("rmrate: could not read the command line\n", stderr);
        return EXIT_USAGE;
    }
    if (parsed >= 0) return parsed;

    bool all_ok = true;
    StdoutSink out;
    for (const std::string& name : files) {
        const char* path = name.c_str();
        // Running out of memory fails this file only; the next ones go on.
        try {
            if (options.streams) {
                all_ok = PrintStreams(path, options.json, out) && all_ok;
                out.Flush();
                continue;
            }
            const Measurement m = Measure(path, options.stats || options.csv, options.peak_span_ms);
            if (options.csv) {
                PrintCsv(path, m);
            } else if (options.json) {
                PrintFiguresJson(path, m);
            } else {
                PrintFigures(path, m);
            }
            // A chart with no window is no measurement either.
            if (m.result != ANALYSIS_OK || m.damaged || m.details.empty_chart != CHART_NOT_EMPTY) all_ok = false;
        } catch (const std::bad_alloc&) {
            all_ok = false;
            if (!out.AtLineStart()) out += '\n';
            out.Flush();
            std::fputs("rmrate: out of memory on ", stderr);
            for (const char* c = path; *c; ++c) {
                const unsigned char byte = static_cast<unsigned char>(*c);
                std::fputc(byte >= 0x20 && byte < 0x7F ? byte : '?', stderr);
            }
            std::fputc('\n', stderr);
        }
    }
    out.Flush();
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "rmrate: could not write the output\n");
        return EXIT_SOME_FAILED;
    }
    return all_ok ? EXIT_ALL_OK : EXIT_SOME_FAILED;
}
