// The run driver under Wine: the wait dialog's life and place, what each way
// a run ends shows (chart, message box, both or nothing), and the requests a
// run's own pump can deliver: a second run, a quit, the window's end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chart/chart_win32.h"
#include "chart/series_statistics.h"
#include "shell/analyze_file.h"
#include "shell/document.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell/shell.h"
#include "shell_test_support_win32.h"
#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;
using namespace shell_test;

namespace {

const uint32_t STATISTICS_SENTINEL = 777777;

// The icon a message box shows, or null.
HICON IconOf(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[16] = {};
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            return reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        }
    }
    return nullptr;
}

// One packet of 1 byte every 1001 ms: each closes a window, so 20001 packets
// close 20000 windows, one more than the series stores.
Bytes LongFile() {
    std::vector<Packet> packets;
    for (uint32_t i = 0; i <= BITRATE_SERIES_SIZE; ++i) packets.push_back(make_packet(0, i * 1001, 1));
    return video_file(packets);
}

// Windows of 1000-byte packets every 400 ms: {0, 26} and {1200, 20}, then a
// packet 2001 ms after the third window's start.
Bytes GapFile() {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 2400; t += 400) packets.push_back(make_packet(0, t, 1000));
    packets.push_back(make_packet(0, 2400 + 2001, 1000));
    return video_file(packets);
}

Bytes TruncatedFile() {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 20000; t += 250) packets.push_back(make_packet(0, t, 500));
    Bytes bytes = video_file(packets);
    bytes.resize(bytes.size() / 2 + 7);  // cut inside a packet
    return bytes;
}

class RunDriverTest : public MainWindowFixture {
protected:
    // Hidden unless a test needs it shown: under Wine without a window
    // manager, hiding a shown window costs a two-second wait.
    RunDriverTest() : MainWindowFixture(SW_HIDE) {}

    void SetUp() override {
        MainWindowFixture::SetUp();
        if (HasFatalFailure()) return;
        ClearMarks();
    }

    // Marks the back buffer and poisons the figures, so a test can tell
    // whether statistics and redraw ran.
    void ClearMarks() {
        MarkBackBuffer();
        SeriesStatistics.max_kbps = STATISTICS_SENTINEL;
    }

    bool Redrawn() const { return MarginPixel() == CHART_BACKGROUND; }
    bool NotDrawn() const { return MarginPixel() == MARKER; }

    // A box a run showed, its icon, and whether the chart lay under it.
    struct RunBox {
        SeenDialog dialog;
        HICON icon;
        bool chart_under_box;
    };

    // Runs the file through the driver; the boxes it showed, in order.
    std::vector<RunBox> RunWatched(const std::string& path) {
        std::vector<RunBox> boxes;
        DialogWatcher watcher;
        watcher.OnDialog([&](const SeenDialog& box) { boxes.push_back({box, IconOf(box.window), Redrawn()}); });
        RunAnalysis(hwnd(), path.c_str());
        return boxes;
    }
};

