// The run driver: what the main window calls to measure one file and show
// how the run ended, and to read the figures of the measured file.
#ifndef KOV_SHELL_RUN_DRIVER_H
#define KOV_SHELL_RUN_DRIVER_H

#include <windows.h>

#include "analysis/analysis_run.h"

const int WAIT_DIALOG_WIDTH = 250;
const int WAIT_DIALOG_HEIGHT = 60;

// One run: wait dialog around AnalyzeFile, then chart or message box; a
// charted file's measurement goes to CurrentDocument. A request made while a
// run is under way (the run's own pump delivers drops, menu commands and the
// start message) is ignored.
void RunAnalysis(HWND main_window, const char* path);

// File > Compare With... and a drop with Ctrl held: a second file measured
// as a run is (the Open dialog when `path` is null, the wait dialog, the
// usual boxes) and drawn beside the charted one; one that cannot be charted
// leaves the chart as it was. Only once a chart is drawn, never during a run.
void RunComparison(HWND main_window, const char* path);

// View > Streams...: every stream of the charted file measured, with the
// wait dialog, once per charted file. False, after the result's box, when
// the file could not be read again.
bool MeasureEveryStream(HWND main_window);

// Where the wait dialog goes: centred on the main window's outer rectangle.
POINT WaitDialogPosition(const RECT& main_window_rect);

// The end of a run: statistics and redraw, and/or the result's message box;
// with `details`, also how a charted file ended: a box when the chart could
// not hold the whole video, and one when the file is damaged. Shows and draws
// nothing when the main window is gone.
void ReportAnalysisResult(HWND main_window, AnalysisResult result, const AnalysisDetails* details = nullptr);

#endif
