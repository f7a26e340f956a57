// The time axis of a zoomed chart: spans that zoom, pan and clamp, the windows that lie in them,
// and where frames show. (The labels, bars and drags are checked through the window under Wine.)
#include "chart/chart_time.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const TimeLimits TEN_SECONDS = {10000, 200};

TEST(ChartTime, SpansClampToTheFileAndToTheNarrowestView) {
    struct Case {
        const char* what;
        int64_t from, to;
        uint32_t want_from, want_to;
    };
    const Case cases[] = {
        {"inside", 1000, 3000, 1000, 3000},
        {"past the end keeps its length", 9000, 11000, 8000, 10000},
        {"before the start keeps its length", -500, 1500, 0, 2000},
        {"narrower than the floor widens about its middle", 5000, 5010, 4905, 5105},
        {"longer than the file is the file", -3000, 30000, 0, 10000},
    };
    for (const Case& c : cases) {
        const TimeSpan span = ClampSpan(c.from, c.to, TEN_SECONDS);
        EXPECT_EQ(c.want_from, span.from_ms) << c.what;
        EXPECT_EQ(c.want_to, span.to_ms) << c.what;
    }
    // A file shorter than the floor is shown whole; one of no length still has an axis.
    const TimeSpan whole = ClampSpan(0, 50, TimeLimits{120, 200});
    EXPECT_EQ(0u, whole.from_ms);
    EXPECT_EQ(120u, whole.to_ms);
    EXPECT_EQ(1u, ClampSpan(0, 0, TimeLimits{0, 200}).to_ms);
}

TEST(ChartTime, ZoomKeepsTheAnchorInPlaceAndPanMovesByTheView) {
    const TimeSpan whole = {0, 10000};
    // In twice around 4 s at 40 % of the plot: 4 s stays at 40 %.
    TimeSpan in = ZoomSpan(whole, 2, 4000, 0.4, TEN_SECONDS);
    EXPECT_EQ(2000u, in.from_ms);
    EXPECT_EQ(7000u, in.to_ms);
    // Out again from there is the whole file; far out too, and no factor breaks it.
    TimeSpan out = ZoomSpan(in, 0.5, 4000, 0.4, TEN_SECONDS);
    EXPECT_TRUE(IsWholeFile(out, TEN_SECONDS));
    for (double factor : {1e-300, 0.0, -1.0, 1e300}) {
        const TimeSpan span = ZoomSpan(in, factor, 4000, 0.4, TEN_SECONDS);
        EXPECT_LE(span.to_ms, 10000u) << factor;
        EXPECT_GE(span.to_ms - span.from_ms, 200u) << factor;
    }
    // A tenth of the view, a whole view, and never past the ends.
    EXPECT_EQ(2500u, PanSpan(in, 0.1, TEN_SECONDS).from_ms);
    EXPECT_EQ(5000u, PanSpan(in, 1, TEN_SECONDS).from_ms);  // the end holds it: 5 to 10 s
    EXPECT_EQ(0u, PanSpan(in, -1, TEN_SECONDS).from_ms);
    EXPECT_EQ(5000u, PanSpan(in, -1, TEN_SECONDS).to_ms);
}

TEST(ChartTime, AWindowInASpanIsOneThatReachesIntoIt) {
    const std::vector<BitrateSample> windows = {{0, 10}, {1000, 20}, {2000, 30}, {3000, 40}};
    struct Case {
        uint32_t from, to;
        uint32_t first, last;
    };
    const Case cases[] = {
        {0, 4000, 0, 4},    {1000, 2000, 1, 2},  // exactly one window
        {1500, 2500, 1, 3}, {3500, 3600, 3, 4},  // inside the last, which ends at 4 s
        {4000, 5000, 4, 4},                      // after the windows' end
    };
    for (const Case& c : cases) {
        uint32_t first = 99;
        uint32_t last = 99;
        WindowsInSpan(windows.data(), uint32_t(windows.size()), 4000, TimeSpan{c.from, c.to}, &first, &last);
        EXPECT_EQ(c.first, first) << c.from << "-" << c.to;
        EXPECT_EQ(c.last, last) << c.from << "-" << c.to;
    }
}

VideoFrame F(uint32_t timestamp_ms, char type, uint32_t bytes = 1000) {
    VideoFrame frame{};
    frame.timestamp_ms = timestamp_ms;
    frame.type = type;
    frame.bytes = bytes;
    frame.keyframe = type == 'I';
    return frame;
}

TEST(ChartTime, FramesShowInTheOrderTheyArePresented) {
    struct Case {
        const char* what;
        std::vector<VideoFrame> frames;
        std::vector<double> places;
        std::vector<uint32_t> order;
    };
    const Case cases[] = {
        // Decode order I P B P B: each B shows between the two references before it.
        {"B-frames",
         {F(0, 'I'), F(80, 'P'), F(81, 'B'), F(160, 'P'), F(161, 'B')},
         {0, 80, 40, 160, 120},
         {0, 2, 1, 4, 3}},
        // Two B-frames share the span in thirds; a reference sharing its packet's time follows a frame later.
        {"runs and shared packets",
         {F(0, 'I'), F(120, 'P'), F(121, 'B'), F(121, 'B'), F(200, 'P'), F(200, 'P')},
         {0, 120, 40, 80, 200, 240},
         {0, 2, 3, 1, 4, 5}},
        // Before any reference a B-frame keeps its time; those after the first reference lead up to it.
        {"a cut start", {F(500, 'B'), F(40, 'P'), F(41, 'B'), F(120, 'P')}, {500, 40, 0, 120}, {2, 1, 3, 0}},
    };
    for (const Case& c : cases) {
        const FramePlacement placement = PlaceFrames(c.frames.data(), uint32_t(c.frames.size()), 40);
        EXPECT_EQ(c.places, placement.places) << c.what;
        EXPECT_EQ(c.order, placement.order) << c.what;
    }
}

}  // namespace
