// The statistics text block and the windows CSV, shared by rmrate and KOV.
#include "analysis/figures_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstring>

#include "analysis/result_messages.h"
#include "analysis/text_escape.h"

namespace {

// snprintf into a fixed buffer, counting what the whole text needs.
class TextOut {
public:
    TextOut(char* out, size_t capacity) : out_(out), capacity_(capacity) {
        if (capacity_) out_[0] = '\0';
    }

#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    void
    Print(const char* format, ...) {
        char piece[256];
        va_list args;
        va_start(args, format);
        const int length = std::vsnprintf(piece, sizeof piece, format, args);
        va_end(args);
        if (length > 0) Put(piece, size_t(length) < sizeof piece ? size_t(length) : sizeof piece - 1);
    }

    void Plain(const char* text, size_t length) { AppendEscaped(*this, text, length); }
    void Plain(const std::string& text) { Plain(text.data(), text.size()); }
    void Text(const char* text) { Put(text, std::strlen(text)); }
    TextOut& operator+=(char c) {
        Put(&c, 1);
        return *this;
    }
    size_t Needed() const { return needed_; }

private:
    void Put(const char* text, size_t length) {
        if (needed_ + 1 < capacity_) {
            const size_t room = capacity_ - 1 - needed_;
            const size_t part = length < room ? length : room;
            std::memcpy(out_ + needed_, text, part);
            out_[needed_ + part] = '\0';
        }
        needed_ += length;
    }

