// The main window: its class, its creation, and a window procedure that only
// routes each message to the chart or to the run driver.
#include "shell/shell.h"

#include <shellapi.h>
#include <windowsx.h>

#include <cstdio>
#include <cstring>

#include "chart/chart_win32.h"
#include "shell/document.h"
#include "shell/file_exports.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell/view_menu.h"

HINSTANCE AppInstance = nullptr;
char WindowTitle[WINDOW_TEXT_SIZE];
char WindowClassName[WINDOW_TEXT_SIZE];
char CmdLinePath[PATH_BUFFER_SIZE];
char DroppedFilePath[PATH_BUFFER_SIZE];

namespace {

LRESULT OnCreate(HWND window) {
    InitMainWindow(window);
    DragAcceptFiles(window, TRUE);
    return 0;
}

LRESULT OnDestroy() {
    ReleaseBackBuffer();
    PostQuitMessage(0);
    return 0;
}

LRESULT OnSize(HWND window) {
    ResizeChart(window, CurrentDocument.view);
    return 0;
}

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PaintChart(window, dc);
    EndPaint(window, &paint);
    return 0;
}

// The chart's legends and labels fit at the smallest size, as far as the
// screen's work area allows.
LRESULT OnGetMinMaxInfo(HWND window, LPARAM lparam) {
    HDC dc = GetDC(window);
    if (!dc) return DefWindowProcA(window, WM_GETMINMAXINFO, 0, lparam);
    const SIZE client = ChartMinimumClientSize(dc);
    ReleaseDC(window, dc);
    RECT frame = {0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongA(window, GWL_STYLE)), TRUE,
                       DWORD(GetWindowLongA(window, GWL_EXSTYLE)));
    RECT work = {0, 0, 0, 0};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(lparam);
    limits->ptMinTrackSize.x = frame.right - frame.left;
    limits->ptMinTrackSize.y = frame.bottom - frame.top;
    if (work.right > work.left && limits->ptMinTrackSize.x > work.right - work.left) {
        limits->ptMinTrackSize.x = work.right - work.left;
    }
    if (work.bottom > work.top && limits->ptMinTrackSize.y > work.bottom - work.top) {
        limits->ptMinTrackSize.y = work.bottom - work.top;
    }
    return 0;
}

LRESULT OnKeyDown(HWND window, WPARAM virtual_key) {
    HandleChartKey(window, virtual_key, CurrentDocument.view);
    return 0;
}

LRESULT OnMouseMove(HWND window, LPARAM lparam) {
    HandleChartPointer(window, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), CurrentDocument.view);
    return 0;
}

LRESULT OnMouseLeave(HWND window) {
    HandleChartPointerLeave(window, CurrentDocument.view);
    return 0;
}

LRESULT OnMouseWheel(HWND window, WPARAM wparam, LPARAM lparam) {
    const WORD keys = GET_KEYSTATE_WPARAM(wparam);
    const int delta = GET_WHEEL_DELTA_WPARAM(wparam);
    if ((keys & (MK_CONTROL | MK_SHIFT)) == 0) {
        HandleChartWheel(window, delta, CurrentDocument.view);
        return 0;
    }
    // The wheel's position comes in screen coordinates.
    POINT at = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    ScreenToClient(window, &at);
    HandleChartTimeWheel(window, delta, (keys & MK_CONTROL) != 0, at.x, CurrentDocument.view);
    return 0;
}

LRESULT OnMouseHorizontalWheel(HWND window, WPARAM wparam) {
    HandleChartHorizontalWheel(window, GET_WHEEL_DELTA_WPARAM(wparam), CurrentDocument.view);
    return 0;
}

LRESULT OnLeftButtonDown(HWND window, LPARAM lparam) {
    if (DocumentReady(CurrentDocument)) {
        HandleChartButtonDown(window, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), CurrentDocument.view);
    }
    return 0;
}

