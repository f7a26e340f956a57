// The RealMedia reader's public interface: the handle, its callbacks, result codes and the records it hands out.

// Everything the reader allocates goes through the handle's allocate/release
// callbacks; every file access through its read/seek/tell callbacks; every
// failure is reported once through its error callback and returned as a code.
#ifndef KOV_RMPARSER_RM_READER_H
#define KOV_RMPARSER_RM_READER_H

#include <cstdint>
#include <cstdio>

// ---------------------------------------------------------------- result codes
// Shaped like HRESULTs: bit 31 set for failures.
typedef uint32_t rm_result;

const rm_result RM_OK = 0x00000000u;
const rm_result RM_FAIL = 0x80004005u;
const rm_result RM_OUT_OF_MEMORY = 0x8007000Eu;
const rm_result RM_NULL_ARGUMENT = 0x80040009u;
const rm_result RM_BAD_FILE = 0x80040021u;
const rm_result RM_BAD_DATA_CHUNK = 0x80040081u;
const rm_result RM_CORRUPT = 0x80040091u;
const rm_result RM_READ_FAILED = 0x80040092u;
// Not a failure (bit 31 clear) but not RM_OK: no further packet.
const rm_result RM_END_OF_DATA = 0x00040080u;

// The code's own name ("RM_OK", "RM_READ_FAILED", ...), or null for a value
// that is none of the above.
const char* rm_result_name(rm_result code);

// ---------------------------------------------------------------- seek origins
const int RM_SEEK_SET = 0;  // from the start; the offset is an unsigned 32-bit file offset
const int RM_SEEK_CUR = 1;  // from the current position; the offset is signed
const int RM_SEEK_END = 2;  // from the end

// ---------------------------------------------------------------- callbacks
// Informs only: the outcome is the code the failing operation returns.
// The message may be null.
typedef void (*rm_error_fn)(void* error_user, rm_result code, const char* message);
// Returns a new block of at least `size` bytes, or null.
typedef void* (*rm_alloc_fn)(void* memory_user, uint32_t size);
// Must accept a null block.
typedef void (*rm_release_fn)(void* memory_user, void* block);
// Returns the number of bytes read; fewer than asked (0 included) means end of
// file or an error, and the parser treats both alike.
typedef uint32_t (*rm_read_fn)(void* io_user, void* destination, uint32_t count);
// origin: one of the RM_SEEK_ values above. No result.
typedef void (*rm_seek_fn)(void* io_user, int32_t offset, int origin);
// Current file position; positions beyond 32 bits read as 0xFFFFFFFF.
typedef uint32_t (*rm_tell_fn)(void* io_user);
// Optional (rm_reader_attach_window): the bytes from the current position
// where they already lie, so that the reader can decode them in place
// instead of having them copied. Returns their address and sets *count to
// how many there are; 0 (or a null result) shows none, and the reader reads
// them as ever. Shows only bytes a read from here would return. The bytes
// stay valid, and the position where it is, until the next call of any of
// the source's callbacks; the reader moves past what it took with a
// relative seek before it calls another.
typedef const uint8_t* (*rm_window_fn)(void* io_user, uint32_t* count);

// ---------------------------------------------------------------- chunk ids and sizes
#define RM_FOURCC(a, b, c, d) \
    ((uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) | (uint32_t(uint8_t(c)) << 8) | uint32_t(uint8_t(d)))

const uint32_t RM_ID_RMF = RM_FOURCC('.', 'R', 'M', 'F');
const uint32_t RM_ID_PROP = RM_FOURCC('P', 'R', 'O', 'P');
const uint32_t RM_ID_MDPR = RM_FOURCC('M', 'D', 'P', 'R');
const uint32_t RM_ID_CONT = RM_FOURCC('C', 'O', 'N', 'T');
const uint32_t RM_ID_DATA = RM_FOURCC('D', 'A', 'T', 'A');
const uint32_t RM_ID_INDX = RM_FOURCC('I', 'N', 'D', 'X');

