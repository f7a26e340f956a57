// The window's document: the charted measurement, its view, and the busy flag.
#include "shell/document.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "analysis/media_file.h"
#include "shell/resource.h"

Document CurrentDocument;

namespace {

const UINT MEASURED_FILE_ITEMS[] = {
    IDM_EXPORTCSV, IDM_EXPORTFRAMES, IDM_SAVECHART,   IDM_STATISTICS, IDM_KEYFRAMES,    IDM_ZOOMIN,
    IDM_ZOOMOUT,   IDM_PANRIGHT,     IDM_PANLEFT,     IDM_NEXTPAGE,   IDM_PREVIOUSPAGE, IDM_WHOLEFILE,
    IDM_FRAMES,    IDM_GOPS,         IDM_COMPAREWITH, IDM_STREAMS,
};

const uint32_t COMPARISON_COLOR = 0x00FF00FF;  // magenta: no other curve uses it
// The streams' curves, in turn: none is the Video curve's yellow, the
// average's red, the moving average's orange or the comparison's magenta.
const uint32_t STREAM_COLORS[] = {0x00FFC040, 0x0040FF80, 0x00C080FF, 0x00FFFF80, 0x0080C0FF};
const size_t STREAM_COLOR_COUNT = sizeof STREAM_COLORS / sizeof STREAM_COLORS[0];
// The whole file keeps one colour of its own, however many streams come before it.
const uint32_t ALL_STREAMS_COLOR = 0x00E0E0E0;

ChartSeries SeriesOf(const std::vector<BitrateSample>& windows, uint32_t end_ms, uint32_t color) {
    ChartSeries s;
    s.windows = windows.data();
    s.count = uint32_t(windows.size());
    s.end_ms = end_ms;
    s.color = color;
    return s;
}

// The view's other curves from what the document holds: the streams shown,
// in the dialog's order, then the comparison.
void PointViewAtSeries(Document& document) {
    document.series.clear();
    document.series_names.clear();
    const Measurement& streams = document.streams;
    for (size_t i = 0; i < document.streams_shown.size(); ++i) {
        if (!document.streams_shown[i]) continue;
        const bool one_stream = i < streams.stream_windows.size();
        const StreamWindows& w = one_stream ? streams.stream_windows[i] : streams.file_windows;
        const uint32_t color = one_stream ? STREAM_COLORS[i % STREAM_COLOR_COUNT] : ALL_STREAMS_COLOR;
        document.series.push_back(SeriesOf(w.windows, w.series_end_ms, color));
        document.series_names.push_back(StreamCurveName(streams, i));
    }
    const Comparison& c = document.comparison;
    if (c.open) {
        document.series.push_back(SeriesOf(c.measurement.windows, c.measurement.series_end_ms, COMPARISON_COLOR));
        document.series_names.push_back(c.name);
    }
    for (size_t i = 0; i < document.series.size(); ++i) document.series[i].name = document.series_names[i].c_str();
    document.view.extra_series = document.series.data();
    document.view.extra_count = uint32_t(document.series.size());
}

const char* KindOf(const std::string& mime) {
    if (mime.compare(0, 6, "video/") == 0) return "Video";
    if (mime.compare(0, 6, "audio/") == 0) return "Audio";
    return "Stream";
}

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
    document.comparison = Comparison();
    document.streams_measured = false;
    document.streams = Measurement();
    document.streams_shown.clear();
    document.series.clear();
    document.series_names.clear();
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
    // Another file's streams are not this one's.
    document.streams_measured = false;
    document.streams = Measurement();
    document.streams_shown.clear();
    PointViewAtSeries(document);

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

void KeepComparison(HWND main_window, Document& document, const char* path, Measurement&& measurement) {
    Comparison& c = document.comparison;
    c.measurement = std::move(measurement);
    c.path[0] = '\0';
    if (path && std::strlen(path) < sizeof c.path) std::strcpy(c.path, path);
    std::strcpy(c.name, FileNameOf(c.path));
    c.open = true;
    PointViewAtSeries(document);
    EnableMenuItem(GetMenu(main_window), IDM_CLOSECOMPARISON, MF_BYCOMMAND | MF_ENABLED);
}

void CloseComparison(HWND main_window, Document& document) {
    document.comparison = Comparison();
    PointViewAtSeries(document);
    EnableMenuItem(GetMenu(main_window), IDM_CLOSECOMPARISON, MF_BYCOMMAND | MF_GRAYED);
}

void KeepStreamsMeasurement(Document& document, Measurement&& measurement) {
    document.streams = std::move(measurement);
    document.streams_measured = true;
    document.streams_shown.assign(document.streams.stream_windows.size() + 1, false);
    PointViewAtSeries(document);
}

std::string StreamCurveName(const Measurement& streams, size_t index) {
    if (index >= streams.streams.size()) return "All streams";
    const StreamFigures& s = streams.streams[index];
    const uint32_t bits = s.rate != 0 && s.rule_bandwidth != 0 ? s.rule_bandwidth : s.declared_avg_bit_rate;
    char name[96];
    if (s.rate != 0) {
        std::snprintf(name, sizeof name, "%s %u kbps, rate %u of %u", KindOf(s.mime_type), unsigned(bits / 1000),
                      unsigned(s.rate), unsigned(s.rate_count));
    } else {
        std::snprintf(name, sizeof name, "%s %u kbps (stream %u)", KindOf(s.mime_type), unsigned(bits / 1000),
                      unsigned(s.stream_number));
    }
    return name;
}

void ShowStreams(Document& document, const std::vector<bool>& shown) {
    document.streams_shown = shown;
    document.streams_shown.resize(document.streams.stream_windows.size() + 1, false);
    PointViewAtSeries(document);
}
