// The measurement: KOV's series and ending exactly as its value gives them,
// statistics worked out by hand, keyframes of a writer-made file, and every
// stream's totals on the samples against their packet lists.
#include "analysis/measurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/figures_text.h"
#include "analysis/media_file.h"
#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"
#include "tests/support/rv_payloads.h"

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

// The chart's moving average: each run of whole windows from a window that first reaches the span,
// averaged by time, at the run's middle; its largest value is the statistics' peak.
TEST(WindowStatisticsTest, MovingAverageIsTheRunsThePeakIsTakenFrom) {
    std::vector<BitrateSample> windows;
    uint32_t start = 0;
    for (uint32_t i = 0; i < 40; ++i) {
        windows.push_back({start, 100 + (i * 73) % 400});
        start += 900 + (i * 131) % 300;  // windows of 0.9 to 1.2 s
    }
    const uint32_t end = start + 1000;
    for (uint32_t span : {1u, 2000u, 5000u, 30000u, 60000u}) {
        const std::vector<MovingAveragePoint> points = MovingAverage(windows.data(), 40, end, span);
        // By brute force: every run from each window, grown a window at a time.
        std::vector<MovingAveragePoint> want;
        for (uint32_t first = 0; first < 40; ++first) {
            double bits = 0;
            uint32_t length = 0;
            for (uint32_t i = first; i < 40 && length < span; ++i) {
                const uint32_t window_end = i + 1 < 40 ? windows[i + 1].start_ms : end;
                bits += double(windows[i].kbps) * (window_end - windows[i].start_ms);
                length += window_end - windows[i].start_ms;
            }
            if (length >= span) want.push_back({first, windows[first].start_ms + length / 2.0, bits / length});
        }
        ASSERT_EQ(want.size(), points.size()) << span;
        double largest = 0;
        for (size_t k = 0; k < want.size(); ++k) {
            EXPECT_EQ(want[k].first_window, points[k].first_window) << span;
            EXPECT_DOUBLE_EQ(want[k].middle_ms, points[k].middle_ms) << span;
            EXPECT_NEAR(want[k].kbps, points[k].kbps, 1e-9) << span;
            largest = std::max(largest, points[k].kbps);
        }
        if (want.empty()) continue;  // shorter than the span: no curve
        std::vector<uint32_t> scratch(40);
        WindowStatistics s;
        ComputeWindowStatistics(windows.data(), 40, end, span, scratch.data(), &s);
        EXPECT_DOUBLE_EQ(s.peak_average_kbps, largest) << span;
    }
    EXPECT_TRUE(MovingAverage(windows.data(), 40, end, 0).empty());
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

// The window rule by hand over (timestamp, bytes) in their order.
std::vector<BitrateSample> RuleWindows(const std::vector<std::pair<uint32_t, uint32_t>>& packets) {
    std::vector<BitrateSample> windows;
    uint32_t start = 0;
    uint64_t bytes = 0;
    for (const auto& p : packets) {
        bytes += p.second;
        if (p.first <= start + 1000) continue;
        windows.push_back({start, uint32_t(bytes * 8 / (p.first - start))});
        start = p.first;
        bytes = 0;
    }
    return windows;
}

void ExpectWindows(const std::vector<BitrateSample>& want, const std::vector<BitrateSample>& got) {
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(want[i].start_ms, got[i].start_ms) << i;
        EXPECT_EQ(want[i].kbps, got[i].kbps) << i;
    }
}