// Fixed sizes: the head every chunk starts with (id, size, object version),
// the .RMF and PROP chunks, the heads of DATA and INDX (all that is read of
// them) and a packet's header.
const uint32_t RM_CHUNK_HEADER_SIZE = 10;
const uint32_t RM_FILE_HEADER_SIZE = 18;
const uint32_t RM_PROPERTIES_SIZE = 50;
const uint32_t RM_DATA_HEADER_SIZE = 18;
const uint32_t RM_INDX_HEADER_SIZE = 20;
const uint32_t RM_PACKET_HEADER_SIZE = 12;
// A version 1 packet header: a 16-bit ASM rule number and an 8-bit ASM flags
// byte where version 0 has its group and flags bytes.
const uint32_t RM_PACKET_HEADER_V1_SIZE = 13;
// The least of an MDPR and of a CONT that their decoders take: up to the
// stream name's length, up to the title's length.
const uint32_t RM_MEDIA_PROPS_MIN_SIZE = 41;
const uint32_t RM_CONTENT_MIN_SIZE = 12;

// ---------------------------------------------------------------- header records
struct rm_chunk_header {
    uint32_t id;
    uint32_t size;
    uint16_t object_version;
};

struct rm_file_header {
    uint32_t id;
    uint32_t size;
    uint16_t object_version;
    uint32_t file_version;
    uint32_t header_count;
};

struct rm_properties {
    uint32_t id;
    uint32_t size;
    uint16_t object_version;
    uint32_t max_bit_rate;
    uint32_t avg_bit_rate;
    uint32_t max_packet_size;
    uint32_t avg_packet_size;
    uint32_t packet_count;
    uint32_t duration;
    uint32_t preroll;
    uint32_t index_offset;
    uint32_t data_offset;
    uint16_t stream_count;
    uint16_t flags;
};

struct rm_content {
    uint32_t id;
    uint32_t size;
    uint16_t object_version;
    uint16_t title_length;
    char* title;
    uint16_t author_length;
    char* author;
    uint16_t copyright_length;
    char* copyright;
    uint16_t comment_length;
    char* comment;
};

struct rm_media_props {
    uint32_t id;
    uint32_t size;
    uint16_t object_version;
    uint16_t stream_number;  // the file's own stream number
    uint32_t max_bit_rate;
    uint32_t avg_bit_rate;
    uint32_t max_packet_size;
    uint32_t avg_packet_size;
    uint32_t start_time;
    uint32_t preroll;
    uint32_t duration;
    uint8_t stream_name_length;
    char* stream_name;
    uint8_t mime_type_length;
    char* mime_type;
    uint32_t type_specific_length;
    uint8_t* type_specific_data;
};

// ---------------------------------------------------------------- logical streams
struct rm_name_value {
    uint32_t size;
    uint16_t object_version;
    uint8_t name_length;
    char* name;
    uint32_t type;
    uint16_t value_length;
    uint8_t* value;
};

struct rm_logical_stream {
    uint32_t size;
    uint16_t object_version;
    uint16_t physical_count;
    uint16_t* physical_streams;
    uint32_t* data_offsets;
    uint16_t rule_count;
    uint16_t* rule_map;
    uint16_t name_value_count;
    rm_name_value* name_values;
    // The logical MDPR's own stream number and MIME type; the type is kept
    // (owned) only when every physical stream is kept, null otherwise.
    uint16_t stream_number;
    char* mime_type;
};

// What a kept stream is in a multi-rate file (see rm_reader_stream_rate).
struct rm_stream_rate {
    int claimed;                     // 1 when a logical stream groups it
    const char* logical_mime_type;   // that logical MDPR's MIME type (the handle's); null when unclaimed
    uint16_t logical_stream_number;  // that logical MDPR's own stream number
    uint16_t rate;                   // its place among the logical stream's physical streams, from 1
    uint16_t rate_count;             // how many physical streams the logical stream groups
    uint16_t rule_count;             // rules of the logical stream's rule map that name it
    uint32_t average_bandwidth;      // bits per second: the largest AverageBandwidth its rules name; 0: none
};

// ---------------------------------------------------------------- stream state
const uint8_t RM_CLASS_AUDIO = 0x01;
const uint8_t RM_CLASS_VIDEO = 0x02;
const uint8_t RM_CLASS_EVENT = 0x04;

struct rm_index_entry {
    uint32_t timestamp;
    uint32_t offset;
};

struct rm_stream_state {
    uint32_t last_timestamp;
    uint32_t last_rule;
    rm_index_entry* index_entries;
    uint32_t index_capacity;  // the most entries the index may hold
    uint32_t index_count;
    uint32_t last_entry_time;
    uint32_t index_spacing;
    uint8_t class_flags;
    // Entries allocated so far: the index grows with the keyframes read, so
    // a duration field alone never buys memory.
    uint32_t index_allocated;
};

