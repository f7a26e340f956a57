// The reader handle, its default callbacks, and the wrappers every allocation, report and file access goes through.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rm_internal.h"

// ---------------------------------------------------------------- public operations

const char* rm_result_name(rm_result code) {
    switch (code) {
    case RM_OK:
        return "RM_OK";
    case RM_FAIL:
        return "RM_FAIL";
    case RM_OUT_OF_MEMORY:
        return "RM_OUT_OF_MEMORY";
    case RM_NULL_ARGUMENT:
        return "RM_NULL_ARGUMENT";
    case RM_BAD_FILE:
        return "RM_BAD_FILE";
    case RM_BAD_DATA_CHUNK:
        return "RM_BAD_DATA_CHUNK";
    case RM_CORRUPT:
        return "RM_CORRUPT";
    case RM_READ_FAILED:
        return "RM_READ_FAILED";
    case RM_END_OF_DATA:
        return "RM_END_OF_DATA";
    default:
        return nullptr;
    }
}

int rm_reader_probe(const void* bytes, uint32_t count) {
    // The peek yields 0, never the id, for fewer than 4 bytes.
    return rm_peek_u32(static_cast<const uint8_t*>(bytes), count) == RM_ID_RMF ? 1 : 0;
}

rm_reader* rm_reader_new(void* error_user, rm_error_fn error_fn) {
    return rm_reader_new_custom(error_user, error_fn, nullptr, rm_default_alloc, rm_default_release);
}

rm_reader* rm_reader_new_custom(void* error_user, rm_error_fn error_fn, void* memory_user, rm_alloc_fn allocate_fn,
                                rm_release_fn release_fn) {
    if (!allocate_fn) {
        return nullptr;
    }
    rm_reader* reader = static_cast<rm_reader*>(allocate_fn(memory_user, sizeof(rm_reader)));
    if (!reader) {
        return nullptr;
    }
    std::memset(reader, 0, sizeof(rm_reader));
    reader->allocate_fn = allocate_fn;
    reader->memory_user = memory_user;
    reader->release_fn = release_fn;
    if (error_fn) {
        reader->error_fn = error_fn;
        reader->error_user = error_user;
    } else {
        // The caller's user pointer means nothing to the default callback.
        reader->error_fn = rm_error_default;
        reader->error_user = nullptr;
    }
    return reader;
}

rm_result rm_reader_attach_stdio(rm_reader* reader, FILE* file) {
    if (!reader || !file) {
        return RM_FAIL;
    }
    return rm_reader_attach_io(reader, rm_stdio_read, rm_stdio_seek, rm_stdio_tell, file);
}

rm_result rm_reader_attach_io(rm_reader* reader, rm_read_fn read_fn, rm_seek_fn seek_fn, rm_tell_fn tell_fn,
                              void* io_user) {
    if (!reader || !read_fn || !seek_fn || !tell_fn || !io_user) {
        return RM_FAIL;
    }
    reader->read_fn = read_fn;
    reader->seek_fn = seek_fn;
    reader->tell_fn = tell_fn;
    reader->io_user = io_user;
    reader->window_fn = nullptr;
    reader->window = nullptr;
    reader->window_size = 0;
    reader->window_used = 0;
    reader->window_fetched = 0;
    return RM_OK;
}

rm_result rm_reader_attach_window(rm_reader* reader, rm_window_fn window_fn) {
    if (!reader || !window_fn || !reader->read_fn) {
        return RM_FAIL;
    }
    rm_settle_window(reader);
    reader->window_fn = window_fn;
    return RM_OK;
}

// ---------------------------------------------------------------- default callbacks

void* rm_default_alloc(void* /*memory_user*/, uint32_t size) { return std::malloc(size); }

void rm_default_release(void* /*memory_user*/, void* block) { std::free(block); }

void rm_error_default(void* error_user, rm_result code, const char* message) {
    // The pointer is printed as a wide integer so that 64-bit builds do not
    // truncate it; on 32-bit builds the text is the familiar 8 hex digits.
    unsigned long long user = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(error_user));
    if (message) {
        std::fprintf(stderr, "rm_error_default(pUserError=0x%08llx,err=0x%08x,msg=%s\n", user, unsigned(code), message);
    } else {
        std::fprintf(stderr, "rm_error_default(pUserError=0x%08llx,err=0x%08x\n", user, unsigned(code));
    }
}

