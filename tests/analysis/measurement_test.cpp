// The measurement: KOV's series and ending exactly as its value gives them,
// statistics worked out by hand, keyframes of a writer-made file, and every
// stream's totals on the samples against their packet lists.
#include "analysis/measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/figures_text.h"
#include "analysis/media_file.h"
#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

// One for the whole test program, as rmrate keeps one per file.
Measurement& Figures() {
    static Measurement figures;
    return figures;
}

// The measurement of `path` with a moving average of `peak_span_ms`.
AnalysisResult MeasureFigures(const char* path, uint32_t peak_span_ms, AnalysisPumpFn pump, void* context,
                              Measurement* out) {
    MeasureOptions options;
    options.peak_span_ms = peak_span_ms;
    options.pump = pump;
    options.pump_context = context;
    return Measure(path, options, out);
}

std::vector<BitrateSample> Series(const std::vector<std::pair<uint32_t, uint32_t>>& windows) {
    std::vector<BitrateSample> series;
    for (const auto& w : windows) series.push_back({w.first, w.second});
    return series;
}

// ---------------------------------------------------------------- statistics by hand

TEST(WindowStatisticsTest, WorkedOutByHand) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint32_t, uint32_t>> windows;  // start_ms, kbps
        uint32_t series_end_ms;
        uint32_t span_ms;
        uint32_t min, max;
        double mean, median, p90, p95, p99, stddev;
        double peak;
        uint32_t peak_start, peak_end;
        int whole;
    };
    const Case cases[] = {
        // Odd count: ranks 0.9 x 4 = 3.6 and so on; the peak of 2 s lies at the end.
        {"odd count",
         {{0, 10}, {1000, 20}, {2000, 30}, {3000, 40}, {4000, 50}},
         5000,
         2000,
         10,
         50,
         30,
         30,
         46,
         48,
         49.6,
         std::sqrt(200.0),
         45,
         3000,
         5000,
         0},
        // Even count: the median halfway between 20 and 30; the peak of 1 s at the start.
        {"even count",
         {{0, 40}, {1000, 10}, {2000, 30}, {3000, 20}},
         4000,
         1000,
         10,
         40,
         25,
         25,
         37,
         38.5,
         39.7,
         std::sqrt(125.0),
         40,
         0,
         1000,
         0},
        {"one window", {{0, 7}}, 1500, 10000, 7, 7, 7, 7, 7, 7, 7, 0, 7, 0, 1500, 1},
        {"all equal", {{0, 5}, {1100, 5}, {2300, 5}}, 3400, 2000, 5, 5, 5, 5, 5, 5, 5, 0, 5, 0, 2300, 0},
        // Time-weighted: (100 x 2000 + 10 x 1000) / 3000, and exactly the span is enough.
        {"weighted by length", {{0, 100}, {2000, 10}}, 3000, 3000, 10, 100, 55, 55, 91, 95.5, 99.1, 45, 70, 0, 3000, 0},
        // Shorter than the span: the whole series' time-weighted average.
        {"shorter than the span",
         {{0, 100}, {2000, 10}},
         3000,
         3001,
         10,
         100,
         55,
         55,
         91,
         95.5,
         99.1,
         45,
         70,
         0,
         3000,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<BitrateSample> series = Series(c.windows);
        std::vector<uint32_t> scratch(series.size());
        WindowStatistics s;
        ComputeWindowStatistics(series.data(), uint32_t(series.size()), c.series_end_ms, c.span_ms, scratch.data(), &s);
        EXPECT_EQ(series.size(), s.count);
        EXPECT_EQ(c.min, s.min_kbps);
        EXPECT_EQ(c.max, s.max_kbps);
        EXPECT_DOUBLE_EQ(c.mean, s.mean_kbps);
        EXPECT_DOUBLE_EQ(c.median, s.median_kbps);
        EXPECT_NEAR(c.p90, s.p90_kbps, 1e-9);
        EXPECT_NEAR(c.p95, s.p95_kbps, 1e-9);
        EXPECT_NEAR(c.p99, s.p99_kbps, 1e-9);
        EXPECT_NEAR(c.stddev, s.stddev_kbps, 1e-9);
        EXPECT_NEAR(c.peak, s.peak_average_kbps, 1e-9);
        EXPECT_EQ(c.peak_start, s.peak_start_ms);
        EXPECT_EQ(c.peak_end, s.peak_end_ms);
        EXPECT_EQ(c.whole, s.peak_is_whole_series);
        EXPECT_EQ(c.span_ms, s.peak_span_ms);
    }
}

