// The GDI drawing steps of the chart. Each step draws into the DC it is given
// over the client rectangle, so tests can run them on a DC of their own.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "analysis/result_messages.h"
#include "chart/chart_model.h"
#include "chart/chart_time.h"
#include "chart/chart_win32.h"
#include "chart/gdi_guards_win32.h"
#include "chart/plot_geometry_win32.h"

namespace {

using namespace plot;

// How many tick intervals fit along the time axis (the value axis' count is
// DrawValueTicks'). The count keeps its fraction: a partial interval gets no
// tick.
double TimeTickIntervals(const PlotGeometry& g) { return g.plot_width / static_cast<double>(GRID_COLUMN_SPACING); }

void DrawTicks(HDC dc, const PlotGeometry& g, double intervals) {
    ScopedSelection pen(dc, SolidPen(1, INK_COLOR), ScopedSelection::OWNED);
    DrawValueTicks(dc, g);
    if (intervals >= 0) {
        for (int k = 0; k <= intervals; ++k) {
            const int x = PLOT_LEFT + GRID_COLUMN_SPACING * k;
            DrawLine(dc, x, g.bottom, x, g.bottom + TICK_LENGTH);
        }
    }
}

// m:s under each time tick, then the unit.
void DrawTimeLabels(HDC dc, const PlotGeometry& g, double intervals, const SeriesStatisticsRecord& figures) {
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    if (intervals >= 0) {
        // Each label is the step added up k times, not k times the step; the
        // two can differ in the last bit and so in the truncated second.
        const double seconds_step = figures.last_start_ms / (intervals * 1000.0);
        double t = 0.0;
        char text[LABEL_TEXT_SIZE];
        for (int k = 0; k <= intervals; ++k) {
            const int s = LabelInteger(t);
            std::snprintf(text, sizeof text, "%d:%d", s / 60, s % 60);
            DrawLabel(dc, PLOT_LEFT + GRID_COLUMN_SPACING * k, g.height - TIME_LABEL_TOP_MARGIN, text);
            t += seconds_step;
        }
    }
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    DrawLabel(dc, g.width - TIME_UNIT_RIGHT_MARGIN, g.height - TIME_UNIT_TOP_MARGIN, "(mm:ss)");
}

// The three figures above the plot.
void DrawLegend(HDC dc, const PlotGeometry& g, const SeriesStatisticsRecord& figures) {
    SetTextColor(dc, INK_COLOR);
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    char text[LABEL_TEXT_SIZE];
    std::snprintf(text, sizeof text, BITRATE_LEGEND, static_cast<int>(figures.last_start_ms / 1000),
                  static_cast<int32_t>(figures.max_kbps),
                  static_cast<int32_t>(static_cast<uint32_t>(figures.average_kbps)));
    DrawLabel(dc, PLOT_LEFT + g.plot_width / 2, LEGEND_TOP, text);
}

}  // namespace

namespace plot {

void DrawValueTicks(HDC dc, const PlotGeometry& g) {
    const double intervals = g.plot_height / static_cast<double>(VALUE_TICK_SPACING);
    if (intervals >= 0) {
        for (int k = 0; k <= intervals; ++k) {
            const int y = g.bottom - VALUE_TICK_SPACING * k;
            DrawLine(dc, PLOT_LEFT, y, PLOT_LEFT - TICK_LENGTH, y);
        }
    }
}

void DrawValueLabels(HDC dc, const PlotGeometry& g, double top, const char* unit) {
    const double intervals = g.plot_height / static_cast<double>(VALUE_TICK_SPACING);
    SetTextColor(dc, INK_COLOR);
    SetTextAlign(dc, TA_RIGHT | TA_BOTTOM);
    if (intervals >= 0) {
        const double step = top / intervals;
        double v = 0.0;
        char text[LABEL_TEXT_SIZE];
        for (int k = 0; k <= intervals; ++k) {
            std::snprintf(text, sizeof text, "%d", LabelInteger(v));
            DrawLabel(dc, VALUE_LABEL_RIGHT, g.height - VALUE_LABEL_BOTTOM_MARGIN - VALUE_TICK_SPACING * k, text);
            v += step;
        }
    }
    SetTextAlign(dc, TA_RIGHT | TA_BOTTOM);
    DrawLabel(dc, PLOT_LEFT, VALUE_UNIT_BOTTOM, unit);
}

void DrawPlotAxes(HDC dc, const PlotGeometry& g) {
    ScopedSelection pen(dc, SolidPen(1, INK_COLOR), ScopedSelection::OWNED);
    MoveToEx(dc, PLOT_LEFT, PLOT_TOP, nullptr);
    LineTo(dc, PLOT_LEFT, g.bottom);
    LineTo(dc, g.right, g.bottom);
}

}  // namespace plot

