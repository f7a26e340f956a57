// Big-endian field readers and writers over a bounded cursor that moves only when a read or write succeeds in full.
#include <cstring>

#include "rm_fields.h"

namespace {

// A read or write that cannot be done in full changes nothing, so a decoder
// that checked its fixed part can never step outside the bytes it was given.
// A cursor is usable when both halves exist and it points somewhere.
bool cursor_has(const uint8_t* const* cursor, const uint32_t* remaining, uint32_t count) {
    return cursor && remaining && *cursor && *remaining >= count;
}

bool writer_has(uint8_t* const* cursor, const uint32_t* remaining, uint32_t count) {
    return cursor && remaining && *cursor && *remaining >= count;
}

uint32_t load_u32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint16_t load_u16(const uint8_t* p) { return uint16_t((uint32_t(p[0]) << 8) | uint32_t(p[1])); }

// The writers' one routine: the low `width` bytes of the value, most
// significant first (big-endian) or last.
void put_value(uint32_t value, uint32_t width, bool big_endian, uint8_t** cursor, uint32_t* remaining) {
    if (!writer_has(cursor, remaining, width)) {
        return;
    }
    for (uint32_t i = 0; i < width; ++i) {
        const uint32_t shift = 8 * (big_endian ? width - 1 - i : i);
        (*cursor)[i] = uint8_t(value >> shift);
    }
    *cursor += width;
    *remaining -= width;
}

// The copying readers' one routine: `count` bytes into a new block that
// replaces the destination's, with a terminating zero after them for text.
// A count of 0 copies nothing and leaves the destination alone.
template <typename T>
rm_result copy_out(const uint8_t** cursor, uint32_t* remaining, uint32_t count, bool terminated, T** destination,
                   void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn) {
    if (!cursor || !remaining || *remaining < count || (count > 0 && !*cursor) || !destination || !allocate_fn ||
        !release_fn) {
        return RM_FAIL;
    }
    if (count == 0) {
        return RM_OK;
    }
    if (*destination) {
        release_fn(memory_user, *destination);
        *destination = nullptr;
    }
    // count + 1 must not wrap to a zero-byte block that the copy would overrun.
    if (terminated && count == UINT32_MAX) {
        return RM_OUT_OF_MEMORY;
    }
    T* block = static_cast<T*>(allocate_fn(memory_user, terminated ? count + 1 : count));
    if (!block) {
        return RM_OUT_OF_MEMORY;
    }
    std::memcpy(block, *cursor, count);
    if (terminated) {
        block[count] = 0;
    }
    *destination = block;
    *cursor += count;
    *remaining -= count;
    return RM_OK;
}

}  // namespace

uint32_t rm_get_u32(const uint8_t** cursor, uint32_t* remaining) {
    if (!cursor_has(cursor, remaining, 4)) {
        return 0;
    }
    uint32_t value = load_u32(*cursor);
    *cursor += 4;
    *remaining -= 4;
    return value;
}

uint16_t rm_get_u16(const uint8_t** cursor, uint32_t* remaining) {
    if (!cursor_has(cursor, remaining, 2)) {
        return 0;
    }
    uint16_t value = load_u16(*cursor);
    *cursor += 2;
    *remaining -= 2;
    return value;
}

uint8_t rm_get_u8(const uint8_t** cursor, uint32_t* remaining) {
    if (!cursor_has(cursor, remaining, 1)) {
        return 0;
    }
    uint8_t value = **cursor;
    *cursor += 1;
    *remaining -= 1;
    return value;
}

uint32_t rm_peek_u32(const uint8_t* bytes, uint32_t length) { return (bytes && length >= 4) ? load_u32(bytes) : 0; }

uint16_t rm_peek_u16(const uint8_t* bytes, uint32_t length) { return (bytes && length >= 2) ? load_u16(bytes) : 0; }

uint32_t rm_get_sized_u32(const uint8_t** cursor, uint32_t* remaining) {
    if (!cursor_has(cursor, remaining, 1)) {
        return 0;
    }
    // The size byte is consumed whatever it says; only a 4 yields a value.
    uint8_t size = rm_get_u8(cursor, remaining);
    if (size != 4 || *remaining < 4) {
        return 0;
    }
    return rm_get_u32(cursor, remaining);
}

rm_result rm_get_text(const uint8_t** cursor, uint32_t* remaining, uint32_t count, char** destination,
                      void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn) {
    return copy_out(cursor, remaining, count, true, destination, memory_user, allocate_fn, release_fn);
}

rm_result rm_get_bytes(const uint8_t** cursor, uint32_t* remaining, uint32_t count, uint8_t** destination,
                       void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn) {
    return copy_out(cursor, remaining, count, false, destination, memory_user, allocate_fn, release_fn);
}

rm_result rm_get_array(const uint8_t** cursor, uint32_t* remaining, uint32_t element_count, uint32_t width,
                       void** destination, void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn) {
    // Widened so that a huge count cannot wrap the product and pass the check.
    uint64_t total = uint64_t(element_count) * width;
    if (!cursor || !remaining || uint64_t(*remaining) < total || (total > 0 && !*cursor) || !destination ||
        !allocate_fn || !release_fn) {
        return RM_FAIL;
    }
    if (element_count == 0) {
        return RM_OK;
    }
    if (*destination) {
        release_fn(memory_user, *destination);
        *destination = nullptr;
    }
    void* block = allocate_fn(memory_user, uint32_t(total));
    if (!block) {
        return RM_OUT_OF_MEMORY;
    }
    *destination = block;
    if (width == 4) {
        uint32_t* values = static_cast<uint32_t*>(block);
        for (uint32_t i = 0; i < element_count; ++i) {
            values[i] = rm_get_u32(cursor, remaining);
        }
    } else if (width == 2) {
        uint16_t* values = static_cast<uint16_t*>(block);
        for (uint32_t i = 0; i < element_count; ++i) {
            values[i] = rm_get_u16(cursor, remaining);
        }
    }
    return RM_OK;
}

void* rm_clone_bytes(void* memory_user, rm_alloc_fn allocate_fn, const void* source, uint32_t count) {
    if (!allocate_fn || !source || count == 0) {
        return nullptr;
    }
    void* copy = allocate_fn(memory_user, count);
    if (copy) {
        std::memcpy(copy, source, count);
    }
    return copy;
}

void rm_put_u32(uint32_t value, uint8_t** cursor, uint32_t* remaining) { put_value(value, 4, true, cursor, remaining); }

void rm_put_u32_le(uint32_t value, uint8_t** cursor, uint32_t* remaining) {
    put_value(value, 4, false, cursor, remaining);
}

void rm_put_u16(uint32_t value, uint8_t** cursor, uint32_t* remaining) { put_value(value, 2, true, cursor, remaining); }

void rm_put_u16_le(uint32_t value, uint8_t** cursor, uint32_t* remaining) {
    put_value(value, 2, false, cursor, remaining);
}

void rm_put_u8(uint32_t value, uint8_t** cursor, uint32_t* remaining) { put_value(value, 1, true, cursor, remaining); }

bool rm_all_zero(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

bool rm_printable_id(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count && i < 4; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) {
            return false;
        }
    }
    return count > 0;
}

bool rm_looks_like_chunk_head(const uint8_t* bytes, uint32_t count) {
    return rm_printable_id(bytes, count) && (count < 8 || rm_peek_u32(bytes + 4, count - 4) >= RM_CHUNK_HEADER_SIZE);
}
