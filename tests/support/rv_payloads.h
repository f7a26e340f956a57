// RealVideo packet payloads for tests: frames wrapped in the sub-packet heads the video's packets carry.
#ifndef KOV_TESTS_SUPPORT_RV_PAYLOADS_H
#define KOV_TESTS_SUPPORT_RV_PAYLOADS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "rm_writer.h"

namespace rmtest {

// A length, offset or time field: 2 bytes with bit 0x4000 set, or 4 (`wide`).
void PutField(Bytes& out, uint32_t value, bool wide);
Bytes Cat(std::initializer_list<Bytes> pieces);
// A frame whose first byte (0x40: an RV40 P-frame) holds the type.
Bytes Frame(uint32_t size, uint8_t first = 0x40);
// A whole frame (kind 11) with its length and a time of its own.
Bytes Whole(const Bytes& frame, uint8_t sequence, bool wide = false);
// A frame without length fields (kind 01), running to the packet's end.
Bytes Bare(const Bytes& frame, uint8_t sequence);
// A part: kind 0x00 (second = its offset) or 0x80 (second = its size).
Bytes Part(uint8_t kind, uint8_t number, uint32_t length, uint32_t second, uint8_t sequence, const Bytes& data,
           bool wide = false);
// One packet per part of these sizes, the last of kind 0x80.
std::vector<Bytes> Split(const Bytes& frame, const std::vector<uint32_t>& sizes, uint8_t sequence, bool wide = false);
Bytes With(Bytes bytes, size_t at, uint8_t value);
Bytes Cut(Bytes bytes, size_t count);

}  // namespace rmtest

#endif
