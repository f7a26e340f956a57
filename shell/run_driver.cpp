// The run driver: the wait dialog around one analysis run, then the chart or
// the result's message box. The only place where a run's end reaches the user.
#include "shell/run_driver.h"

#include <cstring>

#include <utility>

#include "analysis/result_messages.h"
#include "chart/chart_win32.h"
#include "chart/series_statistics.h"
#include "shell/analyze_file.h"
#include "shell/document.h"
#include "shell/message_box.h"
#include "shell/resource.h"
#include "shell/shell.h"

namespace {

void ShowLongVideoBox(HWND main_window, const AnalysisDetails& details) {
    char charted[32];
    FormatHoursMinutes(details.charted_until_ms, charted, sizeof charted);
    const char* values[] = {charted};
    ShowStringTableBox(main_window, IDS_LONG_VIDEO, IDS_LONG_VIDEO_CAPTION, MB_ICONINFORMATION, values, 1);
}

void ShowDamageBox(HWND main_window, const AnalysisDetails& details) {
    char time[32];
    char offset[32];
    FormatMinutesSeconds(details.has_last_timestamp ? details.last_timestamp_ms : 0, time, sizeof time);
    FormatThousands(details.damage_offset, offset, sizeof offset);
    const char* values[] = {time, offset};
    // After a full series the chart ends before the damage, and says so in
    // its own box; this one then only tells where the file breaks. Before the
    // first window is complete there is no chart to speak of.
    UINT text_id = details.series_full ? IDS_DAMAGED_BEYOND_CHART : IDS_DAMAGED_FILE;
    if (details.empty_chart == EMPTY_DAMAGED) {
        text_id = details.has_last_timestamp ? IDS_DAMAGED_BEFORE_WINDOW : IDS_DAMAGED_BEFORE_VIDEO;
    }
    ShowStringTableBox(main_window, text_id, IDS_DAMAGED_FILE_CAPTION, MB_ICONWARNING, values, 2);
}

// Why a chart without damage holds no window.
void ShowEmptyChartBox(HWND main_window, EmptyChart reason) {
    UINT text_id = 0;
    switch (reason) {
    case EMPTY_NO_PACKETS:
        text_id = IDS_NO_VIDEO_PACKETS;
        break;
    case EMPTY_STARTS_LATE:
        text_id = IDS_VIDEO_STARTS_LATE;
        break;
    case EMPTY_TOO_SHORT:
        text_id = IDS_VIDEO_TOO_SHORT;
        break;
    default:
        return;  // damage says so in its own box
    }
    ShowStringTableBox(main_window, text_id, IDS_EMPTY_CHART_CAPTION, MB_ICONINFORMATION, nullptr, 0);
}

// The wait dialog of one run: created hidden, centred on the main window,
// and destroyed with the guard (an owned dialog dies with its owner, so it
// may be gone already).
class WaitDialogScope {
public:
    explicit WaitDialogScope(HWND main_window) {
        RECT frame = {0, 0, 0, 0};
        GetWindowRect(main_window, &frame);
        dialog_ = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_WAIT), main_window, SimpleDialogProc, 0);
        WaitDialog = dialog_;
        const POINT position = WaitDialogPosition(frame);
        SetWindowPos(dialog_, nullptr, position.x, position.y, WAIT_DIALOG_WIDTH, WAIT_DIALOG_HEIGHT,
                     SWP_NOZORDER | SWP_HIDEWINDOW);
    }
    ~WaitDialogScope() {
        if (dialog_ && IsWindow(dialog_)) DestroyWindow(dialog_);
        WaitDialog = nullptr;
    }
    WaitDialogScope(const WaitDialogScope&) = delete;
    WaitDialogScope& operator=(const WaitDialogScope&) = delete;

