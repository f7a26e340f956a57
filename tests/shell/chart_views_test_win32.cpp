// The time zoom, the frame and GOP plots, the moving average, the streams' curves and a compared file
// in the real main window under Wine, driven by its messages: drags, wheels, keys through the
// accelerators, drops and dialogs. What it draws is checked against positions, rows and texts
// computed here from the measurements, not by the drawing code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

#include "analysis/analysis_run.h"
#include "analysis/measurement.h"
#include "chart/chart_model.h"
#include "chart/chart_view.h"
#include "chart/chart_win32.h"
#include "shell/document.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell_test_support_win32.h"
#include "tests/chart/chart_test_support_win32.h"
#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"
#include "tests/support/rv_payloads.h"

using namespace rmtest;
using namespace shell_test;
using chart_test::Canvas;

namespace {

const COLORREF RED = 0x000000FF;
const COLORREF BLUE = 0x00FF0000;
const COLORREF GREEN = 0x0000FF00;
const COLORREF YELLOW = 0x0000FFFF;
const COLORREF ORANGE = 0x000080FF;
const COLORREF BAND = 0x00C0C0C0;
const int LEFT = 110;

// RV40 at 25 fps in decode order, a whole frame a packet: a reference every 80 ms (an I-frame every
// 4 s, P-frames between) and after each a B-frame that shows 40 ms before it.
Bytes BFramesFile(uint32_t references) {
    RmWriter w = simple_writer({video_mdpr(0)}, {});
    uint8_t sequence = 0;
    auto put = [&](uint32_t t, uint32_t size, uint8_t first, bool key) {
        Packet p = make_packet(0, t, 0, key);
        p.payload = Whole(Frame(size, first), sequence++);
        p.payload_size.reset();
        w.packet(p);
    };
    put(0, 6000, 0x00, true);
    for (uint32_t r = 1; r <= references; ++r) {
        const bool key = r % 50 == 0;
        put(80 * r, key ? 6000 : 2000 + (r * 37) % 1000, key ? 0x00 : 0x40, key);
        put(80 * r + 1, 800 + (r * 53) % 400, 0x60, false);
    }
    return w.bytes();
}

// Where a frame of that file shows: a B-frame 41 ms before its timestamp.
double PlaceOf(const VideoFrame& f) { return f.type == 'B' ? f.timestamp_ms - 41.0 : f.timestamp_ms; }

COLORREF ColourOf(char type) { return type == 'I' ? RED : type == 'P' ? BLUE : type == 'B' ? GREEN : 0x00A0A0A0; }

// The label step a span of `length` ms gets on `pw` columns: the first that leaves 70 between labels.
uint32_t StepFor(double length, int pw) {
    for (uint32_t step : {100u, 200u, 500u, 1000u, 2000u, 5000u, 10000u, 15000u, 30000u, 60000u}) {
        if (step * double(pw) / length >= 70) return step;
    }
    return 120000;
}

std::string Clock(uint32_t ms, bool tenths) {
    char text[32];
    if (tenths) {
        std::snprintf(text, sizeof text, "%u:%02u.%u", ms / 60000, ms / 1000 % 60, ms % 1000 / 100);
    } else {
        std::snprintf(text, sizeof text, "%u:%02u", ms / 60000, ms / 1000 % 60);
    }
    return text;
}

// Keys held while a test presses another.
class HeldKeys {
public:
    HeldKeys(bool control, bool shift) {
        GetKeyboardState(saved_);
        BYTE keys[256];
        std::memcpy(keys, saved_, sizeof keys);
        keys[VK_CONTROL] = keys[VK_LCONTROL] = control ? 0x80 : 0;
        keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
    }
    ~HeldKeys() { SetKeyboardState(saved_); }

private:
    BYTE saved_[256];
};

class TimeZoomTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        ChartCurves[CURVE_VIDEO].scale = 1.0f;
        ChartCurves[CURVE_VIDEO].offset = 0.0f;
        accelerators_ = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINMENU));
        ASSERT_NE(nullptr, accelerators_);
    }
    void TearDown() override {
        DestroyAcceleratorTable(accelerators_);
        MainWindowFixture::TearDown();
    }

    void Open(const std::string& path) {
        DialogWatcher watcher;
        RunAnalysis(hwnd(), path.c_str());
        ASSERT_TRUE(watcher.Seen().empty()) << watcher.Seen()[0].caption;
        const RECT client = Client();
        width_ = client.right;
        height_ = client.bottom;
        pw_ = width_ - 204;
        ph_ = height_ - 118;
    }

    // A key as the message loop hands it over: through the accelerators first.
    void Press(WPARAM key, bool control = false, bool shift = false) {
        HeldKeys held(control, shift);
        MSG message = {};
        message.hwnd = hwnd();
        message.message = WM_KEYDOWN;
        message.wParam = key;
        message.lParam = 1;
        if (!TranslateAcceleratorA(hwnd(), accelerators_, &message)) DispatchMessageA(&message);
    }

    void Wheel(int delta, WPARAM keys, int x) {
        POINT at = {x, (50 + height_ - 68) / 2};
        ClientToScreen(hwnd(), &at);
        SendMessageA(hwnd(), WM_MOUSEWHEEL, MAKEWPARAM(keys, delta), MAKELPARAM(at.x, at.y));
    }

    void Drag(int x0, int x1) {
        const int y = (50 + height_ - 68) / 2;
        SendMessageA(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y));
        SendMessageA(hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((x0 + x1) / 2, y));
        SendMessageA(hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(x1, y));
        SendMessageA(hwnd(), WM_MOUSELEAVE, 0, 0);
    }

    Canvas* Shot() {
        shot_.reset(new Canvas(width_, height_));
        chart_test::CopyBackBuffer(*shot_);
        return shot_.get();
    }

    std::vector<POINT> DifferencesFromSteps() {
        Canvas steps(width_, height_);
        chart_test::DrawChartSteps(steps);
        return Shot()->Differences(steps);
    }

    // Whether the back buffer's rows [top, bottom) from column LEFT on hold exactly these texts.
    struct Text {
        int x, y;
        UINT align;
        std::string text;
    };
    bool BandShows(int top, int bottom, const std::vector<Text>& texts) {
        Canvas expected(width_, height_);
        expected.Fill(shell_test::CHART_BACKGROUND);
        for (const Text& t : texts) chart_test::DrawChartText(expected, t.x, t.y, t.align, t.text);
        Canvas* shot = Shot();
        for (const POINT& p : shot->Differences(expected)) {
            if (p.y >= top && p.y < bottom && p.x >= LEFT) return false;
        }
        return true;
    }
    bool LegendShows(const std::string& text) {
        return BandShows(25, 48, {{LEFT + pw_ / 2, 25, TA_CENTER | TA_TOP, text}});  // the grid's top row is 2 px wide
    }
    bool ReadoutShows(const std::string& text) { return BandShows(0, 25, {{width_ - 10, 5, TA_RIGHT | TA_TOP, text}}); }
    // The time labels of the span, computed here.
    bool TimeLabelsShow(const TimeSpan& span) {
        const double length = double(span.to_ms) - span.from_ms;
        const uint32_t step = StepFor(length, pw_);
        std::vector<Text> texts = {{width_ - 54, height_ - 76, TA_CENTER | TA_TOP, "(mm:ss)"}};
        for (uint32_t t = (span.from_ms + step - 1) / step * step; t <= span.to_ms; t += step) {
            texts.push_back({Column(span, t), height_ - 58, TA_CENTER | TA_TOP, Clock(t, step < 1000)});
        }
        return BandShows(height_ - 58, height_, texts);
    }

    int Column(const TimeSpan& span, double t) const {
        const double c = (t - span.from_ms) * pw_ / (double(span.to_ms) - span.from_ms);
        return LEFT + int(std::floor(std::min(std::max(c, 0.0), double(pw_))));
    }
    int Row(double value, double top) const { return int(ph_ * (top - value) / top + 50); }

    const ChartView& View() const { return CurrentDocument.view; }
    const Measurement& Measured() const { return CurrentDocument.measurement; }

    HACCEL accelerators_ = nullptr;
    int width_ = 0, height_ = 0, pw_ = 0, ph_ = 0;
    std::unique_ptr<Canvas> shot_;
};

