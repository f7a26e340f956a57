// The View menu: the Statistics dialog and the Keyframes toggle.
#include "shell/view_menu.h"

#include <memory>
#include <new>

#include "analysis/charted_windows.h"
#include "analysis/figures_text.h"
#include "chart/chart_win32.h"
#include "shell/measured_file.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell/shell.h"

namespace {

// For a text whose own buffer cannot be had: it shows cut short.
char StatisticsFallback[16 * 1024];

// The edit control takes "\r\n" for a line break.
const char EDIT_LINE_END[] = "\r\n";

void CheckKeyframesItem(HWND main_window, bool checked) {
    CheckMenuItem(GetMenu(main_window), IDM_KEYFRAMES, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

// The charted windows' keyframes, from the figures of the measured file.
bool KnowKeyframes(HWND main_window) {
    if (ChartedWindows.keyframes_known) return true;
    const FileFigures* figures = FiguresOfMeasuredFile(main_window);
    return figures && NoteChartedKeyframes(figures->window_keyframes, figures->details.windows_stored);
}

}  // namespace

void ShowStatisticsDialog(HWND main_window) {
    const FileFigures* figures = FiguresOfMeasuredFile(main_window);
    if (!figures) return;
    const size_t needed = FormatFiguresText(*figures, EDIT_LINE_END, nullptr, 0);
    std::unique_ptr<char[]> own(new (std::nothrow) char[needed + 1]);
    char* text = own ? own.get() : StatisticsFallback;
    FormatFiguresText(*figures, EDIT_LINE_END, text, own ? needed + 1 : sizeof StatisticsFallback);
    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_STATISTICS), main_window, StatisticsDialogProc,
                    reinterpret_cast<LPARAM>(text));
}

INT_PTR CALLBACK StatisticsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        HWND text = GetDlgItem(dialog, IDC_STATISTICS_TEXT);
        // A file with many streams makes a text longer than an edit
        // control's default limit.
        SendMessageA(text, EM_SETLIMITTEXT, 0, 0);
        SetWindowTextA(text, reinterpret_cast<const char*>(lparam));
        // The caret at the start, nothing selected: the dialog manager
        // would select the whole text when it gives the edit the focus.
        SetFocus(text);
        SendMessageA(text, EM_SETSEL, 0, 0);
        return FALSE;
    }
    // Closed by its button or Esc, as the About box is.
    return SimpleDialogProc(dialog, message, wparam, lparam);
}

void ToggleKeyframes(HWND main_window) {
    if (!FileMeasured() || AnalysisRunUnderWay()) return;
    if (ChartMarks.keyframes) {
        ChartMarks.keyframes = 0;
    } else {
        if (!KnowKeyframes(main_window) || !IsWindow(main_window)) return;
        ChartMarks.keyframes = 1;
    }
    CheckKeyframesItem(main_window, ChartMarks.keyframes != 0);
    RedrawChart(main_window);
}

void ShowKeyframesOfNewFile(HWND main_window) {
    if (!ChartMarks.keyframes) return;
    const bool known = KnowKeyframes(main_window);
    if (!IsWindow(main_window)) return;
    if (known) {
        RedrawChart(main_window);
    } else {
        ChartMarks.keyframes = 0;
        CheckKeyframesItem(main_window, false);
    }
}
