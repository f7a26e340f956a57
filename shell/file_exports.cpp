// The Save As dialogs of the CSV export and the chart picture, and the files
// they write.
#include "shell/file_exports.h"

#include <commdlg.h>

#include <cstdio>
#include <cstring>

#include "analysis/figures_text.h"
#include "chart/chart_win32.h"
#include "shell/document.h"
#include "shell/message_box.h"
#include "shell/resource.h"
#include "shell/shell.h"

namespace {

const int DIALOG_TEXT_SIZE = 160;

// The string table cannot hold the NULs between a filter's parts: they are
// written there as '|', the last one included.
void LoadFilter(UINT id, char* out, int size) {
    if (LoadStringA(AppInstance, id, out, size) <= 0) out[0] = '\0';
    for (char* c = out; *c; ++c) {
        if (*c == '|') *c = '\0';
    }
}

// The Save As dialog, in the folder of `measured` (a measured file's path)
// and proposing its name with the given extension. True with the chosen path
// in `path`.
bool ChooseSavePath(HWND owner, UINT title_id, UINT filter_id, const char* extension, const char* measured, char* path,
                    size_t size) {
    char title[DIALOG_TEXT_SIZE];
    char filter[DIALOG_TEXT_SIZE];
    if (LoadStringA(AppInstance, title_id, title, sizeof title) <= 0) title[0] = '\0';
    LoadFilter(filter_id, filter, sizeof filter);
    // The name alone in the name box, the folder as where the dialog starts:
    // a folder written with '/' does not end up in the box.
    const char* name = FileNameOf(measured);
    char folder[PATH_BUFFER_SIZE] = "";
    const size_t folder_length = size_t(name - measured);
    if (folder_length < sizeof folder) {
        std::memcpy(folder, measured, folder_length);
        folder[folder_length] = '\0';
    }
    ReplaceExtension(name, extension, path, size);

    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = static_cast<DWORD>(size);
    dialog.lpstrInitialDir = folder[0] ? folder : nullptr;
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt = extension;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    return GetSaveFileNameA(&dialog) != 0;
}

void ShowNotSavedBox(HWND main_window, const char* path) {
    const char* values[] = {path};
    ShowStringTableBox(main_window, IDS_SAVE_FAILED, IDS_SAVE_FAILED_CAPTION, MB_ICONWARNING, values, 1);
}

// Rows of a measurement through a Save As dialog. Text mode: the rows end in
// "\r\n", as those of rmrate.exe on Windows.
void ExportRows(HWND main_window, UINT title_id, const char* extension, const Measurement& measurement,
                const char* measured_path, bool (*write)(const Measurement&, FILE*)) {
    char path[PATH_BUFFER_SIZE];
    if (!ChooseSavePath(main_window, title_id, IDS_CSV_FILTER, extension, measured_path, path, sizeof path)) return;
    FILE* file = std::fopen(path, "w");
    bool written = file != nullptr && write(measurement, file);
    if (file != nullptr && std::fclose(file) != 0) written = false;
    if (written) return;
    // Rows cut short would pass for the whole file's.
    if (file != nullptr) std::remove(path);
    ShowNotSavedBox(main_window, path);
}

INT_PTR CALLBACK ExportChoiceProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_EXPORT_CHARTED, FileNameOf(CurrentDocument.path));
        SetDlgItemTextA(dialog, IDC_EXPORT_COMPARED, CurrentDocument.comparison.name);
        CheckRadioButton(dialog, IDC_EXPORT_CHARTED, IDC_EXPORT_COMPARED, IDC_EXPORT_CHARTED);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            EndDialog(dialog,
                      IsDlgButtonChecked(dialog, IDC_EXPORT_COMPARED) ? IDC_EXPORT_COMPARED : IDC_EXPORT_CHARTED);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

void ExportWindowsCsv(HWND main_window) {
    if (!DocumentReady(CurrentDocument)) return;
    const Comparison& comparison = CurrentDocument.comparison;
    int chosen = IDC_EXPORT_CHARTED;
    // With a comparison open, the user says whose windows to write.
    if (comparison.open) {
        chosen =
            int(DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_EXPORT_CHOICE), main_window, ExportChoiceProc, 0));
    }
    if (chosen == IDC_EXPORT_COMPARED) {
        ExportRows(main_window, IDS_EXPORT_CSV_TITLE, "csv", comparison.measurement, comparison.path, WriteWindowsCsv);
    } else if (chosen == IDC_EXPORT_CHARTED) {
        ExportRows(main_window, IDS_EXPORT_CSV_TITLE, "csv", CurrentDocument.measurement, CurrentDocument.path,
                   WriteWindowsCsv);
    }
}

// Proposed as NAME.frames.csv beside NAME.csv, the windows' export.
void ExportFramesCsv(HWND main_window) {
    if (!DocumentReady(CurrentDocument)) return;
    ExportRows(main_window, IDS_EXPORT_FRAMES_TITLE, "frames.csv", CurrentDocument.measurement, CurrentDocument.path,
               WriteFramesCsv);
}

void ReplaceExtension(const char* path, const char* extension, char* out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    const char* dot = std::strrchr(FileNameOf(path), '.');
    const size_t kept = dot ? size_t(dot - path) : std::strlen(path);
    if (kept + 1 + std::strlen(extension) + 1 > size) return;
    std::memcpy(out, path, kept);
    out[kept] = '.';
    std::strcpy(out + kept + 1, extension);
}

void SaveChartAs(HWND main_window) {
    if (!DocumentReady(CurrentDocument)) return;
    char path[PATH_BUFFER_SIZE];
    if (!ChooseSavePath(main_window, IDS_SAVE_CHART_TITLE, IDS_PNG_FILTER, "png", CurrentDocument.path, path,
                        sizeof path)) {
        return;
    }
    // The picture stays the chart's pixels; the measured file's name goes
    // into its text.
    if (!SaveChartPicture(path, FileNameOf(CurrentDocument.path))) ShowNotSavedBox(main_window, path);
}
