// The packet loop over synthetic files: the windows it stores and how each run ends.
#include "analysis/analysis_run.h"

#include "analysis/measurement.h"
#include "analysis/media_file.h"
#include "analysis/window_rule.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

#ifdef __linux__
#include <dirent.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace rmtest;

namespace {

// KOV's run over `path`, and what it learnt besides the series.
AnalysisResult MeasureDetails(const char* path, AnalysisDetails* details, AnalysisPumpFn pump = nullptr,
                              void* context = nullptr) {
    Measurement measurement;
    const AnalysisResult result = MeasureFile(path, pump, context, &measurement);
    *details = measurement.details;
    return result;
}

struct Window {
    uint32_t start_ms;
    uint32_t kbps;
};

bool operator==(const Window& a, const Window& b) { return a.start_ms == b.start_ms && a.kbps == b.kbps; }

std::ostream& operator<<(std::ostream& os, const Window& w) { return os << "{" << w.start_ms << ", " << w.kbps << "}"; }

// The stored windows, read with the readers' end rule, plus a check that
// everything after them is zero.
std::vector<Window> StoredWindows() {
    std::vector<Window> windows;
    int n = 1;
    while (n < BITRATE_SERIES_SIZE && BitrateSeries[n].start_ms != 0) ++n;
    if (n == 1 && BitrateSeries[0].kbps == 0) n = 0;
    for (int i = 0; i < n; ++i) windows.push_back({BitrateSeries[i].start_ms, BitrateSeries[i].kbps});
    for (int i = n; i < BITRATE_SERIES_SIZE; ++i) {
        EXPECT_EQ(0u, BitrateSeries[i].start_ms) << "entry " << i;
        EXPECT_EQ(0u, BitrateSeries[i].kbps) << "entry " << i;
        if (BitrateSeries[i].start_ms || BitrateSeries[i].kbps) break;
    }
    return windows;
}

void FillSeriesWithGarbage() {
    for (BitrateSample& sample : BitrateSeries) sample = {12345, 678};
}

struct TimelineCase {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> packets;  // timestamp, payload bytes
    AnalysisResult result;
    std::vector<Window> windows;
};

class TimelineTest : public testing::TestWithParam<TimelineCase> {};

TEST_P(TimelineTest, StoresTheClosedWindows) {
    const TimelineCase& c = GetParam();
    std::vector<Packet> packets;
    for (const auto& p : c.packets) packets.push_back(make_packet(0, p.first, p.second));
    TempFile file(video_file(packets));
    ASSERT_FALSE(file.path.empty());

    FillSeriesWithGarbage();
    AnalysisDetails details;
    EXPECT_EQ(c.result, MeasureDetails(file.path.c_str(), &details));
    EXPECT_EQ(c.windows, StoredWindows());
    EXPECT_EQ(c.windows.size(), details.windows_stored);
    EXPECT_EQ(1, details.stream_chosen);
    EXPECT_EQ(0u, details.stream_index);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, TimelineTest,
    testing::Values(
        // 32000 bits over 1200 ms, then 24000 bits over 1200 ms; the packet at
        // 2400 ms opens a window that never closes.
        TimelineCase{"SevenPackets",
                     {{0, 1000}, {400, 1000}, {800, 1000}, {1200, 1000}, {1600, 1000}, {2000, 1000}, {2400, 1000}},
                     ANALYSIS_OK,
                     {{0, 26}, {1200, 20}}},
        TimelineCase{"NoPackets", {}, ANALYSIS_OK, {}},
        // 1000 ms after the start stays inside; 1001 ms closes (24000 bits / 1001 ms).
        TimelineCase{"ExactlyOneSecondDoesNotClose", {{0, 1000}, {1000, 1000}, {1001, 1000}}, ANALYSIS_OK, {{0, 23}}},
        // After the first window, 2000 ms closes normally and 2001 ms is a gap.
        TimelineCase{"TwoSecondsClosesAndMoreIsAGap",
                     {{0, 500}, {1001, 500}, {3001, 500}, {5002, 500}, {5500, 500}},
                     ANALYSIS_FRAME_GAP,
                     {{0, 7}, {1001, 2}}},
        TimelineCase{"TimestampGoingBackIsAGap",
                     {{0, 500}, {1500, 500}, {1499, 500}, {3000, 500}},
                     ANALYSIS_FRAME_GAP,
                     {{0, 5}}},
        // The first packet alone closes the first window, over all of its 5000 ms.
        TimelineCase{
            "FirstPacketAtFiveSeconds", {{5000, 2500}, {5600, 1000}, {6200, 1000}}, ANALYSIS_OK, {{0, 4}, {5000, 13}}},
        TimelineCase{"FirstPacketAtTenSecondsStillCounts", {{10000, 5000}}, ANALYSIS_OK, {{0, 4}}},
        TimelineCase{"AllPacketsBeyondTenSeconds", {{10001, 5000}, {10500, 5000}, {11600, 5000}}, ANALYSIS_OK, {}},
        // A first window of up to 10 s is fine, but later ones may not span more than 2 s.
        TimelineCase{"LongFirstWindowThenGap", {{0, 100}, {9000, 9000}, {11001, 100}}, ANALYSIS_FRAME_GAP, {{0, 8}}}),
    [](const testing::TestParamInfo<TimelineCase>& info) { return std::string(info.param.name); });

TEST(MeasureFileTest, TruncatedFileKeepsTheWindowsBeforeTheCut) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 10000; t += 250) packets.push_back(make_packet(0, t, 400));
    Bytes bytes = video_file(packets);
    // Cut in the middle of the payload of the packet at 5250 ms (index 21).
    const size_t packet_bytes = 12 + 400;
    bytes.resize(bytes.size() - (packets.size() - 22) * packet_bytes - 100);
    TempFile file(bytes);

    AnalysisDetails details;
    EXPECT_EQ(ANALYSIS_OK, MeasureDetails(file.path.c_str(), &details));
    // Windows close at 1250, 2500, 3750 and 5000 ms; the cut drops the open one.
    const std::vector<Window> expected = {{0, 15}, {1250, 12}, {2500, 12}, {3750, 12}};
    EXPECT_EQ(expected, StoredWindows());
    // And the run says so: the packet at 5250 ms starts 21 packets into the data.
    EXPECT_EQ(DATA_END_DAMAGED, details.ending);
    EXPECT_EQ(RM_READ_FAILED, details.read_result);
    EXPECT_STRNE("", details.read_message);
    EXPECT_EQ(bytes.size() + 100 - packet_bytes, details.damage_offset);
    EXPECT_EQ(1, details.has_last_timestamp);
    EXPECT_EQ(5000u, details.last_timestamp_ms);
}

