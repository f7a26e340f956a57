// Test doubles for the reader's callbacks: temporary files, memory I/O, a counting allocator, an error log.
#include "rm_test_io.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace rmtest {

namespace {

unsigned long process_id() {
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::string temp_dir() {
#ifdef _WIN32
    const char* names[] = {"TMP", "TEMP"};
    const char separator = '\\';
    const char* fallback = ".";
#else
    const char* names[] = {"TMPDIR"};
    const char separator = '/';
    const char* fallback = "/tmp";
#endif
    std::string dir = fallback;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value && *value) {
            dir = value;
            break;
        }
    }
    if (dir.back() != '/' && dir.back() != '\\') dir += separator;
    return dir;
}

bool exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

bool write_all(FILE* f, const Bytes& bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

}  // namespace

// ---------------------------------------------------------------- files

FILE* open_memory_file(const Bytes& bytes) {
    FILE* f = std::tmpfile();
#ifdef _WIN32
    // msvcrt's tmpfile() writes to the drive root, which may be read-only;
    // "D" asks for a file deleted on close, "T" for one kept in memory if possible.
    if (!f) {
        static unsigned counter = 0;
        const std::string path =
            temp_dir() + "rmtest-mem-" + std::to_string(process_id()) + "-" + std::to_string(++counter) + ".tmp";
        f = std::fopen(path.c_str(), "w+bTD");
    }
#endif
    if (!f) return nullptr;
    if (!write_all(f, bytes) || std::fflush(f) != 0) {
        std::fclose(f);
        return nullptr;
    }
    std::rewind(f);
    return f;
}

TempFile::TempFile(const Bytes& bytes, const std::string& suffix) {
    static unsigned counter = 0;
    const std::string dir = temp_dir();
    std::string candidate;
    do {
        candidate = dir + "rmtest-" + std::to_string(process_id()) + "-" + std::to_string(++counter) + suffix;
    } while (exists(candidate));
    FILE* f = std::fopen(candidate.c_str(), "wb");
    if (!f) return;
    const bool written = write_all(f, bytes);
    if (std::fclose(f) != 0 || !written) {
        std::remove(candidate.c_str());
        return;
    }
    path = candidate;
}

TempFile::~TempFile() {
    if (!path.empty()) std::remove(path.c_str());
}

// ---------------------------------------------------------------- MemoryIo

uint32_t MemoryIo::read(void* io_user, void* destination, uint32_t count) {
    MemoryIo* io = static_cast<MemoryIo*>(io_user);
    ++io->read_calls;
    uint64_t end = io->data.size();
    if (io->fail_reads_at < end) end = io->fail_reads_at;
    if (io->position >= end || count == 0) return 0;
    uint64_t n = end - io->position;
    if (n > count) n = count;
    std::memcpy(destination, io->data.data() + io->position, static_cast<size_t>(n));
    io->position += n;
    io->bytes_read += n;
    return static_cast<uint32_t>(n);
}

void MemoryIo::seek(void* io_user, int32_t offset, int origin) {
    MemoryIo* io = static_cast<MemoryIo*>(io_user);
    io->seeks.push_back({offset, origin});
    int64_t target;
    switch (origin) {
    case RM_SEEK_SET:
        target = static_cast<int64_t>(static_cast<uint32_t>(offset));
        break;
    case RM_SEEK_CUR:
        target = static_cast<int64_t>(io->position) + offset;
        break;
    case RM_SEEK_END:
        target = static_cast<int64_t>(io->data.size()) + offset;
        break;
    default:
        return;  // like fseek with a bad origin: refused
    }
    if (target < 0) return;  // like fseek: refused, position unchanged
    io->position = static_cast<uint64_t>(target);
}

uint32_t MemoryIo::tell(void* io_user) {
    MemoryIo* io = static_cast<MemoryIo*>(io_user);
    ++io->tell_calls;
    return io->position > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(io->position);
}

void MemoryIo::attach(rm_reader* reader) {
    reader->read_fn = &MemoryIo::read;
    reader->seek_fn = &MemoryIo::seek;
    reader->tell_fn = &MemoryIo::tell;
    reader->io_user = this;
}

