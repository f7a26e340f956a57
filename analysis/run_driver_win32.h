// The run driver's parts below RunAnalysis (declared in analysis_win32.h).
#ifndef KOV_ANALYSIS_RUN_DRIVER_WIN32_H
#define KOV_ANALYSIS_RUN_DRIVER_WIN32_H

#include <windows.h>

#include "analysis/analysis_run.h"

const int WAIT_DIALOG_WIDTH = 250;
const int WAIT_DIALOG_HEIGHT = 60;

// Where the wait dialog goes: centred on the main window's outer rectangle.
POINT WaitDialogPosition(const RECT& main_window_rect);

// Step 6 of a run: statistics and redraw, and/or the result's message box;
// with `details`, also how a charted file ended: a box when the chart could
// not hold the whole video, and one when the file is damaged. Shows and draws
// nothing when the main window is gone.
void ReportAnalysisResult(HWND main_window, AnalysisResult result, const AnalysisDetails* details = nullptr);

// Nonzero while RunAnalysis is under way (its message box included).
int AnalysisRunUnderWay();

#endif