// The seed's chart, untouched, after a zoom and Home, and after the arrows' stretch and Home.
TEST_F(TimeZoomTest, UntouchedAndAfterHomeTheChartIsTheDrawingStepsAlone) {
    Open(SamplePath("demo.rm"));
    EXPECT_TRUE(DifferencesFromSteps().empty());
    Press(VK_RIGHT, true);
    EXPECT_TRUE(View().zoomed);
    Press(VK_DOWN);
    Press(VK_RIGHT);  // the plain arrows still stretch and shift the values
    EXPECT_EQ(1.1f, ChartCurves[CURVE_VIDEO].scale);
    EXPECT_FALSE(DifferencesFromSteps().empty());
    Press(VK_HOME);
    EXPECT_FALSE(View().zoomed);
    EXPECT_EQ(1.0f, ChartCurves[CURVE_VIDEO].scale);
    EXPECT_EQ(0.0f, ChartCurves[CURVE_VIDEO].offset);
    EXPECT_TRUE(DifferencesFromSteps().empty());
    // A click is no drag: nothing changes.
    Drag(LEFT + 100, LEFT + 102);
    EXPECT_FALSE(View().zoomed);
    EXPECT_TRUE(DifferencesFromSteps().empty());
}

// A drag from window 3's first point to window 8's second shows windows 3 to 8: their steps, the
// legend of their figures, and labels that suit 6 s.
TEST_F(TimeZoomTest, ADragShowsExactlyTheWindowsItSweptOver) {
    Open(SamplePath("demo.rm"));
    const std::vector<BitrateSample>& w = Measured().windows;
    const int n = int(w.size());
    ASSERT_GT(n, 12);
    const int x0 = LEFT + int(int64_t(2 * 3) * pw_ / (2 * n - 1));
    const int x1 = LEFT + int(int64_t(2 * 8 + 1) * pw_ / (2 * n - 1));
    // While dragging, the band.
    const int y = (50 + height_ - 68) / 2;
    SendMessageA(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y));
    SendMessageA(hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x1, y));
    EXPECT_FALSE(Shot()->ColumnsOfColor(50, BAND, x0, x1).empty());
    EXPECT_EQ(hwnd(), GetCapture());
    SendMessageA(hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(x1, y));
    SendMessageA(hwnd(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(nullptr, GetCapture());

    const TimeSpan span = {w[3].start_ms, w[9].start_ms};
    ASSERT_TRUE(View().zoomed);
    EXPECT_EQ(span.from_ms, View().visible.from_ms);
    EXPECT_EQ(span.to_ms, View().visible.to_ms);
    uint32_t top = 0;
    uint64_t sum = 0;
    for (int i = 3; i <= 8; ++i) {
        top = std::max(top, w[i].kbps);
        sum += w[i].kbps;
    }
    Canvas* shot = Shot();
    for (int i = 3; i <= 8; ++i) {
        const int x = Column(span, (w[i].start_ms + double(w[i + 1].start_ms)) / 2);
        EXPECT_EQ(std::vector<int>{Row(w[i].kbps, top)}, shot->RowsOfColor(x, YELLOW)) << "window " << i;
    }
    char legend[160];
    std::snprintf(legend, sizeof legend,
                  "%s - %s    Max Time: %u s    Max Bitrate: %u kbps    Average Bitrate: %u kbps",
                  Clock(span.from_ms, true).c_str(), Clock(span.to_ms, true).c_str(), w[8].start_ms / 1000, top,
                  unsigned(sum / 6));
    EXPECT_TRUE(LegendShows(legend)) << legend;
    EXPECT_TRUE(TimeLabelsShow(span));
}

TEST_F(TimeZoomTest, WheelAndKeysZoomAndPanAndTheRangeClamps) {
    Open(SamplePath("rv20_vbr_long.rm"));
    const uint32_t end = ChartTimeLimits(View()).end_ms;
    // Ctrl+wheel a notch in at a quarter of the plot: the time there stays there.
    const int x = LEFT + pw_ / 4;
    const double anchor = ChartTimeAtColumn(View(), pw_ / 4, pw_);
    Wheel(WHEEL_DELTA, MK_CONTROL, x);
    ASSERT_TRUE(View().zoomed);
    TimeSpan span = View().visible;
    EXPECT_NEAR(end / 1.25, double(span.to_ms) - span.from_ms, 1.0);
    EXPECT_NEAR(x, Column(span, anchor), 1);
    // Ctrl+Right halves it around its middle; Shift+Right moves a tenth, PgDn a whole view, and the
    // end holds it; PgUp back; Shift+wheel away from the user goes back in time, the horizontal wheel on.
    Press(VK_RIGHT, true);
    const TimeSpan half = View().visible;
    EXPECT_NEAR((span.to_ms - span.from_ms) / 2.0, double(half.to_ms) - half.from_ms, 1.0);
    EXPECT_NEAR((span.from_ms + span.to_ms) / 2.0, (half.from_ms + half.to_ms) / 2.0, 1.0);
    const uint32_t length = half.to_ms - half.from_ms;
    struct Step {
        const char* what;
        int key;  // 0: a wheel
        bool control, shift;
        int wheel;
        int64_t moved;  // of from_ms, before the clamp
    };
    const Step steps[] = {
        {"Shift+Right", VK_RIGHT, false, true, 0, int64_t(std::llround(length / 10.0))},
        {"Shift+Left", VK_LEFT, false, true, 0, -int64_t(std::llround(length / 10.0))},
        {"PgDn", VK_NEXT, false, false, 0, length},
        {"PgUp", VK_PRIOR, false, false, 0, -int64_t(length)},
        {"Shift+wheel", 0, false, true, WHEEL_DELTA, -int64_t(std::llround(length / 10.0))},
        {"horizontal wheel", 0, false, false, WHEEL_DELTA, int64_t(std::llround(length / 10.0))},
    };
    for (const Step& s : steps) {
        const TimeSpan before = View().visible;
        if (s.key) {
            Press(s.key, s.control, s.shift);
        } else if (s.shift) {
            Wheel(s.wheel, MK_SHIFT, x);
        } else {
            SendMessageA(hwnd(), WM_MOUSEHWHEEL, MAKEWPARAM(0, s.wheel), 0);
        }
        const int64_t want = std::min<int64_t>(std::max<int64_t>(before.from_ms + s.moved, 0), end - length);
        EXPECT_EQ(want, int64_t(View().visible.from_ms)) << s.what;
        EXPECT_EQ(length, View().visible.to_ms - View().visible.from_ms) << s.what;
    }
    for (int i = 0; i < 200; ++i) Press(VK_NEXT);
    EXPECT_EQ(end, View().visible.to_ms);
    EXPECT_TRUE(TimeLabelsShow(View().visible));
    // Zoomed in as far as it goes: a few frames, never less, and the labels in tenths.
    for (int i = 0; i < 60; ++i) Press(VK_RIGHT, true);
    EXPECT_EQ(uint32_t(std::max(4 * View().frame_interval_ms, 200.0)), View().visible.to_ms - View().visible.from_ms);
    EXPECT_TRUE(TimeLabelsShow(View().visible));
    // And out again as far as it goes: the whole file's own chart.
    for (int i = 0; i < 60; ++i) Wheel(-WHEEL_DELTA, MK_CONTROL, x);
    EXPECT_FALSE(View().zoomed);
    EXPECT_TRUE(DifferencesFromSteps().empty());
}

// Frames and GOPs of the writer's I/P/B file: every bar at its columns, as high as its size, in its
// type's colour; each column the largest of its frames when zoomed out; legends and readouts.
TEST_F(TimeZoomTest, FrameAndGopBarsAndTheirReadouts) {
    TempFile file(BFramesFile(1000));  // 2001 frames over 80 s
    Open(file.path);
    const std::vector<VideoFrame>& frames = Measured().frames;
    ASSERT_EQ(2001u, frames.size());
    Press('F', true);
    ASSERT_EQ(CHART_FRAMES, View().kind);
    EXPECT_TRUE((GetMenuState(GetMenu(hwnd()), IDM_FRAMES, MF_BYCOMMAND) & MF_CHECKED) != 0);
    const uint32_t end = std::max<uint32_t>(Measured().series_end_ms, 80040);

    // Checks the bars of `span`: each frame that starts a bar (the largest of its column) at the
    // bar's first column, from its row down to the axis.
    auto check_frames = [&](const TimeSpan& span) {
        SCOPED_TRACE(testing::Message() << span.from_ms << " - " << span.to_ms);
        std::vector<int32_t> largest(size_t(pw_) + 1, -1);
        double top = 0;
        int counts[4] = {};
        for (uint32_t i = 0; i < frames.size(); ++i) {
            const double place = PlaceOf(frames[i]);
            if (place < span.from_ms || place >= span.to_ms) continue;
            const size_t c = size_t(Column(span, place) - LEFT);
            if (largest[c] < 0 || frames[i].bytes > frames[size_t(largest[c])].bytes ||
                (frames[i].bytes == frames[size_t(largest[c])].bytes && place < PlaceOf(frames[size_t(largest[c])]))) {
                largest[c] = int32_t(i);
            }
            top = std::max(top, frames[i].bytes * 8 / 1000.0);
            ++counts[frames[i].type == 'I' ? 0 : frames[i].type == 'P' ? 1 : 2];
        }
        Canvas* shot = Shot();
        int checked = 0;
        for (size_t c = 0; c < largest.size(); ++c) {
            if (largest[c] < 0 ||
                (c + 1 < largest.size() && largest[c + 1] >= 0 && frames[size_t(largest[c + 1])].keyframe))
                continue;  // a GOP's line lies left of its keyframe's bar
            const VideoFrame& f = frames[size_t(largest[c])];
            const int x = LEFT + int(c);
            const int row = Row(f.bytes * 8 / 1000.0, top);
            EXPECT_EQ(ColourOf(f.type), shot->Pixel(x, height_ - 69)) << "column " << c;
            EXPECT_EQ(ColourOf(f.type), shot->Pixel(x, std::max(row, 50))) << "column " << c;
            if (row > 50) EXPECT_NE(ColourOf(f.type), shot->Pixel(x, row - 1)) << "column " << c;
            ++checked;
        }
        EXPECT_GT(checked, 20);
        char legend[160];
        std::snprintf(legend, sizeof legend, "%s - %s    Frames: I %d    P %d    B %d    ? 0",
                      Clock(span.from_ms, true).c_str(), Clock(span.to_ms, true).c_str(), counts[0], counts[1],
                      counts[2]);
        EXPECT_TRUE(LegendShows(legend)) << legend;
    };
    // The whole file: more frames than columns.
    ASSERT_GT(frames.size(), size_t(pw_));
    check_frames(TimeSpan{0, end});
    // 32 times in around the middle: bars a frame interval wide, with a gap.
    for (int i = 0; i < 5; ++i) Press(VK_RIGHT, true);
    const TimeSpan span = View().visible;
    EXPECT_NEAR(end / 32.0, double(span.to_ms) - span.from_ms, 1.0);
    check_frames(span);
    EXPECT_TRUE(TimeLabelsShow(span));
    // The I-frame at 40 s under the pointer.
    const int y = (50 + height_ - 68) / 2;
    SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(Column(span, 40000) + 2, y));
    EXPECT_TRUE(ReadoutShows("0:40.0  I  48.0 kbit  1 packet"));
    SendMessageA(hwnd(), WM_MOUSELEAVE, 0, 0);

    // The GOPs of the whole file: 4 s each, as high as their kbps.
    Press('G', true);
    Press(VK_HOME);
    ASSERT_EQ(CHART_GOPS, View().kind);
    const std::vector<VideoGop>& gops = Measured().gops;
    ASSERT_EQ(21u, gops.size());
    double top = 0;
    for (const VideoGop& g : gops) top = std::max(top, g.kbps);
    const TimeSpan whole = {0, end};
    Canvas* shot = Shot();
    for (size_t i = 0; i < gops.size(); ++i) {
        const int from = Column(whole, gops[i].start_ms);
        const int to = Column(whole, double(gops[i].start_ms) + gops[i].duration_ms);
        const int x = (from + to) / 2;
        const std::vector<int> rows = shot->RowsOfColor(x, YELLOW);
        ASSERT_FALSE(rows.empty()) << "GOP " << i;
        EXPECT_EQ(Row(gops[i].kbps, top), rows.front()) << "GOP " << i;
        EXPECT_EQ(YELLOW, shot->Pixel(x, height_ - 69)) << "GOP " << i;
    }
    SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(Column(whole, 6000), y));
    char readout[64];
    std::snprintf(readout, sizeof readout, "0:04.0  %u frames  4.0 s  %.0f kbps", gops[1].frames, gops[1].kbps);
    EXPECT_TRUE(ReadoutShows(readout)) << readout;
}