// ---------------------------------------------------------------- stream headers
const uint32_t RM_PROPERTY_INT = 0;
const uint32_t RM_PROPERTY_BUFFER = 1;
const uint32_t RM_PROPERTY_STRING = 2;

struct rm_property {
    char* name;
    uint32_t type;
    union {
        uint32_t number;  // RM_PROPERTY_INT
        void* data;       // RM_PROPERTY_BUFFER, RM_PROPERTY_STRING: owned block
    } value;
    uint32_t size;  // 0 for int; block bytes; string length + 1
};

struct rm_stream_header {
    char* mime_type;
    char* stream_name;
    uint32_t stream_number;  // the stream index, not the file's number
    uint32_t max_bit_rate;
    uint32_t avg_bit_rate;
    uint32_t max_packet_size;
    uint32_t avg_packet_size;
    uint32_t duration;
    uint32_t preroll;
    uint32_t start_time;
    uint32_t opaque_length;
    uint8_t* opaque_data;
    uint32_t property_count;
    rm_property* properties;
};

// ---------------------------------------------------------------- packets
const uint8_t RM_PACKET_KEYFRAME = 0x02;

struct rm_data_header {
    uint32_t id;
    uint32_t size;
    uint16_t version;
    uint32_t packet_count;
    uint32_t next_data_header;
};

struct rm_packet_header {
    uint16_t version;
    uint16_t length;  // whole packet, its header (12 bytes, 13 for version 1) included
    uint16_t stream_number;
    uint32_t timestamp;
    uint8_t group;      // version 0 only
    uint8_t flags;      // version 0: the flags; version 1: the ASM flags
    uint16_t asm_rule;  // version 1 only: the ASM rule number
};

struct rm_packet {
    uint32_t timestamp;
    uint16_t stream;  // stream index
    uint16_t asm_flags;
    uint8_t asm_rule;
    uint8_t reserved;
    uint16_t length;  // payload bytes
    uint8_t* data;
    uint32_t file_offset;  // of the payload's first byte
    uint8_t flags;         // the packet header's flags: RM_PACKET_KEYFRAME marks a keyframe
    // The rule number whole: a version 1 header's own, which asm_rule holds
    // only up to 255 (larger ones read 255 there); otherwise asm_rule.
    uint16_t asm_rule_number;
    uint16_t version;  // the packet header's object version, 0 or 1
};

// The largest payload a packet header's 16-bit length allows.
const uint32_t RM_MAX_PAYLOAD_SIZE = 0xFFFFu - RM_PACKET_HEADER_SIZE;

// A stream as its MDPR declares it, whether stream selection keeps it or not.
struct rm_declared_stream {
    uint16_t stream_number;
    uint32_t max_packet_size;  // payload bytes; 0: not declared
};

