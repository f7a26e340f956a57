// The last measured file, the menu items that need one, and its figures.
#include "shell/measured_file.h"

#include <cstring>

#include "analysis/charted_windows.h"
#include "analysis/result_messages.h"
#include "shell/message_box.h"
#include "shell/resource.h"
#include "shell/run_driver.h"
#include "shell/shell.h"

namespace {

const size_t MEASURED_PATH_SIZE = 1024;

char MeasuredPath[MEASURED_PATH_SIZE];

// Large (the windows of a whole series, twice), so never on the stack; read
// at most once per measured file.
FileFigures Figures;
bool FiguresRead = false;
bool Measured = false;

const UINT MEASURED_FILE_ITEMS[] = {IDM_EXPORTCSV, IDM_SAVECHART, IDM_STATISTICS, IDM_KEYFRAMES};

// Why figures that do not match the chart cannot be shown: a file that can
// no longer be opened, or memory that ran out, is told as a run tells it;
// anything else means the file is not the one charted any more.
void ShowMismatchBox(HWND main_window, AnalysisResult result) {
    const AnalysisResultMessage* message = nullptr;
    if (result == ANALYSIS_OPEN_FAILED || result == ANALYSIS_PARSER_FAILED) message = FindResultMessage(result);
    if (message) {
        MessageBoxA(main_window, message->text, message->caption, MB_OK);
    } else {
        const char* values[] = {MeasuredPath};
        ShowStringTableBox(main_window, IDS_FILE_CHANGED, IDS_FILE_CHANGED_CAPTION, MB_ICONWARNING, values, 1);
    }
}

}  // namespace

void NoteMeasuredFile(HWND main_window, const char* path) {
    MeasuredPath[0] = '\0';
    if (path && std::strlen(path) < sizeof MeasuredPath) std::strcpy(MeasuredPath, path);
    FiguresRead = false;
    Measured = true;
    HMENU menu = GetMenu(main_window);
    for (UINT item : MEASURED_FILE_ITEMS) EnableMenuItem(menu, item, MF_BYCOMMAND | MF_ENABLED);
}

void ForgetMeasuredFile() {
    MeasuredPath[0] = '\0';
    FiguresRead = false;
    Measured = false;
}

const char* MeasuredFilePath() { return MeasuredPath; }

int FileMeasured() { return Measured ? 1 : 0; }

const FileFigures* FiguresOfMeasuredFile(HWND main_window) {
    // While a run is under way its chart is not drawn yet, and a read would
    // be refused anyway.
    if (!Measured || AnalysisRunUnderWay()) return nullptr;
    if (FiguresRead) return &Figures;
    const AnalysisResult result = ReadFileFigures(main_window, MeasuredPath, &Figures);
    // Refused, stopped by a quit, or the window went meanwhile: nothing to say.
    if (result == ANALYSIS_CANCELLED || !IsWindow(main_window)) return nullptr;
    // The same windows as the chart's, or nothing: figures of another file
    // under this chart would be wrong without a sign of it.
    const bool charted = result == ANALYSIS_OK || result == ANALYSIS_FRAME_GAP;
    if (!charted || !ChartShowsWindows(Figures.windows, Figures.details.windows_stored)) {
        ShowMismatchBox(main_window, result);
        return nullptr;
    }
    FiguresRead = true;
    return &Figures;
}