// The moving average: vertices where an independent computation puts them, over the whole-file chart
// and over a stretch; Off leaves the steps' chart.
TEST_F(TimeZoomTest, MovingAverageIsDrawnWhereItsRunsPutIt) {
    Open(SamplePath("demo.rm"));
    const std::vector<BitrateSample>& w = Measured().windows;
    const uint32_t n = uint32_t(w.size());
    const uint32_t end = Measured().series_end_ms;
    SendMessageA(hwnd(), WM_COMMAND, IDM_MOVINGAVERAGE_5S, 0);
    EXPECT_TRUE((GetMenuState(GetMenu(hwnd()), IDM_MOVINGAVERAGE_5S, MF_BYCOMMAND) & MF_CHECKED) != 0);
    EXPECT_FALSE((GetMenuState(GetMenu(hwnd()), IDM_MOVINGAVERAGE_OFF, MF_BYCOMMAND) & MF_CHECKED) != 0);
    // Each run of whole windows from a window that first reaches 5 s, at its middle.
    struct Point {
        double middle, kbps;
    };
    std::vector<Point> points;
    for (uint32_t first = 0; first < n; ++first) {
        double bits = 0;
        uint32_t length = 0;
        for (uint32_t i = first; i < n && length < 5000; ++i) {
            const uint32_t window_end = i + 1 < n ? w[i + 1].start_ms : end;
            bits += double(w[i].kbps) * (window_end - w[i].start_ms);
            length += window_end - w[i].start_ms;
        }
        if (length >= 5000) points.push_back({w[first].start_ms + length / 2.0, bits / length});
    }
    ASSERT_GT(points.size(), 5u);
    ASSERT_LE(n, 512u);
    // Over the whole-file chart each in the middle of the two points of the window it falls in.
    const double top = Measured().figures.max_kbps;
    Canvas* shot = Shot();
    for (size_t k = 0; k + 1 < points.size(); ++k) {
        uint32_t window = 0;
        while (window + 1 < n && w[window + 1].start_ms <= points[k].middle) ++window;
        const int x =
            LEFT + int((int64_t(2 * window) * pw_ / (2 * n - 1) + int64_t(2 * window + 1) * pw_ / (2 * n - 1)) / 2);
        EXPECT_EQ(ORANGE, shot->Pixel(x, Row(points[k].kbps, top))) << "point " << k;
    }
    // Over a stretch at its own place, on the stretch's axis.
    Press(VK_RIGHT, true);
    const TimeSpan span = View().visible;
    uint32_t span_top = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t window_end = i + 1 < n ? w[i + 1].start_ms : end;
        if (window_end > span.from_ms && w[i].start_ms < span.to_ms) span_top = std::max(span_top, w[i].kbps);
    }
    shot = Shot();
    int inside = 0;
    for (size_t k = 0; k + 1 < points.size(); ++k) {
        if (points[k].middle < span.from_ms || points[k + 1].middle > span.to_ms) continue;
        EXPECT_EQ(ORANGE, shot->Pixel(Column(span, points[k].middle), Row(points[k].kbps, span_top))) << "point " << k;
        ++inside;
    }
    EXPECT_GT(inside, 2);
    // Ctrl+M goes on to 10 s, 30 s, then Off: the chart without it.
    Press(VK_HOME);
    Press('M', true);
    EXPECT_EQ(10000u, View().moving_average_ms);
    Press('M', true);
    Press('M', true);
    EXPECT_EQ(0u, View().moving_average_ms);
    EXPECT_TRUE((GetMenuState(GetMenu(hwnd()), IDM_MOVINGAVERAGE_OFF, MF_BYCOMMAND) & MF_CHECKED) != 0);
    EXPECT_TRUE(DifferencesFromSteps().empty());
}