TEST(WindowStatisticsTest, NoWindowsAndNoSpan) {
    WindowStatistics s;
    ComputeWindowStatistics(nullptr, 0, 0, 10000, nullptr, &s);
    EXPECT_EQ(0u, s.count);
    EXPECT_EQ(0.0, s.peak_average_kbps);
    const std::vector<BitrateSample> series = Series({{0, 8}, {1500, 4}});
    std::vector<uint32_t> scratch(2);
    ComputeWindowStatistics(series.data(), 2, 3000, 0, scratch.data(), &s);
    EXPECT_EQ(1u, s.peak_span_ms);  // a span of no length has no average
    EXPECT_EQ(8.0, s.peak_average_kbps);
}

TEST(WindowStatisticsTest, PercentilesAtTheEnds) {
    const uint32_t sorted[] = {3, 9};
    EXPECT_EQ(3.0, InterpolatedPercentile(sorted, 2, 0.0));
    EXPECT_EQ(9.0, InterpolatedPercentile(sorted, 2, 100.0));
    EXPECT_EQ(6.0, InterpolatedPercentile(sorted, 2, 50.0));
    EXPECT_EQ(0.0, InterpolatedPercentile(sorted, 0, 50.0));
}

// ---------------------------------------------------------------- KOV's series is the measurement's

// KOV's run (the series it leaves) and the value rmrate prints agree.
void ExpectSameAsMeasureFile(const Bytes& bytes, const char* what) {
    SCOPED_TRACE(what);
    TempFile file(bytes);
    ASSERT_FALSE(file.path.empty());
    Measurement run;
    const AnalysisResult result = MeasureFile(file.path.c_str(), nullptr, nullptr, &run);
    const AnalysisDetails details = run.details;
    Measurement& f = Figures();
    EXPECT_EQ(result, MeasureFigures(file.path.c_str(), DEFAULT_PEAK_SPAN_MS, nullptr, nullptr, &f));
    EXPECT_EQ(result, f.result);
    EXPECT_EQ(0, std::memcmp(&details, &f.details, sizeof details)) << "the details differ";
    EXPECT_EQ(details.ending, f.details.ending);
    EXPECT_EQ(details.damage_offset, f.details.damage_offset);
    EXPECT_EQ(details.last_timestamp_ms, f.details.last_timestamp_ms);
    ASSERT_EQ(details.windows_stored, f.details.windows_stored);
    for (uint32_t i = 0; i < details.windows_stored; ++i) {
        EXPECT_EQ(BitrateSeries[i].start_ms, f.windows[i].start_ms) << "window " << i;
        EXPECT_EQ(BitrateSeries[i].kbps, f.windows[i].kbps) << "window " << i;
    }
    EXPECT_EQ(details.windows_stored, f.statistics.count);
}

TEST(MeasurementTest, SameWindowsAndEndingAsMeasureFile) {
    auto timeline = [](const std::vector<std::pair<uint32_t, uint32_t>>& packets) {
        std::vector<Packet> list;
        for (const auto& p : packets) list.push_back(make_packet(0, p.first, p.second));
        return video_file(list);
    };
    ExpectSameAsMeasureFile(timeline({{0, 1000}, {400, 1000}, {800, 1000}, {1200, 1000}, {2400, 1000}}), "plain");
    ExpectSameAsMeasureFile(timeline({}), "no packets");
    ExpectSameAsMeasureFile(timeline({{0, 500}, {1001, 500}, {3001, 500}, {5002, 500}}), "gap");
    ExpectSameAsMeasureFile(timeline({{0, 500}, {1500, 500}, {1499, 500}}), "time going back");
    ExpectSameAsMeasureFile(timeline({{10001, 5000}, {10500, 5000}}), "starts too late");
    ExpectSameAsMeasureFile(Bytes(64, 'x'), "not RealMedia");
    ExpectSameAsMeasureFile(simple_file({audio_mdpr(0)}, {make_packet(0, 0, 10)}), "audio only");
    ExpectSameAsMeasureFile(RmWriter().rmf().chunk(RM_ID_PROP, Bytes(10, 0)).bytes(), "damaged headers");

    // Video and audio interleaved, cut in every kind of place.
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 5000; t += 250) {
        packets.push_back(make_packet(1, t, 100));
        packets.push_back(make_packet(0, t, 100 + t / 100, t % 1000 == 0));
    }
    const Bytes whole = simple_file({video_mdpr(0), audio_mdpr(1)}, packets);
    for (size_t cut = whole.size() - 1; cut > whole.size() - 900; cut -= 37) {
        ExpectSameAsMeasureFile(Bytes(whole.begin(), whole.begin() + long(cut)),
                                ("cut at " + std::to_string(cut)).c_str());
    }
    ExpectSameAsMeasureFile(whole, "intact");
}

