// The small pieces every rmrate output shares: result code names, lines, the buffered stdout.
#include <cstdio>
#include <string>

#include "tools/rmrate/rmrate.h"

std::string CodeText(rm_result code) {
    const char* name = rm_result_name(code);
    if (name) return name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08" PRIX32, code);
    return hex;
}

void WriteLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

StdoutSink& StdoutSink::operator+=(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
    at_line_start_ = c == '\n';
    return *this;
}

StdoutSink& StdoutSink::operator+=(const char* text) {
    while (*text) *this += *text++;
    return *this;
}

StdoutSink& StdoutSink::operator+=(const std::string& text) {
    for (char c : text) *this += c;
    return *this;
}

void StdoutSink::Flush() {
    std::fwrite(buffer_, 1, used_, stdout);
    used_ = 0;
}
