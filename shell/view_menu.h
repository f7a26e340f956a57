// The View menu: the Statistics dialog with the charted file's figures, the
// Keyframes toggle, which marks the charted windows that hold one, the time
// zoom, the plots of frames and GOPs, and the moving average.
#ifndef KOV_SHELL_VIEW_MENU_H
#define KOV_SHELL_VIEW_MENU_H

#include <windows.h>

// View > Statistics...: the figures as text to select and copy, in a modal
// dialog owned by the main window.
void ShowStatisticsDialog(HWND main_window);
INT_PTR CALLBACK StatisticsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// View > Streams...: the charted file's streams (measured on first use),
// each with a check box, and the whole file; the checked ones are drawn.
void ShowStreamsDialog(HWND main_window);
INT_PTR CALLBACK StreamsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// View > Keyframes: turns the ticks on or off.
void ToggleKeyframes(HWND main_window);

// The View menu's time zoom and plots: a command of IDM_ZOOMIN to
// IDM_MOVINGAVERAGE_NEXT, run on the charted file. False for any other.
bool RunTimeViewCommand(HWND main_window, UINT command);

#endif
