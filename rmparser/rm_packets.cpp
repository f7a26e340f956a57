// The DATA chunk: the first packet, packet headers, the next-packet operation and the keyframe index.
#include <cstring>

#include "rm_internal.h"

namespace {

const uint32_t NO_TIMESTAMP = 0xFFFFFFFFu;
// Declared bytes after the last packet that may be missing from the file.
const uint32_t TRAILER_ROOM = 18;

// The file position as the I/O layer sees it; the position count stands in
// when no tell callback was attached.
uint32_t file_position(const rm_reader* reader) {
    if (reader->tell_fn == nullptr) {
        return reader->position;
    }
    return reader->tell_fn(reader->io_user);
}

// Rule flags and rule number of a packet about to be taken, from its header
// and what the previous packet of the same stream left behind.
void packet_rule(const rm_reader* reader, const rm_stream_state* state, const rm_packet_header* header,
                 uint16_t* asm_flags, uint8_t* asm_rule) {
    const bool keyframe = (header->flags & RM_PACKET_KEYFRAME) != 0;
    *asm_rule = keyframe ? 0 : 1;
    switch (state->class_flags) {
    case RM_CLASS_VIDEO:
        if (header->timestamp == state->last_timestamp) {
            *asm_flags = 0;
        } else {
            *asm_flags = (keyframe || state->last_rule == 0) ? 3 : 2;
        }
        break;
    case RM_CLASS_AUDIO:
        *asm_flags = (keyframe || state->last_rule == 0) ? 3 : 2;
        break;
    case RM_CLASS_EVENT:
        *asm_flags = keyframe ? 3 : 2;
        break;
    default:
        *asm_flags = keyframe ? 3 : 2;
        // Version 1 files carry the rule number in the group byte.
        if (reader->rmf_record.file_version != 0) {
            *asm_rule = header->group;
        }
        break;
    }
}

// The DATA head just decoded into the handle starts at `offset`: where its
// packets end, and which chunk it names as the next one.
void enter_data_chunk(rm_reader* reader, uint64_t offset) {
    const rm_data_header& head = reader->data_header;
    reader->data_end = head.size >= RM_DATA_HEADER_SIZE ? offset + head.size : 0;
    // Only a chunk wholly after this one can be followed: anything else could
    // send the reader back over packets it has already delivered.
    const bool forward = reader->data_end != 0 && head.next_data_header >= reader->data_end;
    reader->data_next = forward ? head.next_data_header : 0;
}

// Moves on to the DATA chunk that the current one names, if it really is
// one. Each step lands beyond the end of the chunk before, so no sequence of
// heads can make the reader loop.
bool follow_data_chain(rm_reader* reader) {
    const uint32_t next = reader->data_next;
    reader->data_next = 0;
    if (next == 0) {
        return false;
    }
    rm_seek(reader, int32_t(next), RM_SEEK_SET);
    if (rm_read_to_buffer(reader, RM_DATA_HEADER_SIZE, 0) != RM_DATA_HEADER_SIZE ||
        rm_peek_u32(reader->buffer, reader->buffer_held) != RM_ID_DATA ||
        rm_peek_u32(reader->buffer + 4, reader->buffer_held - 4) < RM_DATA_HEADER_SIZE ||
        rm_decode_data_header(reader) != RM_OK) {
        return false;
    }
    enter_data_chunk(reader, next);
    return true;
}

// Whether a packet header may start at the current position: not once the
// DATA chunk is used up, unless a further DATA chunk takes over. Whatever
// follows the packets (an index, another chunk, a trailer) is no packet.
bool packets_remain(rm_reader* reader) {
    while (reader->data_end != 0 && reader->position >= reader->data_end) {
        if (!follow_data_chain(reader)) {
            return false;
        }
    }
    return true;
}

// ffmpeg's muxer declares a DATA size 18 bytes beyond its last packet and
// writes 8 zero bytes of them, so its files end 10 bytes short of the
// declared end. A header there, read in full (something was appended) or
// cut short by the end of the file, begins with a zero version and a zero
// length, which no packet has. Such a trailer ends the chunk's packets; a
// header cut short anywhere else is damage, as are bytes that could start a
// packet. Without a declared end, only zeros before the end of the file are
// a trailer.
bool header_is_trailer(const rm_reader* reader) {
    uint32_t inspected = RM_PACKET_HEADER_SIZE;
    if (reader->data_end != 0) {
        if (reader->packet_start + TRAILER_ROOM < reader->data_end) {
            return false;
        }
        inspected = 4;  // version and length
    }
    for (uint32_t i = 0; i < inspected && i < reader->buffer_held && i < reader->buffer_size; ++i) {
        if (reader->buffer[i] != 0) {
            return false;
        }
    }
    return true;
}

// Moves on to the declared end of the DATA chunk, past a trailer.
void skip_to_data_end(rm_reader* reader) {
    if (reader->position < reader->data_end) {
        rm_seek(reader, int32_t(reader->data_end - reader->position), RM_SEEK_CUR);
    }
}

}  // namespace

