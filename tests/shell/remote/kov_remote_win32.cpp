// kov_remote: drives KOV.EXE from outside its process, as a user or the
// system would, for the end-to-end checks.
//
//   kov_remote start COMMAND_LINE   starts a program with exactly this command
//                                   line and ends with its exit code
//   kov_remote open PATH            File > LoadFile in the running KOV: types
//                                   PATH into the Open dialog and presses Open
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

}  // namespace

int main() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 3) {
        std::fprintf(stderr, "usage: kov_remote start COMMAND_LINE | open PATH\n");
        return 2;
    }
    int status = 2;
    if (std::wcscmp(args[1], L"start") == 0) {
        status = Start(args[2]);
    } else if (std::wcscmp(args[1], L"open") == 0) {
        status = Open(args[2]);
    } else {
        std::fprintf(stderr, "kov_remote: unknown command\n");
    }
    LocalFree(args);
    return status;
}