TEST(MeasurementTest, FullSeriesAndPumpStopAsMeasureFile) {
    std::vector<Packet> packets;
    for (uint32_t i = 0; i <= BITRATE_SERIES_SIZE + 1; ++i) packets.push_back(make_packet(0, i * 1001, 1, i % 3 == 0));
    const Bytes bytes = video_file(packets);
    ExpectSameAsMeasureFile(bytes, "full series");
    // The last stored window ends where the first window not stored starts.
    EXPECT_EQ(Figures().details.charted_until_ms, Figures().series_end_ms);

    TempFile file(video_file(
        {make_packet(0, 0, 10), make_packet(0, 1200, 10), make_packet(0, 2400, 10), make_packet(0, 3600, 10)}));
    struct Stop {
        int calls = 0;
        static int Pump(void* context) { return ++static_cast<Stop*>(context)->calls < 2; }
    } stop;
    EXPECT_EQ(ANALYSIS_CANCELLED, MeasureFigures(file.path.c_str(), 10000, Stop::Pump, &stop, &Figures()));
    EXPECT_EQ(2, stop.calls);
    EXPECT_EQ(1u, Figures().details.windows_stored);
    EXPECT_EQ(1, Figures().details.stopped_by_pump);
    EXPECT_EQ(1200u, Figures().series_end_ms);
}

// ---------------------------------------------------------------- another source

// A source that reads the open file into memory and hands the reader that:
// through reads alone, through windows of sizes that end anywhere, or not at
// all (it cannot read the file, and the run's buffer must take over).
struct MemorySource {
    enum Kind { READS, WINDOWS, REFUSES };
    explicit MemorySource(Kind how) : kind(how) {}
    Kind kind;
    MemoryIo io;
    WindowIo windowed{&MemoryIo::read, &MemoryIo::seek, &MemoryIo::tell, &io, {4096, 13, 0, 700, 1, 64 * 1024}};
    int attaches = 0;
    int detaches = 0;

    static bool Attach(void* context, FILE* file, uint64_t size, rm_reader* reader) {
        MemorySource* source = static_cast<MemorySource*>(context);
        if (source->kind == REFUSES) return false;
        source->io.data.resize(size_t(size));
        source->io.position = 0;
        if (size != 0 && std::fread(source->io.data.data(), 1, size_t(size), file) != size) return false;
        ++source->attaches;
        if (source->kind == WINDOWS) return source->windowed.attach(reader) == RM_OK;
        source->io.attach(reader);
        return true;
    }
    static void Detach(void* context) {
        MemorySource* source = static_cast<MemorySource*>(context);
        ++source->detaches;
        source->io.data.clear();
    }
};