rm_result rm_decode_data_header(rm_reader* reader) {
    if (reader == nullptr || reader->buffer == nullptr || reader->buffer_held < RM_DATA_HEADER_SIZE) {
        return RM_FAIL;
    }
    const uint8_t* cursor = reader->buffer;
    uint32_t remaining = reader->buffer_held;
    rm_data_header* head = &reader->data_header;
    head->id = rm_get_u32(&cursor, &remaining);
    head->size = rm_get_u32(&cursor, &remaining);
    head->version = rm_get_u16(&cursor, &remaining);
    head->packet_count = rm_get_u32(&cursor, &remaining);
    head->next_data_header = rm_get_u32(&cursor, &remaining);
    return RM_OK;
}

rm_result rm_decode_packet_header(rm_reader* reader, rm_packet_header* header) {
    if (reader == nullptr || header == nullptr || reader->buffer == nullptr ||
        reader->buffer_held < RM_PACKET_HEADER_SIZE) {
        return RM_FAIL;
    }
    const uint8_t* cursor = reader->buffer;
    uint32_t remaining = reader->buffer_held;
    header->version = rm_get_u16(&cursor, &remaining);
    header->length = rm_get_u16(&cursor, &remaining);
    header->stream_number = rm_get_u16(&cursor, &remaining);
    header->timestamp = rm_get_u32(&cursor, &remaining);
    const uint16_t group_and_flags = rm_get_u16(&cursor, &remaining);
    header->group = uint8_t(group_and_flags >> 8);
    header->flags = uint8_t(group_and_flags & 0xFF);
    return RM_OK;
}

rm_result rm_fetch_packet_header(rm_reader* reader, rm_packet_header* header) {
    if (reader == nullptr || header == nullptr) {
        return RM_NULL_ARGUMENT;
    }
    if (rm_read_to_buffer(reader, RM_PACKET_HEADER_SIZE, 0) != RM_PACKET_HEADER_SIZE) {
        rm_report(reader, RM_READ_FAILED, "Could not read packet header.");
        return RM_READ_FAILED;
    }
    return rm_decode_packet_header(reader, header);
}

int32_t rm_stream_index(const rm_reader* reader, uint32_t stream_number) {
    if (reader == nullptr || reader->stream_map == nullptr || stream_number >= reader->stream_map_size) {
        return -1;
    }
    return int32_t(reader->stream_map[stream_number]);
}

rm_result rm_locate_packets(rm_reader* reader) {
    if (reader == nullptr) {
        return RM_FAIL;
    }
    const uint32_t data_offset = reader->prop_record.data_offset;
    rm_seek(reader, int32_t(data_offset), RM_SEEK_SET);

    uint32_t id = 0;
    rm_result result = rm_read_chunk(reader, &id);
    if (result != RM_OK) {
        return result;
    }
    if (id != RM_ID_DATA) {
        return RM_BAD_DATA_CHUNK;
    }
    result = rm_decode_data_header(reader);
    if (result != RM_OK) {
        return result;
    }
    enter_data_chunk(reader, data_offset);

    reader->start_timestamp = NO_TIMESTAMP;
    reader->packet_start = reader->position;
    if (reader->data_header.packet_count == 0) {
        return RM_OK;
    }
    // A DATA chunk that holds no packet (an index or a trailer follows its
    // head) has no first packet to take a start time from.
    if (!packets_remain(reader)) {
        return RM_OK;
    }

    rm_packet_header first;
    result = rm_fetch_packet_header(reader, &first);
    if (result != RM_OK) {
        // ffmpeg's trailer right after the head: a chunk without packets.
        return header_is_trailer(reader) ? RM_OK : result;
    }
    if (rm_stream_index(reader, first.stream_number) == -1) {
        return RM_BAD_DATA_CHUNK;
    }
    reader->start_timestamp = first.timestamp;

    if (reader->stream_states != nullptr) {
        for (uint32_t i = 0; i < reader->stream_state_count; ++i) {
            reader->stream_states[i].last_timestamp = NO_TIMESTAMP;
            reader->stream_states[i].last_rule = 0;
        }
    }
    // Back to the first packet, so that the first read delivers it. Relative,
    // since a packet just past 4 GiB has no 32-bit offset from the start.
    rm_seek(reader, -int32_t(RM_PACKET_HEADER_SIZE), RM_SEEK_CUR);
    return RM_OK;
}

