// rmrate: KOV's measurement without the window. Runs the same analysis and
// statistics as the chart and prints the figures, the windows as JSON or CSV,
// or the stream headers the parser hands out.
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "analysis/analysis_run.h"
#include "analysis/result_messages.h"
#include "analysis/series_statistics.h"
#include "rmparser/rm_reader.h"

namespace {

const int EXIT_ALL_OK = 0;
const int EXIT_SOME_FAILED = 1;
const int EXIT_USAGE = 2;

const char USAGE[] =
    "usage: rmrate [--json] FILE...     bitrate figures of each file's first RealVideo stream\n"
    "       rmrate --csv FILE           the windows of one file as start_ms,kbps rows\n"
    "       rmrate --streams [--json] FILE...\n"
    "                                   every stream header with its properties\n"
    "       rmrate --help\n"
    "How the data ended: a file whose packets break off is damaged; its windows up\n"
    "to there are still given, and the line adds \"; damaged at byte N after T s:\n"
    "MESSAGE\" (N: where the unreadable packet starts; T: the last video packet\n"
    "read whole). A video longer than the series holds adds \"; series full: N\n"
    "windows not stored\". --json gives both as \"windows_not_stored\" and \"end\":\n"
    "{\"status\":\"clean\"|\"damaged\",\"result\",\"message\",\"offset\",\n"
    "\"last_timestamp_ms\"}, or null when the packets were not read to an end (no\n"
    "video, a frame gap); --csv writes them to stderr.\n"
    "Only regular files are read: a directory, a device (COM1) or a pipe cannot be\n"
    "opened.\n"
    "Exit status: 0 when every file was measured to a clean end (ANALYSIS_OK, not\n"
    "damaged; with --streams: every header read), 1 when any was not, 2 for a\n"
    "usage error.\n";

enum class Mode { Figures, Csv, Streams };

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

template <typename Out>
void AppendUnicodeEscape(Out& out, uint32_t unit) {
    char escape[12];  // room for any unsigned, so no compiler sees a cut
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
    out += escape;
}

// A JSON string in ASCII. Well-formed UTF-8 keeps its characters; any other
// byte is taken as Latin-1, so no input makes the output invalid.
template <typename Out>
void AppendJsonString(Out& out, const char* text, size_t length) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    out += '"';
    for (size_t i = 0; i < length;) {
        const unsigned char c = bytes[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\n') {
            out += "\\n", ++i;
        } else if (c == '\t') {
            out += "\\t", ++i;
        } else {
            uint32_t code_point = c;
            size_t used = c >= 0x80 ? DecodeUtf8(bytes, length, i, &code_point) : 0;
            if (used == 0) used = 1;  // a control character, or a Latin-1 byte
            if (code_point >= 0x10000) {
                const uint32_t v = code_point - 0x10000;
                AppendUnicodeEscape(out, 0xD800 + (v >> 10));
                AppendUnicodeEscape(out, 0xDC00 + (v & 0x3FF));
            } else {
                AppendUnicodeEscape(out, code_point);
            }
            i += used;
        }
    }
    out += '"';
}

template <typename Out>
void AppendJsonString(Out& out, const char* text) {
    if (text) {
        AppendJsonString(out, text, std::strlen(text));
    } else {
        out += "null";
    }
}

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

const char* ResultCodeName(rm_result code) {
    switch (code) {
    case RM_OK:
        return "RM_OK";
    case RM_FAIL:
        return "RM_FAIL";
    case RM_OUT_OF_MEMORY:
        return "RM_OUT_OF_MEMORY";
    case RM_NULL_ARGUMENT:
        return "RM_NULL_ARGUMENT";
    case RM_BAD_FILE:
        return "RM_BAD_FILE";
    case RM_BAD_DATA_CHUNK:
        return "RM_BAD_DATA_CHUNK";
    case RM_CORRUPT:
        return "RM_CORRUPT";
    case RM_READ_FAILED:
        return "RM_READ_FAILED";
    case RM_END_OF_DATA:
        return "RM_END_OF_DATA";
    default:
        return nullptr;
    }
}

