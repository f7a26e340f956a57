// RealVideo packet payloads for tests: the sub-packet heads around frames.
#include "rv_payloads.h"

namespace rmtest {

void PutField(Bytes& out, uint32_t value, bool wide) {
    if (wide) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
    } else {
        out.push_back(uint8_t(0x40 | value >> 8));
        out.push_back(uint8_t(value));
    }
}

Bytes Cat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

Bytes Frame(uint32_t size, uint8_t first) {
    Bytes frame(size);
    for (uint32_t i = 0; i < size; ++i) frame[i] = uint8_t(i * 7 + 3);
    if (size > 0) frame[0] = first;
    return frame;
}

Bytes Whole(const Bytes& frame, uint8_t sequence, bool wide) {
    Bytes out{0xC0};
    PutField(out, uint32_t(frame.size()), wide);
    PutField(out, 1234, wide);  // the frame's own time, which frames do not carry
    out.push_back(sequence);
    return Cat({out, frame});
}

Bytes Bare(const Bytes& frame, uint8_t sequence) { return Cat({{0x40, sequence}, frame}); }

Bytes Part(uint8_t kind, uint8_t number, uint32_t length, uint32_t second, uint8_t sequence, const Bytes& data,
           bool wide) {
    Bytes out{kind, number};
    PutField(out, length, wide);
    PutField(out, second, wide);
    out.push_back(sequence);
    return Cat({out, data});
}

std::vector<Bytes> Split(const Bytes& frame, const std::vector<uint32_t>& sizes, uint8_t sequence, bool wide) {
    std::vector<Bytes> packets;
    uint32_t at = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Bytes data(frame.begin() + at, frame.begin() + at + sizes[i]);
        const bool last = i + 1 == sizes.size();
        packets.push_back(Part(last ? 0x80 : 0x00, uint8_t(i + 1), uint32_t(frame.size()), last ? sizes[i] : at,
                               sequence, data, wide));
        at += sizes[i];
    }
    return packets;
}

Bytes With(Bytes bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

Bytes Cut(Bytes bytes, size_t count) {
    bytes.resize(bytes.size() - count);
    return bytes;
}

}  // namespace rmtest
