// Logical (multi-rate) stream headers, the selection of the streams to read, and what each kept one is.
#include <algorithm>
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

bool is_logical(const char* mime) { return rm_mime_is_logical_stream(mime) || rm_mime_is_logical_fileinfo(mime); }

// Makes the table the slots whose flag is set (the flags become the list of
// kept slots, in table order), then forgets the logical table unless asked
// to keep it. Nothing left is a bad file.
rm_result keep_flagged(rm_reader* reader, uint32_t* keep, uint32_t slots, bool keep_logical_table) {
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
    if (!keep_logical_table) {
        rm_drop_logical_table(reader);
    }
    reader->stream_count = kept;
    return RM_OK;
}

// ---------------------------------------------------------------- rule books
// A rule book is rules separated by ';', each of fields separated by ','
// (a condition "#(...)" or name=value), neither separator counting inside
// quotes. Nothing here allocates: the text is walked where it lies.

const char RULE_BOOK_NAME[] = "ASMRuleBook";
const char AVERAGE_BANDWIDTH[] = "AverageBandwidth";
const uint32_t AVERAGE_BANDWIDTH_LENGTH = sizeof(AVERAGE_BANDWIDTH) - 1;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where the piece starting at `at` ends: at the next `separator` outside
// quotes, or at `end`.
uint32_t piece_end(const char* text, uint32_t at, uint32_t end, char separator) {
    bool quoted = false;
    for (; at < end; ++at) {
        if (text[at] == '"') {
            quoted = !quoted;
        } else if (!quoted && text[at] == separator) {
            return at;
        }
    }
    return end;
}

uint32_t skip_blanks(const char* text, uint32_t at, uint32_t end) {
    while (at < end && is_blank(text[at])) {
        ++at;
    }
    return at;
}

// The AverageBandwidth that the rule in [begin, end) names (quoted or not,
// any case, as encoders write either), 0 when it names none.
uint32_t rule_average_bandwidth(const char* text, uint32_t begin, uint32_t end) {
    for (uint32_t field = begin; field < end;) {
        const uint32_t field_end = piece_end(text, field, end, ',');
        uint32_t at = skip_blanks(text, field, field_end);
        if (field_end - at > AVERAGE_BANDWIDTH_LENGTH &&
            rm_compare_nocase_n(text + at, AVERAGE_BANDWIDTH, AVERAGE_BANDWIDTH_LENGTH) == 0) {
            at = skip_blanks(text, at + AVERAGE_BANDWIDTH_LENGTH, field_end);
            if (at < field_end && text[at] == '=') {
                at = skip_blanks(text, at + 1, field_end);
                if (at < field_end && text[at] == '"') {
                    ++at;
                }
                uint64_t value = 0;
                for (; at < field_end && text[at] >= '0' && text[at] <= '9'; ++at) {
                    value = std::min<uint64_t>(value * 10 + uint64_t(text[at] - '0'), UINT32_MAX);
                }
                return uint32_t(value);
            }
        }
        field = field_end + 1;
    }
    return 0;
}

// The "ASMRuleBook" text among a logical stream's properties, up to its
// terminator; false when it has none.
bool find_rule_book(const rm_logical_stream& logical, const char** text, uint32_t* length) {
    for (uint32_t i = 0; i < logical.name_value_count && logical.name_values != nullptr; ++i) {
        const rm_name_value& property = logical.name_values[i];
        if (property.value == nullptr || (property.type != RM_PROPERTY_STRING && property.type != RM_PROPERTY_BUFFER) ||
            rm_compare_nocase(property.name, RULE_BOOK_NAME) != 0) {
            continue;
        }
        const void* terminator = memchr(property.value, 0, property.value_length);
        *text = reinterpret_cast<const char*>(property.value);
        *length = terminator != nullptr ? uint32_t(static_cast<const uint8_t*>(terminator) - property.value)
                                        : property.value_length;
        return true;
    }
    return false;
}

// Counts each rule of the logical stream's rule map against the kept stream
// it names (a place among its physical streams) and takes the bandwidth of
// its rule in the book. A stream's bandwidth is the largest its rules name:
// of the rules one rate carries, the keyframe rule names the rate's average,
// the dependent non-keyframe rule 0, a thinning rule (keyframes only, for
// connections below the lowest rate) none, and rules for other connection
// bandwidths are alternatives, never delivered together, so a sum would
// count the rate twice.
void note_rules(rm_reader* reader, const rm_logical_stream& logical) {
    if (logical.rule_map == nullptr || logical.physical_streams == nullptr) {
        return;
    }
    const char* book = nullptr;
    uint32_t length = 0;
    const bool has_book = find_rule_book(logical, &book, &length);
    uint32_t at = 0;  // where the next rule of the book starts
    for (uint32_t rule = 0; rule < logical.rule_count; ++rule) {
        uint32_t bandwidth = 0;
        if (has_book && at < length) {
            const uint32_t rule_end = piece_end(book, at, length, ';');
            bandwidth = rule_average_bandwidth(book, at, rule_end);
            at = rule_end + 1;
        }
        const uint16_t place = logical.rule_map[rule];
        if (place >= logical.physical_count) {
            continue;
        }
        const int32_t index = rm_stream_index(reader, logical.physical_streams[place]);
        if (index < 0 || uint32_t(index) >= reader->stream_rate_count) {
            continue;
        }
        rm_stream_rate& rate = reader->stream_rates[index];
        // A stream that another logical stream claimed first is that one's.
        if (!rate.claimed || rate.logical_stream_number != logical.stream_number) {
            continue;
        }
        ++rate.rule_count;  // at most the rule count, a 16-bit number
        rate.average_bandwidth = std::max(rate.average_bandwidth, bandwidth);
    }
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
            reader->logical_streams[next].stream_number = reader->media_props[i].stream_number;
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
        if (is_logical(reader->media_props[i].mime_type)) {
            keep[i] = 0;
            rm_drop_media_props(reader, &reader->media_props[i]);
        }
    }
    return keep_flagged(reader, keep, slots, false);
}

