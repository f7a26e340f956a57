// Tests of the big-endian cursor readers and writers: values, and that what cannot be done in full moves nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "rmparser/rm_fields.h"
#include "tests/support/rm_test_io.h"

namespace {

using rmtest::Bytes;
using rmtest::TestAllocator;

struct PlainReader {
    const char* name;
    uint32_t needs;
    std::function<uint32_t(const uint8_t**, uint32_t*)> read;
};

const std::vector<PlainReader>& plain_readers() {
    static const std::vector<PlainReader> readers = {
        {"u32", 4, [](const uint8_t** c, uint32_t* r) { return rm_get_u32(c, r); }},
        {"u16", 2, [](const uint8_t** c, uint32_t* r) { return uint32_t(rm_get_u16(c, r)); }},
        {"u8", 1, [](const uint8_t** c, uint32_t* r) { return uint32_t(rm_get_u8(c, r)); }},
        {"sized_u32", 1, [](const uint8_t** c, uint32_t* r) { return rm_get_sized_u32(c, r); }},
    };
    return readers;
}

TEST(FieldReaders, TooShortReadsReturnZeroAndMoveNothing) {
    const uint8_t bytes[] = {0x04, 0x12, 0x34, 0x56, 0x78};
    for (const PlainReader& reader : plain_readers()) {
        for (uint32_t length = 0; length < reader.needs; ++length) {
            const uint8_t* cursor = bytes;
            uint32_t remaining = length;
            EXPECT_EQ(0u, reader.read(&cursor, &remaining)) << reader.name << " length " << length;
            EXPECT_EQ(bytes, cursor) << reader.name << " length " << length;
            EXPECT_EQ(length, remaining) << reader.name << " length " << length;
        }
        // Missing halves of the cursor, or a cursor pointing nowhere.
        const uint8_t* cursor = bytes;
        uint32_t remaining = sizeof bytes;
        EXPECT_EQ(0u, reader.read(nullptr, &remaining)) << reader.name;
        EXPECT_EQ(0u, reader.read(&cursor, nullptr)) << reader.name;
        EXPECT_EQ(bytes, cursor) << reader.name;
        const uint8_t* nowhere = nullptr;
        EXPECT_EQ(0u, reader.read(&nowhere, &remaining)) << reader.name;
        EXPECT_EQ(uint32_t(sizeof bytes), remaining) << reader.name;
    }
}

TEST(FieldReaders, ValuesAreBigEndianAndUnsigned) {
    const uint8_t bytes[] = {0x2E, 0x52, 0x4D, 0x46, 0xFF, 0xFE, 0x80};
    const uint8_t* cursor = bytes;
    uint32_t remaining = sizeof bytes;
    EXPECT_EQ(0x2E524D46u, rm_get_u32(&cursor, &remaining));
    EXPECT_EQ(0xFFFEu, rm_get_u16(&cursor, &remaining));
    EXPECT_EQ(0x80u, rm_get_u8(&cursor, &remaining));
    EXPECT_EQ(0u, remaining);
    EXPECT_EQ(bytes + sizeof bytes, cursor);
}

TEST(FieldReaders, FailedReadLeavesBytesForAShorterOne) {
    const uint8_t bytes[] = {0xAB, 0xCD, 0xEF};
    const uint8_t* cursor = bytes;
    uint32_t remaining = 3;
    EXPECT_EQ(0u, rm_get_u32(&cursor, &remaining));
    EXPECT_EQ(0xABCDu, rm_get_u16(&cursor, &remaining));
    EXPECT_EQ(1u, remaining);
}

TEST(FieldReaders, Peek) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(0x01020304u, rm_peek_u32(bytes, 4));
    EXPECT_EQ(0x0102u, rm_peek_u16(bytes, 2));
    EXPECT_EQ(0u, rm_peek_u32(bytes, 3));
    EXPECT_EQ(0u, rm_peek_u16(bytes, 1));
    EXPECT_EQ(0u, rm_peek_u32(nullptr, 4));
    EXPECT_EQ(0u, rm_peek_u16(nullptr, 2));
}

TEST(FieldReaders, SizedU32) {
    struct Case {
        Bytes bytes;
        uint32_t value;
        uint32_t consumed;
    } cases[] = {
        {{4, 0x00, 0x01, 0x02, 0x03}, 0x00010203u, 5},
        {{2, 0x00, 0x01, 0x02, 0x03}, 0, 1},  // size byte consumed, nothing more
        {{4, 0x00, 0x01, 0x02}, 0, 1},        // too few after the size byte
        {{0}, 0, 1},
    };
    for (const Case& c : cases) {
        const uint8_t* cursor = c.bytes.data();
        uint32_t remaining = uint32_t(c.bytes.size());
        EXPECT_EQ(c.value, rm_get_sized_u32(&cursor, &remaining));
        EXPECT_EQ(c.consumed, uint32_t(cursor - c.bytes.data()));
        EXPECT_EQ(uint32_t(c.bytes.size()) - c.consumed, remaining);
    }
}