namespace {

// Steps over the payload of a packet that is not delivered. The next header
// starts `length` bytes after this one's start; a length below 12 therefore
// steps back into this header, yet still at least one byte forward. Only 0
// would stand still, and moves on to the byte after the header instead.
void step_over_payload(rm_reader* reader, const rm_packet_header& header) {
    const int32_t skip = header.length == 0 ? 0 : int32_t(header.length) - int32_t(RM_PACKET_HEADER_SIZE);
    rm_seek(reader, skip, RM_SEEK_CUR);
}

bool is_kept_stream(const rm_reader* reader, int32_t index) {
    return index >= 0 && uint32_t(index) < reader->stream_count && uint32_t(index) < reader->stream_state_count &&
           reader->stream_states != nullptr;
}

// Reads packet headers up to the next packet to deliver: one of stream
// `selector` (-1: any stream), or with `any_kept` one of any stream that
// stream selection kept. The payload is left unread.
rm_result find_packet(rm_reader* reader, rm_packet_header* header, int32_t selector, bool any_kept, int32_t* index) {
    // Every end of the packets is reported once, as a header read that found
    // nothing, as callers have always seen it.
    bool end_reported = false;
    for (;;) {
        const uint64_t reached = reader->position;
        if (!packets_remain(reader)) {
            // Where the packets stopped: the declared end where there is one,
            // whatever a look for a further chunk read after it.
            reader->packet_start = reader->data_end != 0 ? reader->data_end : reached;
            if (!end_reported) {
                rm_report(reader, RM_READ_FAILED, "Could not read packet header.");
            }
            return RM_END_OF_DATA;
        }
        reader->packet_start = reader->position;
        rm_result result = rm_fetch_packet_header(reader, header);
        if (result != RM_OK) {
            // rm_fetch_packet_header has reported it.
            if (!header_is_trailer(reader)) {
                return result;
            }
            if (reader->data_end == 0) {
                return RM_END_OF_DATA;
            }
            end_reported = true;
        }
        if (result != RM_OK || (reader->data_end != 0 && header_is_trailer(reader))) {
            // The chunk's packets end here; a further DATA chunk may follow.
            skip_to_data_end(reader);
            continue;
        }
        *index = rm_stream_index(reader, header->stream_number);
        const bool taken = any_kept ? is_kept_stream(reader, *index) : selector == -1 || *index == selector;
        if (!taken) {
            step_over_payload(reader, *header);
            continue;
        }
        if (!is_kept_stream(reader, *index)) {
            rm_report(reader, RM_CORRUPT, "Unexpected stream number in packet.");
            return RM_CORRUPT;
        }
        return RM_OK;
    }
}

// The next packet to deliver (see find_packet) with the rule flags and rule
// number its stream's state gives it.
rm_result next_packet(rm_reader* reader, int32_t selector, bool any_kept, rm_packet_header* header, int32_t* index,
                      uint16_t* asm_flags, uint8_t* asm_rule) {
    const rm_result found = find_packet(reader, header, selector, any_kept, index);
    if (found != RM_OK) {
        return found;
    }
    packet_rule(reader, &reader->stream_states[*index], header, asm_flags, asm_rule);
    return RM_OK;
}

// The record handed to the caller; `data` may be null (no payload, or none read).
void fill_packet(rm_packet* out, const rm_packet_header& header, int32_t index, uint16_t asm_flags, uint8_t asm_rule,
                 uint32_t payload_length, uint8_t* data, uint32_t file_offset) {
    out->timestamp = header.timestamp;
    out->stream = uint16_t(index);
    out->asm_flags = asm_flags;
    out->asm_rule = asm_rule;
    out->reserved = 0;
    out->length = uint16_t(payload_length);
    out->data = data;
    out->file_offset = file_offset;
    out->flags = header.flags;
}

// What the stream remembers of a packet once it has been read whole.
void note_packet(rm_reader* reader, rm_stream_state* state, const rm_packet_header& header, int32_t index,
                 uint8_t asm_rule) {
    state->last_timestamp = header.timestamp;
    state->last_rule = asm_rule;
    // Index entries hold 32-bit offsets, as the format's own index does.
    rm_index_add(reader, uint32_t(index), header.timestamp, uint32_t(reader->packet_start), header.flags);
}

}  // namespace