uint32_t rm_stdio_read(void* file, void* destination, uint32_t count) {
    if (!file || !destination || count == 0) {
        return 0;
    }
    return uint32_t(std::fread(destination, 1, count, static_cast<FILE*>(file)));
}

void rm_stdio_seek(void* file, int32_t offset, int origin) {
    if (!file) {
        return;
    }
    // File offsets in the format are unsigned 32-bit; a plain fseek on a
    // 32-bit long would refuse everything past 2 GiB.
    long long target;
    int whence;
    switch (origin) {
    case RM_SEEK_SET:
        target = static_cast<long long>(static_cast<uint32_t>(offset));
        whence = SEEK_SET;
        break;
    case RM_SEEK_CUR:
        target = offset;
        whence = SEEK_CUR;
        break;
    case RM_SEEK_END:
        target = offset;
        whence = SEEK_END;
        break;
    default:
        return;
    }
    FILE* stream = static_cast<FILE*>(file);
#ifdef _WIN32
    (void)_fseeki64(stream, target, whence);
#else
    (void)fseeko(stream, static_cast<off_t>(target), whence);
#endif
}

uint32_t rm_stdio_tell(void* file) {
    if (!file) {
        return 0xFFFFFFFFu;
    }
    FILE* stream = static_cast<FILE*>(file);
#ifdef _WIN32
    long long where = _ftelli64(stream);
#else
    long long where = static_cast<long long>(ftello(stream));
#endif
    if (where < 0 || where > 0xFFFFFFFFll) {
        return 0xFFFFFFFFu;
    }
    return uint32_t(where);
}

// ---------------------------------------------------------------- allocation and reports

void* rm_alloc(rm_reader* reader, uint32_t size) {
    if (!reader || !reader->allocate_fn) {
        return nullptr;
    }
    return reader->allocate_fn(reader->memory_user, size);
}

void* rm_alloc_zeroed(rm_reader* reader, uint64_t count, uint64_t width) {
    // Callers keep both factors below 2^32, so the product cannot wrap.
    const uint64_t bytes = count * width;
    if (count == 0 || bytes > UINT32_MAX) {
        return nullptr;
    }
    void* block = rm_alloc(reader, uint32_t(bytes));
    if (block) {
        std::memset(block, 0, size_t(bytes));
    }
    return block;
}

void rm_release(rm_reader* reader, void* block) {
    if (!reader || !reader->release_fn) {
        return;
    }
    reader->release_fn(reader->memory_user, block);
}

void rm_report(rm_reader* reader, rm_result code, const char* message) {
    if (reader && reader->error_fn) {
        reader->error_fn(reader->error_user, code, message);
    }
}

rm_result rm_grow_buffer(void* memory_user, rm_alloc_fn allocate_fn, rm_release_fn release_fn, uint8_t** buffer,
                         uint32_t* capacity, uint32_t wanted) {
    if (!allocate_fn || !release_fn || !buffer || !capacity) {
        return RM_OUT_OF_MEMORY;
    }
    if (wanted <= *capacity) {
        return RM_OK;
    }
    uint8_t* grown = static_cast<uint8_t*>(allocate_fn(memory_user, wanted));
    if (!grown) {
        return RM_OUT_OF_MEMORY;
    }
    if (*buffer && *capacity != 0) {
        std::memcpy(grown, *buffer, *capacity);
        release_fn(memory_user, *buffer);
    }
    *buffer = grown;
    *capacity = wanted;
    return RM_OK;
}

// ---------------------------------------------------------------- file access

void rm_settle_window(rm_reader* reader) {
    if (reader->window == nullptr) {
        return;
    }
    if (reader->window_used != 0) {
        reader->seek_fn(reader->io_user, int32_t(reader->window_used), RM_SEEK_CUR);
    }
    reader->window = nullptr;
    reader->window_size = 0;
    reader->window_used = 0;
    reader->window_fetched = 0;
}