// ---------------------------------------------------------------- WindowIo

WindowIo::WindowIo(rm_read_fn read_fn, rm_seek_fn seek_fn, rm_tell_fn tell_fn, void* user, std::vector<uint32_t> sizes)
    : read_fn_(read_fn), seek_fn_(seek_fn), tell_fn_(tell_fn), user_(user), sizes_(std::move(sizes)) {}

rm_result WindowIo::attach(rm_reader* reader) {
    const rm_result attached = rm_reader_attach_io(reader, &WindowIo::read, &WindowIo::seek, &WindowIo::tell, this);
    return attached != RM_OK ? attached : rm_reader_attach_window(reader, &WindowIo::window);
}

uint32_t WindowIo::read(void* io_user, void* destination, uint32_t count) {
    WindowIo* io = static_cast<WindowIo*>(io_user);
    io->shown_.reset();
    ++io->reads;
    return io->read_fn_(io->user_, destination, count);
}

void WindowIo::seek(void* io_user, int32_t offset, int origin) {
    WindowIo* io = static_cast<WindowIo*>(io_user);
    io->shown_.reset();
    io->seek_fn_(io->user_, offset, origin);
}

uint32_t WindowIo::tell(void* io_user) {
    WindowIo* io = static_cast<WindowIo*>(io_user);
    io->shown_.reset();
    return io->tell_fn_(io->user_);
}

const uint8_t* WindowIo::window(void* io_user, uint32_t* count) {
    WindowIo* io = static_cast<WindowIo*>(io_user);
    io->shown_.reset();
    const uint32_t size = io->sizes_.empty() ? 0 : io->sizes_[io->windows_shown % io->sizes_.size()];
    ++io->windows_shown;
    *count = 0;
    if (size == 0) return nullptr;
    // Read and given back: the source stays where it was.
    io->shown_.reset(new uint8_t[size]);
    const uint32_t got = io->read_fn_(io->user_, io->shown_.get(), size);
    if (got != 0) io->seek_fn_(io->user_, -int32_t(got), RM_SEEK_CUR);
    *count = got;
    return io->shown_.get();
}

// ---------------------------------------------------------------- TestAllocator

TestAllocator::~TestAllocator() {
    for (auto& block : blocks) std::free(block.first);
}

void* TestAllocator::allocate(void* memory_user, uint32_t size) {
    TestAllocator* a = static_cast<TestAllocator*>(memory_user);
    ++a->requests;
    if (size > a->largest_request) a->largest_request = size;
    a->request_sizes.push_back(size);
    if ((a->fail_at != 0 && a->requests == a->fail_at) || size > a->fail_above) {
        ++a->failures;
        return nullptr;
    }
    // Never hand out null for a zero-byte request: a null result means failure.
    void* block = std::malloc(size ? size : 1);
    if (!block) {
        ++a->failures;
        return nullptr;
    }
    std::memset(block, 0xA5, size ? size : 1);
    a->blocks[block] = size;
    ++a->allocations;
    a->live_bytes += size;
    if (a->live_bytes > a->peak_live_bytes) a->peak_live_bytes = a->live_bytes;
    return block;
}

void TestAllocator::release(void* memory_user, void* block) {
    TestAllocator* a = static_cast<TestAllocator*>(memory_user);
    if (!block) {
        ++a->null_releases;
        return;
    }
    auto found = a->blocks.find(block);
    if (found == a->blocks.end()) {
        // Not ours or already released: count it and leave the memory alone
        // rather than corrupt the heap; the test asserts foreign_releases == 0.
        ++a->foreign_releases;
        return;
    }
    a->live_bytes -= found->second;
    a->blocks.erase(found);
    ++a->releases;
    std::free(block);
}

// ---------------------------------------------------------------- ErrorLog

void ErrorLog::report(void* error_user, rm_result code, const char* message) {
    ErrorLog* log = static_cast<ErrorLog*>(error_user);
    log->entries.push_back({code, message ? std::string(message) : std::string(), message != nullptr});
}

size_t ErrorLog::count_of(const std::string& message) const {
    size_t n = 0;
    for (const Entry& e : entries) n += e.has_message && e.message == message;
    return n;
}

}  // namespace rmtest