// Every view, its band and readout, redrawn many times: every pen and brush made is deleted.
TEST_F(TimeZoomTest, NoGdiObjectLeaksInAnyView) {
    TempFile file(BFramesFile(200));
    Open(file.path);
    chart_test::GdiCounter counter;
    ASSERT_TRUE(counter.Installed());
    const int y = (50 + height_ - 68) / 2;
    SendMessageA(hwnd(), WM_COMMAND, IDM_MOVINGAVERAGE_2S, 0);
    for (UINT command : {IDM_ZOOMIN, IDM_FRAMES, IDM_GOPS, IDM_GOPS, IDM_WHOLEFILE}) {
        SendMessageA(hwnd(), WM_COMMAND, command, 0);
        SendMessageA(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(LEFT + 10, y));
        for (int i = 0; i < 50; ++i) SendMessageA(hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(LEFT + 20 + i, y));
        SendMessageA(hwnd(), WM_CANCELMODE, 0, 0);  // the capture goes: no zoom
        ReleaseCapture();
    }
    EXPECT_GT(counter.Created(), 250);
    EXPECT_EQ(0u, counter.LiveObjects());
    EXPECT_EQ(0u, counter.LiveDCs());
    EXPECT_EQ(0, counter.BadDeletes());
}

// ---------------------------------------------------------------- other curves

