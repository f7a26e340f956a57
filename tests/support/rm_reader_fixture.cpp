// The reader tests' shared fixture: a handle on a counting allocator and an error log, reading memory.
#include "rm_reader_fixture.h"

#include <cstring>
#include <utility>

namespace rmtest {

ReaderFixture::ReaderFixture() {
    reader = rm_reader_new_custom(&log, &ErrorLog::report, &alloc, &TestAllocator::allocate, &TestAllocator::release);
}

ReaderFixture::ReaderFixture(Bytes bytes) : ReaderFixture() {
    io.data = std::move(bytes);
    if (reader) io.attach(reader);
}

ReaderFixture::~ReaderFixture() {
    rm_reader_delete(&reader);
    EXPECT_EQ(0u, alloc.live()) << "leak";
    EXPECT_EQ(0u, alloc.foreign_releases);
}

void ReaderFixture::attach(const Bytes& bytes) {
    io.data = bytes;
    io.position = 0;
    io.attach(reader);
    reader->position = 0;
}

void* ReaderFixture::zeroed_block(size_t size) {
    void* block = TestAllocator::allocate(&alloc, uint32_t(size));
    if (block) std::memset(block, 0, size);
    return block;
}

char* ReaderFixture::copy_text(const char* text) {
    if (!text) return nullptr;
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(TestAllocator::allocate(&alloc, uint32_t(size)));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}

uint8_t* ReaderFixture::copy_bytes(const Bytes& bytes) {
    if (bytes.empty()) return nullptr;
    uint8_t* copy = static_cast<uint8_t*>(TestAllocator::allocate(&alloc, uint32_t(bytes.size())));
    if (copy) std::memcpy(copy, bytes.data(), bytes.size());
    return copy;
}

}  // namespace rmtest
