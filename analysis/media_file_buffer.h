// The reader's read, seek and tell callbacks over a stdio FILE, through a buffer.
#ifndef KOV_ANALYSIS_MEDIA_FILE_BUFFER_H
#define KOV_ANALYSIS_MEDIA_FILE_BUFFER_H

#include <cstdint>
#include <cstdio>

// The parser asks for the position of every packet it delivers and skips
// other streams' packets by seeking, and through stdio each of those costs a
// system call. Behaves like the stdio callbacks: a short read means the end
// of the file, a seek to a negative position is refused, positions beyond 32
// bits read as 0xFFFFFFFF.
struct MediaFileBuffer {
    FILE* file;
    unsigned char* data;
    uint32_t capacity;
    uint64_t data_offset;  // file offset of data[0]; the FILE stands at data_offset + filled
    uint32_t filled;       // bytes of data read from the file
    uint32_t cursor;       // next byte to hand out
};

// Starts empty at the FILE's current position.
void InitMediaFileBuffer(MediaFileBuffer* io, FILE* file, unsigned char* data, uint32_t capacity);
uint32_t MediaFileRead(void* io, void* destination, uint32_t count);
void MediaFileSeek(void* io, int32_t offset, int origin);
uint32_t MediaFileTell(void* io);
// The reader's window callback (rm_window_fn): the buffer's bytes from the
// current position, refilled first when none are left; none at the end of
// the file.
const uint8_t* MediaFileWindow(void* io, uint32_t* count);

// Seek and tell in 64 bits: fseek and ftell take a long, 32 bits on Windows,
// whose C runtime also keeps a 32-bit position for relative seeks, so files
// beyond 2 GiB need its 64-bit pair.
int SeekFile(FILE* file, int64_t offset, int origin);
int64_t TellFile(FILE* file);

#endif