// ---------------------------------------------------------------- copying readers

// One copying reader behind a common shape, so each rule is checked on all.
struct CopyReader {
    const char* name;
    uint32_t count;  // elements asked for
    uint32_t bytes;  // bytes that count consumes
    std::function<rm_result(const uint8_t**, uint32_t*, void**, TestAllocator*, rm_alloc_fn, rm_release_fn)> copy;
};

std::vector<CopyReader> copy_readers() {
    return {
        {"text", 3, 3,
         [](const uint8_t** c, uint32_t* r, void** d, TestAllocator* a, rm_alloc_fn af, rm_release_fn rf) {
             return rm_get_text(c, r, 3, reinterpret_cast<char**>(d), a, af, rf);
         }},
        {"bytes", 3, 3,
         [](const uint8_t** c, uint32_t* r, void** d, TestAllocator* a, rm_alloc_fn af, rm_release_fn rf) {
             return rm_get_bytes(c, r, 3, reinterpret_cast<uint8_t**>(d), a, af, rf);
         }},
        {"array16", 3, 6,
         [](const uint8_t** c, uint32_t* r, void** d, TestAllocator* a, rm_alloc_fn af, rm_release_fn rf) {
             return rm_get_array(c, r, 3, 2, d, a, af, rf);
         }},
        {"array32", 3, 12,
         [](const uint8_t** c, uint32_t* r, void** d, TestAllocator* a, rm_alloc_fn af, rm_release_fn rf) {
             return rm_get_array(c, r, 3, 4, d, a, af, rf);
         }},
    };
}

TEST(CopyingReaders, TooShortOrMissingArgumentsFailAndChangeNothing) {
    const Bytes source(16, 0x11);
    for (const CopyReader& reader : copy_readers()) {
        TestAllocator alloc;
        void* previous = TestAllocator::allocate(&alloc, 5);
        for (uint32_t length = 0; length < reader.bytes; ++length) {
            const uint8_t* cursor = source.data();
            uint32_t remaining = length;
            void* destination = previous;
            EXPECT_EQ(RM_FAIL, reader.copy(&cursor, &remaining, &destination, &alloc, TestAllocator::allocate,
                                           TestAllocator::release))
                << reader.name << " length " << length;
            EXPECT_EQ(source.data(), cursor) << reader.name;
            EXPECT_EQ(length, remaining) << reader.name;
            EXPECT_EQ(previous, destination) << reader.name;
        }
        const uint8_t* cursor = source.data();
        uint32_t remaining = uint32_t(source.size());
        void* destination = previous;
        EXPECT_EQ(RM_FAIL, reader.copy(nullptr, &remaining, &destination, &alloc, TestAllocator::allocate,
                                       TestAllocator::release));
        EXPECT_EQ(RM_FAIL,
                  reader.copy(&cursor, nullptr, &destination, &alloc, TestAllocator::allocate, TestAllocator::release));
        EXPECT_EQ(RM_FAIL,
                  reader.copy(&cursor, &remaining, nullptr, &alloc, TestAllocator::allocate, TestAllocator::release));
        EXPECT_EQ(RM_FAIL, reader.copy(&cursor, &remaining, &destination, &alloc, nullptr, TestAllocator::release));
        EXPECT_EQ(RM_FAIL, reader.copy(&cursor, &remaining, &destination, &alloc, TestAllocator::allocate, nullptr));
        const uint8_t* nowhere = nullptr;
        EXPECT_EQ(RM_FAIL, reader.copy(&nowhere, &remaining, &destination, &alloc, TestAllocator::allocate,
                                       TestAllocator::release));
        EXPECT_EQ(source.data(), cursor);
        EXPECT_EQ(uint32_t(source.size()), remaining);
        EXPECT_EQ(previous, destination);
        EXPECT_EQ(1u, alloc.requests) << reader.name << ": only the test's own block";
        TestAllocator::release(&alloc, previous);
    }
}

