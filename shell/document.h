// The charted file as the window holds it: its measurement and path, the
// view the chart draws, and the one flag that says a run is under way.
#ifndef KOV_SHELL_DOCUMENT_H
#define KOV_SHELL_DOCUMENT_H

#include <windows.h>

#include <string>
#include <vector>

#include "analysis/measurement.h"
#include "analysis/media_file.h"
#include "chart/chart_view.h"

// A second file whose video is drawn beside the charted one's (File >
// Compare With...), until File > Close Comparison.
struct Comparison {
    bool open = false;
    Measurement measurement;
    char path[PATH_BUFFER_SIZE] = "";
    char name[PATH_BUFFER_SIZE] = "";  // the file's name alone, for its legend line and the readout
};

struct Document {
    // The measurement of the file the chart shows, kept until another run
    // draws a chart: Statistics, Keyframes and Export CSV read it, never the
    // file again.
    Measurement measurement;
    char path[PATH_BUFFER_SIZE] = "";  // empty when it did not fit
    bool measured = false;             // a run has drawn a chart in this window
    ChartView view;
    // What the view points into beside the measurement: where the frames
    // show on the time axis and the moving average the View menu asks for.
    FramePlacement frame_placement;
    std::vector<MovingAveragePoint> moving_average;
    Comparison comparison;
    // Every stream of the charted file with its own windows (View >
    // Streams..., measured once when first asked for), and which of them are
    // drawn: one flag per stream, then one for the whole file.
    bool streams_measured = false;
    Measurement streams;
    std::vector<bool> streams_shown;
    // The curves drawn beside the video's, which the view points into, and
    // their names.
    std::vector<ChartSeries> series;
    std::vector<std::string> series_names;
    // A run, with its boxes, is under way. Its pump re-enters the window
    // procedure, so a drop, the menu or the start message can ask for more
    // while it is: such a request is refused, as the series, WaitDialog and
    // the parser belong to the run under way.
    bool busy = false;
};

// The one window's document.
extern Document CurrentDocument;

// A new window: nothing charted, nothing drawn over the chart, no run.
void ResetDocument(Document& document);

// A run drew the chart of `path`: its measurement replaces the last one, the
// view shows its windows, frames and GOPs (the whole file, in the kind of
// plot and with the moving average the menu had), and the menu items that
// need a measured file are enabled.
void KeepChartedMeasurement(HWND main_window, Document& document, const char* path, Measurement&& measurement);

// The moving average over `span_ms` (0: none) of the charted windows into
// the view.
void SetDocumentMovingAverage(Document& document, uint32_t span_ms);

// Every stream's measurement of the charted file, none of them drawn yet.
void KeepStreamsMeasurement(Document& document, Measurement&& measurement);
// What the Streams dialog lists for stream `index` (streams.size(): the
// whole file): "Video 132 kbps, rate 2 of 3", "Audio 64 kbps (stream 1)",
// "All streams".
std::string StreamCurveName(const Measurement& streams, size_t index);
// Which streams are drawn (see Document::streams_shown): the view's curves
// are rebuilt.
void ShowStreams(Document& document, const std::vector<bool>& shown);

// A second file's measurement joins the chart; Close Comparison takes it
// away. Both rebuild the view's other curves and set the menu items.
void KeepComparison(HWND main_window, Document& document, const char* path, Measurement&& measurement);
void CloseComparison(HWND main_window, Document& document);

// Whether the commands that read the charted file can run: a chart is drawn
// and no run is under way.
bool DocumentReady(const Document& document);

#endif