// How the data ended, for files cut in each kind of place. Stream 0 is video,
// stream 1 audio; packets of 100 payload bytes alternate, video every 250 ms.
TEST(MeasureFileTest, TellsACleanEndFromDamage) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 5000; t += 250) {
        packets.push_back(make_packet(1, t, 100));
        packets.push_back(make_packet(0, t, 100));
    }
    RmWriter writer = simple_writer({video_mdpr(0), audio_mdpr(1)}, {});
    std::vector<size_t> header_at;  // file offset of each packet's header
    for (const Packet& p : packets) {
        header_at.push_back(writer.offset());
        writer.packet(p);
    }
    const Bytes whole = writer.bytes();
    const size_t video_at_2500 = header_at[21];  // packet 21 is video at 2500 ms
    const size_t audio_at_2750 = header_at[22];

    struct Case {
        const char* name;
        size_t cut;  // bytes kept
        DataEnding ending;
        uint64_t offset;
        int has_last;
        uint32_t last_ms;
        size_t windows;
    };
    const Case cases[] = {
        // Windows close at 1250, 2500, 3750 and 5000 ms.
        {"intact", whole.size(), DATA_END_CLEAN, 0, 1, 5000, 4},
        {"in a video packet's header", video_at_2500 + 5, DATA_END_DAMAGED, video_at_2500, 1, 2250, 1},
        {"in a video packet's payload", video_at_2500 + 60, DATA_END_DAMAGED, video_at_2500, 1, 2250, 1},
        {"right after a whole video packet", audio_at_2750, DATA_END_DAMAGED, audio_at_2750, 1, 2500, 2},
        // A skipped packet the cut runs through is where the file breaks.
        {"in a skipped audio payload", audio_at_2750 + 60, DATA_END_DAMAGED, audio_at_2750, 1, 2500, 2},
        {"before any video packet", header_at[0] + 62, DATA_END_DAMAGED, header_at[0], 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.cut)));
        AnalysisDetails details;
        EXPECT_EQ(ANALYSIS_OK, MeasureDetails(file.path.c_str(), &details));
        EXPECT_EQ(c.ending, details.ending);
        EXPECT_EQ(c.offset, details.damage_offset);
        EXPECT_EQ(c.has_last, details.has_last_timestamp);
        EXPECT_EQ(c.last_ms, details.last_timestamp_ms);
        EXPECT_EQ(c.windows, StoredWindows().size());
        if (c.ending == DATA_END_CLEAN) {
            EXPECT_EQ(RM_OK, details.read_result);
            EXPECT_STREQ("", details.read_message);
        } else {
            EXPECT_NE(RM_OK, details.read_result);
            EXPECT_NE(RM_END_OF_DATA, details.read_result);
        }
        EXPECT_EQ(0u, details.windows_not_stored);
    }
}