// The measurement of `bytes` through each kind of source is the one through
// the run's own buffer, to the byte.
void ExpectSameThroughSources(const Bytes& bytes, const char* what) {
    SCOPED_TRACE(what);
    TempFile file(bytes);
    ASSERT_FALSE(file.path.empty());
    Measurement buffered;
    Measure(file.path.c_str(), MeasureOptions(), &buffered);
    for (MemorySource::Kind kind : {MemorySource::READS, MemorySource::WINDOWS, MemorySource::REFUSES}) {
        SCOPED_TRACE(kind);
        MemorySource context(kind);
        const MediaSource source = {MemorySource::Attach, MemorySource::Detach, &context};
        MeasureOptions options;
        options.source = &source;
        Measurement m;
        EXPECT_EQ(buffered.result, Measure(file.path.c_str(), options, &m));
        EXPECT_EQ(0, std::memcmp(&buffered.details, &m.details, sizeof m.details)) << "the details differ";
        EXPECT_EQ(buffered.details.damage_offset, m.details.damage_offset);
        ASSERT_EQ(buffered.windows.size(), m.windows.size());
        for (size_t i = 0; i < m.windows.size(); ++i) {
            EXPECT_EQ(buffered.windows[i].start_ms, m.windows[i].start_ms) << "window " << i;
            EXPECT_EQ(buffered.windows[i].kbps, m.windows[i].kbps) << "window " << i;
        }
        EXPECT_EQ(buffered.window_keyframes, m.window_keyframes);
        EXPECT_EQ(buffered.keyframes.count, m.keyframes.count);
        ASSERT_EQ(buffered.streams.size(), m.streams.size());
        for (size_t i = 0; i < m.streams.size(); ++i) {
            EXPECT_EQ(buffered.streams[i].packets, m.streams[i].packets);
            EXPECT_EQ(buffered.streams[i].bytes, m.streams[i].bytes);
        }
        EXPECT_EQ(buffered.totals_ending, m.totals_ending);
        // Asked for every RealMedia file, and let go of once the reader is gone.
        const bool real_media = bytes.size() >= 16 && rm_reader_probe(bytes.data(), 16);
        EXPECT_EQ(kind != MemorySource::REFUSES && real_media ? 1 : 0, context.attaches);
        EXPECT_EQ(context.attaches, context.detaches);
    }
}

TEST(MeasurementTest, SameMeasurementThroughAnotherSource) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 5000; t += 250) {
        packets.push_back(make_packet(1, t, 100));
        packets.push_back(make_packet(0, t, 100 + t / 100, t % 1000 == 0));
    }
    const Bytes whole = simple_file({video_mdpr(0), audio_mdpr(1)}, packets);
    ExpectSameThroughSources(whole, "intact");
    for (size_t cut = whole.size() - 1; cut > whole.size() - 900; cut -= 37) {
        ExpectSameThroughSources(Bytes(whole.begin(), whole.begin() + long(cut)),
                                 ("cut at " + std::to_string(cut)).c_str());
    }
    ExpectSameThroughSources(video_file({make_packet(0, 0, 500), make_packet(0, 1001, 500), make_packet(0, 3001, 5)}),
                             "gap");
    ExpectSameThroughSources(RmWriter().rmf().chunk(RM_ID_PROP, Bytes(10, 0)).bytes(), "damaged headers");
    ExpectSameThroughSources(Bytes(64, 'x'), "not RealMedia");
    std::ifstream in(std::string(KOV_SOURCE_DIR) + "/samples/rv20_vbr_long.rm", std::ios::binary);
    ExpectSameThroughSources(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
                             "rv20_vbr_long.rm");
}

// ---------------------------------------------------------------- keyframes

TEST(MeasurementTest, KeyframesOfAWriterMadeFile) {
    // Video every 250 ms; keyframes at 0 (a frame split over two packets),
    // 2000, 3500, 5000 (which closes a window) and 7000.
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 8000; t += 250) {
        const bool key = t == 0 || t == 2000 || t == 3500 || t == 5000 || t == 7000;
        packets.push_back(make_packet(0, t, 100, key));
        if (t == 0) packets.push_back(make_packet(0, 0, 100, true));
        packets.push_back(make_packet(1, t, 20, true));  // audio keys are not the video's
    }
    TempFile file(simple_file({video_mdpr(0), audio_mdpr(1)}, packets));
    Measurement& f = Figures();
    ASSERT_EQ(ANALYSIS_OK, MeasureFigures(file.path.c_str(), 2500, nullptr, nullptr, &f));
    // Windows start at 0, 1250, 2500, 3750, 5000, 6250; the one from 7500 stays open.
    ASSERT_EQ(6u, f.details.windows_stored);
    const uint32_t per_window[] = {1, 1, 1, 0, 1, 1};
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(per_window[i], f.window_keyframes[i]) << "window " << i;
    EXPECT_EQ(7500u, f.series_end_ms);
    EXPECT_EQ(5u, f.keyframes.count);
    EXPECT_EQ(0u, f.keyframes.first_ms);
    EXPECT_EQ(4u, f.keyframes.intervals);
    EXPECT_EQ(1500u, f.keyframes.min_interval_ms);
    EXPECT_EQ(2000u, f.keyframes.max_interval_ms);
    EXPECT_DOUBLE_EQ(1750.0, f.keyframes.mean_interval_ms);
    EXPECT_EQ(2500u, f.statistics.peak_span_ms);

    // One keyframe: no interval.
    TempFile one(video_file({make_packet(0, 300, 10, true), make_packet(0, 1300, 10)}));
    ASSERT_EQ(ANALYSIS_OK, MeasureFigures(one.path.c_str(), 10000, nullptr, nullptr, &f));
    EXPECT_EQ(1u, f.keyframes.count);
    EXPECT_EQ(300u, f.keyframes.first_ms);
    EXPECT_EQ(0u, f.keyframes.intervals);
}

