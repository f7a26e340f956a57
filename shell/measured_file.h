// The last measured file: its path, the menu items that need one, and its
// figures, read once on demand and kept until the next run.
#ifndef KOV_SHELL_MEASURED_FILE_H
#define KOV_SHELL_MEASURED_FILE_H

#include <windows.h>

#include "analysis/file_figures.h"

// A run drew the chart of `path`: its figures are not read yet, and the
// items that need a measured file are enabled.
void NoteMeasuredFile(HWND main_window, const char* path);

// A new main window has measured nothing yet.
void ForgetMeasuredFile();

// Nonzero once a run has drawn a chart in this window.
int FileMeasured();
// The path of the last measured file; empty before the first.
const char* MeasuredFilePath();

// The figures of the last measured file, read first (behind the wait dialog)
// when they are not yet. Null when no file has been measured, when a run or
// read is under way (the request is refused, as a run's is), when the window
// closed meanwhile, or when the file is no longer the one charted: changed
// since or unreadable, which a box then says.
const FileFigures* FiguresOfMeasuredFile(HWND main_window);

#endif
