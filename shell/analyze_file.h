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

// Nonzero when the user picked a file (now in OpenFilePath); the dialog
// carries the string `title` when given.
int ChooseMediaFile(HWND owner, UINT title = 0);
// One run: pending flag, Open dialog when path is null, wait dialog, pump,
// and the measurement, which fills BitrateSeries. `measurement`, when given,
// gets the file's measurement (an empty one when nothing was measured).
AnalysisResult AnalyzeFile(HWND main_window, const char* path, Measurement* measurement = nullptr);
// The same for another measurement than the chart's: of a file to compare
// with the charted one, or of every stream of the charted one, as `options`
// say (their pump is this run's); BitrateSeries, the charted file's, is left
// as it is. The Open dialog carries `title` (a string id).
AnalysisResult AnalyzeOtherMeasurement(HWND main_window, const char* path, UINT title, MeasureOptions options,
                                       Measurement* measurement);
// Dispatches every pending message; returns 0 when it took a quit request
// from the queue (it is posted again, so the message loop still sees it).
int PumpPendingMessages(void* context);

#endif