TEST(MeasureFileTest, RunsThatStopBeforeTheEndOfTheDataSayNothingOfIt) {
    // A gap, then a cut: the damage lies beyond where the run stopped.
    Bytes gap = video_file(
        {make_packet(0, 0, 100), make_packet(0, 1500, 100), make_packet(0, 5000, 100), make_packet(0, 5500, 100)});
    gap.resize(gap.size() - 50);
    for (const Bytes& bytes : {gap, video_file({make_packet(0, 10001, 100), make_packet(0, 10500, 100)})}) {
        TempFile file(bytes);
        AnalysisDetails details;
        MeasureDetails(file.path.c_str(), &details);
        EXPECT_EQ(DATA_END_NOT_REACHED, details.ending);
    }
}

// Only regular files are read: a read from a device or a pipe can wait for
// ever, and a run must end.
TEST(MeasureFileTest, AnythingButARegularFileCannotBeOpened) {
    TempFile file(video_file({make_packet(0, 0, 100), make_packet(0, 1200, 100)}));
    ASSERT_FALSE(file.path.empty());
    uint64_t size = 0;
    FILE* opened = OpenMediaFile(file.path.c_str(), &size);
    ASSERT_NE(nullptr, opened);
    std::fclose(opened);
    EXPECT_EQ(video_file({make_packet(0, 0, 100), make_packet(0, 1200, 100)}).size(), size);

    const std::string directory = file.path.substr(0, file.path.find_last_of("/\\"));
    std::vector<std::string> names = {directory};
#ifdef _WIN32
    names.push_back("COM1");  // under Wine a serial device
    names.push_back("NUL");
#else
    const std::string fifo = file.path + ".fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));  // opening it would wait for a writer
    names.push_back(fifo);
    names.push_back("/dev/null");
#endif
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        size = 7;
        EXPECT_EQ(nullptr, OpenMediaFile(name.c_str(), &size));
        EXPECT_EQ(0u, size);
        AnalysisDetails details;
        EXPECT_EQ(ANALYSIS_OPEN_FAILED, MeasureDetails(name.c_str(), &details));
    }
#ifndef _WIN32
    std::remove(fifo.c_str());
#endif
}

TEST(MeasureFileTest, MeasuresOnlyTheFirstRealVideoStream) {
    // Stream sizes differ so the series tells which one was measured.
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 2400; t += 400) {
        packets.push_back(make_packet(0, t, 100));
        packets.push_back(make_packet(1, t, 1000));
        packets.push_back(make_packet(2, t, 2000));
    }
    struct Case {
        const char* name;
        std::vector<MdprChunk> streams;
        uint32_t stream_index;
        uint32_t first_kbps;
    };
    const Case cases[] = {
        {"audio then video", {audio_mdpr(0, 1, 2), video_mdpr(1, 300, 400), video_mdpr(2, 500, 600)}, 1, 26},
        {"two videos", {video_mdpr(0, 300, 400), video_mdpr(1, 500, 600)}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Only packets of streams the file declares: any other is damage.
        std::vector<Packet> declared;
        for (const Packet& p : packets) {
            if (p.stream_number < c.streams.size()) declared.push_back(p);
        }
        TempFile file(simple_file(c.streams, declared));
        AnalysisDetails details;
        EXPECT_EQ(ANALYSIS_OK, MeasureDetails(file.path.c_str(), &details));
        EXPECT_EQ(DATA_END_CLEAN, details.ending);
        EXPECT_EQ(c.stream_index, details.stream_index);
        EXPECT_EQ(300u, details.declared_avg_bit_rate);
        EXPECT_EQ(400u, details.declared_max_bit_rate);
        ASSERT_EQ(2u, details.windows_stored);
        EXPECT_EQ(c.first_kbps, BitrateSeries[0].kbps);
    }
}