// ---------------------------------------------------------------- the handle
struct rm_reader {
    rm_error_fn error_fn;
    void* error_user;
    rm_alloc_fn allocate_fn;
    rm_release_fn release_fn;
    void* memory_user;
    rm_read_fn read_fn;
    rm_seek_fn seek_fn;
    rm_tell_fn tell_fn;
    void* io_user;
    rm_file_header rmf_record;
    rm_properties prop_record;
    rm_content cont_record;
    uint32_t stream_count;
    uint32_t media_count;
    uint32_t media_capacity;
    rm_media_props* media_props;
    uint32_t logical_count;
    rm_logical_stream* logical_streams;
    rm_logical_stream* fileinfo;
    uint8_t* buffer;
    uint32_t buffer_size;
    uint32_t buffer_held;
    // 64 bits: the packets of a DATA chunk that starts just below 4 GiB run
    // past it, and a 32-bit count would wrap back to the file's first bytes.
    uint64_t position;
    uint32_t stream_map_size;
    uint32_t* stream_map;
    uint32_t longest_duration;
    rm_stream_state* stream_states;
    rm_data_header data_header;
    uint32_t start_timestamp;
    rm_stream_header* stream_headers;
    // End of the packets of the DATA chunk being read (its offset plus its
    // size), or 0 when its size cannot even cover its own head: its packets
    // then run to the end of the file.
    uint64_t data_end;
    // Offset of the DATA chunk that the one being read names as its
    // successor, or 0 when there is none to follow.
    uint32_t data_next;
    // The number of records the stream-state and stream-header arrays were
    // built with: a later header read changes stream_count before it
    // rebuilds them, and teardown must walk what was really allocated.
    uint32_t stream_state_count;
    uint32_t stream_header_count;
    // Stream numbers an MDPR may carry since the last PROP (its stream count,
    // or 2 x count - 2 for version 1 files). media_capacity counts the slots
    // actually allocated, which grow with the MDPR chunks that arrive.
    uint32_t media_number_limit;
    // File offset of the packet header the packet reader began last; after a
    // failed read, where the packet that could not be read starts.
    uint64_t packet_start;
    // Packets met in the DATA chunk being read, of every stream: without a
    // declared end, fewer than its head declares before the file ends is a cut.
    uint32_t data_packets;
    // Every stream the file's MDPR chunks declare, kept or not, in ascending
    // stream-number order: a packet of any other number is damage, and so is
    // one larger than its stream's declared maximum.
    rm_declared_stream* declared_streams;
    uint32_t declared_count;
    // Set by rm_reader_keep_every_stream; a load leaves it as it is.
    uint8_t keep_every_stream;
    // With every stream kept: one record per kept stream, and the DATA
    // offsets that the logical stream headers name, ascending, each once.
    rm_stream_rate* stream_rates;
    uint32_t stream_rate_count;
    uint32_t* named_data_offsets;
    uint32_t named_data_count;
    // The source's window callback (null: none), and the window it showed
    // last: `window_size` bytes from the source's position, of which the
    // reader has taken the first `window_used`. `position` counts those
    // already; the source is moved past them before another callback.
    rm_window_fn window_fn;
    const uint8_t* window;
    uint32_t window_size;
    uint32_t window_used;
    // How far into the window its bytes were asked for ahead of the walk.
    uint32_t window_fetched;
};

// ---------------------------------------------------------------- public operations
// 1 when count >= 4 and the bytes start with ".RMF", else 0.
int rm_reader_probe(const void* bytes, uint32_t count);
rm_reader* rm_reader_new(void* error_user, rm_error_fn error_fn);
rm_reader* rm_reader_new_custom(void* error_user, rm_error_fn error_fn, void* memory_user, rm_alloc_fn allocate_fn,
                                rm_release_fn release_fn);
// The FILE stays the caller's: the reader never closes it.
rm_result rm_reader_attach_stdio(rm_reader* reader, FILE* file);
// Any other source: the three callbacks and their user pointer, all required.
// Drops a window callback attached before: it belonged to the source before.
rm_result rm_reader_attach_io(rm_reader* reader, rm_read_fn read_fn, rm_seek_fn seek_fn, rm_tell_fn tell_fn,
                              void* io_user);
// After rm_reader_attach_io, a window callback of the same source (see
// rm_window_fn): the packet walk then decodes headers where the source holds
// them and steps over payloads whose last byte it shows, reading and seeking
// only where its windows end. What the walk finds is the same either way.
rm_result rm_reader_attach_window(rm_reader* reader, rm_window_fn window_fn);

