// rmrate's source for a measured file: views of the file mapped into memory (mmap, MapViewOfFile), one at a
// time, slid along as the reader goes.
#include "tools/rmrate/mapped_file.h"

#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "analysis/media_file_buffer.h"
#include "rmparser/rm_reader.h"

namespace {

// Where a view may start: the allocation granularity on Windows (64 KiB), the page size elsewhere.
uint64_t MappingGranularity() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwAllocationGranularity ? info.dwAllocationGranularity : 64 * 1024;
#else
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<uint64_t>(page) : 4096;
#endif
}

}  // namespace

MappedFile::MappedFile(uint32_t view_size) : source_{AttachReader, DetachReader, this} {
    granularity_ = MappingGranularity();
    uint64_t size = view_size < MAPPED_ROOM + granularity_ ? MAPPED_ROOM + granularity_ : view_size;
    size = (size + granularity_ - 1) / granularity_ * granularity_;
    view_size_ = static_cast<uint32_t>(size);
}

bool MappedFile::Attach(FILE* file, uint64_t size) {
    Detach();
    if (!file || size == 0) return false;
    file_ = file;
    size_ = size;
    position_ = 0;
    unmappable_ = false;
#ifdef _WIN32
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE) {
        Detach();
        return false;
    }
    // The whole file's mapping object costs no address space; only views do.
    mapping_ = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping_) {
        Detach();
        return false;
    }
#endif
    if (!MapViewAt(0)) {
        Detach();
        return false;
    }
    return true;
}

void MappedFile::Detach() {
    Unmap();
#ifdef _WIN32
    if (mapping_) CloseHandle(static_cast<HANDLE>(mapping_));
#endif
    mapping_ = nullptr;
    file_ = nullptr;
    size_ = 0;
    position_ = 0;
}

void MappedFile::Unmap() {
    if (!view_) return;
#ifdef _WIN32
    UnmapViewOfFile(view_);
#else
    munmap(const_cast<uint8_t*>(view_), static_cast<size_t>(view_length_));
#endif
    view_ = nullptr;
    view_start_ = 0;
    view_length_ = 0;
}

bool MappedFile::MapViewAt(uint64_t at) {
    Unmap();
#ifndef _WIN32
    // A file shortened since it was opened ends where it ends now: a mapped
    // page past its end would stop the process rather than read short.
    struct stat status;
    if (fstat(fileno(file_), &status) != 0) return false;
    if (static_cast<uint64_t>(status.st_size) < size_) size_ = static_cast<uint64_t>(status.st_size);
#endif
    if (at >= size_) return false;
    const uint64_t start = at - at % granularity_;
    const uint64_t left = size_ - start;
    const uint64_t length = left < view_size_ ? left : view_size_;
#ifdef _WIN32
    void* view = MapViewOfFile(static_cast<HANDLE>(mapping_), FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                               static_cast<DWORD>(start & 0xFFFFFFFFu), static_cast<SIZE_T>(length));
    if (!view) return false;
#else
#ifdef MAP_POPULATE
    // The view is read from end to end: its pages mapped at once cost far
    // less than a fault for each.
    const int flags = MAP_SHARED | MAP_POPULATE;
#else
    const int flags = MAP_SHARED;
#endif
    void* view = mmap(nullptr, static_cast<size_t>(length), PROT_READ, flags, fileno(file_), static_cast<off_t>(start));
    if (view == MAP_FAILED) return false;
#endif
    view_ = static_cast<const uint8_t*>(view);
    view_start_ = start;
    view_length_ = length;
    ++views_mapped_;
    return true;
}

bool MappedFile::Cover(uint64_t at) {
    const uint64_t left = size_ - at;
    const uint64_t wanted = left < MAPPED_ROOM ? left : MAPPED_ROOM;
    if (view_ && at >= view_start_ && at - view_start_ + wanted <= view_length_) return true;
    if (unmappable_) return false;
    if (MapViewAt(at)) return true;
    unmappable_ = true;
    return false;
}

uint32_t MappedFile::Read(void* user, void* destination, uint32_t count) {
    MappedFile* mapped = static_cast<MappedFile*>(user);
    if (!mapped || !mapped->file_ || !destination) return 0;
    unsigned char* out = static_cast<unsigned char*>(destination);
    uint32_t done = 0;
    while (done < count && mapped->position_ < mapped->size_) {
        if (!mapped->Cover(mapped->position_)) {
            // No view: the same bytes through the FILE, up to the same end.
            const uint64_t left = mapped->size_ - mapped->position_;
            const uint32_t wanted = left < count - done ? static_cast<uint32_t>(left) : count - done;
            if (SeekFile(mapped->file_, static_cast<int64_t>(mapped->position_), SEEK_SET) != 0) break;
            const uint32_t got = static_cast<uint32_t>(std::fread(out + done, 1, wanted, mapped->file_));
            mapped->position_ += got;
            done += got;
            break;
        }
        const uint64_t in_view = mapped->view_start_ + mapped->view_length_ - mapped->position_;
        const uint32_t part = in_view < count - done ? static_cast<uint32_t>(in_view) : count - done;
        std::memcpy(out + done, mapped->view_ + (mapped->position_ - mapped->view_start_), part);
        mapped->position_ += part;
        done += part;
    }
    return done;
}

void MappedFile::Seek(void* user, int32_t offset, int origin) {
    MappedFile* mapped = static_cast<MappedFile*>(user);
    if (!mapped || !mapped->file_) return;
    int64_t target;
    if (origin == RM_SEEK_SET) {
        target = static_cast<uint32_t>(offset);
    } else if (origin == RM_SEEK_CUR) {
        target = static_cast<int64_t>(mapped->position_) + offset;
    } else if (origin == RM_SEEK_END) {
        target = static_cast<int64_t>(mapped->size_) + offset;
    } else {
        return;
    }
    // Before the start is refused, as fseek refuses it; past the end is
    // allowed, and reads there find nothing.
    if (target >= 0) mapped->position_ = static_cast<uint64_t>(target);
}

uint32_t MappedFile::Tell(void* user) {
    const MappedFile* mapped = static_cast<const MappedFile*>(user);
    if (!mapped) return 0xFFFFFFFFu;
    return mapped->position_ > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(mapped->position_);
}

const uint8_t* MappedFile::Window(void* user, uint32_t* count) {
    MappedFile* mapped = static_cast<MappedFile*>(user);
    *count = 0;
    if (!mapped || !mapped->file_ || mapped->position_ >= mapped->size_ || !mapped->Cover(mapped->position_)) {
        return nullptr;
    }
    const uint64_t in_view = mapped->view_start_ + mapped->view_length_ - mapped->position_;
    *count = in_view > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(in_view);
    return mapped->view_ + (mapped->position_ - mapped->view_start_);
}

bool MappedFile::AttachReader(void* context, FILE* file, uint64_t size, rm_reader* reader) {
    MappedFile* mapped = static_cast<MappedFile*>(context);
    if (!mapped->Attach(file, size)) return false;
    if (rm_reader_attach_io(reader, Read, Seek, Tell, mapped) == RM_OK &&
        rm_reader_attach_window(reader, Window) == RM_OK) {
        return true;
    }
    mapped->Detach();
    return false;
}

void MappedFile::DetachReader(void* context) { static_cast<MappedFile*>(context)->Detach(); }
