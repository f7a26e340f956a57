// Test doubles for the reader's callbacks: temporary files, memory I/O, a counting allocator, an error log.
#ifndef KOV_TESTS_SUPPORT_RM_TEST_IO_H
#define KOV_TESTS_SUPPORT_RM_TEST_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "rm_writer.h"
#include "rmparser/rm_reader.h"

namespace rmtest {

// A FILE positioned at 0 holding the bytes (a temporary file that vanishes on
// close). Null if no temporary file could be made. The caller fcloses it.
FILE* open_memory_file(const Bytes& bytes);

// The bytes in a real file with a path, for code that opens files by name.
// The file is removed when the object goes.
struct TempFile {
    explicit TempFile(const Bytes& bytes, const std::string& suffix = ".rm");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    std::string path;  // empty if the file could not be written
};

// Read/seek/tell callbacks over a byte vector. Seeks behave like fseek: a
// seek to a negative position is refused and leaves the position alone; a
// seek past the end is allowed and later reads return 0.
struct MemoryIo {
    struct Seek {
        int32_t offset;
        int origin;
    };

    MemoryIo() = default;
    explicit MemoryIo(Bytes bytes) : data(std::move(bytes)) {}

    Bytes data;
    uint64_t position = 0;
    // Reads stop short at this file position as if the device failed there,
    // though data goes on (default: never).
    uint64_t fail_reads_at = UINT64_MAX;

    std::vector<Seek> seeks;  // every seek asked for, in order
    uint32_t read_calls = 0;
    uint64_t bytes_read = 0;
    uint32_t tell_calls = 0;

    static uint32_t read(void* io_user, void* destination, uint32_t count);
    static void seek(void* io_user, int32_t offset, int origin);
    static uint32_t tell(void* io_user);

    // Points the handle's I/O callbacks at this object.
    void attach(rm_reader* reader);
};

// Windows (rm_window_fn) over another source's read/seek/tell callbacks and
// user pointer: the k-th window shows the next sizes[k % n] bytes (fewer
// where the file ends), so that windows end inside headers and payloads or
// show nothing. Each window is a block of its own, freed by the next call of
// any callback, so that a reader using a window it should have given up
// shows under AddressSanitizer.
struct WindowIo {
    WindowIo(rm_read_fn read_fn, rm_seek_fn seek_fn, rm_tell_fn tell_fn, void* user, std::vector<uint32_t> sizes);

    // The I/O callbacks and the window callback of the handle.
    rm_result attach(rm_reader* reader);

    static uint32_t read(void* io_user, void* destination, uint32_t count);
    static void seek(void* io_user, int32_t offset, int origin);
    static uint32_t tell(void* io_user);
    static const uint8_t* window(void* io_user, uint32_t* count);

    uint32_t windows_shown = 0;
    uint32_t reads = 0;

private:
    rm_read_fn read_fn_;
    rm_seek_fn seek_fn_;
    rm_tell_fn tell_fn_;
    void* user_;
    std::vector<uint32_t> sizes_;
    std::unique_ptr<uint8_t[]> shown_;
};

// rm_alloc_fn / rm_release_fn pair; the memory user pointer is the
// TestAllocator. Counts everything, tracks live blocks, can fail on demand.
// New blocks are filled with 0xA5 so code that forgets to zero shows it.
struct TestAllocator {
    TestAllocator() = default;
    ~TestAllocator();  // frees blocks still live (a leak is for the test to assert)
    TestAllocator(const TestAllocator&) = delete;
    TestAllocator& operator=(const TestAllocator&) = delete;

    static void* allocate(void* memory_user, uint32_t size);
    static void release(void* memory_user, void* block);

    // Failure settings.
    uint32_t fail_at = 0;  // fail the request with this 1-based number (0: never)
    // Fail every request larger than this. The default keeps a test from
    // really allocating gigabytes when a file field asks for them; the
    // request is still recorded in largest_request.
    uint32_t fail_above = 256u * 1024u * 1024u;
    void fail_nth(uint32_t n) { fail_at = n; }
    void fail_larger_than(uint32_t limit) { fail_above = limit; }

    // Counters.
    uint32_t requests = 0;          // every call to allocate
    uint32_t allocations = 0;       // requests that returned a block
    uint32_t failures = 0;          // requests refused
    uint32_t releases = 0;          // releases of a live block
    uint32_t null_releases = 0;     // release(null): fine, counted apart
    uint32_t foreign_releases = 0;  // release of a block not live here (double or wild free): a bug
    uint32_t largest_request = 0;
    std::vector<uint32_t> request_sizes;  // every request, in order
    uint64_t live_bytes = 0;
    uint64_t peak_live_bytes = 0;
    std::map<void*, uint32_t> blocks;  // live block -> size asked

    size_t live() const { return blocks.size(); }
    bool owns(const void* block) const { return blocks.count(const_cast<void*>(block)) != 0; }
};

// rm_error_fn recorder; the error user pointer is the ErrorLog.
struct ErrorLog {
    struct Entry {
        rm_result code;
        std::string message;  // "" when the message was null
        bool has_message;
    };
    std::vector<Entry> entries;

    static void report(void* error_user, rm_result code, const char* message);

    size_t count() const { return entries.size(); }
    rm_result last_code() const { return entries.empty() ? RM_OK : entries.back().code; }
    std::string last_message() const { return entries.empty() ? std::string() : entries.back().message; }
    size_t count_of(const std::string& message) const;  // entries with this exact message
    void clear() { entries.clear(); }
};

}  // namespace rmtest

#endif