rm_result rm_reader_load_headers(rm_reader* reader);
uint32_t rm_reader_stream_count(const rm_reader* reader);
rm_result rm_reader_fetch_stream_header(rm_reader* reader, uint32_t index, rm_stream_header** out);
void rm_reader_release_stream_header(rm_reader* reader, rm_stream_header** header);
// selector: a stream index, or -1 for any stream.
rm_result rm_reader_next_packet(rm_reader* reader, rm_packet** out, int32_t selector);
void rm_reader_release_packet(rm_reader* reader, rm_packet** packet);
// The next packet of any stream that stream selection kept, into the caller's
// record, without its payload (`data` stays null) and without allocating:
// for a pass over every stream that needs only sizes, times and flags.
// Packets of streams that selection dropped are skipped, as a stream index
// selector skips other streams. The payload of a packet of stream
// `checked_stream` is read through and discarded; other payloads are stepped
// over, their last byte read (or shown in a window), so that a cut fails at
// the packet it cuts either way. -1 checks none.
rm_result rm_reader_next_packet_header(rm_reader* reader, rm_packet* out, int32_t checked_stream);
// What a pass over packet headers alone needs of each packet, for
// rm_reader_next_packet_briefs: the fields of its rm_packet record that say
// what and when it is, half the record's size.
struct rm_packet_brief {
    uint32_t timestamp;
    uint16_t stream;    // stream index
    uint16_t length;    // payload bytes
    uint8_t flags;      // the packet header's flags: RM_PACKET_KEYFRAME marks a keyframe
    uint8_t version;    // the packet header's object version, 0 or 1
    uint16_t reserved;  // 0
};
// The packets rm_reader_next_packet_header(reader, ..., -1) would deliver,
// up to `capacity` of them at once, into out[0] on, as their briefs: *count
// gets how many; RM_OK with at least one. Where that call would have failed
// or found the end of the data, its result, with none: a batch never holds a
// packet past the end, and rm_reader_packet_offset says where the reading
// stopped as ever (after a batch, where its last packet starts). Through a
// window, a batch holds the packets the window shows whole.
rm_result rm_reader_next_packet_briefs(rm_reader* reader, rm_packet_brief* out, uint32_t capacity, uint32_t* count);
// Packets of one stream that follow one another, as
// rm_reader_next_packet_runs hands them out: for a pass that counts every
// stream but looks at the packets of one.
struct rm_packet_run {
    rm_packet_brief last;      // the run's last packet
    uint32_t packets;          // how many, at least 1
    uint32_t first_timestamp;  // the run's first packet's
    uint32_t first_length;     // its payload bytes
    uint32_t min_timestamp;
    uint32_t max_timestamp;
    uint64_t bytes;  // their payload bytes
};
// Spans of time that bound runs, for a pass that cuts each stream's packets
// into spans by the rule of its bitrate windows: a packet more than `span`
// ms after where its stream's span starts (time - start taken modulo 2^32,
// as an unsigned difference) starts a new span there, and a run; so every
// packet of a run after its first lies within the span its first left.
// `starts` holds one start a kept stream, by index (`count` of them: a
// stream beyond has each packet a run of its own), 0 before the first
// packet; the reader moves them, as each call's packets go by.
struct rm_run_spans {
    uint32_t* starts;
    uint32_t count;
    uint32_t span;
};
// The packets rm_reader_next_packet_briefs would deliver, up to `capacity`
// runs at once, with the packets of any stream but `single_stream` (-1:
// none) that follow one another in a batch joined into one run; each packet
// of `single_stream` is a run of its own. As a run never spans another
// stream's packet, a pass that stops at a packet has counted exactly the
// packets before it. With `spans` (may be null), runs also end where a span
// does. *count gets how many runs; results as the briefs'.
rm_result rm_reader_next_packet_runs(rm_reader* reader, rm_packet_run* out, uint32_t capacity, uint32_t* count,
                                     int32_t single_stream, rm_run_spans* spans);
// The same, with the payload of a packet of stream `payload_stream` read
// into the caller's `buffer` (`size` bytes, at least RM_MAX_PAYLOAD_SIZE),
// or, where a window shows it whole, left there: `data` points at it until
// the next call on the handle. RM_FAIL for a buffer too small.
rm_result rm_reader_next_packet_payload(rm_reader* reader, rm_packet* out, int32_t payload_stream, uint8_t* buffer,
                                        uint32_t size);
// A packet as rm_reader_next_packet_views hands it out: its brief, where
// its header starts (what rm_reader_packet_offset says after it alone), and
// the payload of the chosen stream.
struct rm_packet_view {
    rm_packet_brief brief;
    uint64_t offset;
    // The payload of a packet of `payload_stream`, as
    // rm_reader_next_packet_payload gives it (the caller's buffer for an
    // empty one); null for other streams. Valid until the next call on the
    // handle.
    const uint8_t* data;
};
// The packets rm_reader_next_packet_payload(reader, ..., payload_stream,
// buffer, size) would deliver, in batches as rm_reader_next_packet_briefs
// makes them: the walk of a pass that looks into one stream's payloads.
// Only a batch's first payload can have been read into the buffer. RM_FAIL for a buffer too
// small.
rm_result rm_reader_next_packet_views(rm_reader* reader, rm_packet_view* out, uint32_t capacity, uint32_t* count,
                                      int32_t payload_stream, uint8_t* buffer, uint32_t size);
