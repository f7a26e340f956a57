// Logical (multi-rate) stream headers, and the selection of the streams an ordinary player can read.
#include <cstring>

#include "rm_internal.h"

namespace {

const char MIME_LOGICAL_FILEINFO[] = "logical-fileinfo";
const char MIME_LOGICAL_PREFIX[] = "logical-";
const uint32_t MIME_LOGICAL_PREFIX_LENGTH = 8;

// Smallest encoded name/value property: the fixed fields with empty name and
// value. Used to refuse a property count the bytes left cannot possibly hold
// before its records are allocated.
const uint32_t NAME_VALUE_MIN_SIZE = 13;

// Only the slots that hold decoded records: never more than were allocated.
uint32_t media_slots(const rm_reader* reader) {
    if (reader->media_props == nullptr) {
        return 0;
    }
    return reader->media_count < reader->media_capacity ? reader->media_count : reader->media_capacity;
}

}  // namespace

int rm_mime_is_logical_fileinfo(const char* mime) {
    return mime != nullptr && strcmp(mime, MIME_LOGICAL_FILEINFO) == 0;
}

int rm_mime_is_logical_stream(const char* mime) {
    if (mime == nullptr || rm_mime_is_logical_fileinfo(mime)) {
        return 0;
    }
    return strncmp(mime, MIME_LOGICAL_PREFIX, MIME_LOGICAL_PREFIX_LENGTH) == 0;
}

rm_result rm_decode_name_value(rm_reader* reader, rm_name_value* out, const uint8_t** cursor, uint32_t* remaining) {
    if (reader == nullptr || out == nullptr || cursor == nullptr || *cursor == nullptr || remaining == nullptr ||
        *remaining < 7) {
        return RM_FAIL;
    }
    out->size = rm_get_u32(cursor, remaining);
    out->object_version = rm_get_u16(cursor, remaining);
    out->name_length = rm_get_u8(cursor, remaining);
    // The name, then type (4) and value length (2).
    if (*remaining < uint32_t(out->name_length) + 6) {
        return RM_FAIL;
    }
    // A failed copy leaves the cursor on the name: going on would decode the
    // name's bytes as the following fields.
    rm_result result = rm_get_text(cursor, remaining, out->name_length, &out->name, reader->memory_user,
                                   reader->allocate_fn, reader->release_fn);
    if (result != RM_OK) {
        return result;
    }
    out->type = rm_get_u32(cursor, remaining);
    out->value_length = rm_get_u16(cursor, remaining);
    if (*remaining < out->value_length) {
        return RM_FAIL;
    }
    return rm_get_bytes(cursor, remaining, out->value_length, &out->value, reader->memory_user, reader->allocate_fn,
                        reader->release_fn);
}

