// The View menu: the Statistics dialog, the Keyframes toggle, the time zoom and the other plots.
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

void CheckItem(HWND main_window, UINT item, bool checked) {
    CheckMenuItem(GetMenu(main_window), item, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

const double KEY_ZOOM_FACTOR = 2.0;
const double KEY_PAN_FRACTION = 0.1;

// The spans of View > Moving Average, in the menu's order.
struct MovingAverageItem {
    UINT command;
    uint32_t span_ms;
};
const MovingAverageItem MOVING_AVERAGE_ITEMS[] = {
    {IDM_MOVINGAVERAGE_OFF, 0},     {IDM_MOVINGAVERAGE_2S, 2000},   {IDM_MOVINGAVERAGE_5S, 5000},
    {IDM_MOVINGAVERAGE_10S, 10000}, {IDM_MOVINGAVERAGE_30S, 30000},
};
const size_t MOVING_AVERAGE_ITEM_COUNT = sizeof MOVING_AVERAGE_ITEMS / sizeof MOVING_AVERAGE_ITEMS[0];

// Frames and GOPs are plots of their own: choosing one again is the bitrate.
void ShowKind(HWND main_window, ChartKind kind) {
    ChartView& view = CurrentDocument.view;
    view.kind = view.kind == kind ? CHART_BITRATE : kind;
    CheckItem(main_window, IDM_FRAMES, view.kind == CHART_FRAMES);
    CheckItem(main_window, IDM_GOPS, view.kind == CHART_GOPS);
    RedrawChart(main_window, view);
}

// The moving average is a setting, not a file's: it can be chosen before
// any file is charted, and holds for the next.
void ShowMovingAverage(HWND main_window, size_t item) {
    SetDocumentMovingAverage(CurrentDocument, MOVING_AVERAGE_ITEMS[item].span_ms);
    const MovingAverageItem& first = MOVING_AVERAGE_ITEMS[0];
    const MovingAverageItem& last = MOVING_AVERAGE_ITEMS[MOVING_AVERAGE_ITEM_COUNT - 1];
    CheckMenuRadioItem(GetMenu(main_window), first.command, last.command, MOVING_AVERAGE_ITEMS[item].command,
                       MF_BYCOMMAND);
    if (CurrentDocument.measured) RedrawChart(main_window, CurrentDocument.view);
}

size_t MovingAverageItemOf(uint32_t span_ms) {
    for (size_t i = 0; i < MOVING_AVERAGE_ITEM_COUNT; ++i) {
        if (MOVING_AVERAGE_ITEMS[i].span_ms == span_ms) return i;
    }
    return 0;
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
    CheckItem(main_window, IDM_KEYFRAMES, view.keyframes);
    RedrawChart(main_window, view);
}

bool RunTimeViewCommand(HWND main_window, UINT command) {
    for (size_t i = 0; i < MOVING_AVERAGE_ITEM_COUNT; ++i) {
        if (command != MOVING_AVERAGE_ITEMS[i].command) continue;
        if (!CurrentDocument.busy) ShowMovingAverage(main_window, i);
        return true;
    }
    if (command == IDM_MOVINGAVERAGE_NEXT) {
        const size_t item = MovingAverageItemOf(CurrentDocument.view.moving_average_ms);
        if (!CurrentDocument.busy) ShowMovingAverage(main_window, (item + 1) % MOVING_AVERAGE_ITEM_COUNT);
        return true;
    }
    if (command < IDM_ZOOMIN || command > IDM_GOPS) return false;
    if (!DocumentReady(CurrentDocument)) return true;
    ChartView& view = CurrentDocument.view;
    switch (command) {
    case IDM_ZOOMIN:
        ZoomChartTime(main_window, view, KEY_ZOOM_FACTOR, -1);
        break;
    case IDM_ZOOMOUT:
        ZoomChartTime(main_window, view, 1 / KEY_ZOOM_FACTOR, -1);
        break;
    case IDM_PANRIGHT:
        PanChartTime(main_window, view, KEY_PAN_FRACTION);
        break;
    case IDM_PANLEFT:
        PanChartTime(main_window, view, -KEY_PAN_FRACTION);
        break;
    case IDM_NEXTPAGE:
        PanChartTime(main_window, view, 1);
        break;
    case IDM_PREVIOUSPAGE:
        PanChartTime(main_window, view, -1);
        break;
    case IDM_WHOLEFILE:
        ShowWholeFile(main_window, view);
        break;
    case IDM_FRAMES:
        ShowKind(main_window, CHART_FRAMES);
        break;
    case IDM_GOPS:
        ShowKind(main_window, CHART_GOPS);
        break;
    default:
        break;
    }
    return true;
}
