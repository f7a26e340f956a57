// The View menu: the Statistics dialog, the Keyframes toggle, the time zoom and the other plots.
#include "shell/view_menu.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/figures_text.h"
#include "chart/chart_win32.h"
#include "shell/document.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
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

// The Statistics dialog's layout, in dialog units as its template has it:
// the text a margin from every edge but the bottom, where the button sits
// in the corner, a gap below the text.
const int STATISTICS_MARGIN = 7;
const int STATISTICS_GAP = 6;
const int STATISTICS_BUTTON_WIDTH = 50;
const int STATISTICS_BUTTON_HEIGHT = 14;
// The template's size: the smallest the dialog is dragged to.
const int STATISTICS_MIN_WIDTH = 400;
const int STATISTICS_MIN_HEIGHT = 230;

RECT DialogUnits(HWND dialog, int left, int top, int right, int bottom) {
    RECT rect = {left, top, right, bottom};
    MapDialogRect(dialog, &rect);
    return rect;
}

void LayOutStatistics(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    const RECT margins = DialogUnits(dialog, STATISTICS_MARGIN, STATISTICS_GAP, 0, 0);
    const RECT button = DialogUnits(dialog, 0, 0, STATISTICS_BUTTON_WIDTH, STATISTICS_BUTTON_HEIGHT);
    const int margin = margins.left;
    const int button_x = client.right - margin - button.right;
    const int button_y = client.bottom - margin - button.bottom;
    const int text_width = client.right - 2 * margin;
    const int text_height = button_y - margins.top - margin;
    SetWindowPos(GetDlgItem(dialog, IDC_STATISTICS_TEXT), nullptr, margin, margin, text_width > 0 ? text_width : 0,
                 text_height > 0 ? text_height : 0, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(GetDlgItem(dialog, IDOK), nullptr, button_x, button_y, 0, 0,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    InvalidateRect(dialog, nullptr, TRUE);
}

// The widest of the text's lines in the edit control's font, in pixels.
int WidestLine(HWND edit, const char* text) {
    HDC dc = GetDC(edit);
    if (!dc) return 0;
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(edit, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const char* line = text; *line;) {
        const size_t length = std::strcspn(line, "\r\n");
        SIZE extent = {0, 0};
        if (length > 0 && GetTextExtentPoint32A(dc, line, int(length), &extent) && extent.cx > widest) {
            widest = extent.cx;
        }
        line += length;
        while (*line == '\r' || *line == '\n') ++line;
    }
    SelectObject(dc, previous);
    ReleaseDC(edit, dc);
    return widest;
}

// Wide enough that no line needs the horizontal scroll bar, as far as the
// screen allows, and centred again on the screen's work area.
void FitStatisticsToText(HWND dialog, const char* text) {
    HWND edit = GetDlgItem(dialog, IDC_STATISTICS_TEXT);
    RECT shown, frame;
    SendMessageA(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&shown));
    GetWindowRect(dialog, &frame);
    // One pixel more than the text, for the caret at a line's end.
    const int missing = WidestLine(edit, text) + 1 - (shown.right - shown.left);
    if (missing <= 0) return;
    MONITORINFO monitor;
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    const RECT& work = monitor.rcWork;
    int width = frame.right - frame.left + missing;
    if (width > work.right - work.left) width = work.right - work.left;
    if (width <= frame.right - frame.left) return;
    const int x = work.left + (work.right - work.left - width) / 2;
    SetWindowPos(dialog, nullptr, x, frame.top, width, frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

WNDPROC StatisticsEditProc = nullptr;

// Ctrl+A selects the whole text, as a user expects of any text to copy
// from; its character (0x01) would only beep.
LRESULT CALLBACK StatisticsTextProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
    const bool control = GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0;
    if (message == WM_KEYDOWN && wparam == 'A' && control) {
        SendMessageA(edit, EM_SETSEL, 0, -1);
        return 0;
    }
    if (message == WM_CHAR && wparam == 1) return 0;
    return CallWindowProcA(StatisticsEditProc, edit, message, wparam, lparam);
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
        StatisticsEditProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(text, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatisticsTextProc)));
        FitStatisticsToText(dialog, reinterpret_cast<const char*>(lparam));
        // The caret at the start, nothing selected: the dialog manager
        // would select the whole text when it gives the edit the focus.
        SetFocus(text);
        SendMessageA(text, EM_SETSEL, 0, 0);
        return FALSE;
    }
    if (message == WM_SIZE) {
        LayOutStatistics(dialog);
        return TRUE;
    }
    if (message == WM_GETMINMAXINFO) {
        const RECT client = DialogUnits(dialog, 0, 0, STATISTICS_MIN_WIDTH, STATISTICS_MIN_HEIGHT);
        RECT frame = client;
        AdjustWindowRectEx(&frame, DWORD(GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                           DWORD(GetWindowLongA(dialog, GWL_EXSTYLE)));
        MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(lparam);
        limits->ptMinTrackSize.x = frame.right - frame.left;
        limits->ptMinTrackSize.y = frame.bottom - frame.top;
        return TRUE;
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

namespace {

// The list's columns: what the stream is, its codec, declared and measured kbps.
struct StreamColumn {
    const char* title;
    int width;  // dialog units
};
const StreamColumn STREAM_COLUMNS[] = {
    {"Stream", 150}, {"Codec", 40}, {"Declared", 60}, {"Measured", 60}, {"1 s max", 50}};

void FormatKbps(double kbps, char* out, size_t size) { std::snprintf(out, size, "%.1f kbps", kbps); }

// One row's texts: the whole file's after every stream's.
void StreamRowTexts(const Measurement& m, size_t row, char texts[][64]) {
    for (int c = 0; c < 5; ++c) texts[c][0] = '\0';
    std::snprintf(texts[0], 64, "%s", StreamCurveName(m, row).c_str());
    double kbps = 0;
    if (row < m.streams.size()) {
        const StreamFigures& s = m.streams[row];
        std::snprintf(texts[1], 64, "%s", s.fourcc);
        FormatKbps(s.declared_avg_bit_rate / 1000.0, texts[2], 64);
        if (MeasuredKbps(s.bytes, s.first_ms, s.last_ms, &kbps)) FormatKbps(kbps, texts[3], 64);
        if (row < m.stream_windows.size() && !m.stream_windows[row].windows.empty()) {
            std::snprintf(texts[4], 64, "%u kbps", unsigned(m.stream_windows[row].max_kbps));
        }
    } else {
        if (m.has_file_span && MeasuredKbps(m.file_bytes, m.file_first_ms, m.file_last_ms, &kbps)) {
            FormatKbps(kbps, texts[3], 64);
        }
        if (!m.file_windows.windows.empty()) std::snprintf(texts[4], 64, "%u kbps", unsigned(m.file_windows.max_kbps));
    }
}

void FillStreamList(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_STREAM_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    for (int c = 0; c < 5; ++c) {
        RECT units = {0, 0, STREAM_COLUMNS[c].width, 0};
        MapDialogRect(dialog, &units);
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(STREAM_COLUMNS[c].title);
        column.cx = units.right;
        column.iSubItem = c;
        SendMessageA(list, LVM_INSERTCOLUMNA, WPARAM(c), LPARAM(&column));
    }
    const Document& document = CurrentDocument;
    const Measurement& m = document.streams;
    for (size_t row = 0; row <= m.streams.size(); ++row) {
        char texts[5][64];
        StreamRowTexts(m, row, texts);
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = int(row);
        item.pszText = texts[0];
        SendMessageA(list, LVM_INSERTITEMA, 0, LPARAM(&item));
        for (int c = 1; c < 5; ++c) {
            item.iSubItem = c;
            item.pszText = texts[c];
            SendMessageA(list, LVM_SETITEMTEXTA, WPARAM(row), LPARAM(&item));
        }
        const bool shown = row < document.streams_shown.size() && document.streams_shown[row];
        ListView_SetCheckState(list, int(row), shown ? TRUE : FALSE);
    }
}

std::vector<bool> CheckedStreams(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_STREAM_LIST);
    const int rows = ListView_GetItemCount(list);
    std::vector<bool> shown(size_t(rows > 0 ? rows : 0), false);
    for (int row = 0; row < rows; ++row) shown[size_t(row)] = ListView_GetCheckState(list, row) != 0;
    return shown;
}

}  // namespace

void ShowStreamsDialog(HWND main_window) {
    if (!DocumentReady(CurrentDocument)) return;
    if (!CurrentDocument.streams_measured && !MeasureEveryStream(main_window)) return;
    // The list view's class, registered once for the process.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_STREAMS), main_window, StreamsDialogProc, 0);
    RedrawChart(main_window, CurrentDocument.view);
}

INT_PTR CALLBACK StreamsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) FillStreamList(dialog);
    if (message == WM_COMMAND && LOWORD(wparam) == IDOK) ShowStreams(CurrentDocument, CheckedStreams(dialog));
    return SimpleDialogProc(dialog, message, wparam, lparam);
}
