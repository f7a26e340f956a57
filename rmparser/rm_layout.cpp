// The layout walk: chunk heads, the DATA and INDX chains, index entries and a census of packet headers.
#include "rm_layout.h"

#include <algorithm>
#include <new>
#include <vector>

#include "rm_internal.h"

namespace {

// Chunks whose heads are kept for the second half of the walk (DATA and
// INDX): a file of nothing but tiny chunks must not buy a record for each.
const size_t MAX_KEPT_CHUNKS = 65536;
// Index entries are read this many at a time.
const uint32_t ENTRY_BLOCK = 256;
// The largest fixed head read: the PROP chunk.
const uint32_t MAX_HEAD_SIZE = RM_PROPERTIES_SIZE;

struct Walk {
    rm_read_at_fn read_at;
    void* io_user;
    uint64_t file_size;
    const rm_layout_visitor* visitor;
    std::vector<rm_layout_chunk> kept;  // DATA and INDX, in the order found
    size_t top_level = 0;               // the first of them, in ascending offsets
    bool have_prop = false;
    rm_layout_chunk prop = {};
};

uint32_t head_size_of(uint32_t id) {
    if (id == RM_ID_DATA) {
        return RM_DATA_HEADER_SIZE;
    }
    if (id == RM_ID_INDX) {
        return RM_INDX_HEADER_SIZE;
    }
    if (id == RM_ID_PROP) {
        return RM_PROPERTIES_SIZE;
    }
    return RM_CHUNK_HEADER_SIZE;
}

// The head at `offset` as the file holds it; false when no chunk starts
// there (nothing held, or bytes that are no chunk's head).
bool read_head(const Walk& walk, uint64_t offset, rm_layout_chunk* out) {
    uint8_t bytes[MAX_HEAD_SIZE] = {};
    uint32_t got = offset < walk.file_size ? walk.read_at(walk.io_user, offset, bytes, RM_CHUNK_HEADER_SIZE) : 0;
    // A DATA chunk may leave its size below its head's: its packets then run
    // to the end of the file.
    const bool data = got >= 4 && rm_peek_u32(bytes, got) == RM_ID_DATA;
    if (got > RM_CHUNK_HEADER_SIZE || !(data ? rm_printable_id(bytes, got) : rm_looks_like_chunk_head(bytes, got))) {
        return false;
    }
    *out = rm_layout_chunk();
    out->offset = offset;
    const uint8_t* cursor = bytes;
    uint32_t remaining = got;
    out->id = got >= 4 ? rm_get_u32(&cursor, &remaining) : 0;
    const uint32_t wanted = head_size_of(out->id);
    if (got == RM_CHUNK_HEADER_SIZE && wanted > got) {
        got += walk.read_at(walk.io_user, offset + got, bytes + got, wanted - got);
        if (got > wanted) {
            return false;
        }
    }
    out->head_held = got;
    cursor = bytes + 4;
    remaining = got >= 4 ? got - 4 : 0;
    out->size = rm_get_u32(&cursor, &remaining);
    out->object_version = rm_get_u16(&cursor, &remaining);
    if (out->id == RM_ID_DATA) {
        out->packet_count = rm_get_u32(&cursor, &remaining);
        out->next_data_header = rm_get_u32(&cursor, &remaining);
    } else if (out->id == RM_ID_INDX) {
        out->entry_count = rm_get_u32(&cursor, &remaining);
        out->stream_number = rm_get_u16(&cursor, &remaining);
        out->next_index_header = rm_get_u32(&cursor, &remaining);
        if (got >= RM_INDX_HEADER_SIZE) {
            // Room for entries: what the size declares and the file holds.
            const uint64_t declared = out->size > RM_INDX_HEADER_SIZE ? out->size - RM_INDX_HEADER_SIZE : 0;
            const uint64_t in_file = walk.file_size - (offset + RM_INDX_HEADER_SIZE);
            const uint64_t room = std::min(declared, in_file) / RM_INDX_ENTRY_SIZE;
            out->entries_held = uint32_t(std::min<uint64_t>(room, out->entry_count));
        }
    } else if (out->id == RM_ID_PROP) {
        // Up to the duration, then the preroll, the two offsets.
        for (int skipped = 0; skipped < 5; ++skipped) {
            rm_get_u32(&cursor, &remaining);
        }
        out->duration = rm_get_u32(&cursor, &remaining);
        rm_get_u32(&cursor, &remaining);
        out->index_offset = rm_get_u32(&cursor, &remaining);
        out->data_offset = rm_get_u32(&cursor, &remaining);
    }
    return true;
}

bool keep(Walk& walk, const rm_layout_chunk& chunk) {
    if (chunk.id == RM_ID_PROP && !walk.have_prop && chunk.head_held >= RM_PROPERTIES_SIZE) {
        walk.have_prop = true;
        walk.prop = chunk;
    }
    if ((chunk.id == RM_ID_DATA || chunk.id == RM_ID_INDX) && walk.kept.size() < MAX_KEPT_CHUNKS) {
        walk.kept.push_back(chunk);
    }
    return !walk.visitor->chunk || walk.visitor->chunk(walk.visitor->user, &chunk) != 0;
}

// The run of chunks from the file's start, each where the one before ends.
bool walk_top_level(Walk& walk) {
    uint64_t offset = 0;
    rm_layout_chunk chunk;
    while (offset < walk.file_size && read_head(walk, offset, &chunk)) {
        if (!keep(walk, chunk)) {
            return false;
        }
        const bool undeclared_data = chunk.id == RM_ID_DATA && chunk.size < RM_DATA_HEADER_SIZE;
        if (chunk.head_held < head_size_of(chunk.id) || chunk.size < RM_CHUNK_HEADER_SIZE || undeclared_data) {
            break;
        }
        offset += chunk.size;
    }
    walk.top_level = walk.kept.size();
    return true;
}

// A chain names a chunk that the top-level run found, or one of its own kind
// further on: only the first need looking up.
const rm_layout_chunk* find_top_level(const Walk& walk, uint64_t offset) {
    const auto first = walk.kept.begin();
    const auto last = first + std::ptrdiff_t(walk.top_level);
    const auto found = std::lower_bound(first, last, offset,
                                        [](const rm_layout_chunk& chunk, uint64_t at) { return chunk.offset < at; });
    return found != last && found->offset == offset ? &*found : nullptr;
}

// A chain of chunks of kind `id` from `first`, each naming the next; only a
// step forward past the chunk's own head is followed, so no chain loops.
bool walk_chain(Walk& walk, uint32_t id, uint64_t first) {
    uint64_t offset = first;
    for (size_t steps = 0; offset != 0 && offset < walk.file_size && steps < MAX_KEPT_CHUNKS; ++steps) {
        rm_layout_chunk chunk;
        const rm_layout_chunk* known = find_top_level(walk, offset);
        if (known) {
            chunk = *known;
        } else {
            if (!read_head(walk, offset, &chunk) || chunk.id != id) {
                return true;
            }
            chunk.chained = 1;
            if (!keep(walk, chunk)) {
                return false;
            }
        }
        if (chunk.head_held < head_size_of(id)) {
            return true;
        }
        // A DATA chunk names one beyond its packets, as the packet reader
        // follows it; an INDX chunk one beyond its head.
        const uint64_t next = id == RM_ID_DATA ? chunk.next_data_header : chunk.next_index_header;
        const bool declared = id == RM_ID_DATA && chunk.size >= RM_DATA_HEADER_SIZE;
        if (next < offset + (declared ? chunk.size : head_size_of(id))) {
            return true;
        }
        offset = next;
    }
    return true;
}

bool read_entries(const Walk& walk, const rm_layout_chunk& indx) {
    if (!walk.visitor->index_entry) {
        return true;
    }
    uint8_t block[ENTRY_BLOCK * RM_INDX_ENTRY_SIZE];
    uint32_t ordinal = 0;
    while (ordinal < indx.entries_held) {
        const uint32_t count = std::min(ENTRY_BLOCK, indx.entries_held - ordinal);
        const uint64_t at = indx.offset + RM_INDX_HEADER_SIZE + uint64_t(ordinal) * RM_INDX_ENTRY_SIZE;
        const uint32_t got = walk.read_at(walk.io_user, at, block, count * RM_INDX_ENTRY_SIZE);
        if (got > count * RM_INDX_ENTRY_SIZE) {
            return true;
        }
        const uint8_t* cursor = block;
        uint32_t remaining = got;
        for (uint32_t k = 0; k < got / RM_INDX_ENTRY_SIZE; ++k, ++ordinal) {
            rm_index_record entry;
            entry.version = rm_get_u16(&cursor, &remaining);
            entry.timestamp = rm_get_u32(&cursor, &remaining);
            entry.packet_offset = rm_get_u32(&cursor, &remaining);
            entry.packet_number = rm_get_u32(&cursor, &remaining);
            if (walk.visitor->index_entry(walk.visitor->user, &indx, ordinal, &entry) == 0) {
                return false;
            }
        }
        if (got < count * RM_INDX_ENTRY_SIZE) {
            return true;  // the file ended after all
        }
    }
    return true;
}

rm_after_data classify_after(const Walk& walk, uint64_t offset) {
    uint8_t bytes[RM_PACKET_HEADER_SIZE] = {};
    const uint32_t got = offset < walk.file_size ? walk.read_at(walk.io_user, offset, bytes, sizeof bytes) : 0;
    if (got == 0 || got > sizeof bytes) {
        return RM_AFTER_NOTHING;
    }
    if (rm_all_zero(bytes, got)) {
        return RM_AFTER_ZEROS;
    }
    if (rm_looks_like_chunk_head(bytes, got)) {
        return RM_AFTER_CHUNK;
    }
    const uint16_t version = rm_peek_u16(bytes, got);
    const uint16_t length = rm_peek_u16(bytes + 2, got >= 2 ? got - 2 : 0);
    if (got >= 4 && version <= 1 && length >= RM_PACKET_HEADER_SIZE) {
        return RM_AFTER_PACKET;
    }
    return RM_AFTER_OTHER;
}

// Counts a DATA chunk's packets by their headers' lengths, as far as they
// can be believed: version 0 or 1, a length that covers the header and stays
// within the chunk's declared end and the file.
bool census(const Walk& walk, const rm_layout_chunk& data, uint64_t* counted_to) {
    rm_data_census result = {};
    const bool declared = data.size >= RM_DATA_HEADER_SIZE;
    const uint64_t end = data.offset + data.size;
    uint64_t at = data.offset + RM_DATA_HEADER_SIZE;
    bool go_on = true;
    if (data.head_held < RM_DATA_HEADER_SIZE) {
        result.end = RM_CENSUS_CUT;
        at = data.offset + data.head_held;
    }
    while (data.head_held >= RM_DATA_HEADER_SIZE) {
        if (declared && at >= end) {
            result.end = RM_CENSUS_DECLARED_END;
            result.after = classify_after(walk, end);
            break;
        }
        uint8_t bytes[RM_PACKET_HEADER_V1_SIZE] = {};
        const uint32_t got = at < walk.file_size ? walk.read_at(walk.io_user, at, bytes, sizeof bytes) : 0;
        if (got == 0 || got > sizeof bytes) {
            result.end = RM_CENSUS_FILE_END;
            break;
        }
        if (rm_all_zero(bytes, got < 4 ? got : 4)) {
            result.end = RM_CENSUS_ZEROS;
            break;
        }
        if (!declared && rm_looks_like_chunk_head(bytes, got)) {
            result.end = RM_CENSUS_NEXT_CHUNK;
            break;
        }
        if (got < RM_PACKET_HEADER_SIZE) {
            result.end = RM_CENSUS_CUT;
            break;
        }
        rm_layout_packet packet;
        packet.offset = at;
        packet.version = rm_peek_u16(bytes, got);
        packet.length = rm_peek_u16(bytes + 2, got - 2);
        packet.stream_number = rm_peek_u16(bytes + 4, got - 4);
        packet.timestamp = rm_peek_u32(bytes + 6, got - 6);
        const uint32_t header = packet.version == 1 ? RM_PACKET_HEADER_V1_SIZE : RM_PACKET_HEADER_SIZE;
        if (packet.version > 1 || packet.length < header || (declared && at + packet.length > end)) {
            result.end = RM_CENSUS_BAD_HEADER;
            break;
        }
        if (got < header || at + packet.length > walk.file_size) {
            result.end = RM_CENSUS_CUT;
            break;
        }
        packet.flags = packet.version == 1 ? bytes[12] : bytes[11];
        if (walk.visitor->packet && walk.visitor->packet(walk.visitor->user, &data, &packet) == 0) {
            result.end = RM_CENSUS_STOPPED;
            go_on = false;
            break;
        }
        ++result.packets;
        at += packet.length;
    }
    result.end_offset = at;
    *counted_to = at;
    if (walk.visitor->data_census && walk.visitor->data_census(walk.visitor->user, &data, &result) == 0) {
        return false;
    }
    return go_on;
}

rm_result walk_layout(Walk& walk) {
    if (!walk_top_level(walk)) {
        return RM_FAIL;
    }
    if (walk.have_prop) {
        if (!walk_chain(walk, RM_ID_DATA, walk.prop.data_offset) ||
            !walk_chain(walk, RM_ID_INDX, walk.prop.index_offset)) {
            return RM_FAIL;
        }
    }
    // A chained chunk can name one that the top-level run holds: each once.
    std::stable_sort(walk.kept.begin(), walk.kept.end(),
                     [](const rm_layout_chunk& a, const rm_layout_chunk& b) { return a.offset < b.offset; });
    for (const rm_layout_chunk& chunk : walk.kept) {
        if (chunk.id == RM_ID_INDX && !read_entries(walk, chunk)) {
            return RM_FAIL;
        }
    }
    // A DATA chunk that starts among the packets already counted would count
    // them again.
    uint64_t counted_to = 0;
    for (const rm_layout_chunk& chunk : walk.kept) {
        if (chunk.id != RM_ID_DATA || chunk.offset < counted_to) {
            continue;
        }
        if (!census(walk, chunk, &counted_to)) {
            return RM_FAIL;
        }
    }
    return RM_OK;
}

}  // namespace

rm_result rm_walk_layout(rm_read_at_fn read_at, void* io_user, uint64_t file_size, const rm_layout_visitor* visitor) {
    if (!read_at || !visitor) {
        return RM_NULL_ARGUMENT;
    }
    Walk walk;
    walk.read_at = read_at;
    walk.io_user = io_user;
    walk.file_size = file_size;
    walk.visitor = visitor;
    try {
        return walk_layout(walk);
    } catch (const std::bad_alloc&) {
        return RM_OUT_OF_MEMORY;
    }
}