    char* out_;
    size_t capacity_;
    size_t needed_ = 0;
};

// Media time in seconds with milliseconds: "12.345 s".
void PrintSeconds(TextOut& out, uint32_t ms) { out.Print("%" PRIu32 ".%03" PRIu32 " s", ms / 1000, ms % 1000); }

void PrintThousands(TextOut& out, uint64_t value) {
    char digits[32];
    FormatThousands(value, digits, sizeof digits);
    out.Text(digits);
}

// A buffer's first bytes are enough to tell it; the size says the rest.
const size_t SHOWN_BUFFER_BYTES = 32;

void PrintQuoted(TextOut& out, const char* label, const std::string& text, const char* line_end) {
    out.Text(label);
    out.Text(": \"");
    out.Plain(text);
    out.Text("\"");
    out.Text(line_end);
}

void PrintFileInfo(TextOut& out, const FileFacts& file, const char* line_end) {
    if (!file.has_file_info) {
        out.Print("File info: none%s", line_end);
        return;
    }
    out.Print("File info: %u properties%s", unsigned(file.file_info.size()), line_end);
    static const char HEX_DIGITS[] = "0123456789abcdef";
    for (const FileInfoProperty& property : file.file_info) {
        out.Text("  ");
        out.Plain(property.name);
        out.Text(": ");
        if (property.type == RM_PROPERTY_INT) {
            out.Print("%" PRIu32, property.number);
        } else if (property.type == RM_PROPERTY_STRING) {
            out += '"';
            out.Plain(property.bytes);
            out += '"';
        } else {
            out.Print("%u bytes", unsigned(property.bytes.size()));
            if (!property.bytes.empty()) out += ' ';
            for (size_t i = 0; i < property.bytes.size() && i < SHOWN_BUFFER_BYTES; ++i) {
                const unsigned char byte = static_cast<unsigned char>(property.bytes[i]);
                out += HEX_DIGITS[byte >> 4];
                out += HEX_DIGITS[byte & 0x0F];
            }
            if (property.bytes.size() > SHOWN_BUFFER_BYTES) out.Text("...");
        }
        out.Text(line_end);
    }
}

// The file first: which one it is, and what its headers say of it. The path
// as it was given (the user's, not the file's, so not escaped).
void PrintFileFacts(TextOut& out, const Measurement& f, const char* line_end) {
    const FileFacts& file = f.file;
    out.Text("File: ");
    out.Text(file.path.c_str());
    out.Text(line_end);
    if (!file.opened) return;
    out.Text("Size: ");
    PrintThousands(out, file.size);
    out.Text(" bytes");
    out.Text(line_end);
    if (!file.headers_read) return;
    char minutes[32];
    FormatMinutesSeconds(file.duration_ms, minutes, sizeof minutes);
    out.Text("Duration (declared): ");
    PrintSeconds(out, file.duration_ms);
    out.Print(" (%s)%s", minutes, line_end);
    if (f.details.stream_chosen) {
        if (file.video.known) {
            out.Print("Video (declared): %u x %u, %.3f fps%s", unsigned(file.video.width), unsigned(file.video.height),
                      file.video.fps, line_end);
        } else {
            out.Print("Video (declared): no picture size or frame rate%s", line_end);
        }
    }
    if (file.has_content) {
        PrintQuoted(out, "Title", file.title, line_end);
        PrintQuoted(out, "Author", file.author, line_end);
        PrintQuoted(out, "Copyright", file.copyright, line_end);
        PrintQuoted(out, "Comment", file.comment, line_end);
    } else {
        out.Print("Title, author, copyright, comment: none (no CONT chunk)%s", line_end);
    }
    PrintFileInfo(out, file, line_end);
}

void PrintWindows(TextOut& out, const Measurement& f, const char* line_end) {
    const WindowStatistics& s = f.statistics;
    out.Print("Windows: %" PRIu32, f.details.windows_stored);
    if (f.details.series_full)
        out.Print(" stored, %" PRIu32 " more not stored (series full)", f.details.windows_not_stored);
    out.Text(line_end);
    if (s.count == 0) return;
    out.Print("Window bitrate (kbps): minimum %" PRIu32
              ", median %.1f, 90th percentile %.1f, 95th %.1f, 99th %.1f, "
              "maximum %" PRIu32 "%s",
              s.min_kbps, s.median_kbps, s.p90_kbps, s.p95_kbps, s.p99_kbps, s.max_kbps, line_end);
    out.Print("Window bitrate (kbps): mean %.1f, standard deviation %.1f%s", s.mean_kbps, s.stddev_kbps, line_end);
    out.Print("Peak %" PRIu32 ".%03" PRIu32 " s moving average: %.1f kbps, ", s.peak_span_ms / 1000,
              s.peak_span_ms % 1000, s.peak_average_kbps);
    if (s.peak_is_whole_series) out.Text("the whole series (shorter than that), ");
    out.Text("from ");
    PrintSeconds(out, s.peak_start_ms);
    out.Text(" to ");
    PrintSeconds(out, s.peak_end_ms);
    out.Text(line_end);
}

void PrintKeyframes(TextOut& out, const KeyframeFigures& k, const char* line_end) {
    out.Print("Keyframes: %" PRIu32, k.count);
    if (k.count > 0) {
        out.Text(", the first at ");
        PrintSeconds(out, k.first_ms);
    }
    if (k.intervals > 0) {
        out.Text("; interval minimum ");
        PrintSeconds(out, k.min_interval_ms);
        out.Print(", mean %.3f s, maximum ", k.mean_interval_ms / 1000.0);
        PrintSeconds(out, k.max_interval_ms);
    }
    out.Text(line_end);
}

void PrintFrames(TextOut& out, const Measurement& f, const char* line_end) {
    const VideoFrameStatistics& v = f.frame_statistics;
    out.Print("Frames: %" PRIu32, v.frames);
    if (v.mean_fps > 0) {
        out.Print(", %.2f fps (interval %.1f to %.1f ms)", v.mean_fps, v.shortest_interval_ms, v.longest_interval_ms);
    }
    if (v.misfit_packets > 0) out.Print("; %" PRIu64 " packets whose frame packing does not fit", v.misfit_packets);
    out.Text(line_end);
    if (v.frames == 0) return;
    out.Text("Frame types:");
    bool first = true;
    for (int t = 0; t < VIDEO_FRAME_TYPE_COUNT; ++t) {
        const VideoTypeFigures& type = v.types[t];
        if (type.count == 0) continue;
        out.Print("%s %c %" PRIu32 " (mean %.0f bytes, largest ", first ? "" : ",", VIDEO_FRAME_TYPES[t], type.count,
                  type.mean_bytes);
        PrintThousands(out, type.largest_bytes);
        out.Print(", %.1f%% of the bytes)", type.share * 100.0);
        first = false;
    }
    out.Text(line_end);
    out.Print("Largest frame: %c, ", v.largest_type);
    PrintThousands(out, v.largest_bytes);
    out.Text(" bytes at ");
    PrintSeconds(out, v.largest_timestamp_ms);
    out.Text(line_end);
    out.Print("GOPs: %" PRIu32, v.gops);
    if (v.gops > 0) {
        out.Print(", %" PRIu32 " to %" PRIu32 " frames (mean %.1f), ", v.shortest_gop_frames, v.longest_gop_frames,
                  v.mean_gop_frames);
        PrintSeconds(out, v.shortest_gop_ms);
        out.Text(" to ");
        PrintSeconds(out, v.longest_gop_ms);
        out.Print(" (mean %.3f s)", v.mean_gop_ms / 1000.0);
    }
    out.Text(line_end);
}

void PrintDeclaredAgainstMeasured(TextOut& out, const Measurement& f, const char* line_end) {
    const AnalysisDetails& d = f.details;
    const StreamFigures* video = d.stream_index < f.streams.size() ? &f.streams[d.stream_index] : nullptr;
    double kbps = 0.0;
    if (!video) {
        // The whole file's windows: no one stream declares their rate.
        out.Text("All streams: measured average ");
        if (f.has_file_span && MeasuredKbps(f.file_bytes, f.file_first_ms, f.file_last_ms, &kbps)) {
            out.Print("%.1f kbps", kbps);
        } else {
            out.Text("none");
        }
        if (f.statistics.count > 0) out.Print(", 1-second maximum %" PRIu32 " kbps", f.statistics.max_kbps);
        out.Text(line_end);
        return;
    }
    out.Print("%s %" PRIu32 ": declared average %.1f kbps, maximum %.1f kbps; measured average ",
              video->mime_type.compare(0, 6, "video/") == 0 ? "Video stream" : "Stream", d.stream_index,
              d.declared_avg_bit_rate / 1000.0, d.declared_max_bit_rate / 1000.0);
    if (MeasuredKbps(video->bytes, video->first_ms, video->last_ms, &kbps)) {
        out.Print("%.1f kbps", kbps);
    } else {
        out.Text("none");
    }
    if (f.statistics.count > 0) {
        out.Print(", 1-second maximum %" PRIu32 " kbps", f.statistics.max_kbps);
    }
    out.Text(line_end);
}

void PrintEnding(TextOut& out, const Measurement& f, const char* line_end) {
    const AnalysisDetails& d = f.details;
    out.Text("Ending: ");
    if (d.ending == DATA_END_CLEAN) {
        out.Text("clean, the end of the data");
    } else if (d.ending == DATA_END_DAMAGED) {
        out.Print("damaged at byte %" PRIu64, d.damage_offset);
        if (d.has_last_timestamp) {
            out.Text(" after ");
            PrintSeconds(out, d.last_timestamp_ms);
        } else {
            out.Text(" before the first video packet");
        }
        out.Text(": ");
        if (d.read_message[0] != '\0') {
            out.Plain(d.read_message, std::strlen(d.read_message));
        } else {
            out.Print("reader result 0x%08" PRIX32, d.read_result);
        }
    } else if (f.result == ANALYSIS_FRAME_GAP) {
        out.Text("stopped at a gap in the video");
    } else if (f.result == ANALYSIS_CANCELLED) {
        out.Text("stopped on request");
    } else {
        out.Text("not reached, the video starts more than 10 s in");
    }
    if (d.series_full) out.Print("; series full: %" PRIu32 " windows not stored", d.windows_not_stored);
    out.Text(line_end);
}

void PrintStreams(TextOut& out, const Measurement& f, const char* line_end) {
    out.Print("Streams: %u", unsigned(f.streams.size()));
    if (f.totals_ending == DATA_END_DAMAGED) out.Text(" (packets up to the damage)");
    if (f.totals_ending == DATA_END_NOT_REACHED) out.Text(" (packets up to where the measurement stopped)");
    out.Text(line_end);
    for (size_t i = 0; i < f.streams.size(); ++i) {
        const StreamFigures& s = f.streams[i];
        out.Print("  %u: ", unsigned(i));
        if (s.header_read) {
            out.Plain(s.mime_type);
            out.Text(" \"");
            out.Plain(s.stream_name);
            out.Text("\"");
            if (s.fourcc[0]) {
                out.Text(" ");
                out.Plain(s.fourcc, std::strlen(s.fourcc));
            }
            out.Print(" (stream number %u), declared average %.1f kbps, maximum %.1f kbps", unsigned(s.stream_number),
                      s.declared_avg_bit_rate / 1000.0, s.declared_max_bit_rate / 1000.0);
            if (s.rate != 0) {
                out.Print("; rate %u of %u of ", unsigned(s.rate), unsigned(s.rate_count));
                out.Plain(s.logical_mime_type);
                if (s.rule_bandwidth) out.Print(", rule book %.1f kbps", s.rule_bandwidth / 1000.0);
            }
        } else {
            out.Text("(header not read)");
        }
        out.Print("; %" PRIu64 " packets, ", s.packets);
        PrintThousands(out, s.bytes);
        out.Text(" bytes");
        double kbps = 0.0;
        if (MeasuredKbps(s.bytes, s.first_ms, s.last_ms, &kbps)) {
            out.Print(", %.1f kbps from ", kbps);
            PrintSeconds(out, s.first_ms);
            out.Text(" to ");
            PrintSeconds(out, s.last_ms);
        }
        if (i < f.stream_windows.size() && !f.stream_windows[i].windows.empty()) {
            out.Print(", 1-second maximum %" PRIu32 " kbps", f.stream_windows[i].max_kbps);
        }
        out.Text(line_end);
    }
    out.Text("All streams: ");
    PrintThousands(out, f.file_bytes);
    out.Text(" bytes");
    double kbps = 0.0;
    if (f.has_file_span && MeasuredKbps(f.file_bytes, f.file_first_ms, f.file_last_ms, &kbps)) {
        out.Print(", %.1f kbps from ", kbps);
        PrintSeconds(out, f.file_first_ms);
        out.Text(" to ");
        PrintSeconds(out, f.file_last_ms);
    }
    if (!f.stream_windows.empty() && !f.file_windows.windows.empty()) {
        out.Print(", 1-second maximum %" PRIu32 " kbps", f.file_windows.max_kbps);
    }
    out.Text(line_end);
}

}  // namespace

