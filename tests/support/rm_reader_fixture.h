// The set-up every reader test starts from: a handle on a counting allocator and an error log, reading memory.
#ifndef KOV_TESTS_SUPPORT_RM_READER_FIXTURE_H
#define KOV_TESTS_SUPPORT_RM_READER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "rm_test_io.h"
#include "rm_writer.h"
#include "rmparser/rm_reader.h"

namespace rmtest {

// A handle made on `alloc` and `log`. Given bytes, it reads them through `io`;
// without, no I/O is attached. When the fixture goes it deletes the handle
// (unless the test did) and checks that every block came back exactly once.
struct ReaderFixture {
    ReaderFixture();
    explicit ReaderFixture(Bytes bytes);
    ~ReaderFixture();
    ReaderFixture(const ReaderFixture&) = delete;
    ReaderFixture& operator=(const ReaderFixture&) = delete;

    rm_result load() { return rm_reader_load_headers(reader); }
    // Other bytes to read from their start: `io` and the handle's own
    // position count both go back to 0.
    void attach(const Bytes& bytes);

    // Blocks from the handle's allocator for records a test sets up by hand,
    // so that deleting the handle frees them with the rest.
    template <typename T>
    T* zeroed(size_t count) {
        return static_cast<T*>(zeroed_block(count * sizeof(T)));
    }
    void* zeroed_block(size_t size);
    char* copy_text(const char* text);        // null for null
    uint8_t* copy_bytes(const Bytes& bytes);  // null for no bytes

    TestAllocator alloc;
    ErrorLog log;
    MemoryIo io;
    rm_reader* reader = nullptr;
};

// The same for TEST_F.
struct ReaderTest : ::testing::Test, ReaderFixture {
    void SetUp() override { ASSERT_NE(nullptr, reader); }
};

}  // namespace rmtest

#endif
