// Operations the reader's own files share; callers outside rmparser/ use rm_reader.h only.
#ifndef KOV_RMPARSER_RM_INTERNAL_H
#define KOV_RMPARSER_RM_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "rm_fields.h"
#include "rm_reader.h"

// No real header chunk comes near this: a stream's MDPR with its codec data
// is a few hundred bytes, a CONT a few KiB. Anything larger is damage, and a
// size field of up to 4 GiB must not be allowed to size the read buffer.
const uint32_t RM_MAX_HEADER_CHUNK_SIZE = 4u * 1024u * 1024u;

// The read buffer's first size, grown on demand after that.
const uint32_t RM_INITIAL_BUFFER_SIZE = 256;

// ---------------------------------------------------------------- context, I/O
void* rm_alloc(rm_reader* reader, uint32_t size);
// count records of `width` bytes each, zeroed; null when count is 0, when the
// size does not fit the allocator's 32-bit byte count, or when it fails.
void* rm_alloc_zeroed(rm_reader* reader, uint64_t count, uint64_t width);
void rm_release(rm_reader* reader, void* block);
// Releases the block a field holds and nulls the field. A null field, a null
// handle or one without a release callback leaves the field as it is, so a
// block that could not be released is never lost from sight.
template <typename T>
void rm_release_and_null(rm_reader* reader, T*& field) {
    if (!reader || !reader->release_fn || !field) {
        return;
    }
    rm_release(reader, field);
    field = nullptr;
}
void rm_report(rm_reader* reader, rm_result code, const char* message);
rm_result rm_grow_buffer(void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn, uint8_t** buffer,
                         uint32_t* capacity, uint32_t wanted);
// Each of these first settles the window (rm_settle_window).
uint32_t rm_read_to_buffer(rm_reader* reader, uint32_t count, uint32_t offset);
uint32_t rm_read_raw(rm_reader* reader, void* destination, uint32_t count);
void rm_seek(rm_reader* reader, int32_t offset, int origin);

// The most of one window the reader takes before it asks for the next: the
// source is moved past what was taken by one relative seek, a signed 32-bit
// offset.
const uint32_t RM_MAX_WINDOW = 1u << 30;
// Moves the source past the bytes taken from its window and forgets the
// window; nothing when none is held.
void rm_settle_window(rm_reader* reader);
// Settles the window and asks the source for a new one; false when it shows
// fewer than `count` bytes.
bool rm_refresh_window(rm_reader* reader, uint32_t count);
// At least `count` bytes at the current position, in the window, asking for
// a new one when the window held holds fewer; null when the source has no
// window callback or shows fewer (the caller then reads as ever). Nothing is
// taken.
inline const uint8_t* rm_window_bytes(rm_reader* reader, uint32_t count) {
    if (reader->window_size - reader->window_used < count && !rm_refresh_window(reader, count)) {
        return nullptr;
    }
    return reader->window + reader->window_used;
}
// Asks the processor to bring the bytes of window[from, to) into its caches,
// a cache line at a time; returns where the next such request starts. The
// walk learns where the next header lies only from the one before, and
// would otherwise wait for memory at each; headers may lie on any line.
// Into the second-level cache (locality 2): on the bench file a few per
// cent faster than into the first, and far faster than past the caches.
// Asks nothing where the compiler offers no such hint.
const uint32_t RM_CACHE_LINE = 64;
inline uint32_t rm_fetch_window(const uint8_t* window, uint32_t from, uint32_t to) {
#if defined(__GNUC__) || defined(__clang__)
    for (; to - from >= 4 * RM_CACHE_LINE && from < to; from += 4 * RM_CACHE_LINE) {
        __builtin_prefetch(window + from, 0, 2);
        __builtin_prefetch(window + from + RM_CACHE_LINE, 0, 2);
        __builtin_prefetch(window + from + 2 * RM_CACHE_LINE, 0, 2);
        __builtin_prefetch(window + from + 3 * RM_CACHE_LINE, 0, 2);
    }
    for (; from < to; from += RM_CACHE_LINE) {
        __builtin_prefetch(window + from, 0, 2);
    }
    return from;
#else
    (void)window;
    return from < to ? to : from;
#endif
}
// Takes `count` bytes that rm_window_bytes showed: the position moves past them.
inline void rm_window_take(rm_reader* reader, uint32_t count) {
    reader->window_used += count;
    reader->position += count;
}

// ---------------------------------------------------------------- header chunks
rm_result rm_read_chunk(rm_reader* reader, uint32_t* id);
// The two halves of rm_read_chunk, for a caller that must look at the
// chunk's id before the rest is read.
rm_result rm_read_chunk_head(rm_reader* reader, rm_chunk_header* header);
rm_result rm_read_chunk_rest(rm_reader* reader, const rm_chunk_header* header);
// False for a size rm_read_chunk_rest refuses without reading.
bool rm_chunk_size_acceptable(const rm_chunk_header* header);
rm_result rm_decode_chunk_header(rm_reader* reader, rm_chunk_header* header);
rm_result rm_decode_file_header(rm_reader* reader);
rm_result rm_decode_properties(rm_reader* reader);
rm_result rm_decode_content(rm_reader* reader);
rm_result rm_decode_media_props(rm_reader* reader, rm_media_props* slot);
uint16_t rm_peek_media_stream_number(const rm_reader* reader);
rm_result rm_reset_media_table(rm_reader* reader);
// A zeroed record at index media_count, growing the table when it is full;
// null when the allocation fails.
rm_media_props* rm_append_media_record(rm_reader* reader);
// Makes the table exactly the records at `slots` (table positions, in their
// new order), moved whole with what they own, and drops every other record.
// When the new table cannot be allocated nothing changes.
rm_result rm_compact_media_table(rm_reader* reader, const uint32_t* slots, uint32_t count);
void rm_drop_content(rm_reader* reader);
void rm_drop_media_props(rm_reader* reader, rm_media_props* record);
void rm_drop_media_table(rm_reader* reader);
void rm_drop_read_buffer(rm_reader* reader);

