// The application shell: the main window's class, window and procedure, the
// dialog procedure of the About box and the wait dialog, the command line and
// dropped files.
#ifndef KOV_SHELL_SHELL_H
#define KOV_SHELL_SHELL_H

#include <windows.h>

#include "analysis/media_file.h"

const int WINDOW_TEXT_SIZE = 100;

// Posted by the shell to its own window when the command line names a file;
// it starts the analysis of CmdLinePath once the message loop runs.
const UINT WM_OPENCMDLINEFILE = WM_USER + 26;

extern HINSTANCE AppInstance;
extern char WindowTitle[WINDOW_TEXT_SIZE];
extern char WindowClassName[WINDOW_TEXT_SIZE];
// The file the command line names (see TakeCommandLinePath); empty when none.
extern char CmdLinePath[PATH_BUFFER_SIZE];
// Path of the first file of the last drop.
extern char DroppedFilePath[PATH_BUFFER_SIZE];

void RegisterMainWindowClass(HINSTANCE instance);
// 1 when the window exists (shown and updated), else 0.
int CreateMainWindow(HINSTANCE instance, int show_command);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK SimpleDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The title bar names the charted file: "demo.rm - " before the window's
// own title; the title alone for no file (null or empty).
void ShowFileInTitle(HWND window, const char* path);

// The work of WM_CREATE, reading GetCommandLineA(). Returns 1.
int InitMainWindow(HWND window);
// The same with the command line given, so it can be exercised with any text.
int InitMainWindowWithCommandLine(HWND window, const char* command_line);
// Fills CmdLinePath with everything after the first '/' that follows the
// program's own name, unchanged (an argument quoted whole, "/path", without
// its quotes), cut to PATH_BUFFER_SIZE - 1 bytes if longer. Without a '/',
// with the text after the program's name when, its quotes removed and the
// blanks around it trimmed, it names an existing file (not a folder), as
// Explorer's "Open with" passes one; empty otherwise. Returns nonzero when
// CmdLinePath is not empty.
int TakeCommandLinePath(const char* command_line);

#endif
