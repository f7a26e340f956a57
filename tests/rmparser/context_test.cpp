// Tests of the reader handle: creation, default and stdio callbacks, and the allocation, report and I/O wrappers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "rmparser/rm_internal.h"
#include "tests/support/rm_reader_fixture.h"

namespace {

using rmtest::Bytes;
using rmtest::ErrorLog;
using rmtest::MemoryIo;
using rmtest::TestAllocator;

#ifdef _WIN32
int fd_dup(int fd) { return _dup(fd); }
int fd_dup2(int from, int to) { return _dup2(from, to); }
int fd_close(int fd) { return _close(fd); }
int fd_of(FILE* file) { return _fileno(file); }
#else
int fd_dup(int fd) { return dup(fd); }
int fd_dup2(int from, int to) { return dup2(from, to); }
int fd_close(int fd) { return close(fd); }
int fd_of(FILE* file) { return fileno(file); }
#endif

// Runs `body` with file descriptor 2 pointed at a temporary file and returns
// what was written to it.
std::string capture_stderr(const std::function<void()>& body) {
    std::fflush(stderr);
    FILE* sink = std::tmpfile();
    if (!sink) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    int saved = fd_dup(2);
    fd_dup2(fd_of(sink), 2);
    body();
    std::fflush(stderr);
    fd_dup2(saved, 2);
    fd_close(saved);
    std::string text;
    std::rewind(sink);
    int c;
    while ((c = std::fgetc(sink)) != EOF) {
        text.push_back(char(c));
    }
    std::fclose(sink);
    return text;
}

// Frees a handle made by these tests: its read buffer, then the block.
void free_handle(rm_reader* reader) {
    rm_drop_read_buffer(reader);
    rm_release(reader, reader);
}

// A handle with no I/O attached.
using Fixture = rmtest::ReaderTest;

// ---------------------------------------------------------------- probe, creation

TEST(Probe, RecognisesOnlyTheFileHeaderId) {
    struct Case {
        Bytes bytes;
        uint32_t count;
        int expected;
    } cases[] = {
        {{'.', 'R', 'M', 'F'}, 4, 1},
        {{'.', 'R', 'M', 'F', 0, 0, 0, 0x12}, 8, 1},
        {{'.', 'R', 'M', 'F'}, 3, 0},
        {{'.', 'R', 'M'}, 3, 0},
        {{'R', 'M', 'F', '.'}, 4, 0},
        {{'.', 'r', 'm', 'f'}, 4, 0},
        {{}, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, rm_reader_probe(c.bytes.data(), c.count)) << c.count;
    }
    EXPECT_EQ(0, rm_reader_probe(nullptr, 4));
}

// Every code the reader returns has its name; anything else has none.
TEST(ResultNames, EveryCodeAndNoOther) {
    const struct {
        rm_result code;
        const char* name;
    } codes[] = {
        {RM_OK, "RM_OK"},
        {RM_FAIL, "RM_FAIL"},
        {RM_OUT_OF_MEMORY, "RM_OUT_OF_MEMORY"},
        {RM_NULL_ARGUMENT, "RM_NULL_ARGUMENT"},
        {RM_BAD_FILE, "RM_BAD_FILE"},
        {RM_BAD_DATA_CHUNK, "RM_BAD_DATA_CHUNK"},
        {RM_CORRUPT, "RM_CORRUPT"},
        {RM_READ_FAILED, "RM_READ_FAILED"},
        {RM_END_OF_DATA, "RM_END_OF_DATA"},
    };
    for (const auto& c : codes) EXPECT_STREQ(c.name, rm_result_name(c.code));
    EXPECT_EQ(nullptr, rm_result_name(0x80004006u));
    EXPECT_EQ(nullptr, rm_result_name(1));
}

TEST(Create, NullAllocateCallbackCallsNothing) {
    TestAllocator alloc;
    ErrorLog log;
    EXPECT_EQ(nullptr, rm_reader_new_custom(&log, ErrorLog::report, &alloc, nullptr, TestAllocator::release));
    EXPECT_EQ(0u, alloc.requests);
    EXPECT_EQ(0u, alloc.releases + alloc.null_releases);
    EXPECT_EQ(0u, log.count());
}

TEST(Create, AllocationFailureGivesNull) {
    TestAllocator alloc;
    alloc.fail_nth(1);
    EXPECT_EQ(nullptr, rm_reader_new_custom(nullptr, nullptr, &alloc, TestAllocator::allocate, TestAllocator::release));
    EXPECT_EQ(1u, alloc.requests);
    EXPECT_EQ(0u, alloc.live());
}

TEST(Create, HandleIsZeroedWithCallbacksStored) {
    TestAllocator alloc;
    ErrorLog log;
    rm_reader* reader =
        rm_reader_new_custom(&log, ErrorLog::report, &alloc, TestAllocator::allocate, TestAllocator::release);
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(sizeof(rm_reader), alloc.blocks.at(reader));
    EXPECT_EQ(&ErrorLog::report, reader->error_fn);
    EXPECT_EQ(&log, reader->error_user);
    EXPECT_EQ(&TestAllocator::allocate, reader->allocate_fn);
    EXPECT_EQ(&TestAllocator::release, reader->release_fn);
    EXPECT_EQ(&alloc, reader->memory_user);

    // The allocator fills new blocks with 0xA5: everything past the callbacks must be zero.
    rm_reader expected;
    std::memset(&expected, 0, sizeof expected);
    expected.error_fn = reader->error_fn;
    expected.error_user = reader->error_user;
    expected.allocate_fn = reader->allocate_fn;
    expected.release_fn = reader->release_fn;
    expected.memory_user = reader->memory_user;
    EXPECT_EQ(0, std::memcmp(&expected, reader, sizeof expected));
    free_handle(reader);
    EXPECT_EQ(0u, alloc.live());
}

TEST(Create, NullReleaseCallbackIsAccepted) {
    TestAllocator alloc;
    rm_reader* reader = rm_reader_new_custom(nullptr, nullptr, &alloc, TestAllocator::allocate, nullptr);
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(nullptr, reader->release_fn);
    TestAllocator::release(&alloc, reader);
}

TEST(Create, DefaultsUseMallocAndTheDefaultErrorLine) {
    int user = 0;
    rm_reader* reader = rm_reader_new(&user, nullptr);
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(&rm_default_alloc, reader->allocate_fn);
    EXPECT_EQ(&rm_default_release, reader->release_fn);
    EXPECT_EQ(nullptr, reader->memory_user);
    EXPECT_EQ(&rm_error_default, reader->error_fn);
    EXPECT_EQ(nullptr, reader->error_user) << "the caller's pointer is dropped with the default callback";
    EXPECT_EQ(nullptr, reader->read_fn);

    // A later failure prints the default line with a null user pointer.
    std::string text = capture_stderr([&] {
        EXPECT_EQ(0u, rm_read_to_buffer(reader, 10, 0));  // no I/O attached: reads nothing
        uint32_t id = 0;
        EXPECT_EQ(RM_READ_FAILED, rm_read_chunk(reader, &id));
    });
    EXPECT_EQ("rm_error_default(pUserError=0x00000000,err=0x80040092,msg=Could not read chunk header.\n", text);
    rm_default_release(nullptr, reader);
}

TEST(Create, DefaultErrorLineFormats) {
    std::string text = capture_stderr([] {
        rm_error_default(reinterpret_cast<void*>(uintptr_t(0x1234ABCDu)), RM_BAD_FILE, "Something.");
        rm_error_default(nullptr, RM_CORRUPT, nullptr);
    });
    EXPECT_EQ(
        "rm_error_default(pUserError=0x1234abcd,err=0x80040021,msg=Something.\n"
        "rm_error_default(pUserError=0x00000000,err=0x80040091\n",
        text);
}

// ---------------------------------------------------------------- stdio callbacks

TEST(Stdio, AttachInstallsTheCallbacksAndReadsNothing) {
    TestAllocator alloc;
    rm_reader* reader = rm_reader_new_custom(nullptr, nullptr, &alloc, TestAllocator::allocate, TestAllocator::release);
    ASSERT_NE(nullptr, reader);
    FILE* file = rmtest::open_memory_file({1, 2, 3, 4});
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(RM_FAIL, rm_reader_attach_stdio(nullptr, file));
    EXPECT_EQ(RM_FAIL, rm_reader_attach_stdio(reader, nullptr));
    EXPECT_EQ(nullptr, reader->read_fn);
    reader->position = 77;
    EXPECT_EQ(RM_OK, rm_reader_attach_stdio(reader, file));
    EXPECT_EQ(&rm_stdio_read, reader->read_fn);
    EXPECT_EQ(&rm_stdio_seek, reader->seek_fn);
    EXPECT_EQ(&rm_stdio_tell, reader->tell_fn);
    EXPECT_EQ(file, reader->io_user);
    EXPECT_EQ(77u, reader->position);
    EXPECT_EQ(0u, rm_stdio_tell(file));

    // Any other source needs all three callbacks and its user pointer.
    MemoryIo io;
    EXPECT_EQ(RM_FAIL, rm_reader_attach_io(reader, nullptr, MemoryIo::seek, MemoryIo::tell, &io));
    EXPECT_EQ(RM_FAIL, rm_reader_attach_io(reader, MemoryIo::read, nullptr, MemoryIo::tell, &io));
    EXPECT_EQ(RM_FAIL, rm_reader_attach_io(reader, MemoryIo::read, MemoryIo::seek, nullptr, &io));
    EXPECT_EQ(RM_FAIL, rm_reader_attach_io(reader, MemoryIo::read, MemoryIo::seek, MemoryIo::tell, nullptr));
    EXPECT_EQ(file, reader->io_user);
    EXPECT_EQ(RM_OK, rm_reader_attach_io(reader, MemoryIo::read, MemoryIo::seek, MemoryIo::tell, &io));
    EXPECT_EQ(&io, reader->io_user);
    EXPECT_EQ(77u, reader->position);
    std::fclose(file);
    free_handle(reader);
    EXPECT_EQ(0u, alloc.live());
}

TEST(Stdio, ReadSeekTell) {
    FILE* file = rmtest::open_memory_file({10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    ASSERT_NE(nullptr, file);
    uint8_t out[16] = {};
    EXPECT_EQ(0u, rm_stdio_read(nullptr, out, 4));
    EXPECT_EQ(0u, rm_stdio_read(file, nullptr, 4));
    EXPECT_EQ(0u, rm_stdio_read(file, out, 0));
    EXPECT_EQ(0u, rm_stdio_tell(file));
    EXPECT_EQ(4u, rm_stdio_read(file, out, 4));
    EXPECT_EQ(13, out[3]);

    rm_stdio_seek(file, -2, RM_SEEK_END);
    EXPECT_EQ(8u, rm_stdio_tell(file));
    rm_stdio_seek(file, -3, RM_SEEK_CUR);
    EXPECT_EQ(5u, rm_stdio_tell(file));
    EXPECT_EQ(5u, rm_stdio_read(file, out, 16)) << "short read at the end";
    rm_stdio_seek(file, 1, RM_SEEK_SET);
    EXPECT_EQ(1u, rm_stdio_tell(file));
    rm_stdio_seek(nullptr, 3, RM_SEEK_SET);
    EXPECT_EQ(0xFFFFFFFFu, rm_stdio_tell(nullptr));

    // From the start the offset is unsigned: past 2 GiB and up to 4 GiB - 1.
    rm_stdio_seek(file, int32_t(0x80000000u), RM_SEEK_SET);
    EXPECT_EQ(0x80000000u, rm_stdio_tell(file));
    rm_stdio_seek(file, -1, RM_SEEK_SET);
    EXPECT_EQ(0xFFFFFFFFu, rm_stdio_tell(file));
    // Beyond 32 bits the position reads as 0xFFFFFFFF, not a wrapped small value.
    rm_stdio_seek(file, 16, RM_SEEK_CUR);
    EXPECT_EQ(0xFFFFFFFFu, rm_stdio_tell(file));
    rm_stdio_seek(file, 2, RM_SEEK_SET);
    EXPECT_EQ(2u, rm_stdio_tell(file));
    std::fclose(file);
}

// ---------------------------------------------------------------- wrappers

TEST(Wrappers, NullHandlesAndMissingCallbacks) {
    EXPECT_EQ(nullptr, rm_alloc(nullptr, 8));
    rm_release(nullptr, nullptr);
    rm_report(nullptr, RM_FAIL, "x");
    EXPECT_EQ(0u, rm_read_to_buffer(nullptr, 4, 0));
    EXPECT_EQ(0u, rm_read_raw(nullptr, nullptr, 4));
    rm_seek(nullptr, 4, RM_SEEK_SET);

    rm_reader bare;
    std::memset(&bare, 0, sizeof bare);
    EXPECT_EQ(nullptr, rm_alloc(&bare, 8));
    int block = 0;
    rm_release(&bare, &block);
    rm_report(&bare, RM_FAIL, "x");
}

TEST_F(Fixture, AllocReleaseReportPassTheUserPointers) {
    void* block = rm_alloc(reader, 12);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(12u, alloc.blocks.at(block));
    rm_release(reader, block);
    rm_release(reader, nullptr);
    EXPECT_EQ(1u, alloc.null_releases) << "a null block still reaches the callback";
    rm_report(reader, RM_CORRUPT, "msg");
    rm_report(reader, RM_FAIL, nullptr);
    ASSERT_EQ(2u, log.count());
    EXPECT_EQ(RM_CORRUPT, log.entries[0].code);
    EXPECT_EQ("msg", log.entries[0].message);
    EXPECT_FALSE(log.entries[1].has_message);
}

TEST(GrowBuffer, Cases) {
    TestAllocator alloc;
    uint8_t* buffer = nullptr;
    uint32_t capacity = 0;
    // Missing arguments.
    EXPECT_EQ(RM_OUT_OF_MEMORY, rm_grow_buffer(&alloc, nullptr, TestAllocator::release, &buffer, &capacity, 8));
    EXPECT_EQ(RM_OUT_OF_MEMORY, rm_grow_buffer(&alloc, TestAllocator::allocate, nullptr, &buffer, &capacity, 8));
    EXPECT_EQ(RM_OUT_OF_MEMORY,
              rm_grow_buffer(&alloc, TestAllocator::allocate, TestAllocator::release, nullptr, &capacity, 8));
    EXPECT_EQ(RM_OUT_OF_MEMORY,
              rm_grow_buffer(&alloc, TestAllocator::allocate, TestAllocator::release, &buffer, nullptr, 8));
    EXPECT_EQ(0u, alloc.requests);

    ASSERT_EQ(RM_OK, rm_grow_buffer(&alloc, TestAllocator::allocate, TestAllocator::release, &buffer, &capacity, 4));
    EXPECT_EQ(4u, capacity);
    EXPECT_EQ(4u, alloc.blocks.at(buffer));
    std::memcpy(buffer, "abcd", 4);

    // Not larger: nothing changes.
    uint8_t* before = buffer;
    for (uint32_t wanted : {0u, 3u, 4u}) {
        EXPECT_EQ(RM_OK,
                  rm_grow_buffer(&alloc, TestAllocator::allocate, TestAllocator::release, &buffer, &capacity, wanted));
        EXPECT_EQ(before, buffer);
        EXPECT_EQ(4u, capacity);
    }
    EXPECT_EQ(1u, alloc.requests);

    // Larger: exactly the wanted size, the whole old capacity copied.
    ASSERT_EQ(RM_OK, rm_grow_buffer(&alloc, TestAllocator::allocate, TestAllocator::release, &buffer, &capacity, 9));
    EXPECT_EQ(9u, capacity);
    EXPECT_EQ(9u, alloc.blocks.at(buffer));
    EXPECT_EQ(0, std::memcmp(buffer, "abcd", 4));
    EXPECT_EQ(1u, alloc.live());

    // Allocation failure: the old buffer stays.
    before = buffer;
    alloc.fail_nth(alloc.requests + 1);
    EXPECT_EQ(RM_OUT_OF_MEMORY,
              rm_grow_buffer(&alloc, TestAllocator::allocate, TestAllocator::release, &buffer, &capacity, 100));
    EXPECT_EQ(before, buffer);
    EXPECT_EQ(9u, capacity);
    TestAllocator::release(&alloc, buffer);
}

TEST_F(Fixture, ReadToBufferWithoutReadCallbackChangesNothing) {
    reader->buffer = static_cast<uint8_t*>(rm_alloc(reader, 4));
    const uint32_t requests = alloc.requests;
    reader->buffer_size = 4;
    reader->buffer_held = 3;
    reader->position = 50;
    uint8_t* before = reader->buffer;
    EXPECT_EQ(0u, rm_read_to_buffer(reader, 100, 0));
    EXPECT_EQ(before, reader->buffer);
    EXPECT_EQ(4u, reader->buffer_size);
    EXPECT_EQ(3u, reader->buffer_held);
    EXPECT_EQ(50u, reader->position);
    EXPECT_EQ(requests, alloc.requests);
}

TEST_F(Fixture, ReadToBufferAtAnOffset) {
    io.data = {1, 2, 3, 4, 5, 6};
    io.attach(reader);
    EXPECT_EQ(2u, rm_read_to_buffer(reader, 2, 0));
    EXPECT_EQ(2u, reader->buffer_held);
    EXPECT_EQ(3u, rm_read_to_buffer(reader, 3, 2));
    EXPECT_EQ(5u, reader->buffer_held);
    EXPECT_EQ(5u, reader->buffer_size);
    EXPECT_EQ(5u, reader->position);
    EXPECT_EQ(0, std::memcmp(reader->buffer, "\1\2\3\4\5", 5));
    // Short read: held counts what arrived.
    EXPECT_EQ(1u, rm_read_to_buffer(reader, 4, 1));
    EXPECT_EQ(2u, reader->buffer_held);
    EXPECT_EQ(6u, reader->position);
    EXPECT_EQ(6, reader->buffer[1]);
    EXPECT_EQ(1, reader->buffer[0]) << "bytes before the offset are kept";
}

TEST_F(Fixture, ReadToBufferRefusesAWrappingEndAndFailedGrowth) {
    io.data = Bytes(32, 7);
    io.attach(reader);
    const uint32_t requests = alloc.requests;
    EXPECT_EQ(0u, rm_read_to_buffer(reader, 16, 0xFFFFFFF8u));
    EXPECT_EQ(requests, alloc.requests);
    EXPECT_EQ(0u, io.read_calls);

    alloc.fail_nth(requests + 1);
    EXPECT_EQ(0u, rm_read_to_buffer(reader, 16, 0));
    EXPECT_EQ(0u, io.read_calls) << "nothing read when the buffer cannot grow";
    EXPECT_EQ(0u, reader->position);
    EXPECT_EQ(nullptr, reader->buffer);
}

// A read callback that claims more bytes than were asked for.
uint32_t boastful_read(void*, void* destination, uint32_t count) {
    std::memset(destination, 0x42, count);
    return count + 100;
}

TEST_F(Fixture, ClaimsBeyondTheRequestAreCappedAtTheRequest) {
    reader->read_fn = boastful_read;
    EXPECT_EQ(4u, rm_read_to_buffer(reader, 4, 2));
    EXPECT_EQ(6u, reader->buffer_held) << "held never exceeds the buffer";
    EXPECT_EQ(6u, reader->buffer_size);
    uint8_t out[3];
    EXPECT_EQ(3u, rm_read_raw(reader, out, 3));
    EXPECT_EQ(7u, reader->position);
}

TEST_F(Fixture, ReadRaw) {
    uint8_t out[8] = {};
    EXPECT_EQ(0u, rm_read_raw(reader, out, 4)) << "no read callback";
    io.data = {9, 8, 7, 6, 5};
    io.attach(reader);
    reader->position = 100;  // the parser's count, not the source's
    EXPECT_EQ(4u, rm_read_raw(reader, out, 4));
    EXPECT_EQ(104u, reader->position);
    EXPECT_EQ(1u, rm_read_raw(reader, out, 4));
    EXPECT_EQ(105u, reader->position);
    EXPECT_EQ(5, out[0]);
}

TEST_F(Fixture, SeekOrigins) {
    rm_seek(reader, 10, RM_SEEK_SET);  // no seek callback: nothing
    EXPECT_EQ(0u, reader->position);

    io.data = Bytes(64, 0);
    io.attach(reader);
    rm_seek(reader, 40, RM_SEEK_SET);
    EXPECT_EQ(40u, reader->position);
    rm_seek(reader, -15, RM_SEEK_CUR);
    EXPECT_EQ(25u, reader->position);
    rm_seek(reader, int32_t(0xF0000000u), RM_SEEK_SET);
    EXPECT_EQ(0xF0000000u, reader->position) << "offsets from the start are unsigned";
    rm_seek(reader, 12, RM_SEEK_SET);
    EXPECT_EQ(0u, log.count());

    rm_seek(reader, -4, RM_SEEK_END);
    EXPECT_EQ(12u, reader->position) << "the count cannot follow a seek from the end";
    ASSERT_EQ(5u, io.seeks.size());
    EXPECT_EQ(RM_SEEK_END, io.seeks.back().origin) << "the callback is still called";
    EXPECT_EQ(-4, io.seeks.back().offset);
    ASSERT_EQ(1u, log.count());
    EXPECT_EQ(RM_BAD_FILE, log.last_code());
    EXPECT_EQ("File seek with end origin attempted - not suported.", log.last_message());
}

TEST(CompareNocase, LikeStricmp) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"Video/X-PN-RealVideo", "video/x-pn-realvideo", 0},
        {"abc", "abd", -1},
        {"ABD", "abc", 1},
        {"ab", "abc", -1},
        {"", "", 0},
        {"[", "a", -1},  // compared as lower case, like _stricmp ('[' < 'a')
        {nullptr, nullptr, 0},
        {nullptr, "", -1},
        {"", nullptr, 1},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        EXPECT_EQ(c.sign, sign(rm_compare_nocase(c.a, c.b)))
            << (c.a ? c.a : "(null)") << " / " << (c.b ? c.b : "(null)");
    }
    EXPECT_EQ(0, rm_compare_nocase_n("audio/X-pn", "AUDIO/x-PN-realaudio", 10));
    EXPECT_GT(0, rm_compare_nocase_n("audio", "audiox", 6));
    EXPECT_EQ(0, rm_compare_nocase_n("ab", "ab", 100)) << "stops at the terminator";
    EXPECT_EQ(0, rm_compare_nocase_n(nullptr, "x", 0));
}

}  // namespace