LRESULT OnLeftButtonUp(HWND window, LPARAM lparam) {
    HandleChartButtonUp(window, GET_X_LPARAM(lparam), CurrentDocument.view);
    return 0;
}

LRESULT OnCaptureChanged(HWND window) {
    HandleChartCaptureLost(window, CurrentDocument.view);
    return 0;
}

LRESULT OnCommand(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (LOWORD(wparam)) {
    case IDM_ABOUT:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, SimpleDialogProc, 0);
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    case IDM_LOADFILE:
        RunAnalysis(window, nullptr);
        return 0;
    case IDM_EXPORTCSV:
        ExportWindowsCsv(window);
        return 0;
    case IDM_EXPORTFRAMES:
        ExportFramesCsv(window);
        return 0;
    case IDM_COMPAREWITH:
        RunComparison(window, nullptr);
        return 0;
    case IDM_CLOSECOMPARISON:
        if (DocumentReady(CurrentDocument) && CurrentDocument.comparison.open) {
            CloseComparison(window, CurrentDocument);
            RedrawChart(window, CurrentDocument.view);
        }
        return 0;
    case IDM_SAVECHART:
        SaveChartAs(window);
        return 0;
    case IDM_STATISTICS:
        ShowStatisticsDialog(window);
        return 0;
    case IDM_KEYFRAMES:
        ToggleKeyframes(window);
        return 0;
    case IDM_STREAMS:
        ShowStreamsDialog(window);
        return 0;
    default:
        if (RunTimeViewCommand(window, LOWORD(wparam))) return 0;
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

LRESULT OnDropFiles(HWND window, WPARAM wparam) {
    HDROP drop = reinterpret_cast<HDROP>(wparam);
    const UINT file_count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    // Cleared first: a failed query must not leave the last drop's path, and
    // a conversion that ran out of room may leave the buffer unterminated.
    DroppedFilePath[0] = '\0';
    DragQueryFileA(drop, 0, DroppedFilePath, PATH_BUFFER_SIZE);
    DroppedFilePath[PATH_BUFFER_SIZE - 1] = '\0';
    // The path is ours now; the drop's memory goes back before the run, which
    // may take long and dispatch further drops meanwhile.
    DragFinish(drop);
    // A path that could not be taken whole still runs: the user is told that
    // the file cannot be opened rather than seeing nothing happen. With Ctrl
    // held over a chart, the file is compared with the charted one.
    if (file_count == 0) return 0;
    if ((GetKeyState(VK_CONTROL) & 0x8000) != 0 && DocumentReady(CurrentDocument)) {
        RunComparison(window, DroppedFilePath);
    } else {
        RunAnalysis(window, DroppedFilePath);
    }
    return 0;
}

LRESULT OnOpenCmdLineFile(HWND window) {
    RunAnalysis(window, CmdLinePath);
    return 0;
}

// Where the program's own name ends, as Windows splits a command line: at the
// closing quote of a quoted name, else at the first blank or tab. A '/' inside
// the name (a path written with forward slashes) is not the start of a file.
const char* SkipProgramName(const char* command_line) {
    if (command_line[0] == '"') {
        const char* closing = std::strchr(command_line + 1, '"');
        return closing ? closing + 1 : command_line + std::strlen(command_line);
    }
    return command_line + std::strcspn(command_line, " \t");
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Explorer's "Open with", a drop on the program's icon and most shortcuts
// pass a path without a '/', quoted when it holds blanks. Taken only when it
// names a file that exists, so that any other text starts no run, as before.
int TakeExistingFilePath(const char* text) {
    char path[PATH_BUFFER_SIZE];
    size_t length = 0;
    for (const char* c = text; *c; ++c) {
        if (*c == '"') continue;
        if (length == sizeof path - 1) return 0;  // no file KOV could open
        path[length++] = *c;
    }
    path[length] = '\0';
    size_t start = 0;
    while (IsBlank(path[start])) ++start;
    while (length > start && IsBlank(path[length - 1])) path[--length] = '\0';
    if (start == length) return 0;
    const DWORD attributes = GetFileAttributesA(path + start);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
    std::memcpy(CmdLinePath, path + start, length - start + 1);
    return 1;
}

}  // namespace

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA window_class;
    std::memset(&window_class, 0, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = MainWndProc;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    window_class.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    window_class.lpszClassName = WindowClassName;
    window_class.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    // A failed registration shows up as a failed window creation.
    RegisterClassExA(&window_class);
}

int CreateMainWindow(HINSTANCE instance, int show_command) {
    AppInstance = instance;
    HWND window = CreateWindowExA(0, WindowClassName, WindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                                  0, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, show_command);
    UpdateWindow(window);
    return 1;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy();
    case WM_SIZE:
        return OnSize(window);
    case WM_PAINT:
        return OnPaint(window);
    case WM_ERASEBKGND:
        return 0;  // never erased: the back buffer covers the whole client area
    case WM_SIZING:
        return 0;
    case WM_GETMINMAXINFO:
        return OnGetMinMaxInfo(window, lparam);
    case WM_KEYDOWN:
        return OnKeyDown(window, wparam);
    case WM_MOUSEMOVE:
        return OnMouseMove(window, lparam);
    case WM_MOUSELEAVE:
        return OnMouseLeave(window);
    case WM_MOUSEWHEEL:
        return OnMouseWheel(window, wparam, lparam);
    case WM_MOUSEHWHEEL:
        return OnMouseHorizontalWheel(window, wparam);
    case WM_LBUTTONDOWN:
        return OnLeftButtonDown(window, lparam);
    case WM_LBUTTONUP:
        return OnLeftButtonUp(window, lparam);
    case WM_CAPTURECHANGED:
        return OnCaptureChanged(window);
    case WM_COMMAND:
        return OnCommand(window, message, wparam, lparam);
    case WM_DROPFILES:
        return OnDropFiles(window, wparam);
    case WM_OPENCMDLINEFILE:
        return OnOpenCmdLineFile(window);
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

int TakeCommandLinePath(const char* command_line) {
    CmdLinePath[0] = '\0';
    if (!command_line) return 0;
    const char* after_name = SkipProgramName(command_line);
    const char* slash = std::strchr(after_name, '/');
    if (!slash) return TakeExistingFilePath(after_name);
    // Taken as it stands, blanks included. Only an argument quoted whole
    // ("/D:\my clips\a.rm", as shortcuts and launchers write one with blanks)
    // ends at its closing quote, which is no part of the path.
    const char* text = slash + 1;
    size_t length = std::strlen(text);
    if (slash > after_name && slash[-1] == '"') length = std::strcspn(text, "\"");
    // A longer text is cut short; the analysis then reports that it cannot
    // open it.
    if (length > PATH_BUFFER_SIZE - 1) length = PATH_BUFFER_SIZE - 1;
    std::memcpy(CmdLinePath, text, length);
    CmdLinePath[length] = '\0';
    return CmdLinePath[0] != '\0';
}

int InitMainWindowWithCommandLine(HWND window, const char* command_line) {
    InitChart(window);
    ResetDocument(CurrentDocument);
    // Posted, not run here: the analysis starts once the message loop runs,
    // after the window has been shown.
    if (TakeCommandLinePath(command_line)) PostMessageA(window, WM_OPENCMDLINEFILE, 0, 0);
    return 1;
}

int InitMainWindow(HWND window) { return InitMainWindowWithCommandLine(window, GetCommandLineA()); }

void ShowFileInTitle(HWND window, const char* path) {
    const char* name = path ? FileNameOf(path) : "";
    char title[PATH_BUFFER_SIZE + WINDOW_TEXT_SIZE + 3];
    std::snprintf(title, sizeof title, "%s%s%s", name, name[0] ? " - " : "", WindowTitle);
    SetWindowTextA(window, title);
}

INT_PTR CALLBACK SimpleDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
