// rmrate's mapped file: the bytes, ends, refusals and measurements of the run's own buffered stdio source.
#include "tools/rmrate/mapped_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "analysis/measurement.h"
#include "analysis/media_file_buffer.h"
#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

Bytes Numbered(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

Bytes ReadSample(const std::string& name) {
    std::ifstream in(std::string(KOV_SOURCE_DIR) + "/samples/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `part` at `offset` of the file, which grows (sparse) to reach it.
bool WriteAt(const std::string& path, uint64_t offset, const Bytes& part) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f) return false;
    const bool written = SeekFile(f, static_cast<int64_t>(offset), SEEK_SET) == 0 &&
                         std::fwrite(part.data(), 1, part.size(), f) == part.size();
    return std::fclose(f) == 0 && written;
}

// Views as small as they come, so that a file of some MiB slides through many.
const uint32_t SMALL_VIEWS = 1;

// Reads, seeks, tells and windows at random against the run's buffer over the
// same file: the same bytes, the same short reads, the same positions; each
// window shows the bytes there, and the room after the position where the
// file has it.
TEST(MappedFileTest, BehavesLikeTheRunsBuffer) {
    const Bytes content = Numbered(1300 * 1000 + 17);
    TempFile file(content);
    ASSERT_FALSE(file.path.empty());
    for (uint32_t view : {SMALL_VIEWS, MAPPED_VIEW_SIZE}) {
        SCOPED_TRACE(view);
        FILE* plain = std::fopen(file.path.c_str(), "rb");
        FILE* mapped_file = std::fopen(file.path.c_str(), "rb");
        ASSERT_TRUE(plain && mapped_file);
        std::vector<unsigned char> storage(4096);
        MediaFileBuffer buffered;
        InitMediaFileBuffer(&buffered, plain, storage.data(), uint32_t(storage.size()));
        MappedFile mapped(view);
        ASSERT_TRUE(mapped.Attach(mapped_file, content.size()));

        std::mt19937 random(view);
        std::vector<unsigned char> expected(70000), actual(70000);
        for (int step = 0; step < 4000; ++step) {
            const int op = random() % 6;
            if (op <= 1) {
                const uint32_t count = random() % (op == 0 ? 200 : 70000);
                const uint32_t want = MediaFileRead(&buffered, expected.data(), count);
                ASSERT_EQ(want, MappedFile::Read(&mapped, actual.data(), count)) << "step " << step;
                ASSERT_EQ(0, std::memcmp(expected.data(), actual.data(), want)) << "step " << step;
            } else if (op == 2) {
                const int32_t offset = static_cast<int32_t>(random() % (content.size() + 3000));
                MediaFileSeek(&buffered, offset, RM_SEEK_SET);
                MappedFile::Seek(&mapped, offset, RM_SEEK_SET);
            } else if (op == 3) {
                const int32_t offset = static_cast<int32_t>(random() % 600000) - 300000;
                MediaFileSeek(&buffered, offset, RM_SEEK_CUR);
                MappedFile::Seek(&mapped, offset, RM_SEEK_CUR);
            } else if (op == 4) {
                const int32_t offset = -static_cast<int32_t>(random() % 300000);
                MediaFileSeek(&buffered, offset, RM_SEEK_END);
                MappedFile::Seek(&mapped, offset, RM_SEEK_END);
            } else {
                const uint64_t at = MappedFile::Tell(&mapped);
                uint32_t count = 0;
                const uint8_t* shown = MappedFile::Window(&mapped, &count);
                const uint64_t left = at < content.size() ? content.size() - at : 0;
                ASSERT_GE(count, std::min<uint64_t>(left, MAPPED_ROOM)) << "step " << step;
                ASSERT_LE(count, left) << "step " << step;
                if (count != 0) ASSERT_EQ(0, std::memcmp(content.data() + at, shown, count)) << "step " << step;
                ASSERT_EQ(at, MappedFile::Tell(&mapped)) << "step " << step;
            }
            ASSERT_EQ(MediaFileTell(&buffered), MappedFile::Tell(&mapped)) << "step " << step;
        }
        mapped.Detach();
        std::fclose(plain);
        std::fclose(mapped_file);
    }
}

// Past 4 GiB (a sparse file): positions run on in 64 bits, tell says
// 0xFFFFFFFF there as stdio's does, and the bytes are where they were written.
TEST(MappedFileTest, FarBeyondFourGibibytes) {
    const uint64_t mark = 0x120000000ull - 5;  // 4.5 GiB, a view's edge inside the mark
    const Bytes marked = Numbered(64);
    TempFile file(Bytes{1});
    ASSERT_FALSE(file.path.empty());
    ASSERT_TRUE(WriteAt(file.path, mark, marked));
    FILE* f = std::fopen(file.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    MappedFile mapped;
    ASSERT_TRUE(mapped.Attach(f, mark + marked.size()));
    for (int step = 0; step < 3; ++step) MappedFile::Seek(&mapped, 0x60000000, RM_SEEK_CUR);
    EXPECT_EQ(0xFFFFFFFFu, MappedFile::Tell(&mapped));
    MappedFile::Seek(&mapped, static_cast<int32_t>(mark - 3 * 0x60000000ull), RM_SEEK_CUR);
    unsigned char out[64] = {};
    ASSERT_EQ(8u, MappedFile::Read(&mapped, out, 8));
    EXPECT_EQ(0, std::memcmp(marked.data(), out, 8));
    uint32_t count = 0;
    const uint8_t* shown = MappedFile::Window(&mapped, &count);
    ASSERT_EQ(56u, count);
    EXPECT_EQ(0, std::memcmp(marked.data() + 8, shown, count));
    MappedFile::Seek(&mapped, -64, RM_SEEK_END);
    ASSERT_EQ(64u, MappedFile::Read(&mapped, out, 70));
    EXPECT_EQ(0, std::memcmp(marked.data(), out, 64));
    EXPECT_EQ(0u, MappedFile::Read(&mapped, out, 1));
    EXPECT_EQ(nullptr, MappedFile::Window(&mapped, &count));
    EXPECT_EQ(0u, count);
    mapped.Detach();
    std::fclose(f);
}

// The measurement through the mapping is the one through the run's buffer;
// how that ended.
DataEnding ExpectSameMeasurement(const std::string& path, MappedFile* mapped, const char* what) {
    SCOPED_TRACE(what);
    Measurement buffered;
    Measure(path.c_str(), MeasureOptions(), &buffered);
    MeasureOptions options;
    options.source = mapped->Source();
    Measurement m;
    const uint64_t views = mapped->ViewsMapped();
    EXPECT_EQ(buffered.result, Measure(path.c_str(), options, &m));
    // Read through the mapping whenever the run went past the magic.
    const bool opened = buffered.result != ANALYSIS_OPEN_FAILED && buffered.result != ANALYSIS_NO_VIDEO;
    if (opened) EXPECT_LT(views, mapped->ViewsMapped());
    EXPECT_EQ(0, std::memcmp(&buffered.details, &m.details, sizeof m.details)) << "the details differ";
    EXPECT_EQ(buffered.details.ending, m.details.ending);
    EXPECT_EQ(buffered.details.damage_offset, m.details.damage_offset);
    EXPECT_EQ(buffered.totals_ending, m.totals_ending);
    EXPECT_EQ(buffered.windows.size(), m.windows.size());
    for (size_t i = 0; i < m.windows.size() && i < buffered.windows.size(); ++i) {
        EXPECT_EQ(buffered.windows[i].start_ms, m.windows[i].start_ms) << "window " << i;
        EXPECT_EQ(buffered.windows[i].kbps, m.windows[i].kbps) << "window " << i;
    }
    EXPECT_EQ(buffered.streams.size(), m.streams.size());
    for (size_t i = 0; i < m.streams.size() && i < buffered.streams.size(); ++i) {
        EXPECT_EQ(buffered.streams[i].packets, m.streams[i].packets) << "stream " << i;
        EXPECT_EQ(buffered.streams[i].bytes, m.streams[i].bytes) << "stream " << i;
    }
    return m.details.ending;
}

// Samples whole and cut (a file shorter than its DATA chunk claims), a file
// of video past 4 GiB: one mapped source for them all, in turn.
TEST(MappedFileTest, MeasuresAsTheRunsBuffer) {
    MappedFile mapped;
    for (const char* name : {"demo.rm", "rv10_ra144.rm", "rv20_ac3.rm", "rv20_video.rmvb", "rv20_vbr_long.rm"}) {
        const Bytes sample = ReadSample(name);
        ASSERT_FALSE(sample.empty()) << name;
        for (size_t cut : {sample.size(), sample.size() - 1, sample.size() - 700, sample.size() / 2}) {
            TempFile file(Bytes(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(cut)));
            ExpectSameMeasurement(file.path, &mapped, (std::string(name) + " to " + std::to_string(cut)).c_str());
        }
    }

    // The header chunks at 0, zeros, and the DATA chunk just below 4 GiB with
    // its packets beyond.
    const uint32_t data_at = 0xFFFFFF00u;
    PropChunk prop;
    prop.data_offset = data_at;
    const Bytes head = RmWriter().rmf().prop(prop).mdpr(video_mdpr(0)).mdpr(audio_mdpr(1)).bytes();
    RmWriter data;
    data.data();
    for (uint32_t t = 0; t < 5000; t += 100) {
        data.packet(make_packet(0, t, 300 + t % 700, t % 1000 == 0));
        data.packet(make_packet(1, t, 20, true));
    }
    const Bytes packets = data.indx(2).bytes();
    TempFile far(head);
    ASSERT_FALSE(far.path.empty());
    ASSERT_TRUE(WriteAt(far.path, data_at, packets));
    EXPECT_EQ(DATA_END_CLEAN, ExpectSameMeasurement(far.path, &mapped, "past 4 GiB"));
    // And cut inside a packet past 4 GiB.
    TempFile far_cut(head);
    ASSERT_TRUE(WriteAt(far_cut.path, data_at, Bytes(packets.begin(), packets.end() - 500)));
    EXPECT_EQ(DATA_END_DAMAGED, ExpectSameMeasurement(far_cut.path, &mapped, "past 4 GiB, cut"));
}

// What the run's buffer refuses is refused, and a file that cannot be mapped
// (an empty one) is read through the buffer.
TEST(MappedFileTest, RefusesWhatTheRunRefuses) {
    MappedFile mapped;
    TempFile empty(Bytes{});
    ExpectSameMeasurement(empty.path, &mapped, "empty");
    TempFile dir_marker(Bytes{1});
    const std::string dir = dir_marker.path.substr(0, dir_marker.path.find_last_of("/\\"));
    ExpectSameMeasurement(dir, &mapped, "a directory");
    ExpectSameMeasurement(dir_marker.path + ".missing", &mapped, "missing");
#ifndef _WIN32
    const std::string fifo = dir_marker.path + ".fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ExpectSameMeasurement(fifo, &mapped, "a pipe");
    unlink(fifo.c_str());
#endif
    FILE* f = std::fopen(empty.path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    EXPECT_FALSE(mapped.Attach(f, 0));
    std::fclose(f);
}

}  // namespace
