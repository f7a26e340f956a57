// rmrate: KOV's measurement without the window. Runs the same analysis and
// statistics as the chart and prints the figures, the windows as JSON or CSV,
// or the stream headers the parser hands out.
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
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
    "Exit status: 0 when every file ended without a failure (ANALYSIS_OK; with\n"
    "--streams: every header read), 1 when any did not, 2 for a usage error.\n";

enum class Mode { Figures, Csv, Streams };

// ---------------------------------------------------------------- text output
// Output stays plain ASCII whatever bytes a path or a file holds.

void AppendPlain(std::string& out, const char* text, size_t length) {
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

void AppendPlain(std::string& out, const char* text) { AppendPlain(out, text, std::strlen(text)); }

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

void AppendUnicodeEscape(std::string& out, uint32_t unit) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
    out += escape;
}

// A JSON string in ASCII. Well-formed UTF-8 keeps its characters; any other
// byte is taken as Latin-1, so no input makes the output invalid.
void AppendJsonString(std::string& out, const char* text, size_t length) {
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

void AppendJsonString(std::string& out, const char* text) {
    if (text) {
        AppendJsonString(out, text, std::strlen(text));
    } else {
        out += "null";
    }
}

void AppendNumber(std::string& out, uint64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%" PRIu64, value);
    out += digits;
}

void AppendSigned(std::string& out, int64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%" PRId64, value);
    out += digits;
}

void AppendHex(std::string& out, const void* data, uint32_t size) {
    static const char HEX_DIGITS[] = "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (uint32_t i = 0; i < size; ++i) {
        out += HEX_DIGITS[bytes[i] >> 4];
        out += HEX_DIGITS[bytes[i] & 0x0F];
    }
}

void WriteLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

// ---------------------------------------------------------------- figures, JSON, CSV

struct Measurement {
    AnalysisResult result;
    AnalysisDetails details;
    bool has_figures;  // the chart would show this file's figures
};

Measurement Measure(const char* path) {
    Measurement m;
    m.result = MeasureFile(path, nullptr, nullptr, &m.details);
    m.has_figures = m.result == ANALYSIS_OK || m.result == ANALYSIS_FRAME_GAP;
    if (m.has_figures) ComputeSeriesStatistics();
    if (m.details.series_full) {
        // The output formats have no place for it, but figures that cover
        // only part of the file must not pass unnoticed.
        std::string name;
        AppendPlain(name, path);
        std::fprintf(stderr, "%s: longer than the series holds; only the first %" PRIu32 " windows are kept\n",
                     name.c_str(), m.details.windows_stored);
    }
    return m;
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

    // The rows are data; what went wrong goes beside them.
    const AnalysisResultMessage* message = FindResultMessage(m.result);
    if (message) {
        std::string line;
        AppendPlain(line, path);
        std::fprintf(stderr, "%s: %s\n", line.c_str(), message->text);
    }
}

// ---------------------------------------------------------------- stream headers

const char* ResultCodeName(rm_result code) {
    switch (code) {
        case RM_OK: return "RM_OK";
        case RM_FAIL: return "RM_FAIL";
        case RM_OUT_OF_MEMORY: return "RM_OUT_OF_MEMORY";
        case RM_NULL_ARGUMENT: return "RM_NULL_ARGUMENT";
        case RM_BAD_FILE: return "RM_BAD_FILE";
        case RM_BAD_DATA_CHUNK: return "RM_BAD_DATA_CHUNK";
        case RM_CORRUPT: return "RM_CORRUPT";
        case RM_READ_FAILED: return "RM_READ_FAILED";
        case RM_END_OF_DATA: return "RM_END_OF_DATA";
        default: return nullptr;
    }
}

std::string CodeText(rm_result code) {
    const char* name = ResultCodeName(code);
    if (name) return name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08" PRIX32, code);
    return hex;
}

// Keeps the parser's last report, to say why a header read failed.
struct LastParserError {
    rm_result code = RM_OK;
    std::string message;

    static void Record(void* user, rm_result code, const char* message) {
        LastParserError* self = static_cast<LastParserError*>(user);
        self->code = code;
        self->message = message ? message : "";
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
        case RM_PROPERTY_INT: return "int";
        case RM_PROPERTY_STRING: return "string";
        case RM_PROPERTY_BUFFER: return "buffer";
        default: return "unknown";
    }
}

void AppendPropertyValuePlain(std::string& out, const rm_property& property) {
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

void AppendPropertyValueJson(std::string& out, const rm_property& property) {
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

void AppendQuotedPlain(std::string& out, const char* text) {
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

void AppendHeaderPlain(std::string& out, const rm_stream_header& h) {
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

void AppendHeaderJson(std::string& out, const rm_stream_header& h) {
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

// Reads the headers of one file and prints every stream header. Returns
// true when everything could be read.
bool PrintStreams(const char* path, bool json) {
    std::string name;
    AppendPlain(name, path);

    FILE* file = std::fopen(path, "rb");
    if (!file) {
        if (json) {
            std::string out = "{\"file\":";
            AppendJsonString(out, path);
            out += ",\"result\":\"OPEN_FAILED\",\"streams\":[]}";
            WriteLine(out);
        } else {
            WriteLine(name + ": " + FindResultMessage(ANALYSIS_OPEN_FAILED)->text);
        }
        return false;
    }

    LastParserError last_error;
    rm_reader* reader = rm_reader_new(&last_error, LastParserError::Record);
    rm_result code = reader ? rm_reader_attach_stdio(reader, file) : RM_OUT_OF_MEMORY;
    if (code == RM_OK) code = rm_reader_load_headers(reader);

    std::string streams;  // JSON array items, or plain lines
    uint32_t shown = 0;
    if (code == RM_OK) {
        const uint32_t count = rm_reader_stream_count(reader);
        for (uint32_t i = 0; i < count && code == RM_OK; ++i) {
            rm_stream_header* header = nullptr;
            code = rm_reader_fetch_stream_header(reader, i, &header);
            if (code != RM_OK || !header) break;
            if (json) {
                if (shown) streams += ',';
                AppendHeaderJson(streams, *header);
            } else {
                AppendHeaderPlain(streams, *header);
            }
            ++shown;
            rm_reader_release_stream_header(reader, &header);
        }
    }
    rm_reader_delete(&reader);
    std::fclose(file);

    if (json) {
        std::string out = "{\"file\":";
        AppendJsonString(out, path);
        out += ",\"result\":\"";
        out += CodeText(code);
        out += "\",\"streams\":[";
        out += streams;
        out += "]}";
        WriteLine(out);
    } else {
        std::string head = name + ": ";
        if (code == RM_OK) {
            AppendNumber(head, shown);
            head += shown == 1 ? " stream" : " streams";
        } else {
            head += CodeText(code);
            if (last_error.code == code && !last_error.message.empty()) {
                head += " (";
                AppendPlain(head, last_error.message.c_str());
                head += ')';
            }
        }
        WriteLine(head);
        std::fwrite(streams.data(), 1, streams.size(), stdout);
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
    for (int i = first_file; i < argc; ++i) {
        const char* path = argv[i];
        if (mode == Mode::Streams) {
            all_ok = PrintStreams(path, json) && all_ok;
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
        if (m.result != ANALYSIS_OK) all_ok = false;
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "rmrate: could not write the output\n");
        return EXIT_SOME_FAILED;
    }
    return all_ok ? EXIT_ALL_OK : EXIT_SOME_FAILED;
}