private:
    HWND dialog_;
};

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
    const bool charted = ResultIsCharted(result);
    if (charted && ComputeSeriesStatistics() == 1) RedrawChart(main_window, CurrentDocument.view);
    // The chart first, then the boxes in the order their causes lie in the
    // file: where the chart ends, a gap, the damage.
    if (charted && details && details->series_full) ShowLongVideoBox(main_window, *details);
    const AnalysisResultMessage* message = FindResultMessage(result);
    if (message) MessageBoxA(main_window, message->text, message->caption, MB_OK);
    if (charted && details && details->ending == DATA_END_DAMAGED) ShowDamageBox(main_window, *details);
    if (charted && details) ShowEmptyChartBox(main_window, details->empty_chart);
}

namespace {

// A run the user asked for: the busy flag, the path kept, the wait window,
// the measurement, then `keep` for a charted result and the boxes.
template <class MeasureFn, class KeepFn>
void RunMeasured(HWND main_window, const char* path, MeasureFn measure, KeepFn keep) {
    Document& document = CurrentDocument;
    document.busy = true;
    // The pump may rewrite the buffer a dropped path lives in; the measured
    // file is the one the run was given. A path that does not fit names no
    // file the measurement can be said to come from.
    char run_path[PATH_BUFFER_SIZE] = "";
    if (path && std::strlen(path) < sizeof run_path) std::strcpy(run_path, path);

    Measurement measurement;
    AnalysisResult result;
    {
        const WaitDialogScope wait(main_window);
        result = measure(&measurement);
    }

    // Without a path the Open dialog chose the file, and nothing else writes
    // its buffer while a run is under way. The measurement goes to the
    // document before the redraw, which draws its windows' marks.
    const AnalysisDetails details = measurement.details;
    if (ResultIsCharted(result) && IsWindow(main_window)) keep(path ? run_path : OpenFilePath, std::move(measurement));
    ReportAnalysisResult(main_window, result, &details);
    document.busy = false;
}

}  // namespace

void RunAnalysis(HWND main_window, const char* path) {
    Document& document = CurrentDocument;
    if (document.busy) return;
    RunMeasured(
        main_window, path, [&](Measurement* m) { return AnalyzeFile(main_window, path, m); },
        [&](const char* kept_path, Measurement&& m) {
            // A run that draws no chart leaves the last one, and its name, standing.
            KeepChartedMeasurement(main_window, document, kept_path, std::move(m));
            ShowFileInTitle(main_window, document.path);
        });
}

// The charted file's series is untouched: its figures come out the same.
void RunComparison(HWND main_window, const char* path) {
    Document& document = CurrentDocument;
    if (!DocumentReady(document)) return;
    RunMeasured(
        main_window, path,
        [&](Measurement* m) {
            return AnalyzeOtherMeasurement(main_window, path, IDS_COMPARE_TITLE, MeasureOptions(), m);
        },
        [&](const char* kept_path, Measurement&& m) {
            KeepComparison(main_window, document, kept_path, std::move(m));
        });
}

bool MeasureEveryStream(HWND main_window) {
    Document& document = CurrentDocument;
    if (!DocumentReady(document) || document.path[0] == '\0') return false;
    document.busy = true;
    Measurement measurement;
    AnalysisResult result;
    {
        const WaitDialogScope wait(main_window);
        MeasureOptions options;
        options.every_stream = true;
        options.whole_file = true;
        result = AnalyzeOtherMeasurement(main_window, document.path, 0, options, &measurement);
    }
    const bool kept = !measurement.stream_windows.empty() && IsWindow(main_window);
    if (kept) {
        KeepStreamsMeasurement(document, std::move(measurement));
    } else if (result != ANALYSIS_CANCELLED && IsWindow(main_window)) {
        // The file went since it was charted, or changed into no RealMedia file.
        const AnalysisResultMessage* message = FindResultMessage(result == ANALYSIS_OK ? ANALYSIS_OPEN_FAILED : result);
        if (message) MessageBoxA(main_window, message->text, message->caption, MB_OK);
    }
    document.busy = false;
    return kept;
}
