// The header read, and the public operations that hand out stream headers and packets and delete the handle.
#include <algorithm>
#include <cstring>

#include "rm_internal.h"

namespace {

const char* const MSG_NOT_RMF = "First four bytes are are not \".RMF\" - this is not an .rm file";
const char* const MSG_BAD_VERSION = "Unsupported file header version.";
const char* const MSG_BAD_CONTENT = "Failed to parse content header - possibly a corrupt file.";
const char* const MSG_BAD_MEDIA_PROPS = "Failed to parse media props header - possibly a corrupt file.";
const char* const MSG_ILLEGAL_STREAM = "Illegal stream number - possibly a corrupt file.";
const char* const MSG_NO_COMPATIBLE = "Unsupported file (SureStream file with no backwards-compatible streams)";
const char* const MSG_NO_PHYSICAL = "Unsupported file (no stream besides logical ones)";

// MDPR records are kept in file order as they arrive. Once the chunk loop
// is done they are put in stream-number order, which is what a file with
// numbers 0..n-1 in order gives by itself. A file whose numbers have gaps or
// repeats keeps every decoded stream; of two MDPRs with one number the later
// one wins. Sorting an index array keeps this O(n log n) whatever the file
// says, and the new table is no larger than the records that arrived.
rm_result order_media_table(rm_reader* reader) {
    const uint32_t count = reader->media_count;
    if (count < 2) {
        return RM_OK;
    }
    uint32_t* order = static_cast<uint32_t*>(rm_alloc_zeroed(reader, count, sizeof(uint32_t)));
    if (!order) {
        return RM_OUT_OF_MEMORY;
    }
    for (uint32_t i = 0; i < count; ++i) {
        order[i] = i;
    }
    const rm_media_props* records = reader->media_props;
    std::sort(order, order + count, [records](uint32_t a, uint32_t b) {
        if (records[a].stream_number != records[b].stream_number) {
            return records[a].stream_number < records[b].stream_number;
        }
        return a < b;
    });
    // The last record of each number, in place: the slot written never
    // runs ahead of the ones still to be read.
    uint32_t kept = 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (k + 1 == count || records[order[k]].stream_number != records[order[k + 1]].stream_number) {
            order[kept++] = order[k];
        }
    }
    const rm_result result = rm_compact_media_table(reader, order, kept);
    rm_release(reader, order);
    return result;
}

rm_result read_media_props_chunk(rm_reader* reader) {
    const uint32_t number = rm_peek_media_stream_number(reader);
    if (number >= reader->media_number_limit) {
        rm_report(reader, RM_CORRUPT, MSG_ILLEGAL_STREAM);
        return RM_CORRUPT;
    }
    rm_media_props* record = rm_append_media_record(reader);
    if (!record) {
        return RM_OUT_OF_MEMORY;
    }
    if (rm_decode_media_props(reader, record) != RM_OK) {
        rm_report(reader, RM_CORRUPT, MSG_BAD_MEDIA_PROPS);
        return RM_CORRUPT;
    }
    ++reader->media_count;
    return RM_OK;
}

// Every MDPR's stream, before stream selection drops some: a packet of a
// dropped stream is skipped, one of a number no MDPR declares is damage. The
// table is in stream-number order with one record per number.
rm_result note_declared_streams(rm_reader* reader) {
    rm_release_and_null(reader, reader->declared_streams);
    reader->declared_count = 0;
    if (reader->media_count == 0) {
        return RM_OK;
    }
    reader->declared_streams =
        static_cast<rm_declared_stream*>(rm_alloc_zeroed(reader, reader->media_count, sizeof(rm_declared_stream)));
    if (!reader->declared_streams) {
        return RM_OUT_OF_MEMORY;
    }
    for (uint32_t i = 0; i < reader->media_count; ++i) {
        reader->declared_streams[i].stream_number = reader->media_props[i].stream_number;
        reader->declared_streams[i].max_packet_size = reader->media_props[i].max_packet_size;
    }
    reader->declared_count = reader->media_count;
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
    // A handle may be loaded again with another file: nothing of the last
    // one may shape this read or outlive it.
    rm_forget_file(reader);
    rm_seek(reader, 0, RM_SEEK_SET);

    // Another kind of file may start with any size; it is told that it is no
    // RealMedia file, not that its first chunk is too large to read.
    rm_chunk_header first;
    rm_result result = rm_read_chunk_head(reader, &first);
    if (result != RM_OK) {
        return result;
    }
    if (first.id != RM_ID_RMF && !rm_chunk_size_acceptable(&first)) {
        rm_report(reader, RM_BAD_FILE, MSG_NOT_RMF);
        return RM_BAD_FILE;
    }
    result = rm_read_chunk_rest(reader, &first);
    if (result != RM_OK) {
        return result;
    }
    if (first.id != RM_ID_RMF) {
        rm_report(reader, RM_BAD_FILE, MSG_NOT_RMF);
        return RM_BAD_FILE;
    }
    uint32_t id = first.id;
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
    result = order_media_table(reader);
    if (result == RM_OK) {
        result = note_declared_streams(reader);
    }
    if (result != RM_OK) {
        return result;
    }

    result = rm_load_logical_streams(reader);
    if (result != RM_OK) {
        return result;
    }
    const bool every = reader->keep_every_stream != 0;
    if ((every ? rm_keep_physical_streams(reader) : rm_keep_compatible_streams(reader)) != RM_OK) {
        rm_report(reader, RM_BAD_FILE, every ? MSG_NO_PHYSICAL : MSG_NO_COMPATIBLE);
        return RM_BAD_FILE;
    }

    result = rm_build_stream_tables(reader);
    if (result == RM_OK && every) {
        result = rm_note_stream_rates(reader);
        if (result == RM_OK) {
            result = rm_note_named_data_offsets(reader);
        }
    }
    if (result != RM_OK) {
        return result;
    }
    result = rm_locate_packets(reader);
    if (result != RM_OK) {
        return result;
    }
    return rm_build_stream_headers(reader);
}