// Keeps every physical stream: every MDPR that is not logical, claimed or
// not. The logical table stays, each record taking its MDPR's MIME type, so
// that rm_note_stream_rates can tell what each kept stream is.
rm_result rm_keep_physical_streams(rm_reader* reader) {
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
    // Logical records were decoded in table order, one per logical MDPR.
    uint32_t next_logical = 0;
    for (uint32_t i = 0; i < slots; ++i) {
        rm_media_props& media = reader->media_props[i];
        keep[i] = is_logical(media.mime_type) ? 0 : 1;
        if (rm_mime_is_logical_stream(media.mime_type) && next_logical < reader->logical_count &&
            reader->logical_streams != nullptr) {
            rm_logical_stream& logical = reader->logical_streams[next_logical++];
            rm_release_and_null(reader, logical.mime_type);
            logical.mime_type = media.mime_type;  // moved: the record below is dropped
            media.mime_type = nullptr;
        }
    }
    return keep_flagged(reader, keep, slots, true);
}

rm_result rm_note_stream_rates(rm_reader* reader) {
    if (reader == nullptr) {
        return RM_FAIL;
    }
    rm_release_and_null(reader, reader->stream_rates);
    reader->stream_rate_count = 0;
    if (reader->stream_count == 0) {
        return RM_OK;
    }
    reader->stream_rates =
        static_cast<rm_stream_rate*>(rm_alloc_zeroed(reader, reader->stream_count, sizeof(rm_stream_rate)));
    if (reader->stream_rates == nullptr) {
        return RM_OUT_OF_MEMORY;
    }
    reader->stream_rate_count = reader->stream_count;
    for (uint32_t l = 0; l < reader->logical_count && reader->logical_streams != nullptr; ++l) {
        const rm_logical_stream& logical = reader->logical_streams[l];
        for (uint32_t place = 0; place < logical.physical_count && logical.physical_streams != nullptr; ++place) {
            const int32_t index = rm_stream_index(reader, logical.physical_streams[place]);
            // The first claim of a stream holds, within a logical stream too.
            if (index < 0 || uint32_t(index) >= reader->stream_rate_count || reader->stream_rates[index].claimed) {
                continue;
            }
            rm_stream_rate& rate = reader->stream_rates[index];
            rate.claimed = 1;
            rate.logical_mime_type = logical.mime_type;
            rate.logical_stream_number = logical.stream_number;
            rate.rate = uint16_t(place + 1);  // place < a 16-bit count
            rate.rate_count = logical.physical_count;
        }
        note_rules(reader, logical);
    }
    return RM_OK;
}

rm_result rm_note_named_data_offsets(rm_reader* reader) {
    if (reader == nullptr) {
        return RM_FAIL;
    }
    rm_release_and_null(reader, reader->named_data_offsets);
    reader->named_data_count = 0;
    uint64_t named = 0;
    for (uint32_t l = 0; l < reader->logical_count && reader->logical_streams != nullptr; ++l) {
        if (reader->logical_streams[l].data_offsets != nullptr) {
            named += reader->logical_streams[l].physical_count;
        }
    }
    if (named == 0) {
        return RM_OK;
    }
    uint32_t* offsets = static_cast<uint32_t*>(rm_alloc_zeroed(reader, named, sizeof(uint32_t)));
    if (offsets == nullptr) {
        return RM_OUT_OF_MEMORY;
    }
    uint32_t count = 0;
    for (uint32_t l = 0; l < reader->logical_count; ++l) {
        const rm_logical_stream& logical = reader->logical_streams[l];
        for (uint32_t p = 0; p < logical.physical_count && logical.data_offsets != nullptr; ++p) {
            // 0 names nothing: the file's own header is there.
            if (logical.data_offsets[p] != 0) {
                offsets[count++] = logical.data_offsets[p];
            }
        }
    }
    std::sort(offsets, offsets + count);
    count = uint32_t(std::unique(offsets, offsets + count) - offsets);
    if (count == 0) {
        rm_release(reader, offsets);
        return RM_OK;
    }
    reader->named_data_offsets = offsets;
    reader->named_data_count = count;
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
    rm_release_and_null(reader, record->mime_type);
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
