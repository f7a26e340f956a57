// The shell tests' dialog watcher, main window, probe window and drops.
#include "shell_test_support_win32.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "chart/chart_win32.h"
#include "shell/analyze_file.h"
#include "shell/resource.h"
#include "shell/shell.h"

namespace shell_test {

// ---------------------------------------------------------------- DialogWatcher

namespace {

const UINT WATCH_INTERVAL_MS = 20;
const DWORD STUCK_AFTER_MS = 10000;

struct Handled {
    HWND window;
    DWORD dismissed_at;
};

struct WatchState {
    UINT_PTR timer = 0;
    bool busy = false;
    bool stuck = false;
    Dismiss how = Dismiss::Ok;
    std::function<void(const SeenDialog&)> callback;
    std::vector<SeenDialog> seen;
    std::vector<Handled> handled;
};
WatchState watch;

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool AlreadyHandled(HWND window) {
    for (const Handled& h : watch.handled) {
        if (h.window == window) return true;
    }
    return false;
}

void DismissDialog(HWND dialog) {
    switch (watch.how) {
    case Dismiss::Ok:
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        break;
    case Dismiss::Cancel:
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        break;
    case Dismiss::EscapeKey: {
        // To the focused control, as the keyboard would: the dialog's modal
        // loop turns it into IDCANCEL.
        HWND focus = GetFocus();
        HWND target = (focus && (focus == dialog || IsChild(dialog, focus))) ? focus : dialog;
        PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        break;
    }
    case Dismiss::CloseBox:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

BOOL CALLBACK VisitThreadWindow(HWND window, LPARAM) {
    if (window == WaitDialog || ClassOf(window) != "#32770" || !IsWindowVisible(window)) return TRUE;
    if (AlreadyHandled(window)) return TRUE;
    SeenDialog dialog;
    dialog.window = window;
    dialog.caption = TextOf(window);
    char text[1024] = {};
    // Message boxes number their text 0xFFFF; a DIALOGEX template's -1 is
    // a 32-bit id.
    if (GetDlgItemTextA(window, 0xFFFF, text, sizeof text) == 0) GetDlgItemTextA(window, -1, text, sizeof text);
    dialog.text = text;
    watch.seen.push_back(dialog);
    if (watch.callback) watch.callback(dialog);
    watch.handled.push_back({window, GetTickCount()});
    DismissDialog(window);
    return TRUE;
}

void CALLBACK WatchTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (watch.busy) return;
    watch.busy = true;
    EnumThreadWindows(GetCurrentThreadId(), VisitThreadWindow, 0);
    for (Handled& h : watch.handled) {
        if (h.window && IsWindow(h.window) && IsWindowVisible(h.window) &&
            GetTickCount() - h.dismissed_at > STUCK_AFTER_MS) {
            watch.stuck = true;
            DestroyWindow(h.window);
            h.window = nullptr;
        }
    }
    watch.busy = false;
}

}  // namespace

DialogWatcher::DialogWatcher(Dismiss how) {
    watch = WatchState();
    watch.how = how;
    watch.timer = SetTimer(nullptr, 0, WATCH_INTERVAL_MS, WatchTimer);
}

DialogWatcher::~DialogWatcher() {
    KillTimer(nullptr, watch.timer);
    watch.timer = 0;
    watch.callback = nullptr;
}

void DialogWatcher::SetDismiss(Dismiss how) { watch.how = how; }
void DialogWatcher::OnDialog(std::function<void(const SeenDialog&)> callback) { watch.callback = callback; }
const std::vector<SeenDialog>& DialogWatcher::Seen() const { return watch.seen; }
bool DialogWatcher::Stuck() const { return watch.stuck; }

// ---------------------------------------------------------------- MainWindow

namespace {

HWND found_main_window;

BOOL CALLBACK FindMainWindow(HWND window, LPARAM) {
    if (ClassOf(window) == WindowClassName) {
        found_main_window = window;
        return FALSE;
    }
    return TRUE;
}

void RegisterOnce() {
    static bool registered = false;
    if (registered) return;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    LoadStringA(instance, IDS_APP_TITLE, WindowTitle, WINDOW_TEXT_SIZE);
    LoadStringA(instance, IDS_WINDOWCLASS, WindowClassName, WINDOW_TEXT_SIZE);
    RegisterMainWindowClass(instance);
    registered = true;
}

}  // namespace

void DrainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

MainWindow::MainWindow(int show_command) : hwnd_(nullptr) {
    RegisterOnce();
    found_main_window = nullptr;
    if (CreateMainWindow(GetModuleHandleA(nullptr), show_command)) {
        EnumThreadWindows(GetCurrentThreadId(), FindMainWindow, 0);
        hwnd_ = found_main_window;
    }
    // The test executable's own command line may hold a '/'.
    MSG message;
    while (hwnd_ && PeekMessageA(&message, hwnd_, WM_OPENCMDLINEFILE, WM_OPENCMDLINEFILE, PM_REMOVE)) {
    }
    DrainMessages();
}

MainWindow::~MainWindow() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    DrainMessages();
}

void MainWindowFixture::SetUp() {
    // The pointer goes to the screen's far corner, off the window: over the
    // plot, it would show the readout in the chart.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    window_.reset(new MainWindow(show_command_));
    ASSERT_NE(nullptr, hwnd());
}

void MainWindowFixture::TearDown() { window_.reset(); }

RECT MainWindowFixture::Client() const {
    RECT client = {0, 0, 0, 0};
    GetClientRect(hwnd(), &client);
    return client;
}

void MainWindowFixture::MarkBackBuffer() {
    const RECT client = Client();
    FillBackground(BackBufferDC, MARKER, &client);
}

COLORREF MainWindowFixture::MarginPixel() const { return BackBufferPixel(Client().right - 20, 60); }

// ---------------------------------------------------------------- ProbeWindow

namespace {

const UINT MSG_PROBE = WM_APP + 7;
const char* const PROBE_CLASS = "KovShellTestProbe";

struct ProbeState {
    std::function<void()> on_probe;
    int count = 0;
};

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == MSG_PROBE) {
        ProbeState* state = reinterpret_cast<ProbeState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (state) {
            ++state->count;
            if (state->on_probe) state->on_probe();
        }
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

ProbeWindow::ProbeWindow(std::function<void()> on_probe) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA window_class = {};
        window_class.lpfnWndProc = ProbeWindowProc;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = PROBE_CLASS;
        registered = RegisterClassA(&window_class) != 0;
    }
    hwnd_ = CreateWindowA(PROBE_CLASS, "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr),
                          nullptr);
    ProbeState* state = new ProbeState;
    state->on_probe = on_probe;
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
}

