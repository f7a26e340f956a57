// The View menu: the Statistics dialog and the Keyframes toggle.
#include "shell/view_menu.h"

#include <memory>
#include <new>

#include "analysis/figures_text.h"
#include "chart/chart_win32.h"
#include "shell/document.h"
#include "shell/resource.h"
#include "shell/shell.h"

namespace {

// For a text whose own buffer cannot be had: it shows cut short.
char StatisticsFallback[16 * 1024];

// The edit control takes "\r\n" for a line break.
const char EDIT_LINE_END[] = "\r\n";

void CheckKeyframesItem(HWND main_window, bool checked) {
    CheckMenuItem(GetMenu(main_window), IDM_KEYFRAMES, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace

void ShowStatisticsDialog(HWND main_window) {
    if (!DocumentReady(CurrentDocument)) return;
    const Measurement& figures = CurrentDocument.measurement;
    const size_t needed = FormatFiguresText(figures, EDIT_LINE_END, nullptr, 0);
    std::unique_ptr<char[]> own(new (std::nothrow) char[needed + 1]);
    char* text = own ? own.get() : StatisticsFallback;
    FormatFiguresText(figures, EDIT_LINE_END, text, own ? needed + 1 : sizeof StatisticsFallback);
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
    if (!DocumentReady(CurrentDocument)) return;
    ChartView& view = CurrentDocument.view;
    view.keyframes = !view.keyframes;
    CheckKeyframesItem(main_window, view.keyframes);
    RedrawChart(main_window, view);
}
