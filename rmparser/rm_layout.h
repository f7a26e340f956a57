// A file's layout as its chunk heads tell it, apart from any reader handle:
// every top-level chunk, the DATA and INDX chunks their chains name, each
// index entry, and a census of each DATA chunk's packet headers. For a report
// on a file rather than a measurement of it: it follows only what the bytes
// say, selects no stream and is bounded by the file's size.
#ifndef KOV_RMPARSER_RM_LAYOUT_H
#define KOV_RMPARSER_RM_LAYOUT_H

#include <cstdint>

#include "rm_reader.h"

// Reads up to `count` bytes at `offset`; returns how many it read (fewer at
// the end of the file or on an error, which the walk treats alike).
typedef uint32_t (*rm_read_at_fn)(void* io_user, uint64_t offset, void* destination, uint32_t count);

// One index entry as the file holds it.
const uint32_t RM_INDX_ENTRY_SIZE = 14;

struct rm_index_record {
    uint16_t version;
    uint32_t timestamp;
    uint32_t packet_offset;  // of the packet's header
    uint32_t packet_number;
};

// What follows where a DATA chunk's packets stop.
enum rm_census_end {
    RM_CENSUS_DECLARED_END = 0,  // the packets fill the chunk to its declared end
    RM_CENSUS_ZEROS,             // zero bytes where the next packet would be (ffmpeg's trailer, padding)
    RM_CENSUS_NEXT_CHUNK,        // a chunk head, in a chunk without a declared end
    RM_CENSUS_FILE_END,          // the file ends between two packets
    RM_CENSUS_CUT,               // the file ends inside a packet or its header
    RM_CENSUS_BAD_HEADER,        // a header that cannot start a packet (version, length, the chunk's end)
    RM_CENSUS_STOPPED,           // the caller asked to stop
};

// What lies at a DATA chunk's declared end when its packets reach it.
enum rm_after_data {
    RM_AFTER_NOTHING = 0,  // the end of the file
    RM_AFTER_CHUNK,        // a chunk head
    RM_AFTER_ZEROS,        // zero bytes
    RM_AFTER_PACKET,       // a packet header: the declared size ends before the packets
    RM_AFTER_OTHER,        // anything else
};

struct rm_layout_chunk {
    uint64_t offset;
    uint32_t id;
    uint32_t size;
    uint16_t object_version;
    // Bytes of its fixed head the file holds: fewer than the head's size when
    // the file ends in it.
    uint32_t head_held;
    int chained;  // 1 when only a chain (PROP, a DATA or INDX head) names it
    // DATA: its head.
    uint32_t packet_count;
    uint32_t next_data_header;
    // INDX: its head, and how many of its entries the file holds (never more
    // than the count declares, nor than its size or the file make room for).
    uint32_t entry_count;
    uint16_t stream_number;
    uint32_t next_index_header;
    uint32_t entries_held;
    // PROP: its duration, first DATA and first INDX offsets, as declared.
    uint32_t duration;
    uint32_t data_offset;
    uint32_t index_offset;
};

// A packet header the census met.
struct rm_layout_packet {
    uint64_t offset;
    uint16_t version;
    uint16_t length;  // whole packet
    uint16_t stream_number;
    uint32_t timestamp;
    uint8_t flags;
};

struct rm_data_census {
    uint64_t packets;
    rm_census_end end;
    uint64_t end_offset;  // where the packets stop: the declared end, the zeros, the cut or the bad header
    rm_after_data after;  // RM_CENSUS_DECLARED_END only
};

// Each callback returns nonzero to go on, 0 to stop the walk; any may be null.
struct rm_layout_visitor {
    void* user;
    // Every chunk once, in file order: first the top-level run of chunks from
    // the file's start, then those that only a chain names.
    int (*chunk)(void* user, const rm_layout_chunk* chunk);
    // Every entry the file holds of every INDX chunk, after all chunks.
    int (*index_entry)(void* user, const rm_layout_chunk* indx, uint32_t ordinal, const rm_index_record* entry);
    // Then every DATA chunk's packet headers, in file order, each chunk
    // closed by its census.
    int (*packet)(void* user, const rm_layout_chunk* data, const rm_layout_packet* packet);
    int (*data_census)(void* user, const rm_layout_chunk* data, const rm_data_census* census);
};

// Walks a file of `file_size` bytes: the top-level chunks from offset 0 by
// their sizes (up to the end of the file, a head that is no chunk's, a DATA
// chunk without a declared end, or a chunk that runs past the file), the DATA
// chain from the PROP's data offset and the INDX chain from its index offset
// (forward only), the entries of every INDX chunk found and the packet
// headers of every DATA chunk found. RM_OK when it walked it all; RM_FAIL
// when a callback stopped it; RM_OUT_OF_MEMORY when its list of chunks could
// not grow; RM_NULL_ARGUMENT without a read callback. Allocates one offset
// per chunk found, and nothing per packet or entry.
rm_result rm_walk_layout(rm_read_at_fn read_at, void* io_user, uint64_t file_size, const rm_layout_visitor* visitor);

#endif
