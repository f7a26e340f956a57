// The main window under Wine: its procedure driven in-process (command line,
// drops, keys, sizes, paints, the About box through the accelerators), and
// KOV.EXE itself as a child process for File > Exit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "analysis/analysis_run.h"
#include "chart/chart_model.h"
#include "chart/chart_win32.h"
#include "chart/series_statistics.h"
#include "shell/analyze_file.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell/shell.h"
#include "shell_test_support_win32.h"
#include "tests/chart/chart_test_support_win32.h"
#include "tests/support/rm_test_io.h"

using namespace shell_test;

namespace {

// ---------------------------------------------------------------- command line

TEST(CommandLineTest, TakesEverythingAfterTheFirstSlashUnchanged) {
    struct Case {
        const char* command_line;
        const char* path;
    };
    const Case cases[] = {
        {"\"C:\\Program Files\\KOV\\KOV.EXE\" /D:\\clips\\a.rm", "D:\\clips\\a.rm"},
        {"KOV.EXE /D:\\clips\\a.rm", "D:\\clips\\a.rm"},
        {"KOV.EXE\t/D:\\clips\\a.rm", "D:\\clips\\a.rm"},
        {"\"C:\\KOV\\KOV.EXE\"/D:\\a.rm", "D:\\a.rm"},
        // Without a '/', only a file that exists is taken (the next test).
        {"\"C:\\KOV\\KOV.EXE\" D:\\clips\\a.rm", ""},
        // Nothing is trimmed or unquoted.
        {"KOV.EXE / D:\\a.rm", " D:\\a.rm"},
        {"KOV.EXE /\"D:\\my clips\\a.rm\" ", "\"D:\\my clips\\a.rm\" "},
        {"KOV.EXE /", ""},
        {"KOV.EXE /a/b", "a/b"},
        {"", ""},
        // A program path written with forward slashes, quoted or not, is the
        // program's, not the file's.
        {"C:/Tools/KOV.EXE /D:\\a.rm", "D:\\a.rm"},
        {"C:/Tools/KOV.EXE", ""},
        {"\"C:/Program Files/KOV/KOV.EXE\" /D:\\a.rm", "D:\\a.rm"},
        {"\"C:/Program Files/KOV/KOV.EXE\"", ""},
        {"\"C:/Program Files/KOV/KOV.EXE", ""},
        // An argument quoted whole loses its quotes, and only those.
        {"KOV.EXE \"/D:\\my clips\\a.rm\"", "D:\\my clips\\a.rm"},
        {"\"C:/Program Files/KOV/KOV.EXE\" \"/D:\\my clips\\a.rm\"", "D:\\my clips\\a.rm"},
        {"KOV.EXE \"/D:\\my clips\\a.rm\" extra", "D:\\my clips\\a.rm"},
        {"KOV.EXE \"/D:\\my clips\\a.rm", "D:\\my clips\\a.rm"},
        {"KOV.EXE \"/ D:\\a.rm\"", " D:\\a.rm"},
        {"KOV.EXE \"/\"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command_line);
        std::strcpy(CmdLinePath, "left over from before");
        EXPECT_EQ(c.path[0] != '\0', TakeCommandLinePath(c.command_line) != 0);
        EXPECT_STREQ(c.path, CmdLinePath);
    }
    EXPECT_EQ(0, TakeCommandLinePath(nullptr));
    EXPECT_STREQ("", CmdLinePath);
}

TEST(CommandLineTest, LongPathIsCutToTheBuffer) {
    for (bool quoted : {false, true}) {
        for (size_t length : {778u, 779u, 780u, 781u, 40000u}) {
            SCOPED_TRACE(testing::Message() << length << (quoted ? " quoted" : ""));
            const std::string text(length, 'x');
            const std::string command_line = quoted ? "KOV.EXE \"/" + text + "\"" : "KOV.EXE /" + text;
            EXPECT_EQ(1, TakeCommandLinePath(command_line.c_str()));
            const size_t kept = length < 779 ? length : 779;
            EXPECT_EQ(kept, std::strlen(CmdLinePath));
            EXPECT_EQ(0, std::memcmp(CmdLinePath, text.data(), kept));
        }
    }
}

// As Explorer's "Open with", a drop on the program's icon and shortcuts pass
// a file: without a '/', quoted or not. Only a text that names an existing
// file is taken; anything else starts nothing, as before.
TEST(CommandLineTest, WithoutASlashAnExistingFileIsTaken) {
    const rmtest::TempFile plain(rmtest::Bytes{1});
    const rmtest::TempFile blanks(rmtest::Bytes{1}, " my clip.rm");
    const rmtest::TempFile named(rmtest::Bytes{1}, " \xe6\xbc\x94\xe7\xa4\xba \xd0\xb4\xd0\xb5\xd0\xbc\xd0\xbe.rm");
    ASSERT_FALSE(plain.path.empty());
    ASSERT_FALSE(blanks.path.empty());
    ASSERT_FALSE(named.path.empty());
    char folder[MAX_PATH] = "";
    ASSERT_NE(0u, GetTempPathA(sizeof folder, folder));
    const std::string program = "\"C:\\Program Files\\KOV\\KOV.EXE\"";
    struct Case {
        std::string command_line;
        std::string path;
    };
    const Case cases[] = {
        {program + " " + plain.path, plain.path},
        {program + " \"" + plain.path + "\"", plain.path},
        {"KOV.EXE " + blanks.path, blanks.path},
        {"KOV.EXE \"" + blanks.path + "\"", blanks.path},
        {program + " \"" + named.path + "\"", named.path},
        {"KOV.EXE\t" + named.path + " \t", named.path},
        {"KOV.EXE \"" + blanks.path + "\" ", blanks.path},
        // Names no file: nothing is taken.
        {"KOV.EXE " + plain.path + ".missing", ""},
        {"KOV.EXE \"" + plain.path + "\" \"" + blanks.path + "\"", ""},
        {"KOV.EXE " + std::string(folder), ""},
        {"KOV.EXE \"\"", ""},
        {"KOV.EXE   ", ""},
        {"KOV.EXE " + std::string(40000, 'x'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command_line.substr(0, 200));
        std::strcpy(CmdLinePath, "left over from before");
        EXPECT_EQ(!c.path.empty(), TakeCommandLinePath(c.command_line.c_str()) != 0);
        EXPECT_EQ(c.path, CmdLinePath);
    }
}

class MainWindowTest : public MainWindowFixture {
protected:
    bool ChartDrawn() const {
        // The value axis at x = 110 and the background of the right margin.
        return BackBufferPixel(110, 60) == AXIS_WHITE && MarginPixel() == CHART_BACKGROUND;
    }
    void ClearChart() {
        MarkBackBuffer();
        for (BitrateSample& sample : BitrateSeries) sample = {0, 0};
    }
};

TEST_F(MainWindowTest, CreationPostsTheStartMessageOnlyForAPath) {
    const rmtest::TempFile existing(rmtest::Bytes{1}, " a.rm");
    struct Case {
        std::string command_line;
        bool posted;
    };
    const Case cases[] = {
        {"KOV.EXE /D:\\clips\\a.rm", true},
        {"KOV.EXE / D:\\a.rm", true},
        {"KOV.EXE D:\\no such folder\\a.rm", false},
        {"KOV.EXE \"" + existing.path + "\"", true},
        {"KOV.EXE /", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command_line);
        EXPECT_EQ(1, InitMainWindowWithCommandLine(hwnd(), c.command_line.c_str()));
        // The chart's part ran first: a back buffer of the client size exists.
        EXPECT_NE(nullptr, BackBufferDC);
        MSG message;
        const bool posted = PeekMessageA(&message, hwnd(), WM_OPENCMDLINEFILE, WM_OPENCMDLINEFILE, PM_REMOVE);
        EXPECT_EQ(c.posted, posted);
        if (posted) {
            EXPECT_EQ(0u, message.wParam);
            EXPECT_EQ(0, message.lParam);
        }
    }
}

TEST_F(MainWindowTest, StartMessageAnalysesTheCommandLinePathOnceTheLoopRuns) {
    ClearChart();
    const std::string command_line = "\"Z:\\KOV\\KOV.EXE\" /" + SamplePath("demo.rm");
    InitMainWindowWithCommandLine(hwnd(), command_line.c_str());
    EXPECT_EQ(SamplePath("demo.rm"), CmdLinePath);
    // Nothing runs during creation itself.
    EXPECT_EQ(0u, BitrateSeries[1].start_ms);

    bool window_then_wait_dialog = false;
    ProbeWindow probe(
        [&] { window_then_wait_dialog = IsWindowVisible(hwnd()) && WaitDialog && IsWindowVisible(WaitDialog); });
    probe.Post();
    DialogWatcher watcher;
    DrainMessages();

    EXPECT_EQ(1, probe.Count());
    EXPECT_TRUE(window_then_wait_dialog);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_GT(BitrateSeries[1].start_ms, 1000u);
    EXPECT_TRUE(ChartDrawn());
}

TEST_F(MainWindowTest, MinimumTrackSizeIsSetAndNothingElse) {
    MINMAXINFO limits;
    limits.ptReserved = {1, 2};
    limits.ptMaxSize = {3, 4};
    limits.ptMaxPosition = {5, 6};
    limits.ptMinTrackSize = {7, 8};
    limits.ptMaxTrackSize = {9, 10};
    EXPECT_EQ(0, SendMessageA(hwnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits)));
    // The chart's smallest client size, framed as the window is (the screen
    // here is larger than that).
    HDC dc = GetDC(hwnd());
    const SIZE client = ChartMinimumClientSize(dc);
    ReleaseDC(hwnd(), dc);
    RECT frame = {0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0);
    EXPECT_EQ(frame.right - frame.left, limits.ptMinTrackSize.x);
    EXPECT_EQ(frame.bottom - frame.top, limits.ptMinTrackSize.y);
    EXPECT_EQ(3, limits.ptMaxSize.x);
    EXPECT_EQ(6, limits.ptMaxPosition.y);
    EXPECT_EQ(9, limits.ptMaxTrackSize.x);
    EXPECT_EQ(10, limits.ptMaxTrackSize.y);

    // Dragging a border sends WM_SIZING first; the rectangle is left as it is.
    RECT dragged = {0, 0, 100, 100};
    EXPECT_EQ(0, SendMessageA(hwnd(), WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&dragged)));
    EXPECT_EQ(100, dragged.right);
}

// Made as small as it goes (320 x 120 asked for), the window still holds
// every legend of demo.rm's chart over its plot, whole file, zoomed, frames
// and GOPs: in the legend's rows nothing is drawn right of the plot, and
// left of it only "(kbps)" (or "(kbit)"), as it is drawn alone.
TEST_F(MainWindowTest, TheSmallestWindowHoldsEveryLegendOverThePlot) {
    SetWindowPos(hwnd(), nullptr, 0, 0, 320, 120, SWP_NOZORDER | SWP_NOMOVE);
    RECT client;
    GetClientRect(hwnd(), &client);
    HDC window_dc = GetDC(hwnd());
    const SIZE smallest = ChartMinimumClientSize(window_dc);
    ReleaseDC(hwnd(), window_dc);
    EXPECT_EQ(smallest.cx, client.right);
    EXPECT_EQ(smallest.cy, client.bottom);
    {
        DialogWatcher watcher;
        RunAnalysis(hwnd(), SamplePath("demo.rm").c_str());
        ASSERT_TRUE(watcher.Seen().empty());
    }
    const int legend_top = 25, plot_left = 110, plot_right = client.right - 94;
    struct Step {
        UINT command;  // 0: the whole file as drawn
        const char* unit;
    };
    const Step steps[] = {{0, "(kbps)"}, {IDM_ZOOMIN, "(kbps)"}, {IDM_FRAMES, "(kbit)"}, {IDM_GOPS, "(kbps)"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        if (step.command) SendMessageA(hwnd(), WM_COMMAND, step.command, 0);
        chart_test::Canvas chart(client.right, client.bottom);
        chart_test::CopyBackBuffer(chart);
        chart_test::Canvas unit(client.right, client.bottom);
        unit.Fill(0);
        SelectObject(unit.dc(), GetStockObject(SYSTEM_FIXED_FONT));
        SetBkMode(unit.dc(), TRANSPARENT);
        SetTextColor(unit.dc(), AXIS_WHITE);
        SetTextAlign(unit.dc(), TA_RIGHT | TA_BOTTOM);
        TextOutA(unit.dc(), plot_left, 40, step.unit, int(std::strlen(step.unit)));
        TEXTMETRICA metrics;
        GetTextMetricsA(unit.dc(), &metrics);
        int inside = 0;
        for (int y = legend_top; y < legend_top + metrics.tmHeight; ++y) {
            EXPECT_TRUE(chart.ColumnsOfColor(y, AXIS_WHITE, plot_right + 1).empty()) << y;
            EXPECT_EQ(unit.ColumnsOfColor(y, AXIS_WHITE, 0, plot_left - 1),
                      chart.ColumnsOfColor(y, AXIS_WHITE, 0, plot_left - 1))
                << y;
            inside += int(chart.ColumnsOfColor(y, AXIS_WHITE, plot_left, plot_right).size());
        }
        EXPECT_GT(inside, 0);  // the legend is there
    }
}

TEST_F(MainWindowTest, SizeKeysAndPaintReachTheChart) {
    // A resize gives a back buffer of the new client size.
    ASSERT_TRUE(SetWindowPos(hwnd(), nullptr, 0, 0, 900, 600, SWP_NOMOVE | SWP_NOZORDER));
    BITMAP bitmap;
    ASSERT_NE(0, GetObjectA(BackBufferBitmap, sizeof bitmap, &bitmap));
    EXPECT_EQ(Client().right, bitmap.bmWidth);
    EXPECT_EQ(Client().bottom, bitmap.bmHeight);

    // Keys go to the chart: the arrows change the Video curve, others nothing.
    ChartCurves[CURVE_VIDEO].scale = 1.0f;
    ChartCurves[CURVE_VIDEO].offset = 0.0f;
    SendMessageA(hwnd(), WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageA(hwnd(), WM_KEYDOWN, VK_UP, 0);
    SendMessageA(hwnd(), WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(1.1f, ChartCurves[CURVE_VIDEO].scale);
    EXPECT_EQ(0.1f, ChartCurves[CURVE_VIDEO].offset);
    ChartCurves[CURVE_VIDEO].scale = 1.0f;
    ChartCurves[CURVE_VIDEO].offset = 0.0f;

    // A paint copies the back buffer; the background is never erased first.
    const RECT client = Client();
    FillBackground(BackBufferDC, RGB(10, 200, 30), &client);
    InvalidateRect(hwnd(), nullptr, TRUE);
    UpdateWindow(hwnd());
    HDC screen = GetDC(hwnd());
    EXPECT_EQ(RGB(10, 200, 30), GetPixel(screen, 5, 5));
    EXPECT_EQ(RGB(10, 200, 30), GetPixel(screen, client.right - 1, client.bottom - 1));
    ReleaseDC(hwnd(), screen);
}

// ---------------------------------------------------------------- drops

TEST_F(MainWindowTest, DropAnalysesOnlyTheFirstFileAndReleasesTheDrop) {
    const std::string first = SamplePath("demo.rm");
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide" : "narrow");
        ClearChart();
        HDROP drop = MakeDrop({first, "Z:\\no\\such\\second.rm", "Z:\\no\\such\\third.rm"}, wide);
        ASSERT_NE(nullptr, drop);
        DialogWatcher watcher;
        SendMessageA(hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);

        EXPECT_EQ(first, DroppedFilePath);
        // The other two would each have failed to open, with a box.
        EXPECT_TRUE(watcher.Seen().empty());
        EXPECT_GT(BitrateSeries[1].start_ms, 1000u);
        EXPECT_TRUE(ChartDrawn());
        EXPECT_FALSE(DropStillAllocated(drop));
    }
}

TEST_F(MainWindowTest, LongDroppedPathIsCutAndFailsToOpen) {
    const std::string path = "Z:\\" + std::string(900, 'p') + ".rm";
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide" : "narrow");
        HDROP drop = MakeDrop({path}, wide);
        DialogWatcher watcher;
        SendMessageA(hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);

        // Never longer than the buffer; a prefix of the path if anything.
        const std::string taken = DroppedFilePath;
        EXPECT_LE(taken.size(), 779u);
        EXPECT_EQ(path.substr(0, taken.size()), taken);
        if (!wide) EXPECT_EQ(779u, taken.size());
        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("Sorry, can not open the file", watcher.Seen()[0].text);
        EXPECT_FALSE(DropStillAllocated(drop));
    }
}

// ---------------------------------------------------------------- About box

class KeyboardState {
public:
    explicit KeyboardState(bool alt_down) {
        GetKeyboardState(saved_);
        BYTE keys[256];
        std::memcpy(keys, saved_, sizeof keys);
        keys[VK_MENU] = alt_down ? 0x80 : 0;
        keys[VK_LMENU] = alt_down ? 0x80 : 0;
        SetKeyboardState(keys);
    }
    ~KeyboardState() { SetKeyboardState(saved_); }

private:
    BYTE saved_[256];
};

TEST_F(MainWindowTest, AltQuestionMarkAndAltSlashOpenTheAboutBox) {
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINMENU));
    ASSERT_NE(nullptr, table);
    struct Case {
        char character;
        bool alt;
        bool opens;
    };
    const Case cases[] = {
        {'?', true, true}, {'/', true, true}, {'?', false, false}, {'/', false, false}, {'a', true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.character << (c.alt ? " with Alt" : " alone"));
        KeyboardState keys(c.alt);
        // The character message as TranslateMessage makes it: WM_SYSCHAR with
        // the context bit when Alt is held.
        MSG message = {};
        message.hwnd = hwnd();
        message.message = c.alt ? WM_SYSCHAR : WM_CHAR;
        message.wParam = static_cast<unsigned char>(c.character);
        message.lParam = 1 | (c.alt ? (1 << 29) : 0);
        DialogWatcher watcher;
        EXPECT_EQ(c.opens, TranslateAcceleratorA(hwnd(), table, &message) != 0);
        if (c.opens) {
            ASSERT_EQ(1u, watcher.Seen().size());
            EXPECT_EQ("About", watcher.Seen()[0].caption);
        } else {
            EXPECT_TRUE(watcher.Seen().empty());
        }
    }
    DestroyAcceleratorTable(table);
}