// A curve on the linear bitrate plot: windows, the end of the last, its colour.
struct Curve {
    const std::vector<BitrateSample>* windows;
    uint32_t end_ms;
    COLORREF color;
};

class CurvesTest : public TimeZoomTest {
protected:
    // The row a curve holds at client column x (the window whose time holds
    // x's), or -1; and whether one of its steps runs down column x.
    int RowAt(const Curve& c, const TimeSpan& span, double top, int x) const {
        const std::vector<BitrateSample>& w = *c.windows;
        for (size_t i = 0; i < w.size(); ++i) {
            const double end = i + 1 < w.size() ? w[i + 1].start_ms : c.end_ms;
            if (Column(span, w[i].start_ms) <= x && x < Column(span, end)) return Row(w[i].kbps, top);
        }
        return -1;
    }
    bool StepAt(const Curve& c, const TimeSpan& span, int x) const {
        for (const BitrateSample& w : *c.windows) {
            if (Column(span, w.start_ms) == x) return true;
        }
        return Column(span, c.end_ms) == x;
    }
    // Each curve, drawn in this order, at the middle of each of its windows
    // in its colour, except where a later one's line passes.
    void ExpectCurves(const std::vector<Curve>& curves, const TimeSpan& span, double top) {
        Canvas* shot = Shot();
        for (size_t k = 0; k < curves.size(); ++k) {
            const std::vector<BitrateSample>& w = *curves[k].windows;
            int checked = 0;
            for (size_t i = 0; i < w.size(); ++i) {
                const double end = i + 1 < w.size() ? w[i + 1].start_ms : curves[k].end_ms;
                if (w[i].start_ms < span.from_ms || end > span.to_ms) continue;
                const int x = Column(span, (w[i].start_ms + end) / 2);
                const int y = Row(w[i].kbps, top);
                bool covered = false;
                for (size_t j = k + 1; j < curves.size(); ++j) {
                    covered = covered || RowAt(curves[j], span, top, x) == y || StepAt(curves[j], span, x);
                }
                if (covered) continue;
                EXPECT_EQ(curves[k].color, shot->Pixel(x, y)) << "curve " << k << ", window " << i;
                ++checked;
            }
            EXPECT_GT(checked, 2) << "curve " << k;
        }
    }
    // A legend line of another curve, inside the plot's top left: every pixel
    // of its text in its colour.
    void ExpectLegendLine(int line, const std::string& text, COLORREF color) {
        Canvas expected(width_, height_);
        expected.Fill(0);
        HDC dc = expected.dc();
        HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
        TEXTMETRICA metrics;
        GetTextMetricsA(dc, &metrics);
        SelectObject(dc, old);
        chart_test::DrawChartText(expected, LEFT + 6, 56 + line * metrics.tmHeight, TA_LEFT | TA_TOP, text, color);
        Canvas* shot = Shot();
        int pixels = 0;
        for (int y = 50; y < 50 + (line + 2) * metrics.tmHeight; ++y) {
            for (int x = LEFT; x < width_; ++x) {
                if (expected.Pixel(x, y) != color) continue;
                ++pixels;
                EXPECT_EQ(color, shot->Pixel(x, y)) << text << " at " << x << ", " << y;
            }
        }
        EXPECT_GT(pixels, 20) << text;
    }
    static std::string Figures(const std::string& name, const std::vector<BitrateSample>& w) {
        uint32_t top = 0;
        uint64_t sum = 0;
        for (const BitrateSample& b : w) {
            top = std::max(top, b.kbps);
            sum += b.kbps;
        }
        char text[160];
        std::snprintf(text, sizeof text, "%s    Max Bitrate: %u kbps    Average Bitrate: %u kbps", name.c_str(), top,
                      unsigned(w.empty() ? 0 : sum / w.size()));
        return text;
    }
};