// A run as rm_reader_next_packet_view_runs hands it out: where its last
// packet's header starts, and the payload of a packet of `single_stream` as
// rm_reader_next_packet_views gives it (null for other streams).
struct rm_packet_view_run {
    rm_packet_run run;
    uint64_t offset;
    const uint8_t* data;
};
// The packets rm_reader_next_packet_views(reader, ..., single_stream,
// buffer, size) would deliver, joined into runs as
// rm_reader_next_packet_runs joins them: a pass that looks into one stream's
// payloads and counts the others. RM_FAIL for a buffer too small.
rm_result rm_reader_next_packet_view_runs(rm_reader* reader, rm_packet_view_run* out, uint32_t capacity,
                                          uint32_t* count, int32_t single_stream, uint8_t* buffer, uint32_t size,
                                          rm_run_spans* spans);
// The file offset of the packet header that rm_reader_next_packet read last:
// after a failure, where the damaged or cut packet starts; after
// RM_END_OF_DATA, where the last DATA chunk's packets ended. 0 for a null
// handle.
uint64_t rm_reader_packet_offset(const rm_reader* reader);
void rm_reader_delete(rm_reader** reader);

// Called before rm_reader_load_headers, a non-zero `keep` makes stream
// selection keep every physical stream of a multi-rate file (every MDPR that
// is not logical), in stream-number order, instead of only those an ordinary
// player reads; the packets of every DATA chunk are then read: the chained
// ones, one that starts where the packets of the one before end, and one
// that a logical stream header names beyond them. 0, the default, selects
// as ever. The setting holds for every later load of the handle.
rm_result rm_reader_keep_every_stream(rm_reader* reader, int keep);
// What kept stream `index` is: whether a logical stream groups it, which
// one, its place among that one's physical streams and the bandwidth its
// rule book names. Unclaimed (all zero) for every stream of the default
// selection. The MIME type stays valid until the next load or the delete.
rm_result rm_reader_stream_rate(const rm_reader* reader, uint32_t index, rm_stream_rate* out);
// The file's own stream number of kept stream `index`, as its MDPR gives it
// (a stream header's stream_number is the index).
rm_result rm_reader_stream_file_number(const rm_reader* reader, uint32_t index, uint16_t* out);

// ---------------------------------------------------------------- default callbacks
void* rm_default_alloc(void* memory_user, uint32_t size);
void rm_default_release(void* memory_user, void* block);
void rm_error_default(void* error_user, rm_result code, const char* message);
uint32_t rm_stdio_read(void* file, void* destination, uint32_t count);
void rm_stdio_seek(void* file, int32_t offset, int origin);
uint32_t rm_stdio_tell(void* file);

// ---------------------------------------------------------------- stream header access
const char* rm_stream_header_get_mime_type(const rm_stream_header* header);
const char* rm_stream_header_get_stream_name(const rm_stream_header* header);
uint32_t rm_stream_header_get_stream_number(const rm_stream_header* header);
uint32_t rm_stream_header_get_max_bit_rate(const rm_stream_header* header);
uint32_t rm_stream_header_get_avg_bit_rate(const rm_stream_header* header);
uint32_t rm_stream_header_get_max_packet_size(const rm_stream_header* header);
uint32_t rm_stream_header_get_avg_packet_size(const rm_stream_header* header);
uint32_t rm_stream_header_get_duration(const rm_stream_header* header);
uint32_t rm_stream_header_get_preroll(const rm_stream_header* header);
uint32_t rm_stream_header_get_start_time(const rm_stream_header* header);
uint32_t rm_stream_header_get_properties(const rm_stream_header* header, rm_property** out);

int rm_mime_is_audio(const char* mime);
int rm_mime_is_video(const char* mime);
int rm_mime_is_event(const char* mime);
int rm_mime_is_known(const char* mime);
int rm_stream_header_is_audio(const rm_stream_header* header);
int rm_stream_header_is_video(const rm_stream_header* header);
int rm_stream_header_is_event(const rm_stream_header* header);

rm_result rm_stream_header_find_int(const rm_stream_header* header, const char* name, uint32_t* out);
rm_result rm_stream_header_find_buffer(const rm_stream_header* header, const char* name, void** out, uint32_t* size);
rm_result rm_stream_header_find_string(const rm_stream_header* header, const char* name, char** out);

// Portable case-insensitive comparisons (ASCII letters only), like _stricmp.
int rm_compare_nocase(const char* a, const char* b);
int rm_compare_nocase_n(const char* a, const char* b, uint32_t count);

#endif
