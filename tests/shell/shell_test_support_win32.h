// Shared helpers of the shell's Windows tests: the real main window and the
// fixture around it, a watcher that reads and dismisses dialogs while they run
// modally, a probe window whose messages the analysis pump delivers mid-run,
// and drops.
#ifndef KOV_TESTS_SHELL_SHELL_TEST_SUPPORT_WIN32_H
#define KOV_TESTS_SHELL_SHELL_TEST_SUPPORT_WIN32_H

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace shell_test {

// A colour no drawing step uses: still there afterwards means nothing was drawn.
const COLORREF MARKER = RGB(1, 2, 3);
const COLORREF CHART_BACKGROUND = 0x004A4A4A;
const COLORREF AXIS_WHITE = 0x00FFFFFF;

// One dialog the watcher found: a message box, the About box, the Open dialog.
struct SeenDialog {
    HWND window;
    std::string caption;
    std::string text;  // the first static control with id 0xFFFF (message boxes) or -1
};

// How the watcher ends a dialog it found.
enum class Dismiss { Ok, Cancel, EscapeKey, CloseBox };

// While it lives, a thread timer looks every few milliseconds for visible
// dialogs ("#32770") of this thread other than the wait dialog, records each
// once, runs the optional callback and then dismisses it. Timers fire inside
// every modal loop and inside the analysis pump, so this sees a box while
// MessageBoxA or DialogBoxParamA is still waiting for the user.
class DialogWatcher {
public:
    explicit DialogWatcher(Dismiss how = Dismiss::Ok);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    void SetDismiss(Dismiss how);
    // Runs when a dialog is first seen, before it is dismissed.
    void OnDialog(std::function<void(const SeenDialog&)> callback);
    const std::vector<SeenDialog>& Seen() const;
    // A dialog still open 10 s after it was dismissed (then destroyed, so the
    // test fails instead of hanging).
    bool Stuck() const;
};

// The real main window, made by RegisterMainWindowClass + CreateMainWindow
// with this executable's resources. A start message that the test
// executable's own command line may have caused is removed from the queue.
class MainWindow {
public:
    explicit MainWindow(int show_command = SW_SHOWNORMAL);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_;
};

// Dispatches every pending message, and drops a pending quit request.
void DrainMessages();

// A fresh main window for each test, and what the tests read of it.
class MainWindowFixture : public testing::Test {
protected:
    explicit MainWindowFixture(int show_command = SW_SHOWNORMAL) : show_command_(show_command) {}
    void SetUp() override;
    void TearDown() override;

    HWND hwnd() const { return window_->hwnd(); }
    RECT Client() const;
    // Paints the whole back buffer with MARKER.
    void MarkBackBuffer();
    // A pixel of the right margin: the chart background after a redraw.
    COLORREF MarginPixel() const;

    std::unique_ptr<MainWindow> window_;

private:
    int show_command_;
};

// A hidden window whose handler runs when the given message is dispatched;
// post to it before a run and the run's pump delivers it mid-run.
class ProbeWindow {
public:
    explicit ProbeWindow(std::function<void()> on_probe);
    ~ProbeWindow();
    ProbeWindow(const ProbeWindow&) = delete;
    ProbeWindow& operator=(const ProbeWindow&) = delete;

    void Post();
    int Count() const;

private:
    HWND hwnd_;
};

// An HDROP as the shell makes it: DROPFILES then the paths, each NUL
// terminated, in GlobalAlloc memory. Wide drops hold UTF-16 paths.
HDROP MakeDrop(const std::vector<std::string>& paths, bool wide);
// Nonzero while the drop's memory has not been freed.
bool DropStillAllocated(HDROP drop);

// The path of a file in samples/, as the analysis opens it.
std::string SamplePath(const char* name);

// KOV.EXE of this build, with Windows' backslashes.
std::string KovExePath();

// COLORREF of a back buffer pixel.
COLORREF BackBufferPixel(int x, int y);

}  // namespace shell_test

#endif