int FillBackground(HDC dc, COLORREF color, const RECT* rect) {
    ScopedSelection brush(dc, CreateSolidBrush(color), ScopedSelection::OWNED);
    PatBlt(dc, rect->left, rect->top, rect->right, rect->bottom, PATCOPY);
    return 1;
}

int DrawGrid(HDC dc, int first_column_x, int first_row_y, const RECT* rect) {
    const PlotGeometry g = GeometryOf(rect);
    ScopedSelection pen(dc, SolidPen(2, GRID_COLOR), ScopedSelection::OWNED);
    for (int y = first_row_y; y < g.bottom; y += GRID_ROW_SPACING) {
        DrawLine(dc, PLOT_LEFT, y, g.right, y);
    }
    for (int x = first_column_x; x < g.right; x += GRID_COLUMN_SPACING) {
        DrawLine(dc, x, PLOT_TOP, x, g.bottom);
    }
    return 1;
}

int DrawAxesAndAverage(HDC dc, const RECT* rect, const ChartView& view) {
    const PlotGeometry g = GeometryOf(rect);
    DrawPlotAxes(dc, g);
    const ChartCurve& video = view.curves[CURVE_VIDEO];
    float range = SingleRange(video);
    // A zero range (a run whose largest bitrate was 0) gets the curves'
    // substitute range, so the line lies with the Video curve it belongs to.
    if (range == 0.0f) {
        range = 1.0f;
    }
    const int y_avg = MapValueToRow(static_cast<double>(view.figures->average_kbps), video, range, g.plot_height);
    ScopedSelection pen(dc, SolidPen(1, AVERAGE_COLOR), ScopedSelection::OWNED);
    DrawLine(dc, PLOT_LEFT, y_avg, g.right, y_avg);
    return 1;
}

int DrawCurves(HDC dc, const RECT* rect, const ChartView& view) {
    const PlotGeometry g = GeometryOf(rect);
    for (int slot = 0; slot < CURVE_SLOT_COUNT; ++slot) {
        const ChartCurve& curve = view.curves[slot];
        if (curve.visible == 0) {
            continue;
        }
        float range = SingleRange(curve);
        if (range == 0.0f) {
            range = 1.0f;
        }
        // The table is ours, but a count outside the array must not walk off it.
        int count = curve.point_count;
        if (count < 0) {
            count = 0;
        } else if (count > CURVE_MAX_POINTS) {
            count = CURVE_MAX_POINTS;
        }
        ScopedSelection pen(dc, SolidPen(1, curve.color), ScopedSelection::OWNED);
        if (count == 1) {
            // No column step for a single point: a one-pixel mark on the value axis.
            const int y = MapValueToRow(curve.points[0], curve, range, g.plot_height);
            DrawLine(dc, PLOT_LEFT, y, PLOT_LEFT + 1, y);
            continue;
        }
        for (int j = 0; j < count; ++j) {
            // 64-bit product: j * PW stays exact for any client width.
            const int x = PLOT_LEFT + static_cast<int>(static_cast<int64_t>(j) * g.plot_width / (count - 1));
            const int y = MapValueToRow(curve.points[j], curve, range, g.plot_height);
            if (j == 0) {
                MoveToEx(dc, x, y, nullptr);
            } else {
                LineTo(dc, x, y);
            }
        }
    }
    return 1;
}

