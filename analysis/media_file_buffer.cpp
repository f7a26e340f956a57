// The buffered stdio callbacks the analysis run hands the reader.
#include "analysis/media_file_buffer.h"

#include <sys/types.h>

#include <cstring>

#include "rmparser/rm_reader.h"

namespace {

// How far forward a seek may go by reading instead of seeking.
const uint64_t FORWARD_READ_LIMIT = 1u << 20;

}  // namespace

int SeekFile(FILE* file, int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

int64_t TellFile(FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

void InitMediaFileBuffer(MediaFileBuffer* io, FILE* file, unsigned char* data, uint32_t capacity) {
    const int64_t position = file ? TellFile(file) : -1;
    io->file = file;
    io->data = data;
    io->capacity = capacity;
    io->data_offset = position > 0 ? static_cast<uint64_t>(position) : 0;
    io->filled = 0;
    io->cursor = 0;
}

uint32_t MediaFileRead(void* user, void* destination, uint32_t count) {
    MediaFileBuffer* io = static_cast<MediaFileBuffer*>(user);
    if (!io || !io->file || !destination || count == 0) return 0;
    unsigned char* out = static_cast<unsigned char*>(destination);
    if (count <= io->filled - io->cursor) {
        // The common case: a packet header or payload inside the buffer.
        std::memcpy(out, io->data + io->cursor, count);
        io->cursor += count;
        return count;
    }
    uint32_t done = 0;
    while (done < count) {
        if (io->cursor < io->filled) {
            const uint32_t left = io->filled - io->cursor;
            const uint32_t part = left < count - done ? left : count - done;
            std::memcpy(out + done, io->data + io->cursor, part);
            io->cursor += part;
            done += part;
            continue;
        }
        io->data_offset += io->filled;
        io->filled = 0;
        io->cursor = 0;
        const uint32_t wanted = count - done;
        if (wanted >= io->capacity) {
            // A large block goes straight to its destination.
            const size_t got = std::fread(out + done, 1, wanted, io->file);
            io->data_offset += got;
            done += static_cast<uint32_t>(got);
            break;
        }
        io->filled = static_cast<uint32_t>(std::fread(io->data, 1, io->capacity, io->file));
        if (io->filled == 0) break;
    }
    return done;
}

void MediaFileSeek(void* user, int32_t offset, int origin) {
    MediaFileBuffer* io = static_cast<MediaFileBuffer*>(user);
    if (!io || !io->file) return;
    int64_t target;
    if (origin == RM_SEEK_SET) {
        target = static_cast<uint32_t>(offset);
    } else if (origin == RM_SEEK_CUR) {
        target = static_cast<int64_t>(io->data_offset + io->cursor) + offset;
    } else {
        // From the end: the buffer cannot answer it.
        if (SeekFile(io->file, offset, origin) != 0) return;
        const int64_t position = TellFile(io->file);
        if (position < 0) return;
        io->data_offset = static_cast<uint64_t>(position);
        io->filled = 0;
        io->cursor = 0;
        return;
    }
    if (target < 0) return;  // refused, as fseek refuses it
    const uint64_t wanted = static_cast<uint64_t>(target);
    if (wanted >= io->data_offset && wanted <= io->data_offset + io->filled) {
        io->cursor = static_cast<uint32_t>(wanted - io->data_offset);
        return;
    }
    // A short way forward (skipped packets of other streams) is read rather
    // than sought: it costs no more than the seek plus the read that follows.
    const uint64_t buffer_end = io->data_offset + io->filled;
    if (wanted > buffer_end && wanted - buffer_end <= FORWARD_READ_LIMIT) {
        while (wanted > io->data_offset + io->filled) {
            io->data_offset += io->filled;
            io->cursor = 0;
            io->filled = static_cast<uint32_t>(std::fread(io->data, 1, io->capacity, io->file));
            if (io->filled == 0) {
                // The file ends first. As with fseek, the position may lie
                // past the end; reads there find nothing.
                io->data_offset = wanted;
                return;
            }
        }
        io->cursor = static_cast<uint32_t>(wanted - io->data_offset);
        return;
    }
    if (SeekFile(io->file, static_cast<int64_t>(wanted), SEEK_SET) != 0) return;
    io->data_offset = wanted;
    io->filled = 0;
    io->cursor = 0;
}

uint32_t MediaFileTell(void* user) {
    const MediaFileBuffer* io = static_cast<const MediaFileBuffer*>(user);
    if (!io) return 0xFFFFFFFFu;
    const uint64_t position = io->data_offset + io->cursor;
    return position > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(position);
}

const uint8_t* MediaFileWindow(void* user, uint32_t* count) {
    MediaFileBuffer* io = static_cast<MediaFileBuffer*>(user);
    *count = 0;
    if (!io || !io->file) return nullptr;
    if (io->cursor == io->filled) {
        io->data_offset += io->filled;
        io->cursor = 0;
        io->filled = static_cast<uint32_t>(std::fread(io->data, 1, io->capacity, io->file));
    }
    *count = io->filled - io->cursor;
    return io->data + io->cursor;
}