size_t FormatFiguresText(const Measurement& figures, const char* line_end, char* out, size_t capacity) {
    TextOut text(out, capacity);
    if (!line_end) line_end = "\n";
    PrintFileFacts(text, figures, line_end);
    if (figures.details.stream_chosen) {
        PrintWindows(text, figures, line_end);
        PrintKeyframes(text, figures.keyframes, line_end);
        if (figures.frames_measured) PrintFrames(text, figures, line_end);
        PrintDeclaredAgainstMeasured(text, figures, line_end);
        PrintEnding(text, figures, line_end);
    } else {
        text.Print("Windows: none, no RealVideo stream measured%s", line_end);
    }
    if (!figures.streams.empty() || figures.result == ANALYSIS_NO_VIDEO) PrintStreams(text, figures, line_end);
    return text.Needed();
}

bool WriteWindowsCsv(const Measurement& figures, FILE* out) {
    std::fputs("start_ms,kbps,keyframes\n", out);
    for (size_t i = 0; i < figures.windows.size() && i < figures.window_keyframes.size(); ++i) {
        std::fprintf(out, "%" PRIu32 ",%" PRIu32 ",%" PRIu32 "\n", figures.windows[i].start_ms, figures.windows[i].kbps,
                     figures.window_keyframes[i]);
    }
    return std::ferror(out) == 0;
}

