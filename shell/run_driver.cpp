// The run driver: the wait dialog around one analysis run, then the chart or
// the result's message box. The only place where a run's end reaches the user.
#include "shell/run_driver.h"

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

const int BOX_TEXT_SIZE = 512;
const int BOX_CAPTION_SIZE = 100;

// A text of the string table; empty when it is missing.
void LoadText(UINT id, char* out, int size) {
    if (LoadStringA(AppInstance, id, out, size) <= 0) out[0] = '\0';
}

// One box of the ending, its text made from a template of the string table.
void ShowEndingBox(HWND main_window, UINT text_id, UINT caption_id, UINT icon, const char* const* values,
                   size_t value_count) {
    char text_template[BOX_TEXT_SIZE];
    char text[BOX_TEXT_SIZE];
    char caption[BOX_CAPTION_SIZE];
    LoadText(text_id, text_template, sizeof text_template);
    LoadText(caption_id, caption, sizeof caption);
    FillTextTemplate(text_template, values, value_count, text, sizeof text);
    MessageBoxA(main_window, text, caption, MB_OK | icon);
}

void ShowLongVideoBox(HWND main_window, const AnalysisDetails& details) {
    char charted[32];
    FormatHoursMinutes(details.charted_until_ms, charted, sizeof charted);
    const char* values[] = {charted};
    ShowEndingBox(main_window, IDS_LONG_VIDEO, IDS_LONG_VIDEO_CAPTION, MB_ICONINFORMATION, values, 1);
}

void ShowDamageBox(HWND main_window, const AnalysisDetails& details) {
    char time[32];
    char offset[32];
    FormatMinutesSeconds(details.has_last_timestamp ? details.last_timestamp_ms : 0, time, sizeof time);
    FormatThousands(details.damage_offset, offset, sizeof offset);
    const char* values[] = {time, offset};
    // After a full series the chart ends before the damage, and says so in
    // its own box; this one then only tells where the file breaks.
    const UINT text_id = details.series_full ? IDS_DAMAGED_BEYOND_CHART : IDS_DAMAGED_FILE;
    ShowEndingBox(main_window, text_id, IDS_DAMAGED_FILE_CAPTION, MB_ICONWARNING, values, 2);
}

}  // namespace

POINT WaitDialogPosition(const RECT& main_window_rect) {
    const int width = main_window_rect.right - main_window_rect.left;
    const int height = main_window_rect.bottom - main_window_rect.top;
    POINT position;
    position.x = main_window_rect.left + (width - WAIT_DIALOG_WIDTH) / 2;
    position.y = main_window_rect.top + (height - WAIT_DIALOG_HEIGHT) / 2;
    return position;
}

void ReportAnalysisResult(HWND main_window, AnalysisResult result, const AnalysisDetails* details) {
    if (result == ANALYSIS_CANCELLED) return;
    // Closed during the run: there is no chart to draw and no one to tell.
    if (!IsWindow(main_window)) return;
    const bool charted = result == ANALYSIS_OK || result == ANALYSIS_FRAME_GAP;
    if (charted) {
        if (ComputeSeriesStatistics() == 1) RedrawChart(main_window);
    }
    // The chart first, then the boxes in the order their causes lie in the
    // file: where the chart ends, a gap, the damage.
    if (charted && details && details->series_full) ShowLongVideoBox(main_window, *details);
    const AnalysisResultMessage* message = FindResultMessage(result);
    if (message) MessageBoxA(main_window, message->text, message->caption, MB_OK);
    if (charted && details && details->ending == DATA_END_DAMAGED) ShowDamageBox(main_window, *details);
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

    AnalysisDetails details;
    const AnalysisResult result = AnalyzeFile(main_window, path, &details);

    // An owned dialog dies with its owner, so it may be gone already.
    if (dialog && IsWindow(dialog)) DestroyWindow(dialog);
    WaitDialog = nullptr;

    ReportAnalysisResult(main_window, result, &details);
    RunInProgress = 0;
}
