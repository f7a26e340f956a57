// Header chunks: the chunk reader, the .RMF, PROP, MDPR and CONT decoders, and the media-properties table.
#include <cstring>

#include "rm_internal.h"

namespace {

// A cursor over the chunk held in the read buffer, from its first byte. The
// held count is trusted only as far as the buffer really reaches.
bool open_held_chunk(const rm_reader* reader, uint32_t minimum, const uint8_t** cursor, uint32_t* remaining) {
    if (!reader || !reader->buffer) {
        return false;
    }
    uint32_t held = reader->buffer_held < reader->buffer_size ? reader->buffer_held : reader->buffer_size;
    if (held < minimum) {
        return false;
    }
    *cursor = reader->buffer;
    *remaining = held;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- chunk reader

rm_result rm_read_chunk_head(rm_reader* reader, rm_chunk_header* header) {
    if (!reader || !header) {
        return RM_NULL_ARGUMENT;
    }
    if (rm_read_to_buffer(reader, RM_CHUNK_HEADER_SIZE, 0) != RM_CHUNK_HEADER_SIZE) {
        rm_report(reader, RM_READ_FAILED, "Could not read chunk header.");
        return RM_READ_FAILED;
    }
    // Cannot fail once ten bytes are held, but an unchecked decode would leave
    // the header unset to the compiler's eyes.
    if (rm_decode_chunk_header(reader, header) != RM_OK) {
        rm_report(reader, RM_READ_FAILED, "Could not read chunk header.");
        return RM_READ_FAILED;
    }
    return RM_OK;
}

bool rm_chunk_size_acceptable(const rm_chunk_header* header) {
    if (header->id == RM_ID_DATA || header->id == RM_ID_INDX) {
        return true;  // only their fixed heads are read
    }
    return header->size >= RM_CHUNK_HEADER_SIZE && header->size <= RM_MAX_HEADER_CHUNK_SIZE;
}

rm_result rm_read_chunk_rest(rm_reader* reader, const rm_chunk_header* header) {
    if (!reader || !header) {
        return RM_NULL_ARGUMENT;
    }
    // DATA and INDX contribute only their fixed heads; the packets and the
    // index entries stay in the file.
    uint32_t wanted;
    if (header->id == RM_ID_DATA) {
        wanted = RM_DATA_HEADER_SIZE;
    } else if (header->id == RM_ID_INDX) {
        wanted = RM_INDX_HEADER_SIZE;
    } else {
        // A size that cannot hold its own header, or one no header chunk
        // comes near, is damage: refuse it before it sizes the buffer.
        if (!rm_chunk_size_acceptable(header)) {
            rm_report(reader, RM_READ_FAILED, "Could not read chunk data.");
            return RM_READ_FAILED;
        }
        wanted = header->size;
    }
    // The size field is only a claim: the buffer grows (at most doubling)
    // only once the bytes read so far have filled it, so a short file never
    // makes the reader allocate much beyond what it really holds.
    uint32_t held = RM_CHUNK_HEADER_SIZE;
    while (held < wanted) {
        if (reader->buffer_size <= held) {
            uint64_t grown = uint64_t(reader->buffer_size) * 2;
            if (grown < RM_INITIAL_BUFFER_SIZE) {
                grown = RM_INITIAL_BUFFER_SIZE;
            }
            if (grown > wanted) {
                grown = wanted;
            }
            if (rm_grow_buffer(reader->memory_user, reader->allocate_fn, reader->release_fn, &reader->buffer,
                               &reader->buffer_size, uint32_t(grown)) != RM_OK) {
                rm_report(reader, RM_READ_FAILED, "Could not read chunk data.");
                return RM_READ_FAILED;
            }
        }
        const uint32_t room = reader->buffer_size < wanted ? reader->buffer_size : wanted;
        const uint32_t step = room - held;
        const uint32_t got = rm_read_to_buffer(reader, step, held);
        held += got;
        if (got != step) {
            rm_report(reader, RM_READ_FAILED, "Could not read chunk data.");
            return RM_READ_FAILED;
        }
    }
    return RM_OK;
}

rm_result rm_read_chunk(rm_reader* reader, uint32_t* id) {
    if (!reader || !id) {
        return RM_NULL_ARGUMENT;
    }
    rm_chunk_header header;
    rm_result result = rm_read_chunk_head(reader, &header);
    if (result == RM_OK) {
        result = rm_read_chunk_rest(reader, &header);
    }
    if (result != RM_OK) {
        return result;
    }
    *id = header.id;
    return RM_OK;
}

// ---------------------------------------------------------------- decoders

rm_result rm_decode_chunk_header(rm_reader* reader, rm_chunk_header* header) {
    const uint8_t* cursor;
    uint32_t remaining;
    if (!header || !open_held_chunk(reader, RM_CHUNK_HEADER_SIZE, &cursor, &remaining)) {
        return RM_FAIL;
    }
    header->id = rm_get_u32(&cursor, &remaining);
    header->size = rm_get_u32(&cursor, &remaining);
    header->object_version = rm_get_u16(&cursor, &remaining);
    return RM_OK;
}

rm_result rm_decode_file_header(rm_reader* reader) {
    const uint8_t* cursor;
    uint32_t remaining;
    if (!open_held_chunk(reader, RM_FILE_HEADER_SIZE, &cursor, &remaining)) {
        return RM_FAIL;
    }
    rm_file_header& record = reader->rmf_record;
    record.id = rm_get_u32(&cursor, &remaining);
    record.size = rm_get_u32(&cursor, &remaining);
    record.object_version = rm_get_u16(&cursor, &remaining);
    record.file_version = rm_get_u32(&cursor, &remaining);
    record.header_count = rm_get_u32(&cursor, &remaining);
    return RM_OK;
}

rm_result rm_decode_properties(rm_reader* reader) {
    const uint8_t* cursor;
    uint32_t remaining;
    if (!open_held_chunk(reader, RM_PROPERTIES_SIZE, &cursor, &remaining)) {
        return RM_FAIL;
    }
    rm_properties& record = reader->prop_record;
    record.id = rm_get_u32(&cursor, &remaining);
    record.size = rm_get_u32(&cursor, &remaining);
    record.object_version = rm_get_u16(&cursor, &remaining);
    record.max_bit_rate = rm_get_u32(&cursor, &remaining);
    record.avg_bit_rate = rm_get_u32(&cursor, &remaining);
    record.max_packet_size = rm_get_u32(&cursor, &remaining);
    record.avg_packet_size = rm_get_u32(&cursor, &remaining);
    record.packet_count = rm_get_u32(&cursor, &remaining);
    record.duration = rm_get_u32(&cursor, &remaining);
    record.preroll = rm_get_u32(&cursor, &remaining);
    record.index_offset = rm_get_u32(&cursor, &remaining);
    record.data_offset = rm_get_u32(&cursor, &remaining);
    record.stream_count = rm_get_u16(&cursor, &remaining);
    record.flags = rm_get_u16(&cursor, &remaining);
    return RM_OK;
}

// Copy failures are passed on: a copy that failed leaves the cursor where it
// was, and decoding on from there would read the string's bytes as fields.
rm_result rm_decode_content(rm_reader* reader) {
    const uint8_t* cursor;
    uint32_t remaining;
    if (!open_held_chunk(reader, RM_CONTENT_MIN_SIZE, &cursor, &remaining)) {
        return RM_FAIL;
    }
    rm_content& record = reader->cont_record;
    record.id = rm_get_u32(&cursor, &remaining);
    record.size = rm_get_u32(&cursor, &remaining);
    record.object_version = rm_get_u16(&cursor, &remaining);

    // Each string but the last must leave room for the next length field.
    struct Field {
        uint16_t* length;
        char** text;
        uint32_t room_after;
    };
    const Field fields[] = {
        {&record.title_length, &record.title, 2},
        {&record.author_length, &record.author, 2},
        {&record.copyright_length, &record.copyright, 2},
        {&record.comment_length, &record.comment, 0},
    };
    for (const Field& field : fields) {
        *field.length = rm_get_u16(&cursor, &remaining);
        if (remaining < uint32_t(*field.length) + field.room_after) {
            return RM_FAIL;
        }
        rm_result copied = rm_get_text(&cursor, &remaining, *field.length, field.text, reader->memory_user,
                                       reader->allocate_fn, reader->release_fn);
        if (copied != RM_OK) {
            return copied;
        }
    }
    return RM_OK;
}

rm_result rm_decode_media_props(rm_reader* reader, rm_media_props* slot) {
    const uint8_t* cursor;
    uint32_t remaining;
    if (!slot || !open_held_chunk(reader, RM_MEDIA_PROPS_MIN_SIZE, &cursor, &remaining)) {
        return RM_FAIL;
    }
    slot->id = rm_get_u32(&cursor, &remaining);
    slot->size = rm_get_u32(&cursor, &remaining);
    slot->object_version = rm_get_u16(&cursor, &remaining);
    slot->stream_number = rm_get_u16(&cursor, &remaining);
    slot->max_bit_rate = rm_get_u32(&cursor, &remaining);
    slot->avg_bit_rate = rm_get_u32(&cursor, &remaining);
    slot->max_packet_size = rm_get_u32(&cursor, &remaining);
    slot->avg_packet_size = rm_get_u32(&cursor, &remaining);
    slot->start_time = rm_get_u32(&cursor, &remaining);
    slot->preroll = rm_get_u32(&cursor, &remaining);
    slot->duration = rm_get_u32(&cursor, &remaining);

    slot->stream_name_length = rm_get_u8(&cursor, &remaining);
    if (remaining < uint32_t(slot->stream_name_length) + 1) {
        return RM_FAIL;
    }
    rm_result copied = rm_get_text(&cursor, &remaining, slot->stream_name_length, &slot->stream_name,
                                   reader->memory_user, reader->allocate_fn, reader->release_fn);
    if (copied != RM_OK) {
        return copied;
    }

    slot->mime_type_length = rm_get_u8(&cursor, &remaining);
    if (remaining < uint32_t(slot->mime_type_length) + 4) {
        return RM_FAIL;
    }
    copied = rm_get_text(&cursor, &remaining, slot->mime_type_length, &slot->mime_type, reader->memory_user,
                         reader->allocate_fn, reader->release_fn);
    if (copied != RM_OK) {
        return copied;
    }

    slot->type_specific_length = rm_get_u32(&cursor, &remaining);
    if (remaining < slot->type_specific_length) {
        return RM_FAIL;
    }
    return rm_get_bytes(&cursor, &remaining, slot->type_specific_length, &slot->type_specific_data, reader->memory_user,
                        reader->allocate_fn, reader->release_fn);
}

uint16_t rm_peek_media_stream_number(const rm_reader* reader) {
    const uint8_t* cursor;
    uint32_t remaining;
    // The stream number is the first field after the chunk's head.
    if (!open_held_chunk(reader, RM_CHUNK_HEADER_SIZE + 2, &cursor, &remaining)) {
        return 0;
    }
    return rm_peek_u16(cursor + RM_CHUNK_HEADER_SIZE, remaining - RM_CHUNK_HEADER_SIZE);
}

// ---------------------------------------------------------------- media-properties table

rm_result rm_reset_media_table(rm_reader* reader) {
    if (!reader) {
        return RM_OUT_OF_MEMORY;
    }
    rm_drop_media_table(reader);

    // Version 1 files may list the streams of a multi-rate file more than
    // once; the limit leaves room for that.
    uint32_t stream_count = reader->prop_record.stream_count;
    uint32_t limit = stream_count;
    if (reader->rmf_record.file_version != 0 && stream_count > 2) {
        limit = 2 * stream_count - 2;
    }
    // Nothing is allocated for the limit itself: a 50-byte PROP may declare
    // 65535 streams, and only the MDPR chunks that really follow, each at
    // least 41 bytes of the file, earn a record.
    reader->media_number_limit = limit;
    return RM_OK;
}

rm_media_props* rm_append_media_record(rm_reader* reader) {
    if (!reader) {
        return nullptr;
    }
    if (reader->media_count >= reader->media_capacity) {
        // Doubling keeps the copies linear in the number of records.
        const uint64_t grown = reader->media_capacity < 4 ? 4 : uint64_t(reader->media_capacity) * 2;
        rm_media_props* table = static_cast<rm_media_props*>(rm_alloc_zeroed(reader, grown, sizeof(rm_media_props)));
        if (!table) {
            return nullptr;
        }
        if (reader->media_props) {
            std::memcpy(table, reader->media_props, size_t(reader->media_capacity) * sizeof(rm_media_props));
            rm_release(reader, reader->media_props);
        }
        reader->media_props = table;
        reader->media_capacity = uint32_t(grown);
    }
    rm_media_props* record = &reader->media_props[reader->media_count];
    rm_drop_media_props(reader, record);
    std::memset(record, 0, sizeof(rm_media_props));
    return record;
}

rm_result rm_compact_media_table(rm_reader* reader, const uint32_t* slots, uint32_t count) {
    rm_media_props* table = static_cast<rm_media_props*>(rm_alloc_zeroed(reader, count, sizeof(rm_media_props)));
    if (!table) {
        return RM_OUT_OF_MEMORY;
    }
    for (uint32_t k = 0; k < count; ++k) {
        rm_media_props& record = reader->media_props[slots[k]];
        table[k] = record;
        std::memset(&record, 0, sizeof(rm_media_props));
    }
    rm_drop_media_table(reader);  // what is left in it was not kept
    reader->media_props = table;
    reader->media_count = count;
    reader->media_capacity = count;
    return RM_OK;
}

// ---------------------------------------------------------------- teardown

void rm_drop_content(rm_reader* reader) {
    if (!reader) {
        return;
    }
    rm_release_and_null(reader, reader->cont_record.title);
    rm_release_and_null(reader, reader->cont_record.author);
    rm_release_and_null(reader, reader->cont_record.copyright);
    rm_release_and_null(reader, reader->cont_record.comment);
}

void rm_drop_media_props(rm_reader* reader, rm_media_props* record) {
    if (!reader || !record) {
        return;
    }
    rm_release_and_null(reader, record->stream_name);
    rm_release_and_null(reader, record->mime_type);
    rm_release_and_null(reader, record->type_specific_data);
}

void rm_drop_media_table(rm_reader* reader) {
    if (!reader) {
        return;
    }
    if (reader->media_props) {
        // Every slot, not only the first media_count: a record whose decoding
        // failed sits above the count, and its strings must not leak.
        for (uint32_t i = 0; i < reader->media_capacity; ++i) {
            rm_drop_media_props(reader, &reader->media_props[i]);
        }
        rm_release_and_null(reader, reader->media_props);
    }
    reader->media_count = 0;
    reader->media_capacity = 0;
    reader->media_number_limit = 0;
}

void rm_drop_read_buffer(rm_reader* reader) {
    if (!reader) {
        return;
    }
    rm_release_and_null(reader, reader->buffer);
    reader->buffer_size = 0;
    reader->buffer_held = 0;
}