// Every result, straight through the reporting step, with the series of a
// finished run in place.
TEST_F(RunDriverTest, EachResultShowsItsMessageAndRedrawsOnlyWhenUsable) {
    struct Case {
        AnalysisResult result;
        const char* text;  // null: no box
        const char* caption;
        bool redraw;
    };
    const Case cases[] = {
        {ANALYSIS_OK, nullptr, nullptr, true},
        {ANALYSIS_NO_VIDEO, "There is no RealVideo stream in this file", "Wrong video format", false},
        {ANALYSIS_OPEN_FAILED, "Sorry, can not open the file", "Failure to open files", false},
        {ANALYSIS_PARSER_FAILED, "Create video file parser failure", "Analysis of failure", false},
        {ANALYSIS_HEADERS_FAILED, "Fail to analyse the headers of the .rm file", "Analysis of failure", false},
        {ANALYSIS_FRAME_GAP, "Some frame errors in the .rm video file", "Frame error", true},
        {ANALYSIS_CANCELLED, nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "result " << c.result);
        ClearMarks();
        for (BitrateSample& sample : BitrateSeries) sample = {0, 0};
        BitrateSeries[0] = {0, 300};
        BitrateSeries[1] = {1100, 500};
        AnalysisPending = 0;

        DialogWatcher watcher;
        bool drawn_before_box = false;
        HWND owner = nullptr;
        watcher.OnDialog([&](const SeenDialog& box) {
            drawn_before_box = Redrawn();
            owner = GetWindow(box.window, GW_OWNER);
        });
        ReportAnalysisResult(hwnd(), c.result);

        if (c.text) {
            ASSERT_EQ(1u, watcher.Seen().size());
            EXPECT_EQ(c.text, watcher.Seen()[0].text);
            EXPECT_EQ(c.caption, watcher.Seen()[0].caption);
            EXPECT_FALSE(IsWindow(watcher.Seen()[0].window));
            EXPECT_EQ(hwnd(), owner);
            EXPECT_EQ(c.redraw, drawn_before_box);
        } else {
            EXPECT_TRUE(watcher.Seen().empty());
        }
        EXPECT_EQ(c.redraw, Redrawn());
        EXPECT_EQ(c.redraw ? 500u : STATISTICS_SENTINEL, SeriesStatistics.max_kbps);
        EXPECT_FALSE(watcher.Stuck());
    }
}

