// The run driver: the wait dialog around one analysis run, then the chart or
// the result's message box. The only place where a run's end reaches the user.
#include "analysis/run_driver_win32.h"

#include "analysis/analysis_win32.h"
#include "analysis/result_messages.h"
#include "analysis/series_statistics.h"
#include "chart/chart_win32.h"
#include "shell/resource.h"
#include "shell/shell.h"

namespace {

// The pump re-enters the window procedure during a run, so a drop, the menu
// or the start message can ask for a second run while one is under way. The
// series, WaitDialog and the parser belong to the run under way: such a
// request is dropped.
int RunInProgress = 0;

}  // namespace

POINT WaitDialogPosition(const RECT& main_window_rect) {
    const int width = main_window_rect.right - main_window_rect.left;
    const int height = main_window_rect.bottom - main_window_rect.top;
    POINT position;
    position.x = main_window_rect.left + (width - WAIT_DIALOG_WIDTH) / 2;
    position.y = main_window_rect.top + (height - WAIT_DIALOG_HEIGHT) / 2;
    return position;
}

void ReportAnalysisResult(HWND main_window, AnalysisResult result) {
    if (result == ANALYSIS_CANCELLED) return;
    // Closed during the run: there is no chart to draw and no one to tell.
    if (!IsWindow(main_window)) return;
    if (result == ANALYSIS_OK || result == ANALYSIS_FRAME_GAP) {
        if (ComputeSeriesStatistics() == 1) RedrawChart(main_window);
    }
    const AnalysisResultMessage* message = FindResultMessage(result);
    if (message) MessageBoxA(main_window, message->text, message->caption, MB_OK);
}

int AnalysisRunUnderWay() { return RunInProgress; }

void RunAnalysis(HWND main_window, const char* path) {
    if (RunInProgress) return;
    RunInProgress = 1;

    RECT frame = {0, 0, 0, 0};
    GetWindowRect(main_window, &frame);
    HWND dialog = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_WAIT), main_window, SimpleDialogProc, 0);
    WaitDialog = dialog;
    const POINT position = WaitDialogPosition(frame);
    SetWindowPos(dialog, nullptr, position.x, position.y, WAIT_DIALOG_WIDTH, WAIT_DIALOG_HEIGHT,
                 SWP_NOZORDER | SWP_HIDEWINDOW);

    const AnalysisResult result = AnalyzeFile(main_window, path);

    // An owned dialog dies with its owner, so it may be gone already.
    if (dialog && IsWindow(dialog)) DestroyWindow(dialog);
    WaitDialog = nullptr;

    ReportAnalysisResult(main_window, result);
    RunInProgress = 0;
}