TEST_F(MainWindowTest, AboutBoxShowsItsPicturesAndClosesWithOkEscapeOrCloseBox) {
    for (Dismiss how : {Dismiss::Ok, Dismiss::EscapeKey, Dismiss::CloseBox}) {
        SCOPED_TRACE(static_cast<int>(how));
        DialogWatcher watcher(how);
        BITMAP logo = {};
        bool has_icon = false;
        HWND owner = nullptr;
        watcher.OnDialog([&](const SeenDialog& box) {
            owner = GetWindow(box.window, GW_OWNER);
            has_icon = SendDlgItemMessageA(box.window, IDC_ABOUTICON, STM_GETICON, 0, 0) != 0;
            for (HWND child = GetWindow(box.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
                    HGDIOBJ image = reinterpret_cast<HGDIOBJ>(SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
                    if (image) GetObjectA(image, sizeof logo, &logo);
                }
            }
        });
        SendMessageA(hwnd(), WM_COMMAND, IDM_ABOUT, 0);

        ASSERT_EQ(1u, watcher.Seen().size());
        EXPECT_EQ("About", watcher.Seen()[0].caption);
        EXPECT_EQ("Quorrel (KOV) Version 1.0", watcher.Seen()[0].text);
        EXPECT_FALSE(IsWindow(watcher.Seen()[0].window));
        EXPECT_FALSE(watcher.Stuck());
        EXPECT_EQ(hwnd(), owner);
        EXPECT_TRUE(has_icon);
        EXPECT_EQ(318, logo.bmWidth);
        EXPECT_EQ(99, logo.bmHeight);
    }
}

// Held down for half a minute, the arrow keys once made the scale infinite
// (or denormal) for the rest of the session: no later file showed a curve.
TEST_F(MainWindowTest, ZoomNeverSticksAcrossFiles) {
    DialogWatcher watcher;
    RunAnalysis(hwnd(), SamplePath("demo.rm").c_str());
    AnalysisPending = 1;  // keeps two thousand redraws cheap
    for (int i = 0; i < 1000; ++i) SendMessageA(hwnd(), WM_KEYDOWN, VK_RIGHT, 0);
    for (int i = 0; i < 1100; ++i) SendMessageA(hwnd(), WM_KEYDOWN, VK_LEFT, 0);
    AnalysisPending = 0;
    EXPECT_EQ(FP_NORMAL, std::fpclassify(ChartCurves[CURVE_VIDEO].scale));

    RunAnalysis(hwnd(), SamplePath("rv20_video.rmvb").c_str());
    EXPECT_TRUE(watcher.Seen().empty());
    const RECT client = Client();
    chart_test::Canvas canvas(client.right, client.bottom);
    chart_test::CopyBackBuffer(canvas);
    // Flattened onto the time axis, but there, across the plot less the
    // time ticks drawn over it.
    const int plot_width = client.right - 204;
    EXPECT_GE(canvas.CountColor(chart_test::YELLOW), plot_width - plot_width / 70 - 1);
    ChartCurves[CURVE_VIDEO].scale = 1.0f;
}

// ---------------------------------------------------------------- GDI objects

TEST(MainWindowGdiTest, NoObjectLeaksAcrossAThousandRedraws) {
    chart_test::GdiCounter counter;
    ASSERT_TRUE(counter.Installed());
    {
        MainWindow window(SW_SHOWNORMAL);
        ASSERT_NE(nullptr, window.hwnd());
        DialogWatcher watcher;
        RunAnalysis(window.hwnd(), SamplePath("demo.rm").c_str());
        ASSERT_TRUE(watcher.Seen().empty());
        ASSERT_EQ(0, AnalysisPending);

        for (int i = 0; i < 1000; ++i) {
            if (i % 100 == 0) {
                // A resize replaces the back buffer and redraws.
                SetWindowPos(window.hwnd(), nullptr, 0, 0, 800 + i / 10, 500 + i / 20, SWP_NOMOVE | SWP_NOZORDER);
            } else {
                SendMessageA(window.hwnd(), WM_KEYDOWN, i % 2 ? VK_UP : VK_DOWN, 0);
            }
            UpdateWindow(window.hwnd());
        }
        // Only the back buffer is alive: one bitmap in one DC.
        EXPECT_EQ(1u, counter.LiveObjects());
        EXPECT_EQ(1u, counter.LiveDCs());
        EXPECT_GT(counter.Created(), 4000);
    }
    // Destroying the window releases the back buffer.
    EXPECT_EQ(0u, counter.LiveObjects());
    EXPECT_EQ(0u, counter.LiveDCs());
    EXPECT_EQ(0, counter.BadDeletes());
}

// ---------------------------------------------------------------- KOV.EXE

// KOV.EXE's main window, found by its process and class.
struct FoundWindow {
    DWORD process;
    HWND window;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM lparam) {
    FoundWindow* found = reinterpret_cast<FoundWindow*>(lparam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (process == found->process && std::strcmp(name, "Quillet") == 0 && IsWindowVisible(window)) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

TEST(KovExeTest, ExitAndClosingEndTheProcessWithExitCodeZero) {
    // The command line holds no '/', so KOV starts without an analysis.
    const std::string program = KovExePath();
    struct Case {
        const char* name;
        UINT message;
        WPARAM wparam;
    };
    const Case cases[] = {
        {"File > Exit", WM_COMMAND, IDM_EXIT},
        {"close box", WM_SYSCOMMAND, SC_CLOSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string command_line = "\"" + program + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(program.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process))
            << "cannot start " << program << ", error " << GetLastError();

        FoundWindow found = {process.dwProcessId, nullptr};
        for (int tries = 0; tries < 300 && !found.window; ++tries) {
            Sleep(100);
            EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&found));
        }
        EXPECT_NE(nullptr, found.window) << "KOV.EXE showed no main window";
        if (found.window) {
            char title[128] = {};
            GetWindowTextA(found.window, title, sizeof title);
            EXPECT_STREQ("KOV - Quorrel v1.0 for Pelsk special version", title);
            PostMessageA(found.window, c.message, c.wparam, 0);
        }
        const DWORD waited = WaitForSingleObject(process.hProcess, found.window ? 30000 : 0);
        DWORD exit_code = 12345;
        if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 10000);
        GetExitCodeProcess(process.hProcess, &exit_code);
        EXPECT_EQ(WAIT_OBJECT_0, waited);
        EXPECT_EQ(0u, exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

}  // namespace