// How a charted run ended, straight through the reporting step: the boxes
// come after the chart, in the order their causes lie in the file.
TEST_F(RunDriverTest, EndingBoxesFollowTheChartInFileOrder) {
    AnalysisDetails damaged = {};
    damaged.ending = DATA_END_DAMAGED;
    damaged.damage_offset = 1234567;
    damaged.has_last_timestamp = 1;
    damaged.last_timestamp_ms = 134467;
    AnalysisDetails full = {};
    full.ending = DATA_END_CLEAN;
    full.series_full = 1;
    full.windows_not_stored = 5;
    full.charted_until_ms = 19999u * 1001u;
    AnalysisDetails full_then_damaged = damaged;
    full_then_damaged.series_full = 1;
    full_then_damaged.windows_not_stored = 40;
    full_then_damaged.charted_until_ms = 19999u * 1001u;
    full_then_damaged.last_timestamp_ms = 20039u * 1001u;
    AnalysisDetails no_video_packet = damaged;
    no_video_packet.has_last_timestamp = 0;
    no_video_packet.empty_chart = EMPTY_DAMAGED;
    AnalysisDetails no_window = damaged;
    no_window.last_timestamp_ms = 400;
    no_window.empty_chart = EMPTY_DAMAGED;
    AnalysisDetails no_packets = {};
    no_packets.ending = DATA_END_CLEAN;
    no_packets.empty_chart = EMPTY_NO_PACKETS;
    AnalysisDetails starts_late = {};
    starts_late.empty_chart = EMPTY_STARTS_LATE;
    AnalysisDetails too_short = no_packets;
    too_short.empty_chart = EMPTY_TOO_SHORT;

    const std::string damaged_text =
        "The file is damaged after 2:14 (byte 1,234,567). The chart shows the video up to there.";
    const std::string long_text = "The video is longer than KOV can chart; the chart shows its first 5 h 33 min.";
    struct Box {
        std::string caption;
        std::string text;
        LPCSTR icon;  // null: none
    };
    const Box damage_box = {"Damaged file", damaged_text, IDI_WARNING};
    const Box long_box = {"Long video", long_text, IDI_INFORMATION};
    struct Case {
        const char* name;
        AnalysisResult result;
        const AnalysisDetails* details;
        std::vector<Box> boxes;
    };
    const Case cases[] = {
        {"damaged", ANALYSIS_OK, &damaged, {damage_box}},
        {"damaged before any video packet",
         ANALYSIS_OK,
         &no_video_packet,
         {{"Damaged file",
           "The file is damaged before its first video packet (byte 1,234,567). Nothing could be charted.",
           IDI_WARNING}}},
        {"damaged before the first window",
         ANALYSIS_OK,
         &no_window,
         {{"Damaged file",
           "The file is damaged after 0:00 (byte 1,234,567), before its first second of video was complete. Nothing "
           "could be charted.",
           IDI_WARNING}}},
        {"no video packets",
         ANALYSIS_OK,
         &no_packets,
         {{"Nothing to chart", "The video stream holds no packets.", IDI_INFORMATION}}},
        {"starting late",
         ANALYSIS_OK,
         &starts_late,
         {{"Nothing to chart",
           "The video starts after 0:10; KOV charts videos that start within their first 10 seconds.",
           IDI_INFORMATION}}},
        {"too short",
         ANALYSIS_OK,
         &too_short,
         {{"Nothing to chart", "The video is shorter than the chart's first window (a little over a second).",
           IDI_INFORMATION}}},
        {"series full", ANALYSIS_OK, &full, {long_box}},
        // The chart ends before the damage, so that box says only where.
        {"full, then damaged",
         ANALYSIS_OK,
         &full_then_damaged,
         {long_box, {"Damaged file", "The file is damaged after 334:19 (byte 1,234,567).", IDI_WARNING}}},
        {"full, then a gap",
         ANALYSIS_FRAME_GAP,
         &full,
         {long_box, {"Frame error", "Some frame errors in the .rm video file", nullptr}}},
        {"cancelled", ANALYSIS_CANCELLED, &damaged, {}},
        {"no chart, no ending",
         ANALYSIS_HEADERS_FAILED,
         &full_then_damaged,
         {{"Analysis of failure", "Fail to analyse the headers of the .rm file", nullptr}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearMarks();
        for (BitrateSample& sample : BitrateSeries) sample = {0, 0};
        BitrateSeries[0] = {0, 300};
        AnalysisPending = 0;

        DialogWatcher watcher;
        std::vector<HICON> icons;
        std::vector<HWND> owners;
        std::vector<bool> drawn_before;
        watcher.OnDialog([&](const SeenDialog& box) {
            icons.push_back(IconOf(box.window));
            owners.push_back(GetWindow(box.window, GW_OWNER));
            drawn_before.push_back(Redrawn());
        });
        ReportAnalysisResult(hwnd(), c.result, c.details);

        ASSERT_EQ(c.boxes.size(), watcher.Seen().size());
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(c.boxes[i].caption, watcher.Seen()[i].caption);
            EXPECT_EQ(c.boxes[i].text, watcher.Seen()[i].text);
            EXPECT_EQ(c.boxes[i].icon ? LoadIconA(nullptr, c.boxes[i].icon) : nullptr, icons[i]);
            EXPECT_EQ(hwnd(), owners[i]);
            EXPECT_EQ(c.result != ANALYSIS_HEADERS_FAILED, drawn_before[i]);
        }
        EXPECT_FALSE(watcher.Stuck());
    }
}

TEST_F(RunDriverTest, NothingIsShownForAWindowThatIsGone) {
    HWND gone = hwnd();
    DestroyWindow(gone);
    DrainMessages();
    DialogWatcher watcher;
    SeriesStatistics.max_kbps = STATISTICS_SENTINEL;
    for (AnalysisResult result : {ANALYSIS_OK, ANALYSIS_NO_VIDEO, ANALYSIS_FRAME_GAP}) {
        ReportAnalysisResult(gone, result);
    }
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(STATISTICS_SENTINEL, SeriesStatistics.max_kbps);
}

// Whole runs over real files: the analysis decides, the driver reports.
TEST_F(RunDriverTest, FilesEndInTheirMessageOrChart) {
    const Bytes video = video_file({make_packet(0, 0, 100), make_packet(0, 1200, 100)});
    const Bytes fifteen(video.begin(), video.begin() + 15);
    const Bytes not_rm(64, 'x');
    const Bytes damaged_headers = RmWriter().rmf().chunk(RM_ID_PROP, Bytes(10, 0)).bytes();
    const Bytes gap = GapFile();
    const Bytes truncated = TruncatedFile();
    const Bytes empty = video_file({});
    const Bytes late = video_file({make_packet(0, 10001, 100), make_packet(0, 10500, 100)});
    const Bytes first_cut(video.begin(), video.end() - 2 * 112 + 5);  // inside the first packet's header

    struct Case {
        const char* name;
        const Bytes* bytes;   // null: a file that does not exist
        const char* caption;  // null: no box
        bool chart;
    };
    const Case cases[] = {
        {"missing", nullptr, "Failure to open files", false},
        {"fifteen bytes", &fifteen, "Wrong video format", false},
        {"not RealMedia", &not_rm, "Wrong video format", false},
        {"damaged headers", &damaged_headers, "Analysis of failure", false},
        {"frame gap", &gap, "Frame error", true},
        {"truncated", &truncated, "Damaged file", true},
        {"no video packets", &empty, "Nothing to chart", true},
        {"starting late", &late, "Nothing to chart", true},
        {"cut in the first packet's header", &first_cut, "Damaged file", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearMarks();
        std::unique_ptr<TempFile> file;
        std::string path;
        if (c.bytes) {
            file.reset(new TempFile(*c.bytes));
            ASSERT_FALSE(file->path.empty());
            path = file->path;
        } else {
            TempFile gone(Bytes{1});
            path = gone.path + ".missing";
        }

        DialogWatcher watcher;
        bool chart_under_box = false;
        watcher.OnDialog([&](const SeenDialog&) { chart_under_box = Redrawn(); });
        RunAnalysis(hwnd(), path.c_str());

        if (c.caption) {
            ASSERT_EQ(1u, watcher.Seen().size());
            EXPECT_EQ(c.caption, watcher.Seen()[0].caption);
            EXPECT_EQ(c.chart, chart_under_box);
        } else {
            EXPECT_TRUE(watcher.Seen().empty());
        }
        EXPECT_EQ(c.chart, Redrawn());
        EXPECT_EQ(nullptr, WaitDialog);
        EXPECT_EQ(0, AnalysisPending);
        EXPECT_EQ(0, (CurrentDocument.busy ? 1 : 0));
    }
}

TEST_F(RunDriverTest, FrameGapKeepsTheWindowsBeforeTheGap) {
    TempFile file(GapFile());
    DialogWatcher watcher;
    RunAnalysis(hwnd(), file.path.c_str());
    ASSERT_EQ(1u, watcher.Seen().size());
    EXPECT_EQ("Some frame errors in the .rm video file", watcher.Seen()[0].text);
    EXPECT_EQ(0u, BitrateSeries[0].start_ms);
    EXPECT_EQ(26u, BitrateSeries[0].kbps);
    EXPECT_EQ(1200u, BitrateSeries[1].start_ms);
    EXPECT_EQ(20u, BitrateSeries[1].kbps);
    EXPECT_EQ(0u, BitrateSeries[2].start_ms);
    EXPECT_EQ(26u, SeriesStatistics.max_kbps);
    EXPECT_EQ(1200u, SeriesStatistics.last_start_ms);
}

// A real cut file: demo.rm ends inside the payload of its video packet at
// 18000 ms, whose header starts at byte 203,804; the last video packet read
// whole lies at 17916 ms.
TEST_F(RunDriverTest, DamagedSampleShowsWhereItBreaksAfterItsChart) {
    FILE* sample = std::fopen(SamplePath("demo.rm").c_str(), "rb");
    ASSERT_NE(nullptr, sample);
    Bytes bytes(204638);
    ASSERT_EQ(bytes.size(), std::fread(bytes.data(), 1, bytes.size(), sample));
    std::fclose(sample);
    TempFile file(bytes);

    const std::vector<RunBox> boxes = RunWatched(file.path);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Damaged file", boxes[0].dialog.caption);
    EXPECT_EQ("The file is damaged after 0:17 (byte 203,804). The chart shows the video up to there.",
              boxes[0].dialog.text);
    EXPECT_EQ(LoadIconA(nullptr, IDI_WARNING), boxes[0].icon);
    EXPECT_TRUE(boxes[0].chart_under_box);
    // The chart holds the 16 windows closed before the cut.
    EXPECT_EQ(16250u, SeriesStatistics.last_start_ms);
}

TEST_F(RunDriverTest, LongVideoSaysHowMuchTheChartShows) {
    TempFile file(LongFile());
    const std::vector<RunBox> boxes = RunWatched(file.path);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Long video", boxes[0].dialog.caption);
    EXPECT_EQ("The video is longer than KOV can chart; the chart shows its first 5 h 33 min.", boxes[0].dialog.text);
    EXPECT_EQ(LoadIconA(nullptr, IDI_INFORMATION), boxes[0].icon);
    EXPECT_TRUE(boxes[0].chart_under_box);
    EXPECT_EQ(19998u * 1001u, SeriesStatistics.last_start_ms);
}

// The title names the file the chart shows: a run that draws one renames
// it (an empty chart too: it replaced the last), one that draws none leaves
// the last chart and its name.
TEST_F(RunDriverTest, TitleNamesTheChartedFile) {
    const std::string own(WindowTitle);
    TempFile empty(video_file({}), " empty.rm");
    TempFile named(video_file({make_packet(0, 0, 100), make_packet(0, 1200, 100)}),
                   " \xe6\xbc\x94\xe7\xa4\xba \xd0\xb4\xd0\xb5\xd0\xbc\xd0\xbe.rm");
    TempFile not_rm(Bytes(64, 'x'));
    ASSERT_FALSE(empty.path.empty() || named.path.empty() || not_rm.path.empty());
    struct Step {
        std::string path;
        const char* caption;  // the run's box; null: none
        std::string title;    // the name before the window's own title; "": none
    };
    const std::string named_name = named.path.substr(named.path.find("rmtest-"));
    const Step steps[] = {
        {SamplePath("demo.rm"), nullptr, "demo.rm"},
        {SamplePath("demo.rm") + ".missing", "Failure to open files", "demo.rm"},
        {not_rm.path, "Wrong video format", "demo.rm"},
        {SamplePath("rv20_video.rmvb"), nullptr, "rv20_video.rmvb"},
        {empty.path, "Nothing to chart", empty.path.substr(empty.path.find("rmtest-"))},
        {named.path, nullptr, named_name},
    };
    char title[2048];
    GetWindowTextA(hwnd(), title, sizeof title);
    EXPECT_EQ(own, title);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.path);
        const std::vector<RunBox> boxes = RunWatched(step.path);
        ASSERT_EQ(step.caption ? 1u : 0u, boxes.size());
        if (step.caption) EXPECT_EQ(step.caption, boxes[0].dialog.caption);
        GetWindowTextA(hwnd(), title, sizeof title);
        EXPECT_EQ(step.title + " - " + own, title);
    }
    // The name as the title bar shows it, in UTF-16.
    wchar_t wide[2048];
    GetWindowTextW(hwnd(), wide, 2048);
    const std::wstring shown = wide;
    const std::wstring expected = L"\x6f14\x793a \x0434\x0435\x043c\x043e.rm - " + std::wstring(own.begin(), own.end());
    ASSERT_GT(shown.size(), expected.size());
    EXPECT_EQ(expected, shown.substr(shown.size() - expected.size()));
    // A new window names nothing.
    window_.reset(new MainWindow(SW_HIDE));
    GetWindowTextA(hwnd(), title, sizeof title);
    EXPECT_EQ(own, title);
}