rm_result rm_decode_logical_stream(rm_reader* reader, const rm_media_props* source, rm_logical_stream* out) {
    if (reader == nullptr || source == nullptr || out == nullptr || source->type_specific_data == nullptr ||
        source->type_specific_length < 8) {
        return RM_FAIL;
    }
    // Start from an empty record so that every array matches its count.
    rm_drop_logical_stream(reader, out);
    out->physical_count = 0;
    out->rule_count = 0;

    const uint8_t* cursor = source->type_specific_data;
    uint32_t remaining = source->type_specific_length;

    out->size = rm_get_u32(&cursor, &remaining);
    out->object_version = rm_get_u16(&cursor, &remaining);
    const uint16_t physical_count = rm_get_u16(&cursor, &remaining);
    // Stream numbers (2 each), data offsets (4 each), then the rule count.
    if (remaining < 6u * physical_count + 2u) {
        return RM_FAIL;
    }
    // The room is checked, so a copy can only fail for want of memory; a
    // missing array would leave its count pointing at nothing.
    rm_result result =
        rm_get_array(&cursor, &remaining, physical_count, 2, reinterpret_cast<void**>(&out->physical_streams),
                     reader->memory_user, reader->allocate_fn, reader->release_fn);
    if (result != RM_OK) {
        return result;
    }
    result = rm_get_array(&cursor, &remaining, physical_count, 4, reinterpret_cast<void**>(&out->data_offsets),
                          reader->memory_user, reader->allocate_fn, reader->release_fn);
    if (result != RM_OK) {
        return result;
    }
    out->physical_count = physical_count;

    const uint16_t rule_count = rm_get_u16(&cursor, &remaining);
    // Rule map entries (2 each), then the property count.
    if (remaining < 2u * rule_count + 2u) {
        return RM_FAIL;
    }
    result = rm_get_array(&cursor, &remaining, rule_count, 2, reinterpret_cast<void**>(&out->rule_map),
                          reader->memory_user, reader->allocate_fn, reader->release_fn);
    if (result != RM_OK) {
        return result;
    }
    out->rule_count = rule_count;

    const uint16_t property_count = rm_get_u16(&cursor, &remaining);
    rm_drop_name_values(reader, out);
    if (property_count == 0) {
        return RM_OK;
    }
    // Decoding would fail anyway; refusing first keeps a 16-bit count from
    // sizing an allocation the record's bytes do not back.
    if (uint64_t(property_count) * NAME_VALUE_MIN_SIZE > remaining) {
        return RM_FAIL;
    }
    out->name_values = static_cast<rm_name_value*>(rm_alloc_zeroed(reader, property_count, sizeof(rm_name_value)));
    if (out->name_values == nullptr) {
        return RM_FAIL;
    }
    out->name_value_count = property_count;
    for (uint32_t i = 0; i < property_count; ++i) {
        result = rm_decode_name_value(reader, &out->name_values[i], &cursor, &remaining);
        if (result != RM_OK) {
            return result;
        }
    }
    return RM_OK;
}

rm_result rm_load_logical_streams(rm_reader* reader) {
    if (reader == nullptr) {
        return RM_FAIL;
    }
    const uint32_t slots = media_slots(reader);

    uint32_t logical_count = 0;
    for (uint32_t i = 0; i < slots; ++i) {
        if (rm_mime_is_logical_stream(reader->media_props[i].mime_type)) {
            ++logical_count;
        }
    }
    if (logical_count > 0) {
        rm_drop_logical_table(reader);
        reader->logical_streams =
            static_cast<rm_logical_stream*>(rm_alloc_zeroed(reader, logical_count, sizeof(rm_logical_stream)));
        if (reader->logical_streams == nullptr) {
            return RM_FAIL;
        }
        reader->logical_count = logical_count;
        uint32_t next = 0;
        for (uint32_t i = 0; i < slots; ++i) {
            if (!rm_mime_is_logical_stream(reader->media_props[i].mime_type)) {
                continue;
            }
            const rm_result result =
                rm_decode_logical_stream(reader, &reader->media_props[i], &reader->logical_streams[next]);
            if (result != RM_OK) {
                rm_report(reader, result, "Failed to parse logical stream header.");
                return result;
            }
            ++next;
        }
    }

    rm_drop_logical_fileinfo(reader);
    // Only the first fileinfo MDPR counts; later ones are dropped by the selection.
    const rm_media_props* fileinfo_source = nullptr;
    for (uint32_t i = 0; i < slots && fileinfo_source == nullptr; ++i) {
        if (rm_mime_is_logical_fileinfo(reader->media_props[i].mime_type)) {
            fileinfo_source = &reader->media_props[i];
        }
    }
    if (fileinfo_source == nullptr) {
        return RM_OK;
    }
    reader->fileinfo = static_cast<rm_logical_stream*>(rm_alloc_zeroed(reader, 1, sizeof(rm_logical_stream)));
    if (reader->fileinfo == nullptr) {
        return RM_OUT_OF_MEMORY;
    }
    const rm_result result = rm_decode_logical_stream(reader, fileinfo_source, reader->fileinfo);
    if (result != RM_OK) {
        rm_report(reader, result, "Failed to parse logical-fileinfo header.");
        return result;
    }
    return RM_OK;
}

