// Big-endian field readers and writers over a bounded cursor: a (pointer, bytes remaining) pair.
#ifndef KOV_RMPARSER_RM_FIELDS_H
#define KOV_RMPARSER_RM_FIELDS_H

#include "rm_reader.h"

// Plain readers: 0 and no movement when fewer bytes remain than needed.
uint32_t rm_get_u32(const uint8_t** cursor, uint32_t* remaining);
uint16_t rm_get_u16(const uint8_t** cursor, uint32_t* remaining);
uint8_t rm_get_u8(const uint8_t** cursor, uint32_t* remaining);
uint32_t rm_peek_u32(const uint8_t* bytes, uint32_t length);
uint16_t rm_peek_u16(const uint8_t* bytes, uint32_t length);

// What the packet reader and the layout walk take a run of bytes for.
bool rm_all_zero(const uint8_t* bytes, uint32_t count);
// The first (up to four) bytes are printable characters: a chunk id.
bool rm_printable_id(const uint8_t* bytes, uint32_t count);
// A chunk's head, or as much of it as the file holds: an id of printable
// characters (a packet header starts with a zero byte) and a size that
// covers the head itself.
bool rm_looks_like_chunk_head(const uint8_t* bytes, uint32_t count);
uint32_t rm_get_sized_u32(const uint8_t** cursor, uint32_t* remaining);

// Copying readers: the destination's previous block is released first.
rm_result rm_get_text(const uint8_t** cursor, uint32_t* remaining, uint32_t count, char** destination,
                      void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn);
rm_result rm_get_bytes(const uint8_t** cursor, uint32_t* remaining, uint32_t count, uint8_t** destination,
                       void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn);
// width 2 fills uint16_t elements, width 4 uint32_t elements; the destination
// is typed void* so both kinds of array can be passed.
rm_result rm_get_array(const uint8_t** cursor, uint32_t* remaining, uint32_t element_count, uint32_t width,
                       void** destination, void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn);
void* rm_clone_bytes(void* memory_user, rm_alloc_fn allocate_fn, const void* source, uint32_t count);

// Writers: nothing is written when the room is too small.
void rm_put_u32(uint32_t value, uint8_t** cursor, uint32_t* remaining);
void rm_put_u32_le(uint32_t value, uint8_t** cursor, uint32_t* remaining);
void rm_put_u16(uint32_t value, uint8_t** cursor, uint32_t* remaining);
void rm_put_u16_le(uint32_t value, uint8_t** cursor, uint32_t* remaining);
void rm_put_u8(uint32_t value, uint8_t** cursor, uint32_t* remaining);

#endif
