// The reader's top: the header read and the public operations that read a
// file through a handle and hand out stream headers and packets.
#include <cstring>

#include "rm_internal.h"

namespace {

const char* const MSG_NOT_RMF = "First four bytes are are not \".RMF\" - this is not an .rm file";
const char* const MSG_BAD_VERSION = "Unsupported file header version.";
const char* const MSG_BAD_CONTENT = "Failed to parse content header - possibly a corrupt file.";
const char* const MSG_BAD_MEDIA_PROPS = "Failed to parse media props header - possibly a corrupt file.";
const char* const MSG_ILLEGAL_STREAM = "Illegal stream number - possibly a corrupt file.";
const char* const MSG_NO_COMPATIBLE =
    "Unsupported file (SureStream file with no backwards-compatible streams)";

bool slot_in_use(const rm_media_props& record) { return record.id != 0; }

// MDPR records are placed by stream number. A file whose numbers are not
// exactly 0..n-1 would leave empty slots among the first n and records above
// them that every later pass ignores; closing the gaps keeps every decoded
// stream, in stream-number order. For a well-formed file this moves nothing.
void compact_media_table(rm_reader* reader) {
    if (!reader->media_props) {
        return;
    }
    uint32_t kept = 0;
    for (uint32_t slot = 0; slot < reader->media_capacity; ++slot) {
        if (!slot_in_use(reader->media_props[slot])) {
            continue;
        }
        if (slot != kept) {
            reader->media_props[kept] = reader->media_props[slot];
            std::memset(&reader->media_props[slot], 0, sizeof(rm_media_props));
        }
        ++kept;
    }
    reader->media_count = kept;
}

rm_result read_media_props_chunk(rm_reader* reader) {
    const uint32_t number = rm_peek_media_stream_number(reader);
    if (number >= reader->media_capacity || !reader->media_props) {
        rm_report(reader, RM_CORRUPT, MSG_ILLEGAL_STREAM);
        return RM_CORRUPT;
    }
    rm_media_props* slot = &reader->media_props[number];
    // A repeated stream number: the later MDPR replaces the earlier one
    // rather than mixing its fields into it, and counts once.
    const bool repeated = slot_in_use(*slot);
    if (repeated) {
        rm_drop_media_props(reader, slot);
        std::memset(slot, 0, sizeof(rm_media_props));
    }
    if (rm_decode_media_props(reader, slot) != RM_OK) {
        rm_report(reader, RM_CORRUPT, MSG_BAD_MEDIA_PROPS);
        return RM_CORRUPT;
    }
    if (!repeated) {
        ++reader->media_count;
    }
    return RM_OK;
}

rm_result read_properties_chunk(rm_reader* reader) {
    rm_result result = rm_decode_properties(reader);
    if (result != RM_OK) {
        return result;
    }
    result = rm_reset_media_table(reader);
    if (result != RM_OK) {
        return result;
    }
    reader->media_count = 0;
    return RM_OK;
}

}  // namespace

