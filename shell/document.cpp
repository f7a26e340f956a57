// The window's document: the charted measurement, its view, and the busy flag.
#include "shell/document.h"

#include <cstring>
#include <utility>

#include "shell/resource.h"

Document CurrentDocument;

namespace {

const UINT MEASURED_FILE_ITEMS[] = {IDM_EXPORTCSV, IDM_EXPORTFRAMES, IDM_SAVECHART, IDM_STATISTICS, IDM_KEYFRAMES};

// A run that stored no window charts one window of 0 kbps, as its curve does.
const BitrateSample NO_WINDOW = {0, 0};
const uint32_t NO_KEYFRAMES = 0;

}  // namespace

void ResetDocument(Document& document) {
    document.measurement = Measurement();
    document.path[0] = '\0';
    document.measured = false;
    document.view = ChartView();
    document.busy = false;
}

void KeepChartedMeasurement(HWND main_window, Document& document, const char* path, Measurement&& measurement) {
    document.measurement = std::move(measurement);
    document.path[0] = '\0';
    if (path && std::strlen(path) < sizeof document.path) std::strcpy(document.path, path);
    document.measured = true;

    ChartView& view = document.view;
    const Measurement& m = document.measurement;
    if (m.windows.empty()) {
        view.windows = &NO_WINDOW;
        view.window_keyframes = &NO_KEYFRAMES;
        view.window_count = 1;
    } else {
        view.windows = m.windows.data();
        view.window_keyframes = m.window_keyframes.data();
        view.window_count = uint32_t(m.windows.size());
    }

    HMENU menu = GetMenu(main_window);
    for (UINT item : MEASURED_FILE_ITEMS) EnableMenuItem(menu, item, MF_BYCOMMAND | MF_ENABLED);
}

bool DocumentReady(const Document& document) { return document.measured && !document.busy; }