std::string CodeText(rm_result code) {
    const char* name = ResultCodeName(code);
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

template <typename Out>
void AppendPropertyValueJson(Out& out, const rm_property& property) {
    if (property.type == RM_PROPERTY_INT) {
        AppendNumber(out, property.value.number);
    } else if (!property.value.data) {
        out += "null";
    } else if (property.type == RM_PROPERTY_STRING) {
        AppendJsonString(out, static_cast<const char*>(property.value.data), PropertyTextLength(property));
    } else if (property.type == RM_PROPERTY_BUFFER) {
        out += '"';
        AppendHex(out, property.value.data, property.size);
        out += '"';
    } else {
        out += "null";
    }
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

template <typename Out>
void AppendHeaderJson(Out& out, const rm_stream_header& h) {
    out += "{\"index\":";
    AppendNumber(out, h.stream_number);
    out += ",\"mime_type\":";
    AppendJsonString(out, h.mime_type);
    out += ",\"stream_name\":";
    AppendJsonString(out, h.stream_name);
    for (const NamedNumber& field : HeaderNumbers(h)) {
        out += ",\"";
        out += field.name;
        out += "\":";
        AppendNumber(out, field.value);
    }
    out += ",\"properties\":[";
    for (uint32_t k = 0; k < h.property_count; ++k) {
        const rm_property& property = h.properties[k];
        if (k) out += ',';
        out += "{\"name\":";
        AppendJsonString(out, property.name);
        out += ",\"type\":\"";
        out += PropertyTypeName(property.type);
        out += "\",\"value\":";
        AppendPropertyValueJson(out, property);
        out += '}';
    }
    out += "]}";
}

// ---------------------------------------------------------------- figures, JSON, CSV

struct Measurement {
    AnalysisResult result;
    AnalysisDetails details;
    bool has_figures;  // the chart would show this file's figures
    bool damaged;      // the data broke off: the figures cover only what came before
};

Measurement Measure(const char* path) {
    Measurement m;
    m.result = MeasureFile(path, nullptr, nullptr, &m.details);
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
}

// "end": how the data ended, or null when the packets were not read to an
// end (no stream measured, a frame gap, a stream starting too late).
void AppendEndJson(std::string& out, const AnalysisDetails& d) {
    if (d.ending == DATA_END_NOT_REACHED) {
        out += "null";
        return;
    }
    const bool damaged = d.ending == DATA_END_DAMAGED;
    out += damaged ? "{\"status\":\"damaged\",\"result\":\"" : "{\"status\":\"clean\",\"result\":\"";
    out += damaged ? CodeText(d.read_result) : CodeText(RM_END_OF_DATA);
    out += "\",\"message\":";
    AppendJsonString(out, damaged && d.read_message[0] != '\0' ? d.read_message : nullptr);
    out += ",\"offset\":";
    if (damaged) {
        AppendNumber(out, d.damage_offset);
    } else {
        out += "null";
    }
    out += ",\"last_timestamp_ms\":";
    if (d.has_last_timestamp) {
        AppendNumber(out, d.last_timestamp_ms);
    } else {
        out += "null";
    }
    out += '}';
}

void PrintFiguresJson(const char* path, const Measurement& m) {
    const AnalysisResultMessage* message = FindResultMessage(m.result);
    std::string out = "{\"file\":";
    AppendJsonString(out, path);
    out += ",\"result\":\"";
    out += AnalysisResultName(m.result);
    out += "\",\"code\":";
    AppendSigned(out, m.result);
    out += ",\"message\":";
    AppendJsonString(out, message ? message->text : nullptr);

    out += ",\"stream_index\":";
    if (m.details.stream_chosen) {
        AppendNumber(out, m.details.stream_index);
    } else {
        out += "null";
    }

    out += ",\"windows\":[";
    for (uint32_t i = 0; i < m.details.windows_stored; ++i) {
        if (i) out += ',';
        out += '[';
        AppendNumber(out, BitrateSeries[i].start_ms);
        out += ',';
        AppendNumber(out, BitrateSeries[i].kbps);
        out += ']';
    }
    out += ']';

    // Figures only where KOV would show them.
    if (m.has_figures) {
        out += ",\"max_time_s\":";
        AppendNumber(out, SeriesStatistics.last_start_ms / 1000);
        out += ",\"last_start_ms\":";
        AppendNumber(out, SeriesStatistics.last_start_ms);
        out += ",\"max_kbps\":";
        AppendNumber(out, SeriesStatistics.max_kbps);
        out += ",\"average_kbps\":";
        AppendSigned(out, SeriesStatistics.average_kbps);
    } else {
        out += ",\"max_time_s\":null,\"last_start_ms\":null,\"max_kbps\":null,\"average_kbps\":null";
    }

    out += ",\"declared_avg_bit_rate\":";
    if (m.details.stream_chosen) {
        AppendNumber(out, m.details.declared_avg_bit_rate);
    } else {
        out += "null";
    }
    out += ",\"declared_max_bit_rate\":";
    if (m.details.stream_chosen) {
        AppendNumber(out, m.details.declared_max_bit_rate);
    } else {
        out += "null";
    }
    out += ",\"windows_not_stored\":";
    AppendNumber(out, m.details.windows_not_stored);
    out += ",\"end\":";
    AppendEndJson(out, m.details);
    out += '}';
    WriteLine(out);
}

void PrintCsv(const char* path, const Measurement& m) {
    std::string out = "start_ms,kbps\n";
    for (uint32_t i = 0; i < m.details.windows_stored; ++i) {
        AppendNumber(out, BitrateSeries[i].start_ms);
        out += ',';
        AppendNumber(out, BitrateSeries[i].kbps);
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);

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
// fetched. Returns true when everything could be read.
bool PrintStreams(const char* path, bool json, StdoutSink& out) {
    StreamsRun run;
    run.file = OpenMediaFile(path, nullptr);
    if (!run.file) {
        if (json) {
            out += "{\"file\":";
            AppendJsonString(out, path);
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
        AppendJsonString(out, path);
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
            AppendHeaderJson(out, *run.header);
        } else {
            AppendHeaderPlain(out, *run.header);
        }
        rm_reader_release_stream_header(run.reader, &run.header);
    }

    if (json) {
        out += "],\"result\":\"";
        out += CodeText(code);
        out += "\"}\n";
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

int UsageError(const char* problem) {
    std::fprintf(stderr, "rmrate: %s\n%s", problem, USAGE);
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    bool csv = false;
    bool streams = false;
    int first_file = argc;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) {
            first_file = i + 1;
            break;
        }
        if (arg[0] != '-' || arg[1] == '\0') {
            first_file = i;
            break;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(USAGE, stdout);
            return EXIT_ALL_OK;
        } else if (std::strcmp(arg, "--json") == 0) {
            json = true;
        } else if (std::strcmp(arg, "--csv") == 0) {
            csv = true;
        } else if (std::strcmp(arg, "--streams") == 0) {
            streams = true;
        } else {
            std::string problem = "unknown option ";
            AppendPlain(problem, arg);
            return UsageError(problem.c_str());
        }
    }
    const int file_count = argc - first_file;
    if (file_count <= 0) return UsageError("no file given");
    if (csv && (json || streams)) return UsageError("--csv goes alone");
    if (csv && file_count != 1) return UsageError("--csv takes exactly one file");

    const Mode mode = streams ? Mode::Streams : csv ? Mode::Csv : Mode::Figures;
    bool all_ok = true;
    StdoutSink out;
    for (int i = first_file; i < argc; ++i) {
        const char* path = argv[i];
        // Running out of memory fails this file only; the next ones go on.
        try {
            if (mode == Mode::Streams) {
                all_ok = PrintStreams(path, json, out) && all_ok;
                out.Flush();
                continue;
            }
            const Measurement m = Measure(path);
            if (mode == Mode::Csv) {
                PrintCsv(path, m);
            } else if (json) {
                PrintFiguresJson(path, m);
            } else {
                PrintFigures(path, m);
            }
            if (m.result != ANALYSIS_OK || m.damaged) all_ok = false;
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