// Three video and two audio rates, each in a DATA chunk of its own, every
// layout, with and without the stream an ordinary player reads: each
// stream's figures and windows against what the writer wrote, each stream
// measured by its number, and the ordinary measurement unchanged.
TEST(MeasurementTest, EveryRateOfAMultiRateFileAgainstTheWriter) {
    for (const DataLayout layout : {DataLayout::CHAINED, DataLayout::BACK_TO_BACK, DataLayout::MIXED}) {
        for (const bool compatible : {false, true}) {
            SCOPED_TRACE(testing::Message() << "layout " << int(layout) << (compatible ? ", compatible" : ""));
            MultiRatePlan plan;
            plan.packets = 40;
            plan.layout = layout;
            plan.compatible_stream = compatible;
            MultiRate written = multi_rate_writer(plan);
            TempFile file(written.writer.bytes());
            MeasureOptions options;
            options.every_stream = true;
            options.whole_file = true;
            Measurement m;
            Measure(file.path.c_str(), options, &m);
            ASSERT_EQ(written.streams.size(), m.streams.size());
            ASSERT_EQ(written.streams.size(), m.stream_windows.size());
            std::vector<std::pair<uint32_t, uint32_t>> everything;
            for (size_t at : written.data_offsets) {
                for (const WrittenStream& w : written.streams) {
                    if (w.data_offset != at) continue;
                    for (const WrittenPacket& p : w.packets)
                        everything.push_back({p.timestamp, uint32_t(p.payload.size())});
                }
            }
            for (size_t i = 0; i < m.streams.size(); ++i) {
                SCOPED_TRACE(i);
                const WrittenStream& w = written.streams[i];
                const StreamFigures& f = m.streams[i];
                std::vector<std::pair<uint32_t, uint32_t>> own;
                uint64_t bytes = 0;
                for (const WrittenPacket& p : w.packets) {
                    own.push_back({p.timestamp, uint32_t(p.payload.size())});
                    bytes += p.payload.size();
                }
                EXPECT_EQ(w.stream_number, f.stream_number);
                EXPECT_EQ(w.packets.size(), f.packets);
                EXPECT_EQ(bytes, f.bytes);
                EXPECT_EQ(w.logical_mime_type.empty() ? 0 : w.rate, f.rate);
                EXPECT_EQ(w.logical_mime_type.empty() ? 0 : w.rate_count, f.rate_count);
                EXPECT_EQ(w.logical_mime_type, f.logical_mime_type);
                EXPECT_EQ(w.logical_mime_type.empty() ? 0 : w.average_bandwidth, f.rule_bandwidth);
                const std::vector<BitrateSample> windows = RuleWindows(own);
                ASSERT_FALSE(windows.empty());
                ExpectWindows(windows, m.stream_windows[i].windows);
                // Asked for by its number, the stream is the series.
                MeasureOptions by_number;
                by_number.series_stream = w.stream_number;
                Measurement n;
                Measure(file.path.c_str(), by_number, &n);
                EXPECT_EQ(i, n.details.stream_index);
                ExpectWindows(windows, n.windows);
            }
            // The whole file in time order, whatever chunk holds each packet.
            std::stable_sort(everything.begin(), everything.end(),
                             [](const std::pair<uint32_t, uint32_t>& a, const std::pair<uint32_t, uint32_t>& b) {
                                 return a.first < b.first;
                             });
            const std::vector<BitrateSample> file_windows = RuleWindows(everything);
            EXPECT_GT(file_windows.size(), 2u);
            ExpectWindows(file_windows, m.file_windows.windows);
            MeasureOptions all;
            all.series_stream = MEASURE_ALL_STREAMS;
            Measurement whole;
            Measure(file.path.c_str(), all, &whole);
            ExpectWindows(m.file_windows.windows, whole.windows);

            // The ordinary measurement: the compatible stream, or headers an
            // ordinary player cannot read.
            Measurement ordinary;
            Measure(file.path.c_str(), MeasureOptions(), &ordinary);
            EXPECT_EQ(compatible ? ANALYSIS_OK : ANALYSIS_HEADERS_FAILED, ordinary.result);
            EXPECT_EQ(ordinary.result, m.result);
            ExpectWindows(ordinary.windows, m.windows);
            EXPECT_EQ(0, std::memcmp(&ordinary.details.declared_avg_bit_rate, &m.details.declared_avg_bit_rate,
                                     sizeof m.details.declared_avg_bit_rate));
            if (compatible) EXPECT_EQ(m.streams.size() - 1, m.details.stream_index);
        }
    }
}