// Names that are no regular file: the serial port Wine maps COM1 to, the
// AUX device, a directory. Reading one would wait for ever; the run says at
// once that it cannot open it, from the command line as from a drop.
TEST_F(RunDriverTest, DevicesAndDirectoriesCannotBeOpened) {
    for (const char* name : {"COM1", "AUX", "C:\\windows"}) {
        SCOPED_TRACE(name);
        std::strcpy(CmdLinePath, name);
        DialogWatcher watcher;
        const DWORD started = GetTickCount();
        SendMessageA(hwnd(), WM_OPENCMDLINEFILE, 0, 0);
        EXPECT_LT(GetTickCount() - started, 20000u);
        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("Sorry, can not open the file", watcher.Seen()[0].text);
        EXPECT_EQ("Failure to open files", watcher.Seen()[0].caption);
    }
}

TEST(WaitDialogPositionTest, CentresOnTheWindowTruncatingTowardZero) {
    struct Case {
        RECT frame;
        POINT expected;
    };
    const Case cases[] = {
        {{100, 50, 1100, 750}, {475, 370}},
        {{0, 0, 251, 61}, {0, 0}},
        // Narrower than the dialog: (101 - 250) / 2 = -74, not -75.
        {{0, 0, 101, 59}, {-74, 0}},
        // A window on a monitor left of and above the primary one.
        {{-1000, -700, 0, 0}, {-625, -380}},
    };
    for (const Case& c : cases) {
        const POINT at = WaitDialogPosition(c.frame);
        EXPECT_EQ(c.expected.x, at.x);
        EXPECT_EQ(c.expected.y, at.y);
    }
}