// ---------------------------------------------------------------- every stream

struct Totals {
    uint64_t packets = 0, bytes = 0;
    uint32_t first = 0, last = 0;
};

// Per stream, from the packet list beside the sample.
std::vector<Totals> CountPacketList(const std::string& stem) {
    std::ifstream list(std::string(KOV_SOURCE_DIR) + "/samples/" + stem + ".packets.txt");
    std::vector<Totals> totals;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        uint32_t stream, timestamp, key, size;
        fields >> stream >> timestamp >> key >> size;
        if (totals.size() <= stream) totals.resize(stream + 1);
        Totals& t = totals[stream];
        if (t.packets == 0 || timestamp < t.first) t.first = timestamp;
        if (t.packets == 0 || timestamp > t.last) t.last = timestamp;
        ++t.packets;
        t.bytes += size;
    }
    return totals;
}

TEST(MeasurementTest, EveryStreamOfTheSamplesAgainstItsPacketList) {
    struct Sample {
        const char* file;
        const char* stem;
        std::vector<std::string> fourccs;  // ffprobe's codec tags
    };
    const Sample samples[] = {
        {"demo.rm", "demo", {"RV10", "lpcJ"}},         {"rv10_ra144.rm", "rv10_ra144", {"RV10", "lpcJ"}},
        {"rv20_ac3.rm", "rv20_ac3", {"RV20", "dnet"}}, {"rv20_video.rmvb", "rv20_video", {"RV20"}},
        {"ra144_audio.rm", "ra144_audio", {"lpcJ"}},   {"rv20_vbr_long.rm", "rv20_vbr_long", {"lpcJ", "RV20"}},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.file);
        const std::string path = std::string(KOV_SOURCE_DIR) + "/samples/" + s.file;
        Measurement& f = Figures();
        MeasureFigures(path.c_str(), 10000, nullptr, nullptr, &f);
        const std::vector<Totals> expected = CountPacketList(s.stem);
        ASSERT_EQ(expected.size(), f.streams.size());
        ASSERT_EQ(s.fourccs.size(), f.streams.size());
        EXPECT_EQ(DATA_END_CLEAN, f.totals_ending);
        uint64_t all = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(expected[i].packets, f.streams[i].packets);
            EXPECT_EQ(expected[i].bytes, f.streams[i].bytes);
            EXPECT_EQ(expected[i].first, f.streams[i].first_ms);
            EXPECT_EQ(expected[i].last, f.streams[i].last_ms);
            EXPECT_EQ(s.fourccs[i], f.streams[i].fourcc);
            EXPECT_EQ(1, f.streams[i].header_read);
            all += expected[i].bytes;
        }
        EXPECT_EQ(all, f.file_bytes);
    }
}