// The whole file's windows are those of its packets in time order, however
// far back in time the file steps: a packet or two (an interleave), onto a
// timestamp met before, further than a few dozen packets, before the first.
TEST(MeasurementTest, WholeFileWindowsOfPacketsOutOfTimeOrder) {
    struct Case {
        const char* name;
        uint32_t first_ms;  // of the video, whose packets come 40 ms apart
        // The timestamp of the audio packet after the video packet of `t`.
        uint32_t (*audio_ms)(uint32_t t);
    };
    const Case cases[] = {
        {"in order", 0, [](uint32_t t) { return t + 1; }},
        {"a few packets back", 200, [](uint32_t t) { return t - 99; }},
        {"onto earlier timestamps", 80, [](uint32_t t) { return t - 80; }},
        {"all on the first timestamp", 0, [](uint32_t) { return 0u; }},
        {"far back", 4000, [](uint32_t t) { return t - 3999; }},
        {"before the first", 500, [](uint32_t t) { return t == 500 ? 0 : t + 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Packet> packets;
        std::vector<std::pair<uint32_t, uint32_t>> everything;
        for (uint32_t t = c.first_ms; t < c.first_ms + 8000; t += 40) {
            packets.push_back(make_packet(0, t, 300 + t % 7 * 10, t % 1000 == 0));
            everything.push_back({t, 300 + t % 7 * 10});
            packets.push_back(make_packet(1, c.audio_ms(t), 50 + t % 13));
            everything.push_back({c.audio_ms(t), 50 + t % 13});
        }
        TempFile file(simple_file({video_mdpr(0), audio_mdpr(1)}, packets));
        MeasureOptions options;
        options.every_stream = true;
        options.whole_file = true;
        Measurement m;
        Measure(file.path.c_str(), options, &m);
        std::stable_sort(everything.begin(), everything.end(),
                         [](const std::pair<uint32_t, uint32_t>& a, const std::pair<uint32_t, uint32_t>& b) {
                             return a.first < b.first;
                         });
        const std::vector<BitrateSample> want = RuleWindows(everything);
        EXPECT_GT(want.size(), 5u);
        ExpectWindows(want, m.file_windows.windows);
    }
}

// ---------------------------------------------------------------- frames

// RV40 video (0) and audio (1), 0.5 s apart: an I-frame whole, a P-frame in
// three packets, a B-frame and a P-frame in one packet, then whole P-frames.
// The offsets of the video packets' headers come back in `video_at`.
Bytes FramesFile(std::vector<size_t>* video_at) {
    RmWriter w = simple_writer({video_mdpr(0), audio_mdpr(1)}, {});
    auto video = [&](uint32_t t, const Bytes& payload, bool key) {
        video_at->push_back(w.offset());
        Packet p = make_packet(0, t, 0, key);
        p.payload = payload;
        p.payload_size.reset();
        w.packet(p);
        w.packet(make_packet(1, t, 20, true));
    };
    video(0, Whole(Frame(3000, 0x00), 0), true);
    const std::vector<Bytes> parts = Split(Frame(5000, 0x40), {2000, 2000, 1000}, 1);
    for (const Bytes& part : parts) video(500, part, false);
    video(1000, Cat({Whole(Frame(700, 0x60), 2), Whole(Frame(900, 0x40), 3)}), false);
    for (uint8_t k = 0; k < 6; ++k) video(1500 + 500 * k, Whole(Frame(1200 + 100 * k, 0x40), uint8_t(4 + k)), false);
    return w.bytes();
}

// Frames taken or not, a measurement has the same windows, ending and totals.
void ExpectSameWithoutFrames(const std::string& path, const Measurement& with_frames) {
    Measurement without;
    Measure(path.c_str(), MeasureOptions(), &without);
    EXPECT_EQ(with_frames.result, without.result);
    EXPECT_EQ(0, std::memcmp(&with_frames.details, &without.details, sizeof without.details));
    ASSERT_EQ(with_frames.windows.size(), without.windows.size());
    for (size_t i = 0; i < without.windows.size(); ++i) {
        EXPECT_EQ(with_frames.windows[i].start_ms, without.windows[i].start_ms);
        EXPECT_EQ(with_frames.windows[i].kbps, without.windows[i].kbps);
    }
    EXPECT_EQ(with_frames.file_bytes, without.file_bytes);
    EXPECT_EQ(with_frames.totals_ending, without.totals_ending);
    EXPECT_FALSE(without.frames_measured);
}

TEST(MeasurementTest, FramesOfTheVideoWithTheirTypesAndPackets) {
    std::vector<size_t> at;
    TempFile file(FramesFile(&at));
    Measurement m;
    MeasureOptions options;
    options.frames = true;
    options.keep_frames = true;
    std::vector<VideoFrame> handed;
    options.frame_sink = [&](const VideoFrame& f) { handed.push_back(f); };
    ASSERT_EQ(ANALYSIS_OK, Measure(file.path.c_str(), options, &m));
    ASSERT_TRUE(m.frames_measured);
    struct Expected {
        size_t packet;  // index of its first video packet
        uint32_t timestamp, bytes, packets;
        bool keyframe;
        char type;
    };
    const Expected expected[] = {
        {0, 0, 3000, 1, true, 'I'},      {1, 500, 5000, 3, false, 'P'},  {4, 1000, 700, 1, false, 'B'},
        {4, 1000, 900, 1, false, 'P'},   {5, 1500, 1200, 1, false, 'P'}, {6, 2000, 1300, 1, false, 'P'},
        {7, 2500, 1400, 1, false, 'P'},  {8, 3000, 1500, 1, false, 'P'}, {9, 3500, 1600, 1, false, 'P'},
        {10, 4000, 1700, 1, false, 'P'},
    };
    ASSERT_EQ(std::size(expected), m.frames.size());
    for (size_t i = 0; i < m.frames.size(); ++i) {
        SCOPED_TRACE(i);
        const VideoFrame& f = m.frames[i];
        EXPECT_EQ(at[expected[i].packet], f.offset);
        EXPECT_EQ(expected[i].timestamp, f.timestamp_ms);
        EXPECT_EQ(expected[i].bytes, f.bytes);
        EXPECT_EQ(expected[i].packets, f.packets);
        EXPECT_EQ(expected[i].keyframe, f.keyframe);
        EXPECT_EQ(expected[i].type, f.type);
        EXPECT_EQ(f.offset, handed[i].offset);
    }
    EXPECT_EQ(0u, m.frame_statistics.misfit_packets);
    EXPECT_EQ(10u, m.frame_statistics.frames);
    EXPECT_EQ(1u, m.gops.size());  // one keyframe
    ExpectSameWithoutFrames(file.path, m);
}

// A cut ends the frames where the packets end, the frame it cuts not one of
// them; a part missing is a misfit; the windows and the ending are as
// without frames.
TEST(MeasurementTest, DamageEndsTheFramesAndMisfitsAreCounted) {
    std::vector<size_t> at;
    const Bytes whole = FramesFile(&at);
    MeasureOptions options;
    options.frames = true;
    options.keep_frames = true;
    {
        TempFile cut(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(at[3] + 30)));  // in the P-frame's last part
        Measurement m;
        Measure(cut.path.c_str(), options, &m);
        EXPECT_EQ(DATA_END_DAMAGED, m.details.ending);
        ASSERT_EQ(1u, m.frames.size());
        EXPECT_EQ('I', m.frames[0].type);
        EXPECT_EQ(2u, m.frame_statistics.misfit_packets);  // the two parts read
        ExpectSameWithoutFrames(cut.path, m);
    }
    {
        // The P-frame's parts out of order: the second says it is the fifth.
        Bytes damaged = whole;
        damaged[at[2] + RM_PACKET_HEADER_SIZE + 1] = 5;
        TempFile file(damaged);
        Measurement m;
        Measure(file.path.c_str(), options, &m);
        EXPECT_EQ(DATA_END_CLEAN, m.details.ending);
        EXPECT_EQ(9u, m.frames.size());
        EXPECT_LT(0u, m.frame_statistics.misfit_packets);
        ExpectSameWithoutFrames(file.path, m);
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
        "  0: video/x-pn-realvideo \"Video Stream\" RV40 (stream number 0), declared average 8.0 kbps, maximum 16.0 "
        "kbps; 7 packets, 1,750 bytes, 4.7 kbps from 0.000 s to 3.000 s\r\n",
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

// Frame rows with numbers at every length's edges, the offset past 32 bits too.
TEST(FiguresTextTest, FrameRowsAtTheDigitsEdges) {
    const struct {
        VideoFrame frame;
        const char* row;
    } cases[] = {
        {{0, 0, 0, 0, false, '?'}, "0,0,0,0,0,?\n"},
        {{9, 10, 99, 100, true, 'I'}, "9,10,99,100,1,I\n"},
        {{999999, 1000000, 9999999, 4294967295u, false, 'B'}, "999999,1000000,9999999,4294967295,0,B\n"},
        {{4294967296u, 99999, 100000, 1, false, 'P'}, "4294967296,99999,100000,1,0,P\n"},
        {{9999999999u, 0, 0, 0, false, 'P'}, "9999999999,0,0,0,0,P\n"},
        {{10000000000u, 0, 0, 0, false, 'P'}, "10000000000,0,0,0,0,P\n"},
        {{UINT64_MAX, 0, 0, 0, false, 'P'}, "18446744073709551615,0,0,0,0,P\n"},
    };
    for (const auto& c : cases) {
        char row[FRAME_CSV_ROW_MAX];
        EXPECT_EQ(c.row, std::string(row, FormatFrameCsvRow(c.frame, row)));
    }
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
