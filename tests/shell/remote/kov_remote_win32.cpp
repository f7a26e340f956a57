// kov_remote: drives KOV.EXE from outside its process, as a user or the
// system would, for the end-to-end checks.
//
//   kov_remote start COMMAND_LINE   starts a program with exactly this command
//                                   line and ends with its exit code
//   kov_remote open PATH            File > LoadFile in the running KOV: types
//                                   PATH into the Open dialog and presses Open
//   kov_remote setup SETUP_EXE      runs a setup program as a user would: on
//                                   each page prints its visible texts, then
//                                   presses the default button (I Agree,
//                                   Install, Finish) once it is enabled, but
//                                   not on the progress page, which moves on
//                                   by itself; ends with the setup's exit code
//
// Arguments are read as UTF-16, so a path may hold any character.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "shell/resource.h"

namespace {

const int EXIT_FAILED = 90;

int Fail(const char* what) {
    std::fprintf(stderr, "kov_remote: %s (error %lu)\n", what, GetLastError());
    return EXIT_FAILED;
}

int Start(const wchar_t* command_line) {
    std::wstring line = command_line;  // CreateProcessW may write into it
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return Fail("cannot start the program");
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = EXIT_FAILED;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

// Polls for up to `seconds` until FindWindowW finds the window.
HWND WaitForWindow(const wchar_t* class_name, const wchar_t* title, int seconds) {
    for (int tries = 0; tries < seconds * 10; ++tries) {
        HWND window = FindWindowW(class_name, title);
        if (window && IsWindowVisible(window)) return window;
        Sleep(100);
    }
    return nullptr;
}

int Open(const wchar_t* path) {
    HWND kov = WaitForWindow(L"Quillet", nullptr, 30);
    if (!kov) return Fail("no KOV window");
    PostMessageW(kov, WM_COMMAND, IDM_LOADFILE, 0);
    HWND dialog = WaitForWindow(L"#32770", L"Open a Media file.", 30);
    if (!dialog) return Fail("no Open dialog");
    Sleep(300);  // let the dialog fill its controls
    // The file-name box: a combo box (cmb13) in the Explorer-style dialog, an
    // edit (edt1) in the old one.
    HWND name_box = GetDlgItem(dialog, 0x47c);
    if (!name_box) name_box = GetDlgItem(dialog, 0x480);
    if (!name_box) return Fail("no file-name box in the Open dialog");
    SendMessageW(name_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int tries = 0; tries < 300 && IsWindow(dialog); ++tries) Sleep(100);
    if (IsWindow(dialog)) return Fail("the Open dialog did not close");
    return 0;
}

// The setup's visible top-level dialog, found through its process.
struct SetupWindowSearch {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK FindSetupWindow(HWND window, LPARAM lparam) {
    SetupWindowSearch* search = reinterpret_cast<SetupWindowSearch*>(lparam);
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    wchar_t class_name[16] = L"";
    GetClassNameW(window, class_name, 16);
    if (process_id == search->process_id && IsWindowVisible(window) && std::wcscmp(class_name, L"#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// One line per visible control: its class, id and text; a check box's text
// after "[x] " or "[ ] ".
BOOL CALLBACK AddControlText(HWND control, LPARAM lparam) {
    if (!IsWindowVisible(control)) return TRUE;
    wchar_t class_name[64] = L"";
    GetClassNameW(control, class_name, 64);
    std::wstring text(GetWindowTextLengthW(control) + 1, L'\0');
    GetWindowTextW(control, &text[0], int(text.size()));
    text.resize(std::wcslen(text.c_str()));
    const LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    if (_wcsicmp(class_name, L"Button") == 0 && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX)) {
        text = (SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? L"[x] " : L"[ ] ") + text;
    }
    std::string* lines = reinterpret_cast<std::string*>(lparam);
    char id[16];
    std::snprintf(id, sizeof id, "%d", GetDlgCtrlID(control));
    *lines += Utf8(class_name) + "\t" + id + "\t" + Utf8(text) + "\n";
    return TRUE;
}

int Setup(const wchar_t* setup) {
    std::wstring line = std::wstring(L"\"") + setup + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return Fail("cannot start the setup program");
    }
    std::string shown;     // the page last printed
    std::string settling;  // the page as last read
    int page = 0;
    // At most five minutes for the whole setup.
    for (int tries = 0; tries < 3000 && WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT; ++tries) {
        SetupWindowSearch search = {process.dwProcessId, nullptr};
        EnumWindows(FindSetupWindow, reinterpret_cast<LPARAM>(&search));
        HWND button = search.found ? GetDlgItem(search.found, IDOK) : nullptr;
        if (!button || !IsWindowEnabled(button) || !IsWindowVisible(button)) continue;
        std::string texts;
        EnumChildWindows(search.found, AddControlText, reinterpret_cast<LPARAM>(&texts));
        if (texts == shown) continue;  // the last press has not changed the page yet
        // The page of the install's progress moves on by itself once done;
        // a press then would land on the next page unseen.
        if (texts.find("msctls_progress32\t") != std::string::npos) continue;
        // A page still being filled in reads differently a moment later.
        if (texts != settling) {
            settling = texts;
            continue;
        }
        shown = texts;
        std::printf("page %d\n%s", ++page, texts.c_str());
        std::fflush(stdout);
        PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    DWORD exit_code = EXIT_FAILED;
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &exit_code);
    } else {
        std::fprintf(stderr, "kov_remote: the setup program did not end\n");
        TerminateProcess(process.hProcess, EXIT_FAILED);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 3) {
        std::fprintf(stderr, "usage: kov_remote start COMMAND_LINE | open PATH | setup SETUP_EXE\n");
        return 2;
    }
    int status = 2;
    if (std::wcscmp(args[1], L"start") == 0) {
        status = Start(args[2]);
    } else if (std::wcscmp(args[1], L"open") == 0) {
        status = Open(args[2]);
    } else if (std::wcscmp(args[1], L"setup") == 0) {
        status = Setup(args[2]);
    } else {
        std::fprintf(stderr, "kov_remote: unknown command\n");
    }
    LocalFree(args);
    return status;
}