// ---------------------------------------------------------------- logical streams
int rm_mime_is_logical_fileinfo(const char* mime);
int rm_mime_is_logical_stream(const char* mime);
rm_result rm_decode_name_value(rm_reader* reader, rm_name_value* out, const uint8_t** cursor, uint32_t* remaining);
rm_result rm_decode_logical_stream(rm_reader* reader, const rm_media_props* source, rm_logical_stream* out);
rm_result rm_load_logical_streams(rm_reader* reader);
rm_result rm_keep_compatible_streams(rm_reader* reader);
rm_result rm_keep_physical_streams(rm_reader* reader);
// After rm_keep_physical_streams and the stream tables: what each kept
// stream is (claimed or not, its place, its rules' bandwidth), and the DATA
// offsets that the logical stream headers name.
rm_result rm_note_stream_rates(rm_reader* reader);
rm_result rm_note_named_data_offsets(rm_reader* reader);
void rm_drop_name_value(rm_reader* reader, rm_name_value* record);
void rm_drop_name_values(rm_reader* reader, rm_logical_stream* record);
void rm_drop_logical_stream(rm_reader* reader, rm_logical_stream* record);
void rm_drop_logical_table(rm_reader* reader);
void rm_drop_logical_fileinfo(rm_reader* reader);

// ---------------------------------------------------------------- stream tables, stream headers
rm_result rm_build_stream_tables(rm_reader* reader);
rm_result rm_copy_stream_header(rm_reader* reader, uint32_t index, rm_stream_header* record);
void rm_clear_stream_header(rm_reader* reader, rm_stream_header* record);
void rm_drop_stream_map(rm_reader* reader);
void rm_drop_stream_states(rm_reader* reader);
void rm_drop_stream_headers(rm_reader* reader);
// value: the number for RM_PROPERTY_INT, otherwise the address of the block
// or string to copy.
rm_result rm_property_set(rm_reader* reader, rm_property* property, const char* name, uint32_t type, uintptr_t value,
                          uint32_t size);
void rm_property_clear(rm_reader* reader, rm_property* property);
char* rm_clone_string(void* memory_user, rm_alloc_fn allocate_fn, const char* text);

// ---------------------------------------------------------------- packets
rm_result rm_locate_packets(rm_reader* reader);
rm_result rm_decode_data_header(rm_reader* reader);
rm_result rm_fetch_packet_header(rm_reader* reader, rm_packet_header* header);
rm_result rm_decode_packet_header(rm_reader* reader, rm_packet_header* header);
int32_t rm_stream_index(const rm_reader* reader, uint32_t stream_number);
rm_result rm_read_packet(rm_reader* reader, rm_packet** out, int32_t selector);
// With `keep`, the payload of a packet of `checked_stream` is read into it
// (`keep_size` bytes at least as large) and delivered as its data.
rm_result rm_read_packet_header(rm_reader* reader, rm_packet* out, int32_t checked_stream, uint8_t* keep = nullptr,
                                uint32_t keep_size = 0);
// Up to `capacity` briefs at once (capacity at least 1): those the window
// shows whole, or else the next as rm_read_packet_header delivers it and then
// those.
rm_result rm_read_packet_briefs(rm_reader* reader, rm_packet_brief* out, uint32_t capacity, uint32_t* count);
// The same as runs: those of any stream but `single_stream` (-1: none) that
// follow one another joined.
rm_result rm_read_packet_runs(rm_reader* reader, rm_packet_run* out, uint32_t capacity, uint32_t* count,
                              int32_t single_stream, rm_run_spans* spans);
// The same as runs, each with its last packet's view.
rm_result rm_read_packet_view_runs(rm_reader* reader, rm_packet_view_run* out, uint32_t capacity, uint32_t* count,
                                   int32_t single_stream, uint8_t* buffer, uint32_t size, rm_run_spans* spans);
// The same as views, with the payload of `payload_stream` shown where the
// window holds it, or else read into `buffer` (`size` bytes at least
// RM_MAX_PAYLOAD_SIZE).
rm_result rm_read_packet_views(rm_reader* reader, rm_packet_view* out, uint32_t capacity, uint32_t* count,
                               int32_t payload_stream, uint8_t* buffer, uint32_t size);
rm_result rm_index_add(rm_reader* reader, uint32_t stream, uint32_t timestamp, uint32_t offset, uint8_t flags);

// ---------------------------------------------------------------- header read
rm_result rm_read_header_chunks(rm_reader* reader);
// Frees and clears everything the handle learnt from a file (records,
// tables, stream headers, the DATA position), keeping the callbacks and the
// read buffer: before a new header read and when the handle is deleted.
void rm_forget_file(rm_reader* reader);

// ---------------------------------------------------------------- stream properties
rm_result rm_build_stream_headers(rm_reader* reader);
rm_result rm_build_stream_header(rm_reader* reader, uint32_t index, rm_stream_header* record);
uint32_t rm_collect_properties(rm_reader* reader, uint32_t index, const rm_stream_header* record,
                               rm_property* properties, uint32_t length);
// Returns a 320-byte block from the handle's allocator, or null.
char* rm_make_rule_book(rm_reader* reader, int video, int event, int opaque, uint32_t max_bit_rate,
                        uint32_t avg_bit_rate, int* dependent);
const uint32_t RM_RULE_BOOK_SIZE = 320;

#endif