// Keeps the streams an ordinary player can read: every MDPR that is neither
// a logical MDPR nor claimed as a physical stream by a logical stream header.
rm_result rm_keep_compatible_streams(rm_reader* reader) {
    if (reader == nullptr) {
        return RM_BAD_FILE;
    }
    const uint32_t slots = media_slots(reader);
    if (slots == 0) {
        return RM_BAD_FILE;
    }
    uint32_t* keep = static_cast<uint32_t*>(rm_alloc_zeroed(reader, slots, sizeof(uint32_t)));
    if (keep == nullptr) {
        return RM_BAD_FILE;
    }
    for (uint32_t i = 0; i < slots; ++i) {
        keep[i] = 1;
    }

    // A logical header names the file's stream numbers, not table positions:
    // mark the claimed numbers (16-bit, so one bit each fits in 8 KiB), then
    // drop every record that carries one. A number no record carries claims
    // nothing, and the keep table is never indexed by a file value.
    uint8_t claimed[65536 / 8];
    memset(claimed, 0, sizeof(claimed));
    for (uint32_t l = 0; l < reader->logical_count && reader->logical_streams != nullptr; ++l) {
        const rm_logical_stream& logical = reader->logical_streams[l];
        if (logical.physical_streams == nullptr) {
            continue;
        }
        for (uint32_t p = 0; p < logical.physical_count; ++p) {
            const uint16_t number = logical.physical_streams[p];
            claimed[number >> 3] = uint8_t(claimed[number >> 3] | (1u << (number & 7)));
        }
    }
    for (uint32_t i = 0; i < slots; ++i) {
        const uint16_t number = reader->media_props[i].stream_number;
        if (claimed[number >> 3] & (1u << (number & 7))) {
            keep[i] = 0;
        }
    }

    for (uint32_t i = 0; i < slots; ++i) {
        const char* mime = reader->media_props[i].mime_type;
        if (rm_mime_is_logical_stream(mime) || rm_mime_is_logical_fileinfo(mime)) {
            keep[i] = 0;
            rm_drop_media_props(reader, &reader->media_props[i]);
        }
    }

    // The flags become the list of kept slots, in table order.
    uint32_t kept = 0;
    for (uint32_t i = 0; i < slots; ++i) {
        if (keep[i]) {
            keep[kept++] = i;
        }
    }
    const rm_result result = kept == 0 ? RM_BAD_FILE : rm_compact_media_table(reader, keep, kept);
    rm_release(reader, keep);
    if (result != RM_OK) {
        return result;
    }
    rm_drop_logical_table(reader);
    reader->stream_count = kept;
    return RM_OK;
}

void rm_drop_name_value(rm_reader* reader, rm_name_value* record) {
    if (reader == nullptr || record == nullptr) {
        return;
    }
    rm_release_and_null(reader, record->name);
    rm_release_and_null(reader, record->value);
}

void rm_drop_name_values(rm_reader* reader, rm_logical_stream* record) {
    if (reader == nullptr || record == nullptr) {
        return;
    }
    if (record->name_values != nullptr) {
        for (uint32_t i = 0; i < record->name_value_count; ++i) {
            rm_drop_name_value(reader, &record->name_values[i]);
        }
        rm_release_and_null(reader, record->name_values);
    }
    record->name_value_count = 0;
}

void rm_drop_logical_stream(rm_reader* reader, rm_logical_stream* record) {
    if (reader == nullptr || record == nullptr) {
        return;
    }
    rm_release_and_null(reader, record->physical_streams);
    rm_release_and_null(reader, record->data_offsets);
    rm_release_and_null(reader, record->rule_map);
    rm_drop_name_values(reader, record);
}

void rm_drop_logical_table(rm_reader* reader) {
    if (reader == nullptr) {
        return;
    }
    if (reader->logical_streams != nullptr) {
        for (uint32_t i = 0; i < reader->logical_count; ++i) {
            rm_drop_logical_stream(reader, &reader->logical_streams[i]);
        }
        rm_release_and_null(reader, reader->logical_streams);
    }
    reader->logical_count = 0;
}

void rm_drop_logical_fileinfo(rm_reader* reader) {
    if (reader == nullptr || reader->fileinfo == nullptr) {
        return;
    }
    rm_drop_logical_stream(reader, reader->fileinfo);
    rm_release_and_null(reader, reader->fileinfo);
}
