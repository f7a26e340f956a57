// The analysis run's Win32 side under Wine: the pending flag, the wait
// dialog, the message pump and the Open dialog.
#include "shell/analyze_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "tests/support/rm_test_io.h"
#include "tests/support/rm_writer.h"

using namespace rmtest;

namespace {

const UINT MSG_PROBE = WM_APP + 1;

// What the test window saw when the pump handed it a message.
struct Observed {
    int probes = 0;
    int32_t pending = -1;
    BOOL wait_dialog_visible = FALSE;
};
Observed observed;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == MSG_PROBE) {
        ++observed.probes;
        observed.pending = AnalysisPending;
        observed.wait_dialog_visible = WaitDialog && IsWindowVisible(WaitDialog);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

Bytes SampleVideoFile() {
    std::vector<Packet> packets;
    for (uint32_t t = 0; t <= 4800; t += 400) packets.push_back(make_packet(0, t, 1000));
    return video_file(packets);
}

class AnalyzeFileTest : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA window_class = {};
        window_class.lpfnWndProc = TestWindowProc;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "KovAnalysisTestWindow";
        RegisterClassA(&window_class);  // fails harmlessly from the second test on
        main_window_ = CreateWindowA("KovAnalysisTestWindow", "main", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                     nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, main_window_);
        // Stands in for the driver's hidden wait dialog.
        WaitDialog = CreateWindowA("STATIC", "wait", WS_POPUP, 0, 0, 100, 40, main_window_, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, WaitDialog);
        ASSERT_FALSE(IsWindowVisible(WaitDialog));
        DrainQueue();
        observed = Observed();
    }

    void TearDown() override {
        DestroyWindow(WaitDialog);
        WaitDialog = nullptr;
        DestroyWindow(main_window_);
        DrainQueue();
    }

    static void DrainQueue() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }

    static void MarkSeries() {
        for (BitrateSample& sample : BitrateSeries) sample = {4242, 42};
    }
    static bool SeriesMarked() { return BitrateSeries[0].start_ms == 4242 && BitrateSeries[19999].kbps == 42; }

    HWND main_window_ = nullptr;
};

TEST_F(AnalyzeFileTest, RunWithAPathShowsTheWaitDialogAndPumps) {
    TempFile file(SampleVideoFile());
    AnalysisPending = 0;
    PostMessageA(main_window_, MSG_PROBE, 0, 0);

    EXPECT_EQ(ANALYSIS_OK, AnalyzeFile(main_window_, file.path.c_str()));
    // The posted message was dispatched by the run's own pump, mid-run.
    EXPECT_EQ(1, observed.probes);
    EXPECT_EQ(1, observed.pending);
    EXPECT_TRUE(observed.wait_dialog_visible);
    EXPECT_EQ(0, AnalysisPending);
    EXPECT_TRUE(IsWindowVisible(WaitDialog));
    EXPECT_EQ(0u, BitrateSeries[0].start_ms);
    EXPECT_EQ(1200u, BitrateSeries[1].start_ms);
}

TEST_F(AnalyzeFileTest, FailedRunStillClearsThePendingFlag) {
    AnalysisPending = 1;
    EXPECT_EQ(ANALYSIS_OPEN_FAILED, AnalyzeFile(main_window_, "Z:\\no\\such\\file.rm"));
    EXPECT_EQ(0, AnalysisPending);
}

TEST_F(AnalyzeFileTest, QuitRequestStopsTheRunAndStaysQueued) {
    TempFile file(SampleVideoFile());
    PostQuitMessage(7);

    EXPECT_EQ(ANALYSIS_CANCELLED, AnalyzeFile(main_window_, file.path.c_str()));
    EXPECT_EQ(0, AnalysisPending);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, message.wParam);
}

TEST_F(AnalyzeFileTest, PumpReportsAQuitAndPostsItAgain) {
    PostMessageA(main_window_, MSG_PROBE, 0, 0);
    EXPECT_EQ(1, PumpPendingMessages(nullptr));
    EXPECT_EQ(1, observed.probes);

    PostQuitMessage(3);
    EXPECT_EQ(0, PumpPendingMessages(nullptr));
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(UINT(WM_QUIT), message.message);
    EXPECT_EQ(3u, message.wParam);
}