rm_result rm_read_header_chunks(rm_reader* reader) {
    if (!reader) {
        return RM_FAIL;
    }
    rm_seek(reader, 0, 0);

    uint32_t id = 0;
    rm_result result = rm_read_chunk(reader, &id);
    if (result != RM_OK) {
        return result;
    }
    if (id != RM_ID_RMF) {
        rm_report(reader, RM_BAD_FILE, MSG_NOT_RMF);
        return RM_BAD_FILE;
    }
    if (rm_decode_file_header(reader) != RM_OK) {
        return RM_FAIL;
    }
    const rm_file_header& rmf = reader->rmf_record;
    if (rmf.object_version > 1 || rmf.file_version > 1) {
        rm_report(reader, RM_BAD_FILE, MSG_BAD_VERSION);
        return RM_BAD_FILE;
    }

    // Every chunk read consumes at least 10 bytes, so a huge header count
    // still ends at the end of the file.
    for (uint32_t chunk = 0; chunk < rmf.header_count; ++chunk) {
        result = rm_read_chunk(reader, &id);
        if (result != RM_OK) {
            return result;
        }
        if (id == RM_ID_PROP) {
            result = read_properties_chunk(reader);
        } else if (id == RM_ID_MDPR) {
            result = read_media_props_chunk(reader);
        } else if (id == RM_ID_CONT) {
            result = rm_decode_content(reader);
            if (result != RM_OK) {
                rm_report(reader, result, MSG_BAD_CONTENT);
            }
        }
        if (result != RM_OK) {
            return result;
        }
        if (id == RM_ID_DATA) {
            break;
        }
    }
    compact_media_table(reader);

    result = rm_load_logical_streams(reader);
    if (result != RM_OK) {
        return result;
    }
    if (rm_keep_compatible_streams(reader) != RM_OK) {
        rm_report(reader, RM_BAD_FILE, MSG_NO_COMPATIBLE);
        return RM_BAD_FILE;
    }

    result = rm_build_stream_tables(reader);
    if (result != RM_OK) {
        return result;
    }
    result = rm_locate_packets(reader);
    if (result != RM_OK) {
        return result;
    }
    return rm_build_stream_headers(reader);
}

rm_result rm_reader_load_headers(rm_reader* reader) {
    if (!reader) {
        return RM_FAIL;
    }
    if (!reader->buffer) {
        const rm_result result = rm_grow_buffer(reader->memory_user, reader->allocate_fn, reader->release_fn,
                                                &reader->buffer, &reader->buffer_size, RM_INITIAL_BUFFER_SIZE);
        if (result != RM_OK) {
            return result;
        }
        reader->buffer_held = 0;
    }
    return rm_read_header_chunks(reader);
}

uint32_t rm_reader_stream_count(const rm_reader* reader) { return reader ? reader->stream_count : 0; }

rm_result rm_reader_fetch_stream_header(rm_reader* reader, uint32_t index, rm_stream_header** out) {
    if (!reader || !out || !reader->allocate_fn) {
        return RM_FAIL;
    }
    rm_stream_header* record = static_cast<rm_stream_header*>(rm_alloc_zeroed(reader, 1, sizeof(rm_stream_header)));
    if (!record) {
        return RM_FAIL;
    }
    const rm_result result = rm_copy_stream_header(reader, index, record);
    if (result != RM_OK) {
        rm_clear_stream_header(reader, record);
        rm_release(reader, record);
        return result;
    }
    *out = record;
    return RM_OK;
}

void rm_reader_release_stream_header(rm_reader* reader, rm_stream_header** header) {
    if (!reader || !header || !*header) {
        return;
    }
    rm_clear_stream_header(reader, *header);
    rm_release(reader, *header);
    *header = nullptr;
}

rm_result rm_reader_next_packet(rm_reader* reader, rm_packet** out, int32_t selector) {
    if (!reader || !out) {
        return RM_FAIL;
    }
    return rm_read_packet(reader, out, selector);
}

void rm_reader_release_packet(rm_reader* reader, rm_packet** packet) {
    if (!reader || !packet || !*packet || !reader->release_fn) {
        return;
    }
    if ((*packet)->data) {
        rm_release(reader, (*packet)->data);
        (*packet)->data = nullptr;
    }
    rm_release(reader, *packet);
    *packet = nullptr;
}

void rm_reader_delete(rm_reader** handle) {
    if (!handle || !*handle || !(*handle)->release_fn) {
        return;
    }
    rm_reader* reader = *handle;
    const rm_release_fn release_fn = reader->release_fn;
    void* const memory_user = reader->memory_user;

    rm_drop_content(reader);
    rm_drop_media_table(reader);
    rm_drop_logical_table(reader);
    rm_drop_logical_fileinfo(reader);
    rm_drop_read_buffer(reader);
    rm_drop_stream_map(reader);
    rm_drop_stream_states(reader);
    rm_drop_stream_headers(reader);

    std::memset(reader, 0, sizeof(rm_reader));
    release_fn(memory_user, reader);
    *handle = nullptr;
}
