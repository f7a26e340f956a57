// The main window's additions over the chart under Wine: the items that wait
// for a measured file, the Statistics dialog, the keyframe ticks, the readout
// under the pointer and the wheel, and a chart that stays as the drawing
// steps alone draw it until one of them is used.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/figures_text.h"
#include "analysis/measurement.h"
#include "analysis/window_statistics.h"
#include "chart/chart_model.h"
#include "chart/chart_view.h"
#include "chart/chart_win32.h"
#include "shell/document.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell/shell.h"
#include "shell_test_support_win32.h"
#include "tests/chart/chart_test_support_win32.h"
#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;
using namespace shell_test;

namespace {

const COLORREF CYAN = 0x00FFFF00;
const UINT NEW_ITEMS[] = {IDM_EXPORTCSV, IDM_EXPORTFRAMES, IDM_SAVECHART,    IDM_STATISTICS,
                          IDM_KEYFRAMES, IDM_ZOOMIN,       IDM_ZOOMOUT,      IDM_PANRIGHT,
                          IDM_PANLEFT,   IDM_NEXTPAGE,     IDM_PREVIOUSPAGE, IDM_WHOLEFILE,
                          IDM_FRAMES,    IDM_GOPS,         IDM_COMPAREWITH,  IDM_STREAMS};

// Packets of 500 bytes every 250 ms up to 10 s: eight windows of 1250 ms,
// with keyframes at 0, 3000 and 6500 ms, in windows 0, 2 and 5.
Bytes KeyframeFile(uint32_t bytes_per_packet = 500) {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 10000; t += 250) {
        packets.push_back(make_packet(0, t, bytes_per_packet, t == 0 || t == 3000 || t == 6500));
    }
    return video_file(packets);
}

// 2001 one-byte packets every 1001 ms, each closing a window: 2000 windows,
// beyond the two points per window. A keyframe that closes a window counts
// in the next: windows 0, 100, 101 and 1999.
Bytes LongKeyframeFile() {
    std::vector<Packet> packets;
    for (uint32_t i = 0; i <= 2000; ++i) {
        packets.push_back(make_packet(0, i * 1001, 1, i == 0 || i == 100 || i == 101 || i == 1999));
    }
    return video_file(packets);
}

// The measurement of a file as rmrate --stats takes it: what KOV must show of it.
const Measurement& FiguresOf(const std::string& path) {
    static Measurement figures;
    MeasureOptions options;
    options.frames = true;
    ::Measure(path.c_str(), options, &figures);
    return figures;
}

class ViewMenuTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        ChartCurves[CURVE_VIDEO].scale = 1.0f;
        ChartCurves[CURVE_VIDEO].offset = 0.0f;
    }

    // A run that ends with the chart and no box.
    void Measure(const std::string& path) {
        DialogWatcher watcher;
        RunAnalysis(hwnd(), path.c_str());
        ASSERT_TRUE(watcher.Seen().empty()) << watcher.Seen()[0].caption;
    }

    bool Grey(UINT item) const { return (GetMenuState(GetMenu(hwnd()), item, MF_BYCOMMAND) & MF_GRAYED) != 0; }
    bool Checked(UINT item) const { return (GetMenuState(GetMenu(hwnd()), item, MF_BYCOMMAND) & MF_CHECKED) != 0; }

    // The back buffer, and the chart as the drawing steps alone draw it.
    std::vector<POINT> DifferencesFromSteps() const {
        const RECT client = Client();
        chart_test::Canvas chart(client.right, client.bottom);
        chart_test::CopyBackBuffer(chart);
        chart_test::Canvas steps(client.right, client.bottom);
        chart_test::DrawChartSteps(steps);
        return chart.Differences(steps);
    }

    // Columns of the keyframe colour in the back buffer, one row below the
    // middle of the ticks.
    std::vector<int> TickColumns() const {
        const RECT client = Client();
        chart_test::Canvas chart(client.right, client.bottom);
        chart_test::CopyBackBuffer(chart);
        return chart.ColumnsOfColor(client.bottom - 60, CYAN);
    }

    void Command(UINT id) { SendMessageA(hwnd(), WM_COMMAND, id, 0); }
};