bool rm_refresh_window(rm_reader* reader, uint32_t count) {
    if (reader->window_fn == nullptr) {
        return false;
    }
    rm_settle_window(reader);
    uint32_t shown = 0;
    const uint8_t* bytes = reader->window_fn(reader->io_user, &shown);
    if (bytes == nullptr || shown == 0) {
        return false;
    }
    reader->window = bytes;
    reader->window_size = shown < RM_MAX_WINDOW ? shown : RM_MAX_WINDOW;
    return reader->window_size >= count;
}

uint32_t rm_read_to_buffer(rm_reader* reader, uint32_t count, uint32_t offset) {
    if (!reader || !reader->read_fn) {
        return 0;
    }
    rm_settle_window(reader);
    // offset + count must not wrap into a small buffer that the read overruns.
    uint64_t end = uint64_t(offset) + count;
    if (end > 0xFFFFFFFFull) {
        return 0;
    }
    if (rm_grow_buffer(reader->memory_user, reader->allocate_fn, reader->release_fn, &reader->buffer,
                       &reader->buffer_size, uint32_t(end)) != RM_OK) {
        return 0;
    }
    uint32_t got = 0;
    if (count > 0) {
        got = reader->read_fn(reader->io_user, reader->buffer + offset, count);
        // A callback claiming more than was asked must not push the count past the bytes.
        if (got > count) {
            got = count;
        }
    }
    reader->buffer_held = offset + got;
    reader->position += got;
    return got;
}

uint32_t rm_read_raw(rm_reader* reader, void* destination, uint32_t count) {
    if (!reader || !reader->read_fn) {
        return 0;
    }
    rm_settle_window(reader);
    uint32_t got = reader->read_fn(reader->io_user, destination, count);
    if (got > count) {
        got = count;
    }
    reader->position += got;
    return got;
}

void rm_seek(rm_reader* reader, int32_t offset, int origin) {
    if (!reader || !reader->seek_fn) {
        return;
    }
    switch (origin) {
    case RM_SEEK_SET:
        // From the start: where the window left the source does not matter.
        reader->window = nullptr;
        reader->window_size = 0;
        reader->window_used = 0;
        reader->window_fetched = 0;
        reader->seek_fn(reader->io_user, offset, origin);
        reader->position = static_cast<uint32_t>(offset);
        break;
    case RM_SEEK_CUR:
        rm_settle_window(reader);
        reader->seek_fn(reader->io_user, offset, origin);
        // A seek before the start fails in the I/O layer and moves nothing;
        // the count stays with it rather than wrapping to a huge position.
        if (offset >= 0 || uint64_t(-int64_t(offset)) <= reader->position) {
            reader->position = uint64_t(int64_t(reader->position) + offset);
        }
        break;
    case RM_SEEK_END:
        // Passed on, but the position count cannot follow: the file's length is unknown here.
        rm_settle_window(reader);
        reader->seek_fn(reader->io_user, offset, origin);
        rm_report(reader, RM_BAD_FILE, "File seek with end origin attempted - not suported.");
        break;
    default:
        // Any other origin would leave the file and the position count disagreeing.
        break;
    }
}

// ---------------------------------------------------------------- text comparison

namespace {

int lower_ascii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Null sorts before any string, so callers never dereference one.
bool compare_nulls(const char* a, const char* b, int* result) {
    if (a && b) {
        return false;
    }
    *result = (a == b) ? 0 : (a ? 1 : -1);
    return true;
}

}  // namespace

int rm_compare_nocase(const char* a, const char* b) {
    int result = 0;
    if (compare_nulls(a, b, &result)) {
        return result;
    }
    for (;; ++a, ++b) {
        int ca = lower_ascii(static_cast<unsigned char>(*a));
        int cb = lower_ascii(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) {
            return ca - cb;
        }
    }
}

int rm_compare_nocase_n(const char* a, const char* b, uint32_t count) {
    int result = 0;
    if (count == 0) {
        return 0;
    }
    if (compare_nulls(a, b, &result)) {
        return result;
    }
    for (uint32_t i = 0; i < count; ++i) {
        int ca = lower_ascii(static_cast<unsigned char>(a[i]));
        int cb = lower_ascii(static_cast<unsigned char>(b[i]));
        if (ca != cb || ca == 0) {
            return ca - cb;
        }
    }
    return 0;
}
