// The analysis run's Win32 side: the Open dialog, the pending flag, the wait
// dialog's showing and the message pump around the portable measurement.
#ifndef KOV_ANALYSIS_ANALYSIS_WIN32_H
#define KOV_ANALYSIS_ANALYSIS_WIN32_H

#include <windows.h>

#include "analysis/analysis_run.h"

// A path in UTF-8, the process code page: up to 780 bytes for the 260 UTF-16
// units Windows allows.
const int OPEN_FILE_PATH_SIZE = 780;

// The Open dialog's file buffer; never cleared, so the dialog starts at the
// last chosen path.
extern char OpenFilePath[OPEN_FILE_PATH_SIZE];
// The wait dialog of the current run, shown once a file is known; the run
// driver creates and destroys it.
extern HWND WaitDialog;

// Nonzero when the user picked a file (now in OpenFilePath).
int ChooseMediaFile(HWND owner);
// One run: pending flag, Open dialog when path is null, wait dialog, pump,
// and the portable measurement. `details`, when given, learns how the run
// ended (all zero when it never measured).
AnalysisResult AnalyzeFile(HWND main_window, const char* path, AnalysisDetails* details = nullptr);
// Dispatches every pending message; returns 0 when it took a quit request
// from the queue (it is posted again, so the message loop still sees it).
int PumpPendingMessages(void* context);

#endif