void WriteFramesCsvHeader(FILE* out) { std::fputs("offset,timestamp_ms,bytes,packets,keyframe,type\n", out); }

namespace {

const char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Pairs of digits of `value` ending at `end`, from the last, each pair
// copied whole.
template <typename Number>
void PutPairsBefore(char* end, Number value) {
    for (; value >= 100; value /= 100) {
        end -= 2;
        std::memcpy(end, DIGIT_PAIRS + uint32_t(value % 100) * 2, 2);
    }
    if (value >= 10) {
        std::memcpy(end - 2, DIGIT_PAIRS + uint32_t(value) * 2, 2);
    } else {
        end[-1] = char('0' + value);
    }
}

// How many decimal digits `value` has.
int DigitCount(uint32_t value) {
    if (value < 100000) return value < 100 ? (value < 10 ? 1 : 2) : value < 1000 ? 3 : value < 10000 ? 4 : 5;
    return value < 10000000 ? (value < 1000000 ? 6 : 7) : value < 100000000 ? 8 : value < 1000000000 ? 9 : 10;
}

// The decimal digits of `value` from `out` on, two per division (32-bit
// ones where it fits); returns where they end.
char* PutDigits(char* out, uint64_t value) {
    if (value <= UINT32_MAX) {
        const int count = DigitCount(uint32_t(value));
        PutPairsBefore(out + count, uint32_t(value));
        return out + count;
    }
    int count = 10;
    for (uint64_t power = 10000000000u; count < 20 && value >= power; power *= 10) ++count;
    PutPairsBefore(out + count, value);
    return out + count;
}

}  // namespace

