// The report's lines: one JSON object or one CSV row per file, and the progress line.
#include <cstdio>
#include <string>

#include "tools/rmrate/report.h"
#include "tools/rmrate/rmrate.h"

namespace {

Json TextJson(const std::string& text) { return JsonText(text.data(), text.size()); }

// A damage message: the reader's own, or its result's name when it said none.
std::string DamageMessage(const ReportDamage& damage) {
    return damage.message.empty() ? damage.result : damage.message;
}

std::string KbpsText(const ReportStream& stream) {
    if (!stream.has_kbps) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", stream.kbps);
    return text;
}

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string ByteText(uint64_t value) {
    char text[32];
    const double mib = double(value) / (1024.0 * 1024.0);
    if (mib >= 1024.0) {
        std::snprintf(text, sizeof text, "%.2f GiB", mib / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", mib);
    }
    return text;
}

std::string ClockText(double seconds) {
    const uint64_t whole = uint64_t(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%u:%02u:%02u", unsigned(whole / 3600), unsigned(whole / 60 % 60),
                      unsigned(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(whole / 60), unsigned(whole % 60));
    }
    return text;
}

}  // namespace

std::string ReportJsonLine(const std::string& path, const FileReport& report) {
    Json streams = Json::array();
    for (const ReportStream& stream : report.streams) {
        streams.push_back({{"number", stream.number},
                           {"mime_type", TextJson(stream.mime_type)},
                           {"codec", stream.codec.empty() ? Json(nullptr) : TextJson(stream.codec)},
                           {"packets", stream.packets},
                           {"kbps", stream.has_kbps ? Json(stream.kbps) : Json(nullptr)}});
    }
    Json damage = nullptr;
    if (report.damaged) {
        damage = {{"offset", report.damage.offset},
                  {"last_timestamp_ms",
                   report.damage.has_last_timestamp ? Json(report.damage.last_timestamp_ms) : Json(nullptr)},
                  {"message", TextJson(DamageMessage(report.damage))}};
    }
    Json findings = Json::array();
    for (const ReportFinding& finding : report.findings) {
        findings.push_back({{"code", finding.code}, {"detail", TextJson(finding.detail)}});
    }
    const Json line = {{"file", TextJson(path)},
                       {"verdict", VerdictName(report.verdict)},
                       {"video", report.video},
                       {"duration_ms", report.has_duration ? Json(report.duration_ms) : Json(nullptr)},
                       {"streams", std::move(streams)},
                       {"damage", std::move(damage)},
                       {"findings", std::move(findings)}};
    return Dump(line);
}

std::string ReportCsvHeader() {
    return "file,verdict,video,duration_ms,streams,damage_offset,damage_last_timestamp_ms,damage_message,findings";
}

std::string ReportCsvRow(const std::string& path, const FileReport& report) {
    std::string streams;
    for (const ReportStream& stream : report.streams) {
        if (!streams.empty()) streams += ';';
        streams += std::to_string(stream.number) + ":" + stream.mime_type + ":" + stream.codec + ":" +
                   std::to_string(stream.packets) + ":" + KbpsText(stream);
    }
    std::string findings;
    for (const ReportFinding& finding : report.findings) {
        if (!findings.empty()) findings += "; ";
        findings += finding.code + ": " + finding.detail;
    }
    std::string row = CsvField(path) + "," + VerdictName(report.verdict) + "," + (report.video ? "true" : "false") +
                      "," + (report.has_duration ? std::to_string(report.duration_ms) : "") + "," + CsvField(streams);
    if (report.damaged) {
        row += "," + std::to_string(report.damage.offset) + "," +
               (report.damage.has_last_timestamp ? std::to_string(report.damage.last_timestamp_ms) : "") + "," +
               CsvField(DamageMessage(report.damage));
    } else {
        row += ",,,";
    }
    return row + "," + CsvField(findings);
}

std::string ProgressLine(uint64_t files_done, uint64_t files, uint64_t bytes_done, uint64_t bytes, double seconds) {
    const int BAR = 24;
    const double share = bytes > 0 ? double(bytes_done) / double(bytes) : files > 0 ? double(files_done) / files : 1.0;
    const int filled = int(share * BAR + 0.5);
    std::string line = "[";
    for (int i = 0; i < BAR; ++i) line += i < filled ? '#' : '.';
    line += "] " + std::to_string(files_done) + "/" + std::to_string(files) + " files  " + ByteText(bytes_done) +
            " of " + ByteText(bytes);
    const double rate = seconds > 0 ? double(bytes_done) / seconds : 0.0;
    if (rate > 0) {
        line += "  " + ByteText(uint64_t(rate)) + "/s";
        line += "  " + ClockText(double(bytes - bytes_done) / rate) + " left";
    }
    return line;
}