int DrawTicksAndLabels(HDC dc, const RECT* rect, const ChartView& view) {
    const PlotGeometry g = GeometryOf(rect);
    const double intervals = TimeTickIntervals(g);
    DrawTicks(dc, g, intervals);

    // One font and ink for every label; the stock font is selected back out.
    ScopedSelection font(dc, GetStockObject(SYSTEM_FIXED_FONT), ScopedSelection::STOCK);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, INK_COLOR);
    DrawTimeLabels(dc, g, intervals, *view.figures);
    DrawValueLabels(dc, g, view.figures->max_kbps, "(kbps)");
    DrawLegend(dc, g, *view.figures);
    return 1;
}

int DrawKeyframeTicks(HDC dc, const RECT* rect, const ChartView& view) {
    const PlotGeometry g = GeometryOf(rect);
    if (view.window_keyframes == nullptr || g.plot_width <= 0) {
        return 1;
    }
    // From one row clear of the time ticks down to the time labels' top,
    // which the line's unpainted end point is: they touch neither.
    const int top = g.bottom + TICK_LENGTH + 1;
    const int end = g.height - TIME_LABEL_TOP_MARGIN;
    const bool whole_file = ShowsWholeFileChart(view);
    const TimeSpan span = ShownSpan(view);
    ScopedSelection pen(dc, SolidPen(1, KEYFRAME_COLOR), ScopedSelection::OWNED);
    int last_column = -1;
    for (uint32_t i = 0; i < view.window_count; ++i) {
        if (view.window_keyframes[i] == 0) {
            continue;
        }
        // Windows of one bucket share a column: one tick is enough.
        int column = 0;
        if (whole_file) {
            column = ChartedWindowColumn(view, i, g.plot_width);
        } else {
            // Under the window's middle, in a stretch of time.
            const double end = i + 1 < view.window_count ? view.windows[i + 1].start_ms : view.series_end_ms;
            const double at = ColumnOfTime(
                span, (view.windows[i].start_ms + std::max(end, double(view.windows[i].start_ms))) / 2, g.plot_width);
            if (at < 0 || at > g.plot_width) continue;
            column = int(at);
        }
        if (column != last_column) {
            DrawLine(dc, PLOT_LEFT + column, top, PLOT_LEFT + column, end);
            last_column = column;
        }
    }
    return 1;
}

void FormatReadout(const ChartView& view, uint32_t window, char* out, size_t size) {
    if (window >= view.window_count || view.windows == nullptr) {
        std::snprintf(out, size, "%s", "");
        return;
    }
    const BitrateSample& sample = view.windows[window];
    char time[32];
    FormatMinutesSeconds(sample.start_ms, time, sizeof time);
    std::snprintf(out, size, "%s  %" PRIu32 " kbps", time, sample.kbps);
}

int DrawReadout(HDC dc, const RECT* rect, const ChartView& view, uint32_t item) {
    char text[LABEL_TEXT_SIZE];
    FormatChartReadout(view, int32_t(item), text, sizeof text);
    ScopedSelection font(dc, GetStockObject(SYSTEM_FIXED_FONT), ScopedSelection::STOCK);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, INK_COLOR);
    SetTextAlign(dc, TA_RIGHT | TA_TOP);
    DrawLabel(dc, rect->right - READOUT_RIGHT_MARGIN, READOUT_TOP, text);
    return 1;
}

