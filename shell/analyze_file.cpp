// The window's side of a run: the Open dialog, the pending flag and the message pump.
#include "shell/analyze_file.h"

#include <commdlg.h>

#include <cstring>

char OpenFilePath[PATH_BUFFER_SIZE];
HWND WaitDialog;

namespace {

// .rv: the usual encoder software writes RealVideo-only files under that name.
const char MEDIA_FILE_FILTER[] = "Real Media files(*.RM;*.RMVB;*.RV)\0*.RM;*.RMVB;*.RV\0\0";

}  // namespace

int ChooseMediaFile(HWND owner, UINT title) {
    // A failed dialog may leave its error data in the file buffer (a path too
    // long for it puts the needed size there); the last good path must stay.
    char previous[PATH_BUFFER_SIZE];
    std::memcpy(previous, OpenFilePath, sizeof previous);

    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = MEDIA_FILE_FILTER;
    dialog.lpstrCustomFilter = nullptr;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = OpenFilePath;
    dialog.nMaxFile = PATH_BUFFER_SIZE;
    dialog.lpstrFileTitle = nullptr;
    dialog.lpstrInitialDir = nullptr;
    char title_text[64] = "Open a Media file.";
    if (title != 0 && LoadStringA(GetModuleHandleA(nullptr), title, title_text, sizeof title_text) <= 0) {
        std::strcpy(title_text, "Open a Media file.");
    }
    dialog.lpstrTitle = title_text;
    dialog.lpstrDefExt = "rm";
    dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (GetOpenFileNameA(&dialog)) return 1;
    std::memcpy(OpenFilePath, previous, sizeof previous);
    return 0;
}

int PumpPendingMessages(void*) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Taken from the queue by us, not by the message loop: put it
            // back so the loop still ends, and stop the run.
            PostQuitMessage(static_cast<int>(message.wParam));
            return 0;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 1;
}

namespace {

// The run around a measurement: the pending flag, the Open dialog, the
// path kept, the wait dialog shown, the pump.
template <class MeasureFn>
AnalysisResult RunWithPump(HWND main_window, const char* path, UINT title, Measurement* measurement,
                           MeasureFn measure) {
    AnalysisPending = 1;
    if (measurement) *measurement = Measurement();
    if (!path) {
        if (!ChooseMediaFile(main_window, title)) {
            AnalysisPending = 0;
            return ANALYSIS_CANCELLED;
        }
        path = OpenFilePath;
    }

    // The pump below may deliver a drop or a menu command that rewrites the
    // buffer the path lives in; the run keeps the file it was given.
    char run_path[PATH_BUFFER_SIZE];
    const size_t length = std::strlen(path);
    if (length < sizeof run_path) {
        std::memcpy(run_path, path, length + 1);
        path = run_path;
    }

    if (WaitDialog) ShowWindow(WaitDialog, SW_SHOW);
    AnalysisResult result = ANALYSIS_CANCELLED;
    if (PumpPendingMessages(nullptr)) result = measure(path);
    AnalysisPending = 0;
    return result;
}

}  // namespace

AnalysisResult AnalyzeFile(HWND main_window, const char* path, Measurement* measurement) {
    return RunWithPump(main_window, path, 0, measurement, [&](const char* run_path) {
        return MeasureFile(run_path, PumpPendingMessages, nullptr, measurement);
    });
}

AnalysisResult AnalyzeOtherMeasurement(HWND main_window, const char* path, UINT title, MeasureOptions options,
                                       Measurement* measurement) {
    options.pump = PumpPendingMessages;
    options.pump_context = nullptr;
    return RunWithPump(main_window, path, title, measurement,
                       [&](const char* run_path) { return Measure(run_path, options, measurement); });
}