TEST_F(ViewMenuTest, NewItemsAreGreyUntilAFileIsMeasured) {
    for (UINT item : NEW_ITEMS) EXPECT_TRUE(Grey(item)) << item;
    // Asked for anyway (a posted command), they do nothing.
    {
        DialogWatcher watcher;
        for (UINT item : NEW_ITEMS) Command(item);
        EXPECT_TRUE(watcher.Seen().empty());
    }
    // A run that draws no chart measures nothing.
    {
        DialogWatcher watcher;
        RunAnalysis(hwnd(), "Z:\\no\\such\\file.rm");
        ASSERT_EQ(1u, watcher.Seen().size());
    }
    for (UINT item : NEW_ITEMS) EXPECT_TRUE(Grey(item)) << item;

    Measure(SamplePath("demo.rm"));
    for (UINT item : NEW_ITEMS) EXPECT_FALSE(Grey(item)) << item;
    EXPECT_FALSE(Checked(IDM_KEYFRAMES));

    // A new window has measured nothing.
    window_.reset();
    window_.reset(new MainWindow(SW_SHOWNORMAL));
    for (UINT item : NEW_ITEMS) EXPECT_TRUE(Grey(item)) << item;
}

TEST_F(ViewMenuTest, StatisticsShowTheFiguresOfTheMeasuredFileAsSelectableText) {
    TempFile file(KeyframeFile());
    Measure(file.path);
    char expected[8192];
    ASSERT_LT(FormatFiguresText(FiguresOf(file.path), "\r\n", expected, sizeof expected), sizeof expected);

    for (Dismiss how : {Dismiss::Ok, Dismiss::EscapeKey}) {
        SCOPED_TRACE(static_cast<int>(how));
        DialogWatcher watcher(how);
        std::string text;
        LONG style = 0;
        HWND owner = nullptr;
        DWORD selection_start = 1, selection_end = 0;
        bool focused = false;
        watcher.OnDialog([&](const SeenDialog& dialog) {
            HWND edit = GetDlgItem(dialog.window, IDC_STATISTICS_TEXT);
            std::vector<char> buffer(GetWindowTextLengthA(edit) + 1);
            GetWindowTextA(edit, buffer.data(), static_cast<int>(buffer.size()));
            text = buffer.data();
            style = GetWindowLongA(edit, GWL_STYLE);
            owner = GetWindow(dialog.window, GW_OWNER);
            SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selection_start),
                         reinterpret_cast<LPARAM>(&selection_end));
            focused = GetFocus() == edit;
        });
        Command(IDM_STATISTICS);

        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("Statistics", watcher.Seen()[0].caption);
        EXPECT_EQ(expected, text);
        EXPECT_NE(std::string::npos, text.find("\r\nKeyframes: 3, the first at 0.000 s; interval minimum 3.000 s,"))
            << text;
        EXPECT_TRUE(style & ES_READONLY);
        EXPECT_TRUE(style & ES_MULTILINE);
        EXPECT_EQ(hwnd(), owner);
        // Ready to select from, nothing selected yet.
        EXPECT_TRUE(focused);
        EXPECT_EQ(0u, selection_start);
        EXPECT_EQ(0u, selection_end);
        EXPECT_FALSE(IsWindow(watcher.Seen()[0].window));
        EXPECT_FALSE(watcher.Stuck());
    }

    // Read once per measured file: the file may go, the figures stay.
    std::remove(file.path.c_str());
    DialogWatcher watcher;
    Command(IDM_STATISTICS);
    ASSERT_EQ(1u, watcher.Seen().size());
    EXPECT_EQ("Statistics", watcher.Seen()[0].caption);
}