TEST(MeasurementTest, CodecCodeOnlyWhereTheOpaqueDataCarriesOne) {
    Bytes video = {0, 0, 0, 0x22, 'V', 'I', 'D', 'O', 'R', 'V', '4', '0', 0, 0};
    Bytes audio(66, 0);
    std::memcpy(audio.data(), ".ra\xfd\x00\x04", 6);
    audio[56] = 4;
    std::memcpy(&audio[57], "Int4", 4);
    audio[61] = 4;
    std::memcpy(&audio[62], "sipr", 4);
    struct Case {
        const char* name;
        Bytes bytes;
        const char* fourcc;  // "" for none
    };
    Bytes audio_v5 = audio;
    audio_v5[5] = 5;
    Bytes audio_long_interleaver = audio;
    audio_long_interleaver[56] = 200;  // its code would lie past the end
    Bytes video_unprintable = video;
    video_unprintable[9] = 0x01;
    const Case cases[] = {
        {"RealVideo", video, "RV40"},
        {"RealVideo cut", Bytes(video.begin(), video.begin() + 11), ""},
        {"RealVideo unprintable", video_unprintable, ""},
        {"RealAudio 4", audio, "sipr"},
        {"RealAudio 4 cut", Bytes(audio.begin(), audio.begin() + 65), ""},
        {"RealAudio 5 (not seen in the samples)", audio_v5, ""},
        {"interleaver beyond the data", audio_long_interleaver, ""},
        {"nothing", Bytes(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char fourcc[5] = "xxxx";
        EXPECT_EQ(c.fourcc[0] != '\0',
                  FindCodecFourcc(c.bytes.empty() ? nullptr : c.bytes.data(), uint32_t(c.bytes.size()), fourcc));
        EXPECT_STREQ(c.fourcc, fourcc);
    }
}

// ---------------------------------------------------------------- the text and the rows

TEST(FiguresTextTest, StatisticsBlockAndCsvRows) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 3000; t += 500) packets.push_back(make_packet(0, t, 250, t % 1000 == 0));
    TempFile file(simple_file({video_mdpr(0, 8000, 16000)}, packets));
    Measurement& f = Figures();
    ASSERT_EQ(ANALYSIS_OK, MeasureFigures(file.path.c_str(), 10000, nullptr, nullptr, &f));
    // Windows [0,1500) and [1500,3000): 1000 bytes over 1500 ms, then 750.
    char text[4096];
    const size_t length = FormatFiguresText(f, "\r\n", text, sizeof text);
    EXPECT_EQ(std::strlen(text), length);
    const std::string block = text;
    const char* const lines[] = {
        "Windows: 2\r\n",
        "Window bitrate (kbps): minimum 4, median 4.5, 90th percentile 4.9, 95th 5.0, 99th 5.0, maximum 5\r\n",
        "Peak 10.000 s moving average: 4.5 kbps, the whole series (shorter than that), from 0.000 s to 3.000 s\r\n",
        "Keyframes: 4, the first at 0.000 s; interval minimum 1.000 s, mean 1.000 s, maximum 1.000 s\r\n",
        "Video stream 0: declared average 8.0 kbps, maximum 16.0 kbps; measured average 4.7 kbps, "
        "1-second maximum 5 kbps\r\n",
        "Ending: clean, the end of the data\r\n",
        "  0: video/x-pn-realvideo \"Video Stream\" RV40, declared average 8.0 kbps, maximum 16.0 kbps; 7 packets, "
        "1,750 "
        "bytes, 4.7 kbps from 0.000 s to 3.000 s\r\n",
    };
    for (const char* line : lines) EXPECT_NE(std::string::npos, block.find(line)) << line << "in\n" << block;

    // Cut short, it still says how long the whole text is.
    char small[10];
    EXPECT_EQ(length, FormatFiguresText(f, "\r\n", small, sizeof small));
    EXPECT_EQ(std::string(text, 9), small);
    EXPECT_EQ(length, FormatFiguresText(f, "\r\n", nullptr, 0));

    FILE* out = std::tmpfile();
    ASSERT_NE(nullptr, out);
    EXPECT_TRUE(WriteWindowsCsv(f, out));
    std::rewind(out);
    char rows[256] = {};
    const size_t got = std::fread(rows, 1, sizeof rows - 1, out);
    std::fclose(out);
    EXPECT_EQ("start_ms,kbps,keyframes\n0,5,2\n1500,4,1\n", std::string(rows, got));
}

TEST(FiguresTextTest, NamesAreWrittenInPlainAscii) {
    MdprChunk video = video_mdpr(0);
    video.stream_name = "caf\xc3\xa9\n\x01";
    TempFile file(simple_file({video}, {make_packet(0, 0, 10), make_packet(0, 1200, 10)}));
    Measurement& f = Figures();
    ASSERT_EQ(ANALYSIS_OK, MeasureFigures(file.path.c_str(), 10000, nullptr, nullptr, &f));
    char text[4096];
    FormatFiguresText(f, "\n", text, sizeof text);
    EXPECT_NE(nullptr, std::strstr(text, "\"caf\\xc3\\xa9\\x0a\\x01\""));
    for (const char* c = text; *c; ++c) EXPECT_TRUE(*c == '\n' || (*c >= 0x20 && *c < 0x7F));
}

}  // namespace
