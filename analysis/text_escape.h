// One escaper for every plain text KOV writes from a file's bytes: a console
// line, a dialog's text.
#ifndef KOV_ANALYSIS_TEXT_ESCAPE_H
#define KOV_ANALYSIS_TEXT_ESCAPE_H

#include <cstddef>
#include <cstring>

// Appends `text` to `out` (anything with `+= char`) with printable ASCII as
// it is and any other byte as \xNN, so that no name or message a file holds
// can break the output or show as garbage.
template <typename Out>
void AppendEscaped(Out& out, const char* text, size_t length) {
    static const char HEX_DIGITS[] = "0123456789abcdef";
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += '\\';
            out += 'x';
            out += HEX_DIGITS[c >> 4];
            out += HEX_DIGITS[c & 0x0F];
        }
    }
}

template <typename Out>
void AppendEscaped(Out& out, const char* text) {
    AppendEscaped(out, text, std::strlen(text));
}

#endif