TEST(CopyingReaders, AllocationFailureLeavesCursorAndNullDestination) {
    const Bytes source(16, 0x22);
    for (const CopyReader& reader : copy_readers()) {
        TestAllocator alloc;
        void* destination = TestAllocator::allocate(&alloc, 5);
        alloc.fail_nth(2);
        const uint8_t* cursor = source.data();
        uint32_t remaining = uint32_t(source.size());
        EXPECT_EQ(RM_OUT_OF_MEMORY, reader.copy(&cursor, &remaining, &destination, &alloc, TestAllocator::allocate,
                                                TestAllocator::release))
            << reader.name;
        EXPECT_EQ(source.data(), cursor) << reader.name;
        EXPECT_EQ(uint32_t(source.size()), remaining) << reader.name;
        EXPECT_EQ(nullptr, destination) << reader.name;
        EXPECT_EQ(0u, alloc.live()) << reader.name << ": the previous block was released";
    }
}

TEST(CopyingReaders, SuccessReplacesThePreviousBlock) {
    const Bytes source = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
    for (const CopyReader& reader : copy_readers()) {
        TestAllocator alloc;
        void* destination = TestAllocator::allocate(&alloc, 5);
        const uint8_t* cursor = source.data();
        uint32_t remaining = uint32_t(source.size());
        ASSERT_EQ(RM_OK, reader.copy(&cursor, &remaining, &destination, &alloc, TestAllocator::allocate,
                                     TestAllocator::release))
            << reader.name;
        EXPECT_EQ(source.data() + reader.bytes, cursor) << reader.name;
        EXPECT_EQ(uint32_t(source.size()) - reader.bytes, remaining) << reader.name;
        ASSERT_EQ(1u, alloc.live()) << reader.name;
        EXPECT_TRUE(alloc.owns(destination)) << reader.name;
        TestAllocator::release(&alloc, destination);
    }
}

