// The file a measurement reads, mapped into memory a view at a time, as the reader's source: its window
// shows the packets where the mapping holds them, so that none of the file's bytes is copied on the way.
#ifndef KOV_TOOLS_RMRATE_MAPPED_FILE_H
#define KOV_TOOLS_RMRATE_MAPPED_FILE_H

#include <cstdint>
#include <cstdio>

#include "analysis/media_file.h"

// Room the window keeps after the position: a whole packet of the largest length and the header after it.
const uint32_t MAPPED_ROOM = 128 * 1024;
// Bytes mapped at once. The mapped pages count in the process's memory, so a view is a few MiB whatever the
// size of the file, and a 32-bit process has the address space for it.
const uint32_t MAPPED_VIEW_SIZE = 4 * 1024 * 1024;

// One file at a time, between Attach and Detach. Reads, seeks and tells behave as the run's buffered stdio
// source does (a short read at the end of the file, a seek before the start refused, positions beyond 32 bits
// told as 0xFFFFFFFF), over the size the file had when it was opened. Where a view cannot be mapped after
// the first, the bytes are read through the FILE instead.
class MappedFile {
public:
    // Views of `view_size` bytes, made a multiple of what the system maps and at least the room and one
    // such step.
    explicit MappedFile(uint32_t view_size = MAPPED_VIEW_SIZE);
    ~MappedFile() { Detach(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // For MeasureOptions::source: the reader's callbacks over the mapping, or false when the file cannot be
    // mapped, and the run reads it through its buffer.
    const MediaSource* Source() const { return &source_; }

    // `file` (open, a regular file of `size` bytes) from its start, with its first view mapped; false when it
    // cannot be mapped (an empty file cannot). The FILE stays the caller's and must outlive the mapping.
    bool Attach(FILE* file, uint64_t size);
    void Detach();

    // The reader's callbacks; the user pointer is the MappedFile.
    static uint32_t Read(void* user, void* destination, uint32_t count);
    static void Seek(void* user, int32_t offset, int origin);
    static uint32_t Tell(void* user);
    static const uint8_t* Window(void* user, uint32_t* count);

    // Views mapped so far, over every file.
    uint64_t ViewsMapped() const { return views_mapped_; }

private:
    static bool AttachReader(void* context, FILE* file, uint64_t size, rm_reader* reader);
    static void DetachReader(void* context);
    // A view that holds `at` and the room after it (or all the file has there); false when none can be mapped.
    bool Cover(uint64_t at);
    bool MapViewAt(uint64_t at);
    void Unmap();

    MediaSource source_;
    uint64_t granularity_;
    uint32_t view_size_;
    FILE* file_ = nullptr;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    bool unmappable_ = false;  // a view could not be mapped: the FILE is read instead
    void* mapping_ = nullptr;  // Windows: the file mapping object
    const uint8_t* view_ = nullptr;
    uint64_t view_start_ = 0;
    uint64_t view_length_ = 0;
    uint64_t views_mapped_ = 0;
};

#endif
