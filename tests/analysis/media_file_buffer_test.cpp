// The run's buffered file callbacks, checked against plain stdio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/media_file_buffer.h"
#include "tests/support/rm_test_io.h"

using namespace rmtest;

namespace {

// A 64-bit seek for the test's own writes.
int SeekFar(FILE* file, int64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

Bytes Numbered(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return bytes;
}

// The buffer must hand the parser exactly what plain stdio would: same bytes,
// same short reads at the end, same positions, same refusals.
TEST(MediaFileBufferTest, BehavesLikeStdioWhateverTheBufferSize) {
    const Bytes content = Numbered(1000);
    TempFile file(content);
    for (uint32_t capacity : {1u, 7u, 64u, 4096u}) {
        SCOPED_TRACE(capacity);
        FILE* plain = std::fopen(file.path.c_str(), "rb");
        FILE* buffered_file = std::fopen(file.path.c_str(), "rb");
        ASSERT_TRUE(plain && buffered_file);
        std::vector<unsigned char> storage(capacity);
        MediaFileBuffer io;
        InitMediaFileBuffer(&io, buffered_file, storage.data(), capacity);

        std::mt19937 random(capacity);
        for (int step = 0; step < 3000; ++step) {
            const int op = random() % 4;
            if (op <= 1) {
                const uint32_t count = random() % 150;
                unsigned char expected[150] = {}, actual[150] = {};
                const size_t want = count ? std::fread(expected, 1, count, plain) : 0;
                ASSERT_EQ(want, MediaFileRead(&io, actual, count)) << "step " << step;
                ASSERT_EQ(0, std::memcmp(expected, actual, want)) << "step " << step;
                std::clearerr(plain);
            } else if (op == 2) {
                const int32_t offset = static_cast<int32_t>(random() % 1100);
                std::fseek(plain, offset, SEEK_SET);
                MediaFileSeek(&io, offset, SEEK_SET);
            } else {
                const int32_t offset = static_cast<int32_t>(random() % 600) - 300;
                // A seek below 0 is refused and changes nothing (some C
                // libraries move the stream anyway, so stdio is no model there).
                if (std::ftell(plain) + offset >= 0) std::fseek(plain, offset, SEEK_CUR);
                MediaFileSeek(&io, offset, SEEK_CUR);
            }
            ASSERT_EQ(static_cast<uint32_t>(std::ftell(plain)), MediaFileTell(&io)) << "step " << step;
        }
        std::fclose(plain);
        std::fclose(buffered_file);
    }
}

// Its window shows the bytes a read from there would return, moves nothing,
// and, taken with a relative seek as the reader takes it, leaves the buffer
// where a read of as many bytes would.
TEST(MediaFileBufferTest, WindowShowsWhatAReadWouldReturn) {
    const Bytes content = Numbered(1000);
    TempFile file(content);
    for (uint32_t capacity : {1u, 7u, 64u, 4096u}) {
        SCOPED_TRACE(capacity);
        FILE* f = std::fopen(file.path.c_str(), "rb");
        ASSERT_NE(nullptr, f);
        std::vector<unsigned char> storage(capacity);
        MediaFileBuffer io;
        InitMediaFileBuffer(&io, f, storage.data(), capacity);
        std::mt19937 random(capacity);
        uint64_t at = 0;
        for (int step = 0; step < 2000; ++step) {
            uint32_t count = 0;
            const uint8_t* shown = MediaFileWindow(&io, &count);
            ASSERT_EQ(at, MediaFileTell(&io)) << "step " << step;
            if (at >= content.size()) {
                ASSERT_EQ(0u, count) << "step " << step;
            } else {
                ASSERT_LT(0u, count) << "step " << step;
                ASSERT_LE(at + count, content.size()) << "step " << step;
                ASSERT_EQ(0, std::memcmp(content.data() + at, shown, count)) << "step " << step;
            }
            const int op = random() % 3;
            if (op == 0 && count != 0) {
                const uint32_t taken = 1 + random() % count;
                MediaFileSeek(&io, static_cast<int32_t>(taken), SEEK_CUR);
                at += taken;
            } else if (op == 1) {
                unsigned char out[40];
                const uint32_t wanted = random() % sizeof out;
                const uint32_t got = MediaFileRead(&io, out, wanted);
                ASSERT_EQ(std::min<uint64_t>(wanted, at < content.size() ? content.size() - at : 0), got);
                at += got;
            } else {
                at = random() % 1100;
                MediaFileSeek(&io, static_cast<int32_t>(at), SEEK_SET);
            }
        }
        std::fclose(f);
    }
}

TEST(MediaFileBufferTest, LargeReadsEndAndSeeksFromTheEnd) {
    const Bytes content = Numbered(5000);
    TempFile file(content);
    FILE* f = std::fopen(file.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    unsigned char storage[16];
    MediaFileBuffer io;
    InitMediaFileBuffer(&io, f, storage, sizeof storage);

    // Larger than the buffer: read straight through, then the rest is short.
    std::vector<unsigned char> out(6000);
    EXPECT_EQ(3u, MediaFileRead(&io, out.data(), 3));
    EXPECT_EQ(4000u, MediaFileRead(&io, out.data() + 3, 4000));
    EXPECT_EQ(997u, MediaFileRead(&io, out.data() + 4003, 2000));
    EXPECT_EQ(0, std::memcmp(content.data(), out.data(), content.size()));
    EXPECT_EQ(0u, MediaFileRead(&io, out.data(), 10));
    EXPECT_EQ(5000u, MediaFileTell(&io));

    MediaFileSeek(&io, -10, SEEK_END);
    EXPECT_EQ(4990u, MediaFileTell(&io));
    EXPECT_EQ(10u, MediaFileRead(&io, out.data(), 100));
    EXPECT_EQ(content[4990], out[0]);

    // Null arguments and a zero count read nothing.
    EXPECT_EQ(0u, MediaFileRead(&io, nullptr, 10));
    EXPECT_EQ(0u, MediaFileRead(nullptr, out.data(), 10));
    std::fclose(f);
}

TEST(MediaFileBufferTest, FarSeekIsTakenAsAnUnsignedOffset) {
    TempFile file(Numbered(100));
    FILE* f = std::fopen(file.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    unsigned char storage[32];
    MediaFileBuffer io;
    InitMediaFileBuffer(&io, f, storage, sizeof storage);
    unsigned char out[8];
    MediaFileRead(&io, out, 8);

    // Beyond 2 GiB and past the end: allowed, and reads there find nothing.
    MediaFileSeek(&io, static_cast<int32_t>(0xC0000000u), SEEK_SET);
    EXPECT_EQ(0xC0000000u, MediaFileTell(&io));
    EXPECT_EQ(0u, MediaFileRead(&io, out, 8));
    // Back within the file, relative to the far position.
    MediaFileSeek(&io, 50, SEEK_SET);
    EXPECT_EQ(8u, MediaFileRead(&io, out, 8));
    EXPECT_EQ(Numbered(100)[50], out[0]);
    std::fclose(f);
}

// A file larger than 2 GiB (sparse: only its two marked blocks are written),
// where 32-bit positions no longer serve.
TEST(MediaFileBufferTest, SeeksAndTellsBeyondTwoGibibytes) {
    const uint32_t first_mark = 0x90000000u;  // 2.25 GiB
    const uint32_t last_mark = 0xC0000000u;   // 3 GiB, the last 64 bytes of the file
    const Bytes first = Numbered(64);
    const Bytes last(first.rbegin(), first.rend());
    TempFile file(Bytes{});
    ASSERT_FALSE(file.path.empty());
    FILE* writer = std::fopen(file.path.c_str(), "r+b");
    ASSERT_NE(nullptr, writer);
    ASSERT_EQ(0, SeekFar(writer, first_mark));
    ASSERT_EQ(first.size(), std::fwrite(first.data(), 1, first.size(), writer));
    ASSERT_EQ(0, SeekFar(writer, last_mark));
    ASSERT_EQ(last.size(), std::fwrite(last.data(), 1, last.size(), writer));
    ASSERT_EQ(0, std::fclose(writer));

    FILE* f = std::fopen(file.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    unsigned char storage[4096];
    MediaFileBuffer io;
    unsigned char out[64];
    // A FILE already beyond 2 GiB: the buffer starts where it stands.
    ASSERT_EQ(0, SeekFar(f, first_mark));
    InitMediaFileBuffer(&io, f, storage, sizeof storage);
    EXPECT_EQ(first_mark, MediaFileTell(&io));
    ASSERT_EQ(8u, MediaFileRead(&io, out, 8));
    EXPECT_EQ(0, std::memcmp(first.data(), out, 8));

    // From the end.
    MediaFileSeek(&io, -64, SEEK_END);
    EXPECT_EQ(last_mark, MediaFileTell(&io));
    ASSERT_EQ(64u, MediaFileRead(&io, out, sizeof out));
    EXPECT_EQ(0, std::memcmp(last.data(), out, sizeof out));
    EXPECT_EQ(0u, MediaFileRead(&io, out, 1));

    // Relative, far back: beyond the buffer and beyond 2 GiB on both sides.
    MediaFileSeek(&io, -static_cast<int32_t>(last_mark - first_mark + 64), SEEK_CUR);
    EXPECT_EQ(first_mark, MediaFileTell(&io));
    ASSERT_EQ(8u, MediaFileRead(&io, out, 8));
    EXPECT_EQ(0, std::memcmp(first.data(), out, 8));

    // Absolute, far forward.
    MediaFileSeek(&io, static_cast<int32_t>(last_mark + 8), SEEK_SET);
    EXPECT_EQ(last_mark + 8, MediaFileTell(&io));
    ASSERT_EQ(8u, MediaFileRead(&io, out, 8));
    EXPECT_EQ(0, std::memcmp(last.data() + 8, out, 8));
    std::fclose(f);
}

}  // namespace