// The file was rewritten, then removed, after its chart was drawn: every
// command still shows the charted file's figures, for none reads the file.
TEST_F(ViewMenuTest, CommandsShowTheChartedFileWithoutReadingItAgain) {
    TempFile file(KeyframeFile());
    Measure(file.path);
    char expected[8192];
    ASSERT_LT(FormatFiguresText(FiguresOf(file.path), "\r\n", expected, sizeof expected), sizeof expected);
    const Bytes other = KeyframeFile(600);
    FILE* rewrite = std::fopen(file.path.c_str(), "wb");
    ASSERT_NE(nullptr, rewrite);
    ASSERT_EQ(other.size(), std::fwrite(other.data(), 1, other.size(), rewrite));
    std::fclose(rewrite);

    for (bool removed : {false, true}) {
        SCOPED_TRACE(removed);
        if (removed) std::remove(file.path.c_str());
        DialogWatcher watcher;
        std::string text;
        watcher.OnDialog([&](const SeenDialog& dialog) {
            HWND edit = GetDlgItem(dialog.window, IDC_STATISTICS_TEXT);
            std::vector<char> buffer(GetWindowTextLengthA(edit) + 1);
            GetWindowTextA(edit, buffer.data(), static_cast<int>(buffer.size()));
            text = buffer.data();
        });
        Command(IDM_STATISTICS);
        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("Statistics", watcher.Seen()[0].caption);
        EXPECT_EQ(expected, text);
        Command(IDM_KEYFRAMES);
        EXPECT_TRUE(Checked(IDM_KEYFRAMES));
        EXPECT_EQ(3u, TickColumns().size());
        Command(IDM_KEYFRAMES);
        EXPECT_TRUE(DifferencesFromSteps().empty());
    }
}

TEST_F(ViewMenuTest, KeyframeTicksLandUnderTheirWindows) {
    TempFile file(KeyframeFile());
    Measure(file.path);
    const Measurement& figures = FiguresOf(file.path);
    ASSERT_EQ(8u, figures.details.windows_stored);
    ASSERT_EQ((std::vector<uint32_t>{1, 0, 1, 0, 0, 1, 0, 0}), figures.window_keyframes);

    DialogWatcher watcher;
    Command(IDM_KEYFRAMES);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_TRUE(Checked(IDM_KEYFRAMES));
    // Sixteen points at j x PW / 15; a tick in the middle of a window's two.
    const int pw = Client().right - 204;
    std::vector<int> expected;
    for (int window : {0, 2, 5}) expected.push_back(110 + ((2 * window) * pw / 15 + (2 * window + 1) * pw / 15) / 2);
    EXPECT_EQ(expected, TickColumns());
    // Nothing else changed.
    for (const POINT& p : DifferencesFromSteps()) {
        EXPECT_GE(p.y, Client().bottom - 62);
        EXPECT_LE(p.y, Client().bottom - 59);
    }

    Command(IDM_KEYFRAMES);
    EXPECT_FALSE(Checked(IDM_KEYFRAMES));
    EXPECT_TRUE(DifferencesFromSteps().empty());
}

TEST_F(ViewMenuTest, KeyframeTicksFollowTheMeasuredFileInALongSeries) {
    TempFile first(KeyframeFile());
    Measure(first.path);
    Command(IDM_KEYFRAMES);
    ASSERT_EQ(3u, TickColumns().size());

    // The toggle stays on: the next file's keyframes are marked.
    TempFile second(LongKeyframeFile());
    Measure(second.path);
    EXPECT_TRUE(Checked(IDM_KEYFRAMES));
    // Buckets of start times: window i under bucket i x 1001 x 1024 /
    // (1999 x 1001 + 1), drawn at bucket x PW / 1023.
    const int pw = Client().right - 204;
    std::vector<int> expected;
    int last = -1;
    for (uint32_t window : {0u, 100u, 101u, 1999u}) {
        const uint64_t bucket = uint64_t(window) * 1001 * 1024 / (1999 * 1001 + 1);
        const int x = 110 + static_cast<int>(bucket * pw / 1023);
        if (x != last) expected.push_back(x);
        last = x;
    }
    EXPECT_EQ(expected, TickColumns());
    Command(IDM_KEYFRAMES);
}