// By hand rather than with fprintf: a film has millions of frames, and
// formatting them was most of the time of a listing.
char* FormatFrameCsvRow(const VideoFrame& frame, char* out) {
    out = PutDigits(out, frame.offset);
    *out++ = ',';
    out = PutDigits(out, frame.timestamp_ms);
    *out++ = ',';
    out = PutDigits(out, frame.bytes);
    *out++ = ',';
    out = PutDigits(out, frame.packets);
    *out++ = ',';
    *out++ = frame.keyframe ? '1' : '0';
    *out++ = ',';
    *out++ = frame.type;
    *out++ = '\n';
    return out;
}

void WriteFrameCsvRow(const VideoFrame& frame, FILE* out) {
    char row[FRAME_CSV_ROW_MAX];
    std::fwrite(row, 1, size_t(FormatFrameCsvRow(frame, row) - row), out);
}

void WriteGopsCsvHeader(FILE* out) { std::fputs("start_ms,frames,bytes,duration_ms,kbps\n", out); }

void WriteGopCsvRow(const VideoGop& gop, FILE* out) {
    std::fprintf(out, "%" PRIu32 ",%" PRIu32 ",%" PRIu64 ",%" PRIu32 ",%.1f\n", gop.start_ms, gop.frames, gop.bytes,
                 gop.duration_ms, gop.kbps);
}

bool WriteFramesCsv(const Measurement& figures, FILE* out) {
    WriteFramesCsvHeader(out);
    for (const VideoFrame& frame : figures.frames) WriteFrameCsvRow(frame, out);
    return std::ferror(out) == 0;
}