rm_result rm_read_packet(rm_reader* reader, rm_packet** out, int32_t selector) {
    if (reader == nullptr || out == nullptr) {
        return RM_FAIL;
    }

    rm_packet_header header;
    int32_t index = -1;
    uint16_t asm_flags = 0;
    uint8_t asm_rule = 0;
    const rm_result found = next_packet(reader, selector, false, &header, &index, &asm_flags, &asm_rule);
    if (found != RM_OK) {
        return found;
    }

    rm_packet* packet = static_cast<rm_packet*>(rm_alloc_zeroed(reader, 1, sizeof(rm_packet)));
    if (packet == nullptr) {
        return RM_OUT_OF_MEMORY;
    }
    const uint32_t file_offset = file_position(reader);

    // A length below 12 would ask for a payload of nearly 4 GiB, which no
    // allocator should be made to try; end as that failed allocation would.
    // The header has been consumed, so the next call moves on.
    if (header.length < RM_PACKET_HEADER_SIZE) {
        rm_release(reader, packet);
        return RM_OUT_OF_MEMORY;
    }
    const uint32_t payload_length = uint32_t(header.length) - RM_PACKET_HEADER_SIZE;
    uint8_t* payload = nullptr;
    // An empty payload needs no block (an allocator may return null for 0).
    if (payload_length != 0) {
        payload = static_cast<uint8_t*>(rm_alloc(reader, payload_length));
        if (payload == nullptr) {
            rm_release(reader, packet);
            return RM_OUT_OF_MEMORY;
        }
        if (rm_read_raw(reader, payload, payload_length) != payload_length) {
            rm_report(reader, RM_READ_FAILED, "Could not read packet data.");
            rm_release(reader, payload);
            rm_release(reader, packet);
            return RM_READ_FAILED;
        }
    }

    fill_packet(packet, header, index, asm_flags, asm_rule, payload_length, payload, file_offset);
    note_packet(reader, &reader->stream_states[index], header, index, asm_rule);
    *out = packet;
    return RM_OK;
}

rm_result rm_read_packet_header(rm_reader* reader, rm_packet* out, int32_t checked_stream) {
    if (reader == nullptr || out == nullptr) {
        return RM_FAIL;
    }
    rm_packet_header header;
    int32_t index = -1;
    uint16_t asm_flags = 0;
    uint8_t asm_rule = 0;
    const rm_result found = next_packet(reader, -1, true, &header, &index, &asm_flags, &asm_rule);
    if (found != RM_OK) {
        return found;
    }
    const uint32_t file_offset = file_position(reader);

    uint32_t payload_length = 0;
    if (index == checked_stream) {
        // Read as rm_read_packet reads it, so that a length below 12 or a cut
        // payload fails here with the same code.
        if (header.length < RM_PACKET_HEADER_SIZE) {
            return RM_OUT_OF_MEMORY;
        }
        payload_length = uint32_t(header.length) - RM_PACKET_HEADER_SIZE;
        uint8_t scratch[4096];
        for (uint32_t left = payload_length; left != 0;) {
            const uint32_t part = left < sizeof scratch ? left : uint32_t(sizeof scratch);
            if (rm_read_raw(reader, scratch, part) != part) {
                rm_report(reader, RM_READ_FAILED, "Could not read packet data.");
                return RM_READ_FAILED;
            }
            left -= part;
        }
    } else {
        // Stepped over as a stream selector steps over other streams' packets.
        if (header.length >= RM_PACKET_HEADER_SIZE) {
            payload_length = uint32_t(header.length) - RM_PACKET_HEADER_SIZE;
        }
        step_over_payload(reader, header);
    }

    fill_packet(out, header, index, asm_flags, asm_rule, payload_length, nullptr, file_offset);
    note_packet(reader, &reader->stream_states[index], header, index, asm_rule);
    return RM_OK;
}

rm_result rm_index_add(rm_reader* reader, uint32_t stream, uint32_t timestamp, uint32_t offset, uint8_t flags) {
    if (reader == nullptr || reader->stream_states == nullptr || stream >= reader->stream_count) {
        return RM_FAIL;
    }
    if ((flags & RM_PACKET_KEYFRAME) == 0) {
        return RM_OK;
    }
    rm_stream_state* state = &reader->stream_states[stream];
    // The storage was sized once from the durations; it never grows here.
    if (state->index_entries == nullptr || state->index_count >= state->index_capacity) {
        return RM_FAIL;
    }
    if (state->index_count != 0 &&
        (timestamp <= state->last_entry_time || timestamp - state->last_entry_time <= state->index_spacing)) {
        return RM_FAIL;
    }
    rm_index_entry* entry = &state->index_entries[state->index_count];
    entry->timestamp = timestamp;
    entry->offset = offset;
    state->last_entry_time = timestamp;
    state->index_count += 1;
    return RM_OK;
}
