// The process entry, on its own so that tests can link the rest of the shell.
#include <windows.h>

#include "shell/resource.h"
#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
    LoadStringA(instance, IDS_APP_TITLE, WindowTitle, WINDOW_TEXT_SIZE);
    LoadStringA(instance, IDS_WINDOWCLASS, WindowClassName, WINDOW_TEXT_SIZE);
    RegisterMainWindowClass(instance);
    if (!CreateMainWindow(instance, show_command)) return 0;

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    MSG message;
    message.wParam = 0;
    // GetMessageA returns -1 on an error; looping on it would never end.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
