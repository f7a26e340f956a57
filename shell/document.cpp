// The window's document: the charted measurement, its view, and the busy flag.
#include "shell/document.h"

#include <cstring>
#include <utility>

#include "shell/resource.h"

Document CurrentDocument;

namespace {

const UINT MEASURED_FILE_ITEMS[] = {
    IDM_EXPORTCSV, IDM_EXPORTFRAMES, IDM_SAVECHART, IDM_STATISTICS,   IDM_KEYFRAMES, IDM_ZOOMIN, IDM_ZOOMOUT,
    IDM_PANRIGHT,  IDM_PANLEFT,      IDM_NEXTPAGE,  IDM_PREVIOUSPAGE, IDM_WHOLEFILE, IDM_FRAMES, IDM_GOPS,
};

// Without a measured frame rate, bars and places are a 25 fps frame apart.
const double FALLBACK_FRAME_INTERVAL_MS = 40.0;

// A run that stored no window charts one window of 0 kbps, as its curve does.
const BitrateSample NO_WINDOW = {0, 0};
const uint32_t NO_KEYFRAMES = 0;

}  // namespace

void ResetDocument(Document& document) {
    document.measurement = Measurement();
    document.path[0] = '\0';
    document.measured = false;
    document.view = ChartView();
    document.frame_placement = FramePlacement();
    document.moving_average.clear();
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
    view.series_end_ms = m.series_end_ms;
    view.frame_interval_ms =
        m.frame_statistics.mean_fps > 0 ? 1000.0 / m.frame_statistics.mean_fps : FALLBACK_FRAME_INTERVAL_MS;
    document.frame_placement = PlaceFrames(m.frames.data(), uint32_t(m.frames.size()), view.frame_interval_ms);
    view.frames = m.frames.data();
    view.frame_places = document.frame_placement.places.data();
    view.frame_order = document.frame_placement.order.data();
    view.frame_count = uint32_t(m.frames.size());
    view.gops = m.gops.data();
    view.gop_count = uint32_t(m.gops.size());
    view.zoomed = false;
    view.drag.active = false;
    SetDocumentMovingAverage(document, view.moving_average_ms);

    HMENU menu = GetMenu(main_window);
    for (UINT item : MEASURED_FILE_ITEMS) EnableMenuItem(menu, item, MF_BYCOMMAND | MF_ENABLED);
}

bool DocumentReady(const Document& document) { return document.measured && !document.busy; }

void SetDocumentMovingAverage(Document& document, uint32_t span_ms) {
    ChartView& view = document.view;
    const Measurement& m = document.measurement;
    document.moving_average.clear();
    if (span_ms > 0) {
        document.moving_average = MovingAverage(m.windows.data(), uint32_t(m.windows.size()), m.series_end_ms, span_ms);
    }
    view.moving_average_ms = span_ms;
    view.moving_average = document.moving_average.data();
    view.moving_average_count = uint32_t(document.moving_average.size());
}
