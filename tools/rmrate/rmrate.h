// rmrate's pieces: what main hands each output mode, and the helpers they share.
#ifndef KOV_TOOLS_RMRATE_RMRATE_H
#define KOV_TOOLS_RMRATE_RMRATE_H

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/measurement.h"
#include "analysis/window_statistics.h"
#include "rmparser/rm_reader.h"

struct Options {
    bool json = false;
    bool csv = false;
    bool streams = false;
    bool stats = false;
    bool frames = false;
    bool gops = false;
    bool report = false;
    unsigned jobs = 0;  // --report's workers; 0: the machine's cores
    uint32_t peak_span_ms = DEFAULT_PEAK_SPAN_MS;
    int32_t stream = MEASURE_VIDEO;  // --stream: a stream number, or MEASURE_ALL_STREAMS
};

// One file's measurement and what the outputs need to know of it.
struct FileResult {
    const Measurement* measurement;
    bool has_figures;  // the chart would show this file's figures
    bool damaged;      // the data broke off: the figures cover only what came before
    bool with_stats;   // --stats: the statistics follow the figures
    int32_t stream;    // whose windows were asked for (Options::stream)
};

// What the file's line says instead of figures (the result's message, or that
// the file has no stream of the asked number); empty when the figures say it all.
std::string ResultText(const FileResult& r);
// Whether --stream named a number no stream of the file has.
bool StreamMissing(const FileResult& r);

// ---------------------------------------------------------------- text pieces

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

// Bytes as lower-case hex digits, two per byte.
template <typename Out>
void AppendHex(Out& out, const void* data, size_t size) {
    static const char HEX_DIGITS[] = "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        out += HEX_DIGITS[bytes[i] >> 4];
        out += HEX_DIGITS[bytes[i] & 0x0F];
    }
}

// A result code's name, or its value in hex when it has none.
std::string CodeText(rm_result code);

// One line of output, and its end.
void WriteLine(const std::string& line);

// Writes to stdout through a fixed buffer, for output that may be large: a
// file's stream headers can carry megabytes of properties, which are never
// held whole.
class StdoutSink {
public:
    StdoutSink() = default;
    StdoutSink(const StdoutSink&) = delete;
    StdoutSink& operator=(const StdoutSink&) = delete;
    ~StdoutSink() { Flush(); }

    StdoutSink& operator+=(char c);
    StdoutSink& operator+=(const char* text);
    StdoutSink& operator+=(const std::string& text);
    void Flush();
    bool AtLineStart() const { return at_line_start_; }

private:
    char buffer_[16 * 1024];
    size_t used_ = 0;
    bool at_line_start_ = true;
};

// ---------------------------------------------------------------- JSON

// Keys in the order they are added, as the output has always listed them.
using Json = nlohmann::ordered_json;

// Text for a JSON string: well-formed UTF-8 keeps its characters, any other
// byte is taken as Latin-1, so no path or file makes the output invalid.
std::string JsonText(const char* text, size_t length);
// A JSON string, or null for no text.
Json JsonString(const char* text);
// One compact line of ASCII.
std::string Dump(const Json& value);

// ---------------------------------------------------------------- the modes

// The plain line (and with --stats the statistics block under it).
void PrintFigures(const char* path, const FileResult& r);
// One JSON object per file.
void PrintFiguresJson(const char* path, const FileResult& r);
// start_ms,kbps,keyframes rows; what went wrong or is left out goes to stderr.
void PrintCsv(const char* path, const FileResult& r);
// The frames (or with `gops` the GOPs) of one file's video as they are
// found, CSV rows or one JSON object, never held whole. True when the file
// was measured to a clean end with a window, as every mode counts success.
// Read through `source` (the mapped file) when given.
bool PrintFrameList(const char* path, bool gops, bool json, int32_t stream, const MediaSource* source = nullptr);
// Whether a measurement is a success: read to a clean end, with a window.
bool MeasuredCleanly(const FileResult& r);
// How the data ended, as --json gives it.
Json EndJson(const AnalysisDetails& d);
// The ending a CSV leaves out, on stderr.
void PrintEndingToStderr(const char* path, const FileResult& r);

// Every stream header with its properties, plain or JSON. True when every
// header could be read.
bool PrintStreams(const char* path, bool json, StdoutSink& out);

#endif