TEST(CopyingReaders, TextAndBytesContent) {
    TestAllocator alloc;
    const Bytes source = {'a', 0, 'b', 'c'};
    const uint8_t* cursor = source.data();
    uint32_t remaining = 4;
    char* text = nullptr;
    ASSERT_EQ(RM_OK,
              rm_get_text(&cursor, &remaining, 4, &text, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(0u, remaining);
    EXPECT_EQ(5u, alloc.blocks.at(text));
    EXPECT_EQ(0, std::memcmp(text, "a\0bc\0", 5)) << "all bytes copied, a NUL added";
    EXPECT_STREQ("a", text);

    // n = 0 keeps what the destination held.
    char* kept = text;
    EXPECT_EQ(RM_OK,
              rm_get_text(&cursor, &remaining, 0, &text, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(kept, text);

    cursor = source.data();
    remaining = 4;
    uint8_t* block = nullptr;
    ASSERT_EQ(RM_OK,
              rm_get_bytes(&cursor, &remaining, 3, &block, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(3u, alloc.blocks.at(block)) << "no terminator";
    EXPECT_EQ(0, std::memcmp(block, source.data(), 3));
    EXPECT_EQ(1u, remaining);
    TestAllocator::release(&alloc, text);
    TestAllocator::release(&alloc, block);
}

TEST(CopyingReaders, TextOfFullRangeLengthDoesNotWrapTheBlockSize) {
    TestAllocator alloc;
    uint8_t byte = 0;
    const uint8_t* cursor = &byte;
    uint32_t remaining = UINT32_MAX;  // a lie, but the length check passes
    char* text = nullptr;
    EXPECT_EQ(RM_OUT_OF_MEMORY, rm_get_text(&cursor, &remaining, UINT32_MAX, &text, &alloc, TestAllocator::allocate,
                                            TestAllocator::release));
    EXPECT_EQ(0u, alloc.requests) << "no zero-byte block for a 4 GiB copy";
    EXPECT_EQ(&byte, cursor);
    EXPECT_EQ(nullptr, text);
}

TEST(CopyingReaders, ArrayValuesAndOddWidths) {
    TestAllocator alloc;
    const Bytes source = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    const uint8_t* cursor = source.data();
    uint32_t remaining = 8;
    void* array = nullptr;
    ASSERT_EQ(RM_OK,
              rm_get_array(&cursor, &remaining, 2, 4, &array, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(0x12345678u, static_cast<uint32_t*>(array)[0]);
    EXPECT_EQ(0x9ABCDEF0u, static_cast<uint32_t*>(array)[1]);
    EXPECT_EQ(0u, remaining);

    cursor = source.data();
    remaining = 8;
    ASSERT_EQ(RM_OK,
              rm_get_array(&cursor, &remaining, 3, 2, &array, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(1u, alloc.live()) << "the 32-bit array was replaced";
    EXPECT_EQ(6u, alloc.blocks.at(array));
    EXPECT_EQ(0x1234u, static_cast<uint16_t*>(array)[0]);
    EXPECT_EQ(0x9ABCu, static_cast<uint16_t*>(array)[2]);
    EXPECT_EQ(2u, remaining);

    // Width 3: allocated, nothing read.
    cursor = source.data();
    remaining = 8;
    ASSERT_EQ(RM_OK,
              rm_get_array(&cursor, &remaining, 2, 3, &array, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(6u, alloc.blocks.at(array));
    EXPECT_EQ(source.data(), cursor);
    EXPECT_EQ(8u, remaining);

    // Count 0: nothing changes.
    void* kept = array;
    EXPECT_EQ(RM_OK,
              rm_get_array(&cursor, &remaining, 0, 4, &array, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(kept, array);
    TestAllocator::release(&alloc, array);
}

TEST(CopyingReaders, ArrayCountWhose32BitProductWrapsIsRefused) {
    TestAllocator alloc;
    const Bytes source(8, 0);
    struct Case {
        uint32_t count;
        uint32_t width;
    } cases[] = {
        {0x40000001u, 4},  // x 4 = 4 in 32 bits
        {0x80000001u, 2},  // x 2 = 2 in 32 bits
        {0x55555556u, 3},  // x 3 = 2 in 32 bits
    };
    for (const Case& c : cases) {
        const uint8_t* cursor = source.data();
        uint32_t remaining = 8;
        void* array = nullptr;
        EXPECT_EQ(RM_FAIL, rm_get_array(&cursor, &remaining, c.count, c.width, &array, &alloc, TestAllocator::allocate,
                                        TestAllocator::release))
            << c.count << " x " << c.width;
        EXPECT_EQ(0u, alloc.requests);
        EXPECT_EQ(8u, remaining);
    }
}

TEST(CopyingReaders, CloneBytes) {
    TestAllocator alloc;
    const uint8_t source[] = {1, 2, 3};
    EXPECT_EQ(nullptr, rm_clone_bytes(&alloc, nullptr, source, 3));
    EXPECT_EQ(nullptr, rm_clone_bytes(&alloc, TestAllocator::allocate, nullptr, 3));
    EXPECT_EQ(nullptr, rm_clone_bytes(&alloc, TestAllocator::allocate, source, 0));
    EXPECT_EQ(0u, alloc.requests);
    void* copy = rm_clone_bytes(&alloc, TestAllocator::allocate, source, 3);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0, std::memcmp(copy, source, 3));
    EXPECT_EQ(3u, alloc.blocks.at(copy));
    TestAllocator::release(&alloc, copy);
    alloc.fail_nth(alloc.requests + 1);
    EXPECT_EQ(nullptr, rm_clone_bytes(&alloc, TestAllocator::allocate, source, 3));
}

// ---------------------------------------------------------------- writers

TEST(FieldWriters, WriteExactBytesOrNothing) {
    struct Writer {
        const char* name;
        void (*put)(uint32_t, uint8_t**, uint32_t*);
        Bytes expected;  // for the value 0xA1B2C3D4
    } writers[] = {
        {"u32", rm_put_u32, {0xA1, 0xB2, 0xC3, 0xD4}},
        {"u32_le", rm_put_u32_le, {0xD4, 0xC3, 0xB2, 0xA1}},
        {"u16", rm_put_u16, {0xC3, 0xD4}},
        {"u16_le", rm_put_u16_le, {0xD4, 0xC3}},
        {"u8", rm_put_u8, {0xD4}},
    };
    for (const Writer& w : writers) {
        const uint32_t needs = uint32_t(w.expected.size());
        for (uint32_t room = 0; room <= needs; ++room) {
            Bytes area(6, 0xEE);
            uint8_t* cursor = area.data();
            uint32_t remaining = room;
            w.put(0xA1B2C3D4u, &cursor, &remaining);
            if (room < needs) {
                EXPECT_EQ(Bytes(6, 0xEE), area) << w.name << " room " << room;
                EXPECT_EQ(area.data(), cursor) << w.name;
                EXPECT_EQ(room, remaining) << w.name;
            } else {
                EXPECT_EQ(w.expected, Bytes(area.begin(), area.begin() + needs)) << w.name;
                EXPECT_EQ(0xEE, area[needs]) << w.name;
                EXPECT_EQ(area.data() + needs, cursor) << w.name;
                EXPECT_EQ(0u, remaining) << w.name;
            }
        }
        Bytes area(6, 0xEE);
        uint8_t* cursor = area.data();
        uint32_t remaining = 6;
        w.put(1, nullptr, &remaining);
        w.put(1, &cursor, nullptr);
        uint8_t* nowhere = nullptr;
        w.put(1, &nowhere, &remaining);
        EXPECT_EQ(Bytes(6, 0xEE), area) << w.name;
        EXPECT_EQ(6u, remaining) << w.name;
    }
}

}  // namespace