TEST_F(RunDriverTest, WaitDialogIsCentredShownDuringTheRunAndDestroyedAfter) {
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    ASSERT_TRUE(MoveWindow(hwnd(), 100, 50, 1000, 700, TRUE));
    RECT frame;
    GetWindowRect(hwnd(), &frame);
    ASSERT_EQ(100, frame.left);
    ASSERT_EQ(50, frame.top);
    ASSERT_EQ(1100, frame.right);
    ASSERT_EQ(750, frame.bottom);

    HWND dialog = nullptr;
    RECT placed = {0, 0, 0, 0};
    bool visible = false;
    bool main_visible = false;
    HWND owner = nullptr;
    LONG style = 0;
    char text[100] = {};
    ProbeWindow probe([&] {
        dialog = WaitDialog;
        GetWindowRect(dialog, &placed);
        visible = IsWindowVisible(dialog) != 0;
        main_visible = IsWindowVisible(hwnd()) != 0;
        owner = GetWindow(dialog, GW_OWNER);
        style = GetWindowLongA(dialog, GWL_STYLE);
        GetDlgItemTextA(dialog, -1, text, sizeof text);
    });
    probe.Post();
    DialogWatcher watcher;
    RunAnalysis(hwnd(), SamplePath("demo.rm").c_str());

    ASSERT_EQ(1, probe.Count());
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(475, placed.left);
    EXPECT_EQ(370, placed.top);
    EXPECT_EQ(250, placed.right - placed.left);
    EXPECT_EQ(60, placed.bottom - placed.top);
    EXPECT_TRUE(visible);
    EXPECT_TRUE(main_visible);
    EXPECT_EQ(hwnd(), owner);
    EXPECT_EQ(0, style & WS_CAPTION);
    EXPECT_STREQ("Analyzing data, please wait ...", text);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, WaitDialog);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_TRUE(Redrawn());
}