ProbeWindow::~ProbeWindow() {
    delete reinterpret_cast<ProbeState*>(GetWindowLongPtrA(hwnd_, GWLP_USERDATA));
    DestroyWindow(hwnd_);
}

void ProbeWindow::Post() { PostMessageA(hwnd_, MSG_PROBE, 0, 0); }

int ProbeWindow::Count() const { return reinterpret_cast<ProbeState*>(GetWindowLongPtrA(hwnd_, GWLP_USERDATA))->count; }

// ---------------------------------------------------------------- drops and paths

HDROP MakeDrop(const std::vector<std::string>& paths, bool wide) {
    size_t chars = 1;  // the final empty string
    for (const std::string& path : paths) chars += path.size() + 1;
    const size_t unit = wide ? sizeof(WCHAR) : sizeof(char);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * unit);
    if (!memory) return nullptr;
    char* base = static_cast<char*>(GlobalLock(memory));
    DROPFILES* header = reinterpret_cast<DROPFILES*>(base);
    header->pFiles = sizeof(DROPFILES);
    header->pt.x = 10;
    header->pt.y = 10;
    header->fNC = FALSE;
    header->fWide = wide ? TRUE : FALSE;
    char* at = base + sizeof(DROPFILES);
    for (const std::string& path : paths) {
        for (char c : path) {
            if (wide) {
                const WCHAR w = static_cast<unsigned char>(c);
                std::memcpy(at, &w, sizeof w);
            } else {
                *at = c;
            }
            at += unit;
        }
        at += unit;  // terminator, already zero
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

bool DropStillAllocated(HDROP drop) { return GlobalSize(static_cast<HGLOBAL>(drop)) != 0; }

std::string SamplePath(const char* name) { return std::string(KOV_SOURCE_DIR) + "/samples/" + name; }

std::string KovExePath() {
    std::string path = KOV_EXE_PATH;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

COLORREF BackBufferPixel(int x, int y) {
    GdiFlush();
    return GetPixel(BackBufferDC, x, y);
}

}  // namespace shell_test
