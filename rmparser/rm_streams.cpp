// The kept streams: stream number map, per-stream state and keyframe index, stored headers and their accessors.
#include <cstring>

#include "rm_internal.h"

namespace {

// A duration of 0xFFFFFFFF ms would ask the "one entry per 50 ms" rule for
// 85,899,345 entries (687 MB) of an index nothing reads; 65536 entries
// (512 KiB) cover 54 minutes at that spacing.
const uint32_t MAX_INDEX_CAPACITY = 65536;

// The index storage of all streams together: a damaged file can declare
// tens of thousands of tiny MDPRs, and 2048 entries each would then cost
// gigabytes. 8 MiB leaves every real file's figures untouched.
const uint32_t MAX_INDEX_ENTRIES_TOTAL = 1u << 20;

const uint32_t NO_STREAM = 0xFFFFFFFFu;

const char* const AUDIO_TYPES[] = {"audio/x-pn-realaudio", "audio/x-pn-realaudio-encrypted"};
const char* const VIDEO_TYPES[] = {"video/x-pn-realvideo", "video/x-pn-realvideo-encrypted"};
const char* const EVENT_TYPES[] = {
    "application/x-pn-realevent", "application/x-pn-realevent-encrypted",
    "application/x-pn-imagemap",  "application/x-pn-imagemap-encrypted",
    "image_map/x-pn-realvideo",   "image_map/x-pn-realvideo-encrypted",
    "syncMM/x-pn-realvideo",      "syncMM/x-pn-realvideo-encrypted",
};

template <size_t N>
int mime_in(const char* mime, const char* const (&types)[N]) {
    if (mime == nullptr) {
        return 0;
    }
    for (const char* type : types) {
        if (strcmp(mime, type) == 0) {
            return 1;
        }
    }
    return 0;
}

uint8_t class_of(const char* mime) {
    if (rm_mime_is_audio(mime)) {
        return RM_CLASS_AUDIO;
    }
    if (rm_mime_is_video(mime)) {
        return RM_CLASS_VIDEO;
    }
    if (rm_mime_is_event(mime)) {
        return RM_CLASS_EVENT;
    }
    return 0;
}

// Spacing follows the first stream's duration, capacity the longest one.
void size_keyframe_index(uint32_t first_duration, uint32_t longest_duration, uint32_t* spacing, uint32_t* capacity) {
    const uint32_t q = first_duration >> 11;
    if (q > 15000) {
        *spacing = 15000;
        const uint32_t wanted = longest_duration / 15000;
        *capacity = wanted < 2048 ? wanted : 2048;
    } else if (q < 50) {
        *spacing = 50;
        uint32_t wanted = longest_duration / 50;
        if (wanted < 32) {
            wanted = 32;
        }
        *capacity = wanted < MAX_INDEX_CAPACITY ? wanted : MAX_INDEX_CAPACITY;
    } else {
        *spacing = q;
        *capacity = 2048;
    }
}

const rm_property* find_property(const rm_stream_header* header, const char* name, uint32_t type) {
    if (header == nullptr || name == nullptr || header->properties == nullptr || header->property_count == 0) {
        return nullptr;
    }
    for (uint32_t i = 0; i < header->property_count; ++i) {
        const rm_property& property = header->properties[i];
        if (property.type == type && property.name != nullptr && strcmp(property.name, name) == 0) {
            return &property;
        }
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- stream tables

rm_result rm_build_stream_tables(rm_reader* reader) {
    if (reader == nullptr || reader->stream_count == 0) {
        return RM_FAIL;
    }
    // The kept streams are the first stream_count media records.
    const uint32_t count = reader->stream_count;
    if (reader->media_props == nullptr || count > reader->media_count || count > reader->media_capacity) {
        return RM_FAIL;
    }

    uint32_t longest = 0;
    uint32_t largest_number = 0;
    const uint32_t first_duration = reader->media_props[0].duration;
    for (uint32_t i = 0; i < count; ++i) {
        const rm_media_props& media = reader->media_props[i];
        if (media.duration > longest) {
            longest = media.duration;
        }
        if (media.stream_number > largest_number) {
            largest_number = media.stream_number;
        }
    }
    reader->longest_duration = longest;

    rm_drop_stream_map(reader);
    const uint32_t map_size = largest_number + 1;  // at most 65536
    reader->stream_map = static_cast<uint32_t*>(rm_alloc_zeroed(reader, map_size, sizeof(uint32_t)));
    if (reader->stream_map == nullptr) {
        return RM_FAIL;
    }
    reader->stream_map_size = map_size;
    for (uint32_t n = 0; n < map_size; ++n) {
        reader->stream_map[n] = NO_STREAM;
    }
    for (uint32_t i = 0; i < count; ++i) {
        reader->stream_map[reader->media_props[i].stream_number] = i;
    }

    rm_drop_stream_states(reader);
    reader->stream_states = static_cast<rm_stream_state*>(rm_alloc_zeroed(reader, count, sizeof(rm_stream_state)));
    if (reader->stream_states == nullptr) {
        return RM_FAIL;
    }
    reader->stream_state_count = count;

    uint32_t spacing = 0;
    uint32_t capacity = 0;
    size_keyframe_index(first_duration, longest, &spacing, &capacity);
    if (uint64_t(capacity) * count > MAX_INDEX_ENTRIES_TOTAL) {
        capacity = MAX_INDEX_ENTRIES_TOTAL / count;  // count <= 131068, so this stays >= 8
    }

    for (uint32_t i = 0; i < count; ++i) {
        rm_stream_state& state = reader->stream_states[i];
        state.class_flags = class_of(reader->media_props[i].mime_type);
        // Nothing is allocated yet: the entries come with the keyframes read.
        state.index_entries = nullptr;
        state.index_allocated = 0;
        state.index_capacity = capacity;
        state.index_spacing = spacing;
        state.index_count = 0;
        state.last_entry_time = 0;
    }
    return RM_OK;
}

void rm_drop_stream_map(rm_reader* reader) {
    if (reader == nullptr) {
        return;
    }
    rm_release_and_null(reader, reader->stream_map);
    reader->stream_map_size = 0;
}

void rm_drop_stream_states(rm_reader* reader) {
    if (reader == nullptr || reader->stream_states == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < reader->stream_state_count; ++i) {
        rm_stream_state& state = reader->stream_states[i];
        rm_release_and_null(reader, state.index_entries);
        state.index_allocated = 0;
        state.index_capacity = 0;
        state.index_count = 0;
    }
    rm_release_and_null(reader, reader->stream_states);
    reader->stream_state_count = 0;
}

void rm_drop_stream_headers(rm_reader* reader) {
    if (reader == nullptr || reader->stream_headers == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < reader->stream_header_count; ++i) {
        rm_clear_stream_header(reader, &reader->stream_headers[i]);
    }
    rm_release_and_null(reader, reader->stream_headers);
    reader->stream_header_count = 0;
}

// ---------------------------------------------------------------- stream headers

rm_result rm_copy_stream_header(rm_reader* reader, uint32_t index, rm_stream_header* record) {
    if (reader == nullptr || record == nullptr || index >= reader->stream_count ||
        index >= reader->stream_header_count || reader->stream_headers == nullptr) {
        return RM_FAIL;
    }
    const rm_stream_header& stored = reader->stream_headers[index];
    rm_clear_stream_header(reader, record);

    record->stream_number = stored.stream_number;
    record->max_bit_rate = stored.max_bit_rate;
    record->avg_bit_rate = stored.avg_bit_rate;
    record->max_packet_size = stored.max_packet_size;
    record->avg_packet_size = stored.avg_packet_size;
    record->duration = stored.duration;
    record->preroll = stored.preroll;
    record->start_time = stored.start_time;

    record->mime_type = rm_clone_string(reader->memory_user, reader->allocate_fn, stored.mime_type);
    record->stream_name = rm_clone_string(reader->memory_user, reader->allocate_fn, stored.stream_name);
    record->opaque_data = static_cast<uint8_t*>(
        rm_clone_bytes(reader->memory_user, reader->allocate_fn, stored.opaque_data, stored.opaque_length));
    // The length travels only with a block: a caller must never find a
    // length beside a null pointer.
    record->opaque_length = record->opaque_data != nullptr ? stored.opaque_length : 0;

    if ((stored.mime_type != nullptr && record->mime_type == nullptr) ||
        (stored.stream_name != nullptr && record->stream_name == nullptr) ||
        (stored.opaque_data != nullptr && stored.opaque_length != 0 && record->opaque_data == nullptr)) {
        return RM_FAIL;
    }
    if (stored.properties == nullptr || stored.property_count == 0) {
        return RM_FAIL;
    }
    record->properties = static_cast<rm_property*>(rm_alloc_zeroed(reader, stored.property_count, sizeof(rm_property)));
    if (record->properties == nullptr) {
        return RM_FAIL;
    }
    record->property_count = stored.property_count;
    for (uint32_t i = 0; i < stored.property_count; ++i) {
        const rm_property& source = stored.properties[i];
        const uintptr_t value = source.type == RM_PROPERTY_INT ? uintptr_t(source.value.number)
                                                               : reinterpret_cast<uintptr_t>(source.value.data);
        const rm_result result =
            rm_property_set(reader, &record->properties[i], source.name, source.type, value, source.size);
        if (result != RM_OK) {
            return result;
        }
    }
    return RM_OK;
}

void rm_clear_stream_header(rm_reader* reader, rm_stream_header* record) {
    if (reader == nullptr || record == nullptr) {
        return;
    }
    rm_release_and_null(reader, record->mime_type);
    rm_release_and_null(reader, record->stream_name);
    rm_release_and_null(reader, record->opaque_data);
    record->opaque_length = 0;
    if (record->properties != nullptr) {
        for (uint32_t i = 0; i < record->property_count; ++i) {
            rm_property_clear(reader, &record->properties[i]);
        }
        rm_release_and_null(reader, record->properties);
    }
    record->property_count = 0;
}

// ---------------------------------------------------------------- properties

rm_result rm_property_set(rm_reader* reader, rm_property* property, const char* name, uint32_t type, uintptr_t value,
                          uint32_t size) {
    if (reader == nullptr || property == nullptr || name == nullptr) {
        return RM_FAIL;
    }
    rm_property_clear(reader, property);
    // The union may still hold an old number; it must not be taken for a block.
    property->value.data = nullptr;
    property->size = 0;

    property->name = rm_clone_string(reader->memory_user, reader->allocate_fn, name);
    if (property->name == nullptr) {
        return RM_FAIL;
    }
    property->type = type;

    if (type == RM_PROPERTY_INT) {
        property->value.number = uint32_t(value);
        return RM_OK;
    }
    const void* source = reinterpret_cast<const void*>(value);
    if (type == RM_PROPERTY_BUFFER) {
        if (size == 0) {
            return RM_OK;  // an empty block: nothing to copy, nothing owned
        }
        if (source == nullptr) {
            return RM_FAIL;
        }
        void* block = rm_alloc(reader, size);
        if (block == nullptr) {
            return RM_FAIL;
        }
        memcpy(block, source, size);
        property->value.data = block;
        property->size = size;
        return RM_OK;
    }
    if (type == RM_PROPERTY_STRING) {
        if (source == nullptr) {
            return RM_FAIL;
        }
        const size_t length = strlen(static_cast<const char*>(source));
        if (length >= UINT32_MAX) {
            return RM_FAIL;
        }
        void* block = rm_alloc(reader, uint32_t(length + 1));
        if (block == nullptr) {
            return RM_FAIL;
        }
        memcpy(block, source, length + 1);
        property->value.data = block;
        property->size = uint32_t(length + 1);
        return RM_OK;
    }
    return RM_FAIL;
}

void rm_property_clear(rm_reader* reader, rm_property* property) {
    if (reader == nullptr || property == nullptr) {
        return;
    }
    rm_release_and_null(reader, property->name);
    if (property->type != RM_PROPERTY_INT) {
        rm_release_and_null(reader, property->value.data);
    }
}

char* rm_clone_string(void* memory_user, rm_alloc_fn allocate_fn, const char* text) {
    if (allocate_fn == nullptr || text == nullptr) {
        return nullptr;
    }
    const size_t length = strlen(text);
    if (length >= UINT32_MAX) {
        return nullptr;
    }
    char* copy = static_cast<char*>(allocate_fn(memory_user, uint32_t(length + 1)));
    if (copy != nullptr) {
        memcpy(copy, text, length + 1);
    }
    return copy;
}

// ---------------------------------------------------------------- accessors

const char* rm_stream_header_get_mime_type(const rm_stream_header* header) {
    return header != nullptr ? header->mime_type : nullptr;
}

const char* rm_stream_header_get_stream_name(const rm_stream_header* header) {
    return header != nullptr ? header->stream_name : nullptr;
}

uint32_t rm_stream_header_get_stream_number(const rm_stream_header* header) {
    return header != nullptr ? header->stream_number : 0;
}

uint32_t rm_stream_header_get_max_bit_rate(const rm_stream_header* header) {
    return header != nullptr ? header->max_bit_rate : 0;
}

uint32_t rm_stream_header_get_avg_bit_rate(const rm_stream_header* header) {
    return header != nullptr ? header->avg_bit_rate : 0;
}

uint32_t rm_stream_header_get_max_packet_size(const rm_stream_header* header) {
    return header != nullptr ? header->max_packet_size : 0;
}

uint32_t rm_stream_header_get_avg_packet_size(const rm_stream_header* header) {
    return header != nullptr ? header->avg_packet_size : 0;
}

uint32_t rm_stream_header_get_duration(const rm_stream_header* header) {
    return header != nullptr ? header->duration : 0;
}

uint32_t rm_stream_header_get_preroll(const rm_stream_header* header) {
    return header != nullptr ? header->preroll : 0;
}

uint32_t rm_stream_header_get_start_time(const rm_stream_header* header) {
    return header != nullptr ? header->start_time : 0;
}

uint32_t rm_stream_header_get_properties(const rm_stream_header* header, rm_property** out) {
    if (header == nullptr || out == nullptr) {
        return 0;
    }
    *out = header->properties;
    return header->property_count;
}

// ---------------------------------------------------------------- MIME classes

int rm_mime_is_audio(const char* mime) { return mime_in(mime, AUDIO_TYPES); }

int rm_mime_is_video(const char* mime) { return mime_in(mime, VIDEO_TYPES); }

int rm_mime_is_event(const char* mime) { return mime_in(mime, EVENT_TYPES); }

int rm_mime_is_known(const char* mime) {
    return rm_mime_is_audio(mime) || rm_mime_is_video(mime) || rm_mime_is_event(mime);
}

int rm_stream_header_is_audio(const rm_stream_header* header) {
    return header != nullptr && rm_mime_is_audio(header->mime_type);
}

int rm_stream_header_is_video(const rm_stream_header* header) {
    return header != nullptr && rm_mime_is_video(header->mime_type);
}

int rm_stream_header_is_event(const rm_stream_header* header) {
    return header != nullptr && rm_mime_is_event(header->mime_type);
}

// ---------------------------------------------------------------- lookups

rm_result rm_stream_header_find_int(const rm_stream_header* header, const char* name, uint32_t* out) {
    if (out == nullptr) {
        return RM_FAIL;
    }
    const rm_property* property = find_property(header, name, RM_PROPERTY_INT);
    if (property == nullptr) {
        return RM_FAIL;
    }
    *out = property->value.number;
    return RM_OK;
}

rm_result rm_stream_header_find_buffer(const rm_stream_header* header, const char* name, void** out, uint32_t* size) {
    if (out == nullptr || size == nullptr) {
        return RM_FAIL;
    }
    const rm_property* property = find_property(header, name, RM_PROPERTY_BUFFER);
    if (property == nullptr) {
        return RM_FAIL;
    }
    *out = property->value.data;
    *size = property->size;
    return RM_OK;
}

rm_result rm_stream_header_find_string(const rm_stream_header* header, const char* name, char** out) {
    if (out == nullptr) {
        return RM_FAIL;
    }
    const rm_property* property = find_property(header, name, RM_PROPERTY_STRING);
    if (property == nullptr) {
        return RM_FAIL;
    }
    *out = static_cast<char*>(property->value.data);
    return RM_OK;
}
