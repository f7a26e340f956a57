// One analysis run as the window makes it: the pending flag, the Open
// dialog, the wait dialog's showing and the message pump around the
// measurement of a file.
#ifndef KOV_SHELL_ANALYZE_FILE_H
#define KOV_SHELL_ANALYZE_FILE_H

#include <windows.h>

#include "analysis/measurement.h"
#include "analysis/media_file.h"

// The Open dialog's file buffer; never cleared, so the dialog starts at the
// last chosen path.
extern char OpenFilePath[PATH_BUFFER_SIZE];
// The wait dialog of the current run, shown once a file is known; the run
// driver creates and destroys it.
extern HWND WaitDialog;

// Nonzero when the user picked a file (now in OpenFilePath).
int ChooseMediaFile(HWND owner);
// One run: pending flag, Open dialog when path is null, wait dialog, pump,
// and the measurement, which fills BitrateSeries. `measurement`, when given,
// gets the file's measurement (an empty one when nothing was measured).
AnalysisResult AnalyzeFile(HWND main_window, const char* path, Measurement* measurement = nullptr);
// Dispatches every pending message; returns 0 when it took a quit request
// from the queue (it is posted again, so the message loop still sees it).
int PumpPendingMessages(void* context);

#endif