TEST_F(RunDriverTest, CancelledOpenDialogShowsAndDrawsNothing) {
    for (BitrateSample& sample : BitrateSeries) sample = {0, 0};
    BitrateSeries[0] = {0, 123};
    BitrateSeries[1] = {1500, 456};

    DialogWatcher watcher(Dismiss::Cancel);
    bool wait_dialog_hidden = false;
    watcher.OnDialog([&](const SeenDialog&) {
        wait_dialog_hidden = WaitDialog && IsWindow(WaitDialog) && !IsWindowVisible(WaitDialog);
    });
    RunAnalysis(hwnd(), nullptr);

    ASSERT_EQ(1u, watcher.Seen().size());
    EXPECT_EQ("Open a Media file.", watcher.Seen()[0].caption);
    EXPECT_TRUE(wait_dialog_hidden);
    EXPECT_TRUE(NotDrawn());
    EXPECT_EQ(STATISTICS_SENTINEL, SeriesStatistics.max_kbps);
    EXPECT_EQ(123u, BitrateSeries[0].kbps);
    EXPECT_EQ(1500u, BitrateSeries[1].start_ms);
    EXPECT_EQ(nullptr, WaitDialog);
    EXPECT_EQ(0, AnalysisPending);
}

// Requests that the run's own pump delivers while a run is under way: a start
// message for a missing file, a drop of a missing file, LoadFile. Run, they
// would show "can not open" boxes or the Open dialog; refused, the run under
// way ends as if they had not come.
TEST_F(RunDriverTest, SecondRunIsRefusedWhileOneIsUnderWay) {
    std::strcpy(CmdLinePath, "Z:\\no\\such\\command-line.rm");
    HDROP drop = MakeDrop({"Z:\\no\\such\\dropped.rm"}, false);
    ASSERT_NE(nullptr, drop);
    HWND dialog_at_start = nullptr;
    HWND dialog_later = nullptr;
    int under_way = 0;
    ProbeWindow first([&] { dialog_at_start = WaitDialog; });
    ProbeWindow later([&] {
        dialog_later = WaitDialog;
        under_way = (CurrentDocument.busy ? 1 : 0);
    });
    first.Post();
    PostMessageA(hwnd(), WM_OPENCMDLINEFILE, 0, 0);
    PostMessageA(hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    PostMessageA(hwnd(), WM_COMMAND, IDM_LOADFILE, 0);
    later.Post();

    DialogWatcher watcher(Dismiss::Cancel);
    RunAnalysis(hwnd(), SamplePath("demo.rm").c_str());

    EXPECT_TRUE(watcher.Seen().empty());
    ASSERT_EQ(1, later.Count());
    EXPECT_NE(nullptr, dialog_at_start);
    EXPECT_EQ(dialog_at_start, dialog_later);
    EXPECT_EQ(1, under_way);
    // The run under way measured its file to the end.
    EXPECT_EQ(0u, BitrateSeries[0].start_ms);
    EXPECT_GT(BitrateSeries[30].start_ms, 30000u);
    EXPECT_TRUE(Redrawn());
    // The refused drop still gave its memory back.
    EXPECT_FALSE(DropStillAllocated(drop));

    // Once the run is over, the next request runs.
    EXPECT_EQ(0, (CurrentDocument.busy ? 1 : 0));
    SendMessageA(hwnd(), WM_OPENCMDLINEFILE, 0, 0);
    ASSERT_EQ(1u, watcher.Seen().size());
    EXPECT_EQ("Sorry, can not open the file", watcher.Seen()[0].text);
}

TEST_F(RunDriverTest, QuitDuringARunIsKeptAndShowsNothing) {
    PostQuitMessage(5);
    DialogWatcher watcher;
    RunAnalysis(hwnd(), SamplePath("demo.rm").c_str());

    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_TRUE(NotDrawn());
    EXPECT_EQ(STATISTICS_SENTINEL, SeriesStatistics.max_kbps);
    EXPECT_EQ(nullptr, WaitDialog);
    EXPECT_EQ(0, (CurrentDocument.busy ? 1 : 0));
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(5u, message.wParam);
}

TEST_F(RunDriverTest, WindowClosedDuringARunEndsItQuietly) {
    // File > Exit, delivered by the run's pump: the window goes, and the run
    // of a file that does not exist must not report on it.
    PostMessageA(hwnd(), WM_COMMAND, IDM_EXIT, 0);
    DialogWatcher watcher;
    RunAnalysis(hwnd(), "Z:\\no\\such\\file.rm");

    EXPECT_FALSE(IsWindow(hwnd()));
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(nullptr, BackBufferDC);
    EXPECT_EQ(nullptr, WaitDialog);
    EXPECT_EQ(0, (CurrentDocument.busy ? 1 : 0));
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, message.wParam);
}

}  // namespace
