// rmrate --streams: every stream header the reader hands out, with its properties, plain or JSON.
#include <array>
#include <cstring>
#include <string>

#include "analysis/media_file.h"
#include "analysis/result_messages.h"
#include "analysis/text_escape.h"
#include "tools/rmrate/rmrate.h"

namespace {

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
        AppendEscaped(out, static_cast<const char*>(property.value.data), PropertyTextLength(property));
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
    AppendEscaped(out, text);
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
            AppendEscaped(out, property.name);
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

}  // namespace

// Every stream header is printed as it is fetched: a file's headers can carry
// megabytes of properties, so the JSON object is written piece by piece, one
// header at a time.

bool PrintStreams(const char* path, bool json, StdoutSink& out) {
    // Declared before the run's resources, so they outlive the parser.
    unsigned char buffer[RUN_BUFFER_SIZE];
    MediaFileBuffer io;
    ParserReport last_error = {RM_OK, ""};
    RunResources run;
    run.file = OpenMediaFile(path, nullptr);
    if (!run.file) {
        if (json) {
            out += "{\"file\":";
            out += Dump(JsonString(path));
            out += ",\"result\":\"OPEN_FAILED\",\"streams\":[]}\n";
        } else {
            out += path;
            out += ": ";
            out += FindResultMessage(ANALYSIS_OPEN_FAILED)->text;
            out += '\n';
        }
        return false;
    }

    rm_result code = AttachMediaReader(&run, &io, buffer, &last_error);
    const uint32_t count = code == RM_OK ? rm_reader_stream_count(run.reader) : 0;

    if (json) {
        out += "{\"file\":";
        out += Dump(JsonString(path));
        out += ",\"streams\":[";
    } else if (code == RM_OK) {
        out += path;
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
        out += path;
        out += ": ";
        out += CodeText(code);
        if (last_error.code == code && last_error.message[0] != '\0') {
            out += " (";
            AppendEscaped(out, last_error.message);
            out += ')';
        }
        out += '\n';
    }
    return code == RM_OK;
}
