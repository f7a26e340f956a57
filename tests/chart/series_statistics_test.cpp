// The legend's figures and the Video curve's points from known series.
#include "chart/series_statistics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "analysis/analysis_run.h"
#include "chart/chart_model.h"

namespace {

class SeriesStatisticsTest : public testing::Test {
protected:
    void SetUp() override {
        std::memset(BitrateSeries, 0, sizeof BitrateSeries);
        ResetChartCurves();
        ApplyChartCurveSettings(CURVE_AUDIO, AudioCurveSettings);
        ApplyChartCurveSettings(CURVE_VIDEO, VideoCurveSettings);
    }

    // Samples i = 0 .. count-1 starting at i * step ms (sample 0 at 0 ms).
    static void FillSeries(int count, uint32_t step, uint32_t kbps) {
        std::memset(BitrateSeries, 0, sizeof BitrateSeries);
        for (int i = 0; i < count; ++i) BitrateSeries[i] = {uint32_t(i) * step, kbps};
    }

    static const ChartCurve& Video() { return ChartCurves[CURVE_VIDEO]; }
};

TEST_F(SeriesStatisticsTest, WorkedExample) {
    BitrateSeries[0] = {0, 300};
    BitrateSeries[1] = {1100, 500};
    BitrateSeries[2] = {2210, 400};
    BitrateSeries[4] = {5000, 9999};  // beyond the end marker at entry 3

    EXPECT_EQ(1, ComputeSeriesStatistics());
    EXPECT_EQ(500u, SeriesStatistics.max_kbps);
    EXPECT_EQ(2210u, SeriesStatistics.last_start_ms);
    EXPECT_EQ(400, SeriesStatistics.average_kbps);
    EXPECT_EQ(500.0f, ChartCurves[CURVE_AUDIO].top);
    EXPECT_EQ(500.0f, Video().top);
    EXPECT_EQ(0.0f, ChartCurves[CURVE_AUDIO].bottom);
    EXPECT_EQ(0.0f, Video().bottom);
    EXPECT_EQ(6, Video().point_count);
    const std::vector<float> points(Video().points, Video().points + 6);
    EXPECT_EQ((std::vector<float>{300, 300, 500, 500, 400, 400}), points);
}

TEST_F(SeriesStatisticsTest, SingleSampleAndEmptySeries) {
    struct Case {
        BitrateSample first;
        uint32_t kbps;
    };
    for (const Case& c : {Case{{0, 0}, 0}, Case{{0, 77}, 77}}) {
        std::memset(BitrateSeries, 0, sizeof BitrateSeries);
        BitrateSeries[0] = c.first;
        BitrateSeries[2] = {3000, 1};  // after the end marker: never visited
        ComputeSeriesStatistics();
        EXPECT_EQ(c.kbps, SeriesStatistics.max_kbps);
        EXPECT_EQ(0u, SeriesStatistics.last_start_ms);
        EXPECT_EQ(int64_t(c.kbps), SeriesStatistics.average_kbps);
        EXPECT_EQ(float(c.kbps), Video().top);
        EXPECT_EQ(2, Video().point_count);
        EXPECT_EQ(float(c.kbps), Video().points[0]);
        EXPECT_EQ(float(c.kbps), Video().points[1]);
    }
}

TEST_F(SeriesStatisticsTest, AverageTruncatesAndLargeRatesDoNotWrap) {
    struct Case {
        std::vector<uint32_t> kbps;
        uint32_t max_kbps;
        int64_t average_kbps;
    };
    const Case cases[] = {
        {{1, 2}, 2, 1},
        {{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, 0xFFFFFFFFu, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        std::memset(BitrateSeries, 0, sizeof BitrateSeries);
        for (size_t i = 0; i < c.kbps.size(); ++i) BitrateSeries[i] = {uint32_t(i) * 1500, c.kbps[i]};
        ComputeSeriesStatistics();
        EXPECT_EQ(c.max_kbps, SeriesStatistics.max_kbps);
        EXPECT_EQ(c.average_kbps, SeriesStatistics.average_kbps);
    }
}

TEST_F(SeriesStatisticsTest, FillingSwitchesToBucketsAbove512Samples) {
    // Different rates per sample, so two-per-sample and buckets differ.
    for (int n : {512, 513}) {
        SCOPED_TRACE(n);
        std::memset(BitrateSeries, 0, sizeof BitrateSeries);
        for (int i = 0; i < n; ++i) BitrateSeries[i] = {uint32_t(i) * 1500, uint32_t(i) + 1};
        ComputeSeriesStatistics();
        EXPECT_EQ(1024, Video().point_count);
        EXPECT_EQ(uint32_t(n - 1) * 1500, SeriesStatistics.last_start_ms);
        if (n == 512) {
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(float(i + 1), Video().points[2 * i]) << i;
                ASSERT_EQ(float(i + 1), Video().points[2 * i + 1]) << i;
            }
        } else {
            // The last sample lands in bucket 1023; bucket 0 is also the start of
            // the second sample's range.
            EXPECT_EQ(2.0f, Video().points[0]);  // shared with the second sample's range
            EXPECT_EQ(513.0f, Video().points[1023]);
            for (int b = 1; b < 1024; ++b) ASSERT_GE(Video().points[b], Video().points[b - 1]) << b;
        }
    }
}

TEST_F(SeriesStatisticsTest, ShorterRunLeavesOldPointsUndrawn) {
    FillSeries(400, 1500, 40);
    ComputeSeriesStatistics();
    FillSeries(300, 1500, 30);
    ComputeSeriesStatistics();
    EXPECT_EQ(600, Video().point_count);
    EXPECT_EQ(30.0f, Video().points[599]);
    EXPECT_EQ(40.0f, Video().points[600]);
    EXPECT_EQ(40.0f, Video().points[799]);
    EXPECT_EQ(0.0f, Video().points[800]);
}

TEST_F(SeriesStatisticsTest, BucketingRunReplacesEveryEarlierPoint) {
    FillSeries(512, 1500, 9999);
    ComputeSeriesStatistics();
    FillSeries(2000, 1001, 5);
    ComputeSeriesStatistics();
    EXPECT_EQ(1024, Video().point_count);
    for (int b = 0; b < CURVE_MAX_POINTS; ++b) ASSERT_EQ(5.0f, Video().points[b]) << b;
}

TEST_F(SeriesStatisticsTest, NeighbouringSamplesShareTheirEndBuckets) {
    // 1001 samples every 600 ms: L = 600000, so the sample at 300000 ms falls
    // into bucket 511, the one before it into 510 and the one after into 513.
    FillSeries(1001, 600, 10);
    BitrateSeries[500].kbps = 700;
    BitrateSeries[501].kbps = 20;
    ComputeSeriesStatistics();

    EXPECT_EQ(600000u, SeriesStatistics.last_start_ms);
    EXPECT_EQ(1024, Video().point_count);
    EXPECT_EQ(10.0f, Video().points[509]);
    EXPECT_EQ(700.0f, Video().points[510]);  // the range starts at the previous sample's bucket
    EXPECT_EQ(700.0f, Video().points[511]);  // larger than the next sample's 20
    EXPECT_EQ(20.0f, Video().points[512]);
    EXPECT_EQ(20.0f, Video().points[513]);
    EXPECT_EQ(10.0f, Video().points[514]);
}

TEST_F(SeriesStatisticsTest, SeveralSamplesInOneBucketKeepTheLargest) {
    // 3000 samples every 1001 ms: three per bucket; samples 299, 300 and 301
    // share bucket 102.
    FillSeries(3000, 1001, 10);
    BitrateSeries[299].kbps = 30;
    BitrateSeries[300].kbps = 80;
    BitrateSeries[301].kbps = 50;
    ComputeSeriesStatistics();

    EXPECT_EQ(1024, Video().point_count);
    EXPECT_EQ(30.0f, Video().points[101]);  // sample 299's range starts there
    EXPECT_EQ(80.0f, Video().points[102]);
    EXPECT_EQ(10.0f, Video().points[103]);
}

TEST_F(SeriesStatisticsTest, FullTableIsWalkedToItsEnd) {
    for (int i = 0; i < BITRATE_SERIES_SIZE; ++i) BitrateSeries[i] = {uint32_t(i) * 1001, uint32_t(i % 3)};
    ComputeSeriesStatistics();
    EXPECT_EQ(uint32_t(BITRATE_SERIES_SIZE - 1) * 1001, SeriesStatistics.last_start_ms);
    EXPECT_EQ(2u, SeriesStatistics.max_kbps);
    EXPECT_EQ(0, SeriesStatistics.average_kbps);  // 19999 / 20000
    EXPECT_EQ(1024, Video().point_count);
}

TEST_F(SeriesStatisticsTest, TouchesOnlyRangesAndVideoPoints) {
    ChartCurve& video = ChartCurves[CURVE_VIDEO];
    video.scale = 2.5f;
    video.offset = -0.3f;
    ChartCurves[CURVE_AUDIO].points[0] = 42.0f;
    ChartCurves[2].top = 7.0f;
    FillSeries(10, 1500, 100);
    ComputeSeriesStatistics();
    EXPECT_EQ(2.5f, video.scale);
    EXPECT_EQ(-0.3f, video.offset);
    EXPECT_EQ(VideoCurveSettings.color, video.color);
    EXPECT_STREQ("Video", video.label);
    EXPECT_EQ(1, video.visible);
    EXPECT_EQ(42.0f, ChartCurves[CURVE_AUDIO].points[0]);
    EXPECT_EQ(0, ChartCurves[CURVE_AUDIO].point_count);
    EXPECT_EQ(7.0f, ChartCurves[2].top);
}

}  // namespace