void rm_forget_file(rm_reader* reader) {
    if (!reader) {
        return;
    }
    rm_drop_content(reader);
    rm_drop_media_table(reader);
    rm_drop_logical_table(reader);
    rm_drop_logical_fileinfo(reader);
    rm_drop_stream_map(reader);
    rm_drop_stream_states(reader);
    rm_drop_stream_headers(reader);
    rm_release_and_null(reader, reader->declared_streams);
    reader->declared_count = 0;
    rm_release_and_null(reader, reader->stream_rates);
    reader->stream_rate_count = 0;
    rm_release_and_null(reader, reader->named_data_offsets);
    reader->named_data_count = 0;
    reader->rmf_record = rm_file_header();
    reader->prop_record = rm_properties();
    reader->cont_record = rm_content();
    reader->data_header = rm_data_header();
    reader->stream_count = 0;
    reader->longest_duration = 0;
    reader->start_timestamp = 0;
    reader->data_end = 0;
    reader->data_next = 0;
    reader->packet_start = 0;
    reader->data_packets = 0;
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

rm_result rm_reader_keep_every_stream(rm_reader* reader, int keep) {
    if (!reader) {
        return RM_FAIL;
    }
    reader->keep_every_stream = keep != 0 ? 1 : 0;
    return RM_OK;
}

rm_result rm_reader_stream_rate(const rm_reader* reader, uint32_t index, rm_stream_rate* out) {
    if (!reader || !out || index >= reader->stream_count) {
        return RM_FAIL;
    }
    *out = rm_stream_rate();
    if (reader->stream_rates && index < reader->stream_rate_count) {
        *out = reader->stream_rates[index];
    }
    return RM_OK;
}

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
    rm_release_and_null(reader, *header);
    // The caller's copy is given up even where no release callback can free it.
    *header = nullptr;
}

rm_result rm_reader_next_packet(rm_reader* reader, rm_packet** out, int32_t selector) {
    if (!reader || !out) {
        return RM_FAIL;
    }
    return rm_read_packet(reader, out, selector);
}

rm_result rm_reader_next_packet_header(rm_reader* reader, rm_packet* out, int32_t checked_stream) {
    if (!reader || !out) {
        return RM_FAIL;
    }
    return rm_read_packet_header(reader, out, checked_stream);
}

rm_result rm_reader_next_packet_briefs(rm_reader* reader, rm_packet_brief* out, uint32_t capacity, uint32_t* count) {
    if (count) {
        *count = 0;
    }
    if (!reader || !out || !count || capacity == 0) {
        return RM_FAIL;
    }
    return rm_read_packet_briefs(reader, out, capacity, count);
}

rm_result rm_reader_next_packet_runs(rm_reader* reader, rm_packet_run* out, uint32_t capacity, uint32_t* count,
                                     int32_t single_stream, rm_run_spans* spans) {
    if (count) {
        *count = 0;
    }
    if (!reader || !out || !count || capacity == 0) {
        return RM_FAIL;
    }
    if (spans && spans->count != 0 && !spans->starts) {
        return RM_FAIL;
    }
    return rm_read_packet_runs(reader, out, capacity, count, single_stream, spans);
}

rm_result rm_reader_next_packet_payload(rm_reader* reader, rm_packet* out, int32_t payload_stream, uint8_t* buffer,
                                        uint32_t size) {
    if (!reader || !out || !buffer) {
        return RM_FAIL;
    }
    return rm_read_packet_header(reader, out, payload_stream, buffer, size);
}

rm_result rm_reader_next_packet_views(rm_reader* reader, rm_packet_view* out, uint32_t capacity, uint32_t* count,
                                      int32_t payload_stream, uint8_t* buffer, uint32_t size) {
    if (count) {
        *count = 0;
    }
    if (!reader || !out || !count || capacity == 0 || !buffer) {
        return RM_FAIL;
    }
    return rm_read_packet_views(reader, out, capacity, count, payload_stream, buffer, size);
}

rm_result rm_reader_next_packet_view_runs(rm_reader* reader, rm_packet_view_run* out, uint32_t capacity,
                                          uint32_t* count, int32_t single_stream, uint8_t* buffer, uint32_t size,
                                          rm_run_spans* spans) {
    if (count) {
        *count = 0;
    }
    if (!reader || !out || !count || capacity == 0 || !buffer || (spans && spans->count != 0 && !spans->starts)) {
        return RM_FAIL;
    }
    return rm_read_packet_view_runs(reader, out, capacity, count, single_stream, buffer, size, spans);
}

uint64_t rm_reader_packet_offset(const rm_reader* reader) { return reader ? reader->packet_start : 0; }

void rm_reader_release_packet(rm_reader* reader, rm_packet** packet) {
    if (!reader || !packet || !*packet || !reader->release_fn) {
        return;
    }
    rm_release_and_null(reader, (*packet)->data);
    rm_release_and_null(reader, *packet);
}

void rm_reader_delete(rm_reader** handle) {
    if (!handle || !*handle || !(*handle)->release_fn) {
        return;
    }
    rm_reader* reader = *handle;
    const rm_release_fn release_fn = reader->release_fn;
    void* const memory_user = reader->memory_user;

    rm_forget_file(reader);
    rm_drop_read_buffer(reader);

    std::memset(reader, 0, sizeof(rm_reader));
    release_fn(memory_user, reader);
    *handle = nullptr;
}