std::string ListText(HWND list, int row, int column) {
    char text[128] = {};
    ListView_GetItemText(list, row, column, text, sizeof text);
    return text;
}

// A multi-rate file with the stream an ordinary player reads: its chart is today's; View > Streams
// lists every rate; two checked are drawn at their points in their colours with their legend lines,
// on an axis that fits the largest; none checked is today's chart again.
TEST_F(CurvesTest, StreamsOfAMultiRateFileAsCurves) {
    MultiRatePlan plan;
    plan.packets = 60;
    plan.compatible_stream = true;
    TempFile file(multi_rate_writer(plan).writer.bytes());
    Open(file.path);
    EXPECT_TRUE(DifferencesFromSteps().empty());
    std::vector<std::string> rows;
    {
        DialogWatcher watcher;
        watcher.OnDialog([&](const SeenDialog& d) {
            HWND list = GetDlgItem(d.window, IDC_STREAM_LIST);
            for (int row = 0; row < ListView_GetItemCount(list); ++row) rows.push_back(ListText(list, row, 0));
            ListView_SetCheckState(list, 1, TRUE);  // the second video rate
            ListView_SetCheckState(list, 6, TRUE);  // the whole file
        });
        SendMessageA(hwnd(), WM_COMMAND, IDM_STREAMS, 0);
        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("Streams", watcher.Seen()[0].caption);
    }
    const std::vector<std::string> want = {"Video 34 kbps, rate 1 of 3",
                                           "Video 80 kbps, rate 2 of 3",
                                           "Video 150 kbps, rate 3 of 3",
                                           "Audio 8 kbps, rate 1 of 2",
                                           "Audio 20 kbps, rate 2 of 2",
                                           rows.size() > 5 ? rows[5] : "",
                                           "All streams"};
    EXPECT_EQ(want, rows);
    EXPECT_EQ(0u, rows[5].find("Video ")) << rows[5];
    EXPECT_NE(std::string::npos, rows[5].find("(stream 5)")) << rows[5];

    const Measurement& streams = CurrentDocument.streams;
    ASSERT_EQ(2u, View().extra_count);
    const Curve rate = {&streams.stream_windows[1].windows, streams.stream_windows[1].series_end_ms, 0x0040FF80};
    const Curve all = {&streams.file_windows.windows, streams.file_windows.series_end_ms, 0x00E0E0E0};
    const Curve video = {&Measured().windows, Measured().series_end_ms, YELLOW};
    const TimeSpan whole = {0, ChartTimeLimits(View()).end_ms};
    double top = 0;
    for (const Curve* c : {&rate, &all, &video}) {
        for (const BitrateSample& w : *c->windows) top = std::max(top, double(w.kbps));
    }
    ExpectCurves({rate, all, video}, whole, top);
    ExpectLegendLine(0, Figures("Video 80 kbps, rate 2 of 3", *rate.windows), rate.color);
    ExpectLegendLine(1, Figures("All streams", *all.windows), all.color);
    // Nothing checked: today's chart.
    {
        DialogWatcher watcher;
        watcher.OnDialog([&](const SeenDialog& d) {
            HWND list = GetDlgItem(d.window, IDC_STREAM_LIST);
            for (int row = 0; row < ListView_GetItemCount(list); ++row) ListView_SetCheckState(list, row, FALSE);
        });
        SendMessageA(hwnd(), WM_COMMAND, IDM_STREAMS, 0);
    }
    EXPECT_EQ(0u, View().extra_count);
    EXPECT_TRUE(DifferencesFromSteps().empty());
}