int ReadoutWindowAt(const RECT* rect, const ChartView& view, int x, int y) {
    if (!ShowsWholeFileChart(view)) return TimeViewItemAt(rect, view, x, y);
    const PlotGeometry g = GeometryOf(rect);
    if (x < PLOT_LEFT || x > g.right || y < PLOT_TOP || y > g.bottom) {
        return -1;
    }
    return ChartedWindowAtColumn(view, x - PLOT_LEFT, g.plot_width);
}

namespace {

// The chart's widest texts over the plot: a stretch late in a file as long as
// the chart holds, with more digits of kbps, frames and GOPs than a RealMedia
// file reaches (100 Mbit/s, a million frames).
const uint32_t LATE_MS = 19999900;  // 333:19.9
const int WIDEST_KBPS = 99999;
const unsigned WIDEST_COUNT = 999999;

int TextWidth(HDC dc, const char* text) {
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &extent);
    return extent.cx;
}

// The legends, and the readouts above them, in the chart's font.
void WidestTexts(HDC dc, int* legend, int* readout, int* height) {
    char span[64];
    FormatSpan(TimeSpan{LATE_MS - 100, LATE_MS}, span, sizeof span);
    char text[LABEL_TEXT_SIZE * 2];
    *legend = 0;
    std::snprintf(text, sizeof text, SPAN_BITRATE_LEGEND, span, int(LATE_MS / 1000), WIDEST_KBPS, WIDEST_KBPS);
    *legend = std::max(*legend, TextWidth(dc, text));
    std::snprintf(text, sizeof text, FRAMES_LEGEND, span, WIDEST_COUNT, WIDEST_COUNT, WIDEST_COUNT, WIDEST_COUNT);
    *legend = std::max(*legend, TextWidth(dc, text));
    std::snprintf(text, sizeof text, GOPS_LEGEND, span, WIDEST_COUNT, WIDEST_KBPS);
    *legend = std::max(*legend, TextWidth(dc, text));

    // The readouts as the chart writes them, of a frame, a GOP and a window
    // that large.
    const VideoFrame frame = {0, LATE_MS, uint32_t(WIDEST_KBPS) * 125u, WIDEST_COUNT, false, '?'};
    const VideoGop gop = {LATE_MS, WIDEST_COUNT, 0, LATE_MS, double(WIDEST_KBPS)};
    const BitrateSample window = {LATE_MS, uint32_t(WIDEST_KBPS)};
    ChartView view;
    view.frames = &frame;
    view.frame_count = 1;
    view.gops = &gop;
    view.gop_count = 1;
    view.windows = &window;
    view.window_count = 1;
    *readout = 0;
    for (ChartKind kind : {CHART_BITRATE, CHART_FRAMES, CHART_GOPS}) {
        view.kind = kind;
        FormatChartReadout(view, 0, text, sizeof text);
        *readout = std::max(*readout, TextWidth(dc, text));
    }
    TEXTMETRICA metrics;
    *height = GetTextMetricsA(dc, &metrics) ? metrics.tmHeight : 0;
}

}  // namespace

SIZE ChartMinimumClientSize(HDC dc) {
    ScopedSelection font(dc, GetStockObject(SYSTEM_FIXED_FONT), ScopedSelection::STOCK);
    int legend = 0, readout = 0, line = 0;
    WidestTexts(dc, &legend, &readout, &line);
    const int margins = PLOT_LEFT + PLOT_RIGHT_MARGIN;
    // Each legend is centred over the plot, left of which "(kbps)" shares its
    // rows: it fits when the plot is as wide. The readout is right-aligned in
    // the band above; the plot holds one time step at least.
    SIZE size;
    size.cx = std::max({margins + legend, READOUT_RIGHT_MARGIN + readout, margins + GRID_COLUMN_SPACING});
    // One value step at least, and the legend's line above "(mm:ss)".
    size.cy = std::max(PLOT_TOP + PLOT_BOTTOM_MARGIN + VALUE_TICK_SPACING, LEGEND_TOP + line + TIME_UNIT_TOP_MARGIN);
    return size;
}