// The readout for a pointer at the plot's left end, right end and middle:
// the picture is the steps' with the readout of the window expected there.
TEST_F(ViewMenuTest, ReadoutShowsTheWindowUnderThePointerAndGoesWhenItLeaves) {
    TempFile long_file(LongKeyframeFile());
    for (const std::string& path : {SamplePath("demo.rm"), long_file.path}) {
        SCOPED_TRACE(path);
        Measure(path);
        const RECT client = Client();
        const int pw = client.right - 204;
        const int y = (50 + client.bottom - 68) / 2;
        const ChartView& view = CurrentDocument.view;
        const uint32_t n = view.window_count;
        ASSERT_GT(n, 30u);

        // Expected independently: the nearest of the 2n points, or, beyond
        // 512 windows, the nearest start to the column's share of the last.
        auto window_under = [&](int column) {
            int best = 0;
            double best_distance = 1e300;
            for (uint32_t i = 0; i < (n <= 512 ? 2 * n : n); ++i) {
                const double at = n <= 512 ? double(int64_t(i) * pw / (2 * n - 1))
                                           : double(view.windows[i].start_ms) * pw / view.windows[n - 1].start_ms;
                const double distance = at > column ? at - column : column - at;
                if (distance < best_distance) {
                    best_distance = distance;
                    best = static_cast<int>(n <= 512 ? i / 2 : i);
                }
            }
            return best;
        };
        const int middle = window_under(pw / 2);
        EXPECT_GT(middle, 0);
        EXPECT_LT(middle, static_cast<int>(n) - 1);
        struct Position {
            int x;
            int window;
        };
        for (const Position& p :
             {Position{110, 0}, Position{110 + pw, static_cast<int>(n) - 1}, Position{110 + pw / 2, middle}}) {
            SCOPED_TRACE(p.x);
            SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(p.x, y));
            ASSERT_EQ(p.window, view.readout_window);
            chart_test::Canvas expected(client.right, client.bottom);
            chart_test::DrawChartSteps(expected);
            const RECT rect = expected.rect();
            DrawReadout(expected.dc(), &rect, view, static_cast<uint32_t>(p.window));
            chart_test::Canvas chart(client.right, client.bottom);
            chart_test::CopyBackBuffer(chart);
            EXPECT_TRUE(chart.Differences(expected).empty());
            EXPECT_FALSE(DifferencesFromSteps().empty());
        }
        char text[64];
        FormatReadout(view, n - 1, text, sizeof text);
        char minutes[16];
        const uint32_t last_start = view.windows[n - 1].start_ms / 1000;
        std::snprintf(minutes, sizeof minutes, "%u:%02u  ", last_start / 60, last_start % 60);
        EXPECT_EQ(std::string(minutes) + std::to_string(view.windows[n - 1].kbps) + " kbps", text);

        // Off the plot, and out of the window: the chart as it was.
        SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(60, y));
        EXPECT_TRUE(DifferencesFromSteps().empty());
        SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(110 + pw / 2, y));
        EXPECT_FALSE(DifferencesFromSteps().empty());
        SendMessageA(hwnd(), WM_MOUSELEAVE, 0, 0);
        EXPECT_TRUE(DifferencesFromSteps().empty());
    }
}

// The real pointer: the system reports the moves and, once asked, the leave.
TEST_F(ViewMenuTest, ThePointerLeavingTheWindowErasesTheReadout) {
    Measure(SamplePath("demo.rm"));
    POINT over = {300, 300};
    ClientToScreen(hwnd(), &over);
    SetCursorPos(over.x, over.y);
    SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(300, 300));
    ASSERT_GE(CurrentDocument.view.readout_window, 0);
    RECT frame;
    GetWindowRect(hwnd(), &frame);
    SetCursorPos(frame.right + 20, frame.bottom + 20);
    for (int tries = 0; tries < 100 && CurrentDocument.view.readout_window >= 0; ++tries) {
        DrainMessages();
        Sleep(20);
    }
    EXPECT_EQ(-1, CurrentDocument.view.readout_window);
    EXPECT_TRUE(DifferencesFromSteps().empty());
}