TEST(MeasureFileTest, FilesThatCannotBeMeasured) {
    const Bytes video = video_file({make_packet(0, 0, 100), make_packet(0, 1200, 100)});
    Bytes fifteen(video.begin(), video.begin() + 15);
    Bytes not_rm(64, 'x');
    // A PROP chunk too short for its fields.
    const Bytes short_prop = RmWriter().rmf().chunk(RM_ID_PROP, Bytes(10, 0)).bytes();
    const Bytes audio_only = simple_file({audio_mdpr(0)}, {make_packet(0, 0, 100), make_packet(0, 1500, 100)});

    struct Case {
        const char* name;
        const Bytes* bytes;  // null: a path that does not exist
        AnalysisResult result;
    };
    const Case cases[] = {
        {"fifteen bytes", &fifteen, ANALYSIS_NO_VIDEO},
        {"not RealMedia", &not_rm, ANALYSIS_NO_VIDEO},
        {"damaged headers", &short_prop, ANALYSIS_HEADERS_FAILED},
        {"audio only", &audio_only, ANALYSIS_NO_VIDEO},
        {"missing file", nullptr, ANALYSIS_OPEN_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path;
        std::unique_ptr<TempFile> file;
        if (c.bytes) {
            file.reset(new TempFile(*c.bytes));
            path = file->path;
        } else {
            TempFile gone(Bytes{1});
            path = gone.path + ".missing";
        }
        FillSeriesWithGarbage();
        AnalysisDetails details;
        details.stream_chosen = 7;
        EXPECT_EQ(c.result, MeasureDetails(path.c_str(), &details));
        EXPECT_EQ(0, details.stream_chosen);
        // Cleared once a file is chosen, whatever comes next.
        EXPECT_TRUE(StoredWindows().empty());
    }
}

struct PumpLog {
    int calls = 0;
    int stop_at = 0;  // 1-based call that asks to stop; 0: never
    static int Pump(void* context) {
        PumpLog* log = static_cast<PumpLog*>(context);
        ++log->calls;
        return log->calls != log->stop_at;
    }
};

TEST(MeasureFileTest, FullTableKeepsItsEndMarkerAndTheRunGoesOn) {
    // One window per packet: 20001 packets close 20000 windows, one more
    // than the table stores.
    std::vector<Packet> packets;
    for (uint32_t i = 0; i <= BITRATE_SERIES_SIZE; ++i) packets.push_back(make_packet(0, i * 1001, 1));
    std::vector<Packet> with_gap = packets;
    with_gap.push_back(make_packet(0, BITRATE_SERIES_SIZE * 1001 + 2001, 1));
    std::vector<Packet> longer = packets;
    for (uint32_t i = 1; i <= 3; ++i) longer.push_back(make_packet(0, (BITRATE_SERIES_SIZE + i) * 1001, 1));
    Bytes cut_later = video_file(longer);
    cut_later.resize(cut_later.size() - 5);  // inside the last packet

    struct Case {
        const char* name;
        Bytes bytes;
        AnalysisResult result;
        DataEnding ending;
        uint32_t not_stored;
        int pump_calls;
    };
    const Case cases[] = {
        {"ends", video_file(packets), ANALYSIS_OK, DATA_END_CLEAN, 1, BITRATE_SERIES_SIZE},
        {"gap after the table", video_file(with_gap), ANALYSIS_FRAME_GAP, DATA_END_NOT_REACHED, 1, BITRATE_SERIES_SIZE},
        {"damaged after the table", cut_later, ANALYSIS_OK, DATA_END_DAMAGED, 3, BITRATE_SERIES_SIZE + 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file(c.bytes);
        PumpLog pump;
        AnalysisDetails details;
        EXPECT_EQ(c.result, MeasureDetails(file.path.c_str(), &details, PumpLog::Pump, &pump));
        EXPECT_EQ(uint32_t(BITRATE_SERIES_SIZE - 1), details.windows_stored);
        EXPECT_EQ(1, details.series_full);
        EXPECT_EQ(c.not_stored, details.windows_not_stored);
        EXPECT_EQ(c.ending, details.ending);
        // The chart ends where the last stored window does: 5 h 33 min 38 s.
        EXPECT_EQ(19999u * 1001u, details.charted_until_ms);
        EXPECT_EQ(c.pump_calls, pump.calls);  // the pump still runs per window
        EXPECT_EQ(19998u * 1001u, BitrateSeries[BITRATE_SERIES_SIZE - 2].start_ms);
        EXPECT_EQ(0u, BitrateSeries[BITRATE_SERIES_SIZE - 1].start_ms);
        EXPECT_EQ(0u, BitrateSeries[BITRATE_SERIES_SIZE - 1].kbps);
    }
}

TEST(WindowKbpsTest, WideWindowsNeitherWrapNorOverflow) {
    struct Case {
        uint64_t bytes;
        uint32_t duration_ms;
        uint32_t kbps;
    };
    const Case cases[] = {
        {4000, 1200, 26},             // an ordinary window
        {0x1FFFFFFF, 1001, 4290676},  // just below 512 MiB: 32 bits would still do
        {0x20000000, 1001, 4290676},  // 512 MiB: bits no longer fit 32
        {uint64_t(0xFFFFFFFF) * 1001 / 8, 1001, 0xFFFFFFFEu},
        {uint64_t(1) << 40, 1001, 0xFFFFFFFFu},  // saturates
        {UINT64_MAX, 2000, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.kbps, WindowKbps(c.bytes, c.duration_ms)) << c.bytes << " bytes over " << c.duration_ms;
    }
}

// A first window of more than 512 MiB, from a sparse file: the payloads are
// holes, only the packet headers are written.
TEST(MeasureFileTest, WindowOfMoreThan512MiB) {
    const uint32_t payload = 65535 - 12;
    const uint32_t big_packets = (1u << 29) / payload + 1;
    Bytes head = simple_writer({video_mdpr(0)}, {}).bytes();
    // The DATA chunk's size must cover the packets, or they are not its own.
    set_u32(head, head.size() - 18 + 4, uint32_t(18 + uint64_t(big_packets) * (12 + payload) + 12));
    TempFile file(head);
    FILE* f = std::fopen(file.path.c_str(), "r+b");
    ASSERT_NE(nullptr, f);
    auto write_packet_header = [&](uint32_t timestamp, uint32_t payload_bytes) {
        Bytes header;
        put_u16(header, 0);
        put_u16(header, uint16_t(12 + payload_bytes));
        put_u16(header, 0);
        put_u32(header, timestamp);
        put_u8(header, 0);
        put_u8(header, 0);
        ASSERT_EQ(header.size(), std::fwrite(header.data(), 1, header.size(), f));
        if (payload_bytes) ASSERT_EQ(0, std::fseek(f, long(payload_bytes), SEEK_CUR));
    };
    ASSERT_EQ(0, std::fseek(f, long(head.size()), SEEK_SET));
    for (uint32_t i = 0; i < big_packets; ++i) write_packet_header(0, payload);
    write_packet_header(1001, 0);
    std::fclose(f);

    AnalysisDetails details;
    EXPECT_EQ(ANALYSIS_OK, MeasureDetails(file.path.c_str(), &details));
    ASSERT_EQ(1u, details.windows_stored);
    const uint64_t bytes = uint64_t(big_packets) * payload;
    EXPECT_GT(bytes * 8, uint64_t(UINT32_MAX));
    EXPECT_EQ(uint32_t(bytes * 8 / 1001), BitrateSeries[0].kbps);
}

#ifdef __linux__
int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
    return count;
}
#endif

TEST(MeasureFileTest, PumpRunsOncePerStoredWindowAndCanStopTheRun) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 12000; t += 300) packets.push_back(make_packet(0, t, 200));
    TempFile file(video_file(packets));

    PumpLog all;
    AnalysisDetails details;
    EXPECT_EQ(ANALYSIS_OK, MeasureDetails(file.path.c_str(), &details, PumpLog::Pump, &all));
    EXPECT_EQ(10u, details.windows_stored);
    EXPECT_EQ(10, all.calls);
    EXPECT_EQ(0, details.stopped_by_pump);

#ifdef __linux__
    const int descriptors = OpenDescriptors();
#endif
    // Stopped while a packet, the stream header, the parser and the file are
    // all held: the sanitizer's leak check and the descriptor count show the
    // clean-up.
    PumpLog stop;
    stop.stop_at = 4;
    EXPECT_EQ(ANALYSIS_CANCELLED, MeasureDetails(file.path.c_str(), &details, PumpLog::Pump, &stop));
    EXPECT_EQ(4, stop.calls);
    EXPECT_EQ(1, details.stopped_by_pump);
    EXPECT_EQ(3u, details.windows_stored);
    EXPECT_EQ(3u, StoredWindows().size());
#ifdef __linux__
    EXPECT_EQ(descriptors, OpenDescriptors());
#endif
}

}  // namespace