// A second file compared by File > Compare With (here through its run) and by a drop with Ctrl held:
// both videos on one scale, its legend line and its value in the readout; Export CSV asks whose
// windows; one that cannot be measured leaves the chart alone; Close Comparison brings today's back.
TEST_F(CurvesTest, ASecondFileOnOneScale) {
    Open(SamplePath("demo.rm"));
    {
        DialogWatcher watcher;
        RunComparison(hwnd(), SamplePath("rv20_video.rmvb").c_str());
        EXPECT_TRUE(watcher.Seen().empty());
    }
    ASSERT_TRUE(CurrentDocument.comparison.open);
    EXPECT_FALSE((GetMenuState(GetMenu(hwnd()), IDM_CLOSECOMPARISON, MF_BYCOMMAND) & MF_GRAYED) != 0);
    const Measurement& other = CurrentDocument.comparison.measurement;
    const Curve compared = {&other.windows, other.series_end_ms, 0x00FF00FF};
    const Curve video = {&Measured().windows, Measured().series_end_ms, YELLOW};
    const TimeSpan whole = {0, ChartTimeLimits(View()).end_ms};
    double top = 0;
    for (const Curve* c : {&compared, &video}) {
        for (const BitrateSample& w : *c->windows) top = std::max(top, double(w.kbps));
    }
    ExpectCurves({compared, video}, whole, top);
    ExpectLegendLine(0, Figures("rv20_video.rmvb", other.windows), compared.color);
    char legend[160];
    std::snprintf(legend, sizeof legend, "Max Time: %u s    Max Bitrate: %u kbps    Average Bitrate: %u kbps",
                  Measured().figures.last_start_ms / 1000, Measured().figures.max_kbps,
                  unsigned(Measured().figures.average_kbps));
    EXPECT_TRUE(LegendShows(legend)) << legend;
    // The readout names both values: the compared file's window at the same time.
    const BitrateSample& w = Measured().windows[2];
    SendMessageA(hwnd(), WM_MOUSEMOVE, 0,
                 MAKELPARAM(Column(whole, w.start_ms + (Measured().windows[3].start_ms - w.start_ms) / 2.0),
                            (50 + height_ - 68) / 2));
    uint32_t there = 0;
    for (const BitrateSample& o : other.windows) {
        if (o.start_ms <= w.start_ms) there = o.kbps;
    }
    char readout[96];
    std::snprintf(readout, sizeof readout, "0:%02u  %u kbps   rv20_video.rmvb %u kbps", w.start_ms / 1000, w.kbps,
                  there);
    EXPECT_TRUE(ReadoutShows(readout)) << readout;
    SendMessageA(hwnd(), WM_MOUSELEAVE, 0, 0);
    // Export CSV asks whose windows, naming both files.
    {
        DialogWatcher watcher(Dismiss::Cancel);
        std::string first, second;
        watcher.OnDialog([&](const SeenDialog& d) {
            char text[64] = {};
            GetDlgItemTextA(d.window, IDC_EXPORT_CHARTED, text, sizeof text);
            first = text;
            GetDlgItemTextA(d.window, IDC_EXPORT_COMPARED, text, sizeof text);
            second = text;
        });
        SendMessageA(hwnd(), WM_COMMAND, IDM_EXPORTCSV, 0);
        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("demo.rm", first);
        EXPECT_EQ("rv20_video.rmvb", second);
    }
    // Closed: today's chart; a file that cannot be charted gets its box and changes nothing.
    SendMessageA(hwnd(), WM_COMMAND, IDM_CLOSECOMPARISON, 0);
    EXPECT_FALSE(CurrentDocument.comparison.open);
    EXPECT_TRUE(DifferencesFromSteps().empty());
    TempFile junk(Bytes(100, 'x'));
    {
        DialogWatcher watcher;
        RunComparison(hwnd(), junk.path.c_str());
        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("There is no RealVideo stream in this file", watcher.Seen()[0].text);
    }
    EXPECT_FALSE(CurrentDocument.comparison.open);
    EXPECT_TRUE(DifferencesFromSteps().empty());
    // Dropped with Ctrl held, a file is compared, not charted.
    HeldKeys control(true, false);
    HDROP drop = MakeDrop({SamplePath("rv20_video.rmvb")}, false);
    SendMessageA(hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    EXPECT_TRUE(CurrentDocument.comparison.open);
    EXPECT_STREQ("demo.rm", FileNameOf(CurrentDocument.path));
}

}  // namespace
