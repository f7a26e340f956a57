// The file's own stream numbers of the kept streams.
#include "rm_internal.h"

rm_result rm_reader_stream_file_number(const rm_reader* reader, uint32_t index, uint16_t* out) {
    if (!reader || !out || index >= reader->stream_count || !reader->media_props || index >= reader->media_count) {
        return RM_FAIL;
    }
    *out = reader->media_props[index].stream_number;
    return RM_OK;
}