// One press of Right (1.1) or Left (0.9), rounded to single precision as
// the key's own press is.
float Press(float scale, float factor) {
    volatile float pressed = scale * factor;
    return pressed;
}

TEST_F(ViewMenuTest, TheWheelPressesRightAndLeftOncePerNotch) {
    Measure(SamplePath("demo.rm"));
    struct Turn {
        int delta;
        std::vector<float> factors;  // the presses it makes
    };
    const Turn turns[] = {
        {120, {1.1f}},
        {60, {}},  // half a notch: nothing yet
        {60, {1.1f}},
        {-240, {0.9f, 0.9f}},
        {-60, {}},
        {120, {1.1f}},  // the other way starts afresh
        {3 * 120 + 50, {1.1f, 1.1f, 1.1f}},
    };
    float scale = 1.0f;
    for (const Turn& t : turns) {
        SCOPED_TRACE(t.delta);
        for (float factor : t.factors) scale = Press(scale, factor);
        SendMessageA(hwnd(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(t.delta))), 0);
        EXPECT_EQ(scale, ChartCurves[CURVE_VIDEO].scale);
    }
    // Redrawn at the new scale, as a key press redraws.
    EXPECT_NE(1.0f, scale);
    EXPECT_TRUE(DifferencesFromSteps().empty());
    ChartCurves[CURVE_VIDEO].scale = 1.0f;
}

// With none of the additions used, a run draws what the drawing steps alone
// draw; reading the figures, the dialog, the readout and the ticks come and
// go without a trace.
TEST_F(ViewMenuTest, TheChartStaysAsTheStepsDrawItUntilSomethingIsShownOverIt) {
    Measure(SamplePath("demo.rm"));
    EXPECT_TRUE(DifferencesFromSteps().empty());
    {
        DialogWatcher watcher;
        Command(IDM_STATISTICS);
        ASSERT_EQ(1u, watcher.Seen().size());
    }
    EXPECT_TRUE(DifferencesFromSteps().empty());
    Command(IDM_KEYFRAMES);
    EXPECT_FALSE(DifferencesFromSteps().empty());
    Command(IDM_KEYFRAMES);
    EXPECT_TRUE(DifferencesFromSteps().empty());
    SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(300, 300));
    SendMessageA(hwnd(), WM_MOUSELEAVE, 0, 0);
    EXPECT_TRUE(DifferencesFromSteps().empty());
    // Before any file, a move over the plot draws nothing: the first
    // picture stays.
    window_.reset();
    window_.reset(new MainWindow(SW_SHOWNORMAL));
    MarkBackBuffer();
    SendMessageA(hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(300, 300));
    EXPECT_EQ(MARKER, MarginPixel());
}

// The commands that read the charted measurement are refused while a run is
// under way: its pump delivers them, and the measurement is about to change.
TEST_F(ViewMenuTest, CommandsDuringARunAreRefused) {
    TempFile file(KeyframeFile());
    Measure(file.path);
    bool busy = false;
    ProbeWindow probe([&] { busy = CurrentDocument.busy; });
    probe.Post();
    PostMessageA(hwnd(), WM_COMMAND, IDM_STATISTICS, 0);
    PostMessageA(hwnd(), WM_COMMAND, IDM_KEYFRAMES, 0);

    DialogWatcher watcher;
    RunAnalysis(hwnd(), file.path.c_str());
    ASSERT_EQ(1, probe.Count());
    EXPECT_TRUE(busy);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_FALSE(Checked(IDM_KEYFRAMES));
    EXPECT_FALSE(CurrentDocument.busy);
}

}  // namespace