// Drives the Open dialog from a second thread, as a user would.
class OpenDialogDriver {
public:
    // Empty `choose`: cancel the dialog; otherwise type that path and press OK.
    OpenDialogDriver(DWORD gui_thread, std::string choose)
        : gui_thread_(gui_thread), choose_(std::move(choose)), worker_([this] { Drive(); }) {}
    ~OpenDialogDriver() { Finish(); }

    // Waits for the thread; its findings may be read afterwards.
    void Finish() {
        if (worker_.joinable()) worker_.join();
    }

    bool found = false;
    std::string title;
    std::string file_name;  // the file-name box as the dialog opened
    std::string filter;     // the file-type box

private:
    static BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
        char class_name[16] = {};
        GetClassNameA(window, class_name, sizeof class_name);
        if (std::strcmp(class_name, "#32770") == 0 && IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(context) = window;
            return FALSE;
        }
        return TRUE;
    }

    static std::string ItemText(HWND dialog, int id) {
        char text[600] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }

    void Drive() {
        HWND dialog = nullptr;
        for (int tries = 0; tries < 300 && !dialog; ++tries) {
            EnumThreadWindows(gui_thread_, FindDialog, reinterpret_cast<LPARAM>(&dialog));
            if (!dialog) Sleep(50);
        }
        if (!dialog) return;  // the GUI thread's AnalyzeFile would hang: fail loudly instead
        Sleep(300);           // let the dialog fill its controls
        char text[200] = {};
        GetWindowTextA(dialog, text, sizeof text);
        title = text;
        // The file-name box: a combo box (cmb13) in the Explorer-style
        // dialog, an edit (edt1) in the old one. The file types: cmb1.
        const int name_box = GetDlgItem(dialog, 0x47c) ? 0x47c : 0x480;
        file_name = ItemText(dialog, name_box);
        filter = ItemText(dialog, 0x470);
        found = true;
        if (choose_.empty()) {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        } else {
            SetDlgItemTextA(dialog, name_box, choose_.c_str());
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        }
    }

    DWORD gui_thread_;
    std::string choose_;
    std::thread worker_;
};

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

TEST_F(AnalyzeFileTest, OpenDialogCancelledLeavesEverythingAsItWas) {
    MarkSeries();
    std::memcpy(OpenFilePath, "previous.rm", sizeof "previous.rm");
    OpenDialogDriver driver(GetCurrentThreadId(), "");
    EXPECT_EQ(ANALYSIS_CANCELLED, AnalyzeFile(main_window_, nullptr));
    driver.Finish();

    ASSERT_TRUE(driver.found);
    EXPECT_EQ("Open a Media file.", driver.title);
    EXPECT_EQ("Real Media files(*.RM;*.RMVB;*.RV)", driver.filter);
    EXPECT_TRUE(SeriesMarked());
    EXPECT_EQ(0, AnalysisPending);
    EXPECT_FALSE(IsWindowVisible(WaitDialog));
    EXPECT_STREQ("previous.rm", OpenFilePath);
}

TEST_F(AnalyzeFileTest, OpenDialogChoosesAFileAndOffersItNextTime) {
    TempFile file(SampleVideoFile());
    ASSERT_FALSE(file.path.empty());
    OpenFilePath[0] = '\0';
    MarkSeries();

    OpenDialogDriver first(GetCurrentThreadId(), file.path);
    EXPECT_EQ(ANALYSIS_OK, AnalyzeFile(main_window_, nullptr));
    first.Finish();
    ASSERT_TRUE(first.found);
    EXPECT_EQ("", first.file_name);
    EXPECT_EQ(BaseName(file.path), BaseName(OpenFilePath));
    EXPECT_TRUE(IsWindowVisible(WaitDialog));
    EXPECT_EQ(0, AnalysisPending);
    EXPECT_EQ(1200u, BitrateSeries[1].start_ms);

    ShowWindow(WaitDialog, SW_HIDE);
    OpenDialogDriver second(GetCurrentThreadId(), "");
    EXPECT_EQ(ANALYSIS_CANCELLED, AnalyzeFile(main_window_, nullptr));
    second.Finish();
    ASSERT_TRUE(second.found);
    // The dialog starts at the last chosen file (in its folder, so the box may
    // hold the name alone).
    EXPECT_FALSE(second.file_name.empty());
    EXPECT_EQ(BaseName(file.path), BaseName(second.file_name));
    EXPECT_EQ(1200u, BitrateSeries[1].start_ms);  // the cancelled run left the series alone
    EXPECT_FALSE(IsWindowVisible(WaitDialog));
}

}  // namespace
