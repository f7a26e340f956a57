// The chart of a stretch of time and the other kinds of plot: the bitrate of the windows in the
// stretch, each frame or each GOP as a bar, with their own axes, labels and legend; the moving
// average over the whole-file chart; the band a drag draws.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/result_messages.h"
#include "chart/chart_time.h"
#include "chart/chart_win32.h"
#include "chart/gdi_guards_win32.h"
#include "chart/plot_geometry_win32.h"

using namespace plot;

namespace {

const COLORREF FRAME_COLORS[VIDEO_FRAME_TYPE_COUNT] = {
    0x000000FF,  // I red
    0x00FF0000,  // P blue
    0x0000FF00,  // B green
    0x00A0A0A0,  // ? grey
};
const COLORREF GOP_LINE_COLOR = 0x00707070;        // faint against the background
const COLORREF GOP_BAR_COLOR = 0x0000FFFF;         // the Video curve's yellow
const COLORREF MOVING_AVERAGE_COLOR = 0x000080FF;  // orange
const COLORREF BAND_COLOR = 0x00C0C0C0;
const int MIN_LABEL_SPACING = 70;    // as the whole-file chart's ticks
const int SERIES_LEGEND_INDENT = 6;  // the other series' legend lines, inside the plot's top left

int FrameTypeIndex(char type) {
    for (int t = 0; t < VIDEO_FRAME_TYPE_COUNT; ++t) {
        if (VIDEO_FRAME_TYPES[t] == type) return t;
    }
    return VIDEO_FRAME_TYPE_COUNT - 1;
}

double FrameKbit(const VideoFrame& frame) { return frame.bytes * 8.0 / 1000.0; }

// A value axis from 0 to `top` (never 0), stretched and shifted as the Video
// curve is by the arrow keys.
ChartCurve AxisCurve(const ChartView& view, double top) {
    ChartCurve axis = view.curves[CURVE_VIDEO];
    axis.top = float(top > 0 ? top : 1);
    axis.bottom = 0.0f;
    return axis;
}

int Row(const ChartCurve& axis, double value, const PlotGeometry& g) {
    return MapValueToRow(value, axis, SingleRange(axis), g.plot_height);
}

// The client column of a time, held to the plot: what lies beyond its ends
// is drawn up to them.
int ColumnX(const TimeSpan& span, double time_ms, const PlotGeometry& g) {
    const double column = ColumnOfTime(span, time_ms, g.plot_width);
    const double clamped = column < 0 ? 0 : column > g.plot_width ? g.plot_width : column;
    return PLOT_LEFT + int(std::floor(clamped));
}

struct Labels {
    double top;        // the value axis' top
    const char* unit;  // its caption
};

void DrawTimeTicksAndLabels(HDC dc, const PlotGeometry& g, const TimeSpan& span) {
    const uint32_t step = TimeLabelStepMs(span, g.plot_width, MIN_LABEL_SPACING);
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    ScopedSelection pen(dc, SolidPen(1, INK_COLOR), ScopedSelection::OWNED);
    char text[LABEL_TEXT_SIZE];
    for (uint64_t t = (span.from_ms + step - 1) / step * uint64_t(step); t <= span.to_ms; t += step) {
        const int x = ColumnX(span, double(t), g);
        DrawLine(dc, x, g.bottom, x, g.bottom + TICK_LENGTH);
        FormatTimeLabel(uint32_t(t), step, text, sizeof text);
        DrawLabel(dc, x, g.height - TIME_LABEL_TOP_MARGIN, text);
    }
    DrawLabel(dc, g.width - TIME_UNIT_RIGHT_MARGIN, g.height - TIME_UNIT_TOP_MARGIN, "(mm:ss)");
}

// Grid rows as the whole-file chart has them; columns at the time ticks.
void DrawTimeGrid(HDC dc, const PlotGeometry& g, const TimeSpan& span) {
    ScopedSelection pen(dc, SolidPen(2, GRID_COLOR), ScopedSelection::OWNED);
    for (int y = PLOT_TOP; y < g.bottom; y += GRID_ROW_SPACING) DrawLine(dc, PLOT_LEFT, y, g.right, y);
    const uint32_t step = TimeLabelStepMs(span, g.plot_width, MIN_LABEL_SPACING);
    for (uint64_t t = (span.from_ms + step - 1) / step * uint64_t(step); t <= span.to_ms; t += step) {
        const int x = ColumnX(span, double(t), g);
        if (x < g.right) DrawLine(dc, x, PLOT_TOP, x, g.bottom);
    }
}

void DrawLegendText(HDC dc, const PlotGeometry& g, const char* text) {
    SetTextColor(dc, INK_COLOR);
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    DrawLabel(dc, PLOT_LEFT + g.plot_width / 2, LEGEND_TOP, text);
}

// Windows as a curve: each window's start, the next one's (the last's
// `end_ms`).
struct Windows {
    const BitrateSample* list;
    uint32_t count;
    uint32_t end_ms;
    uint32_t End(uint32_t i) const { return i + 1 < count ? list[i + 1].start_ms : std::max(end_ms, list[i].start_ms); }
    // Those in the span, whole or in part.
    void InSpan(const TimeSpan& span, uint32_t* first, uint32_t* last) const {
        WindowsInSpan(list, count, end_ms, span, first, last);
    }
    // The one whose time holds `t`, or -1.
    int32_t At(double t) const {
        const BitrateSample* after = std::upper_bound(
            list, list + count, t, [](double time, const BitrateSample& w) { return time < w.start_ms; });
        if (after == list) return -1;
        const uint32_t i = uint32_t(after - list - 1);
        return t < End(i) || i + 1 < count ? int32_t(i) : -1;
    }
};

Windows VideoWindows(const ChartView& view) { return Windows{view.windows, view.window_count, view.series_end_ms}; }
Windows SeriesWindows(const ChartSeries& s) { return Windows{s.windows, s.count, s.end_ms}; }

// The windows of the span as steps, each held from its start to its end;
// where more windows than half the columns are visible, each column holds
// the largest of its windows.
void DrawBitrate(HDC dc, const PlotGeometry& g, const Windows& w, const TimeSpan& span, const ChartCurve& axis,
                 COLORREF color) {
    uint32_t first = 0;
    uint32_t last = 0;
    w.InSpan(span, &first, &last);
    if (first >= last) return;
    ScopedSelection pen(dc, SolidPen(1, color), ScopedSelection::OWNED);
    if (last - first <= uint32_t(g.plot_width / 2)) {
        for (uint32_t i = first; i < last; ++i) {
            const int y = Row(axis, w.list[i].kbps, g);
            const int x0 = ColumnX(span, w.list[i].start_ms, g);
            const int x1 = ColumnX(span, w.End(i), g);
            if (i == first) {
                MoveToEx(dc, x0, y, nullptr);
            } else {
                LineTo(dc, x0, y);
            }
            LineTo(dc, x1, y);
        }
        return;
    }
    std::vector<uint32_t> column_max(size_t(g.plot_width) + 1, 0);
    std::vector<bool> used(column_max.size(), false);
    for (uint32_t i = first; i < last; ++i) {
        const int x = ColumnX(span, w.list[i].start_ms, g) - PLOT_LEFT;
        if (x < 0 || x > g.plot_width) continue;
        column_max[size_t(x)] = std::max(column_max[size_t(x)], w.list[i].kbps);
        used[size_t(x)] = true;
    }
    bool started = false;
    for (size_t x = 0; x < column_max.size(); ++x) {
        if (!used[x]) continue;
        const int y = Row(axis, column_max[x], g);
        if (!started) {
            MoveToEx(dc, PLOT_LEFT + int(x), y, nullptr);
            started = true;
        } else {
            LineTo(dc, PLOT_LEFT + int(x), y);
        }
    }
}

void DrawMovingAverageInSpan(HDC dc, const PlotGeometry& g, const ChartView& view, const TimeSpan& span,
                             const ChartCurve& axis) {
    if (view.moving_average_ms == 0 || view.moving_average_count == 0) return;
    const MovingAveragePoint* points = view.moving_average;
    const uint32_t count = view.moving_average_count;
    // The points inside the span, with one on each side, so the line runs to the plot's edges.
    uint32_t first = 0;
    while (first + 1 < count && points[first + 1].middle_ms < span.from_ms) ++first;
    ScopedSelection pen(dc, SolidPen(1, MOVING_AVERAGE_COLOR), ScopedSelection::OWNED);
    for (uint32_t i = first; i < count; ++i) {
        const int x = ColumnX(span, points[i].middle_ms, g);
        const int y = Row(axis, points[i].kbps, g);
        if (i == first) {
            MoveToEx(dc, x, y, nullptr);
        } else {
            LineTo(dc, x, y);
        }
        if (points[i].middle_ms > span.to_ms) break;
    }
}

// The legend's figures of the windows in the span.
SeriesStatisticsRecord FiguresInSpan(const Windows& w, const TimeSpan& span) {
    uint32_t first = 0;
    uint32_t last = 0;
    w.InSpan(span, &first, &last);
    return SeriesStatisticsOf(w.list + first, last - first);
}

// The bitrate plot: the video's windows, the moving average and every other
// series, on one value axis that fits the largest; their legend lines at
// the plot's top left, each in its curve's colour.
void DrawBitratePlot(HDC dc, const PlotGeometry& g, const ChartView& view, const TimeSpan& span, double* top,
                     char* legend, size_t legend_size) {
    const SeriesStatisticsRecord figures = FiguresInSpan(VideoWindows(view), span);
    std::vector<SeriesStatisticsRecord> extra(view.extra_count);
    double largest = figures.max_kbps;
    for (uint32_t i = 0; i < view.extra_count; ++i) {
        extra[i] = FiguresInSpan(SeriesWindows(view.extra_series[i]), span);
        largest = std::max(largest, double(extra[i].max_kbps));
    }
    *top = largest;
    const ChartCurve axis = AxisCurve(view, largest);
    {
        ScopedSelection pen(dc, SolidPen(1, AVERAGE_COLOR), ScopedSelection::OWNED);
        const int y = Row(axis, double(figures.average_kbps), g);
        DrawLine(dc, PLOT_LEFT, y, g.right, y);
    }
    for (uint32_t i = 0; i < view.extra_count; ++i) {
        DrawBitrate(dc, g, SeriesWindows(view.extra_series[i]), span, axis, view.extra_series[i].color);
    }
    DrawBitrate(dc, g, VideoWindows(view), span, axis, view.curves[CURVE_VIDEO].color);
    DrawMovingAverageInSpan(dc, g, view, span, axis);

    char span_text[64] = "";
    if (view.zoomed) {
        FormatSpan(span, span_text, sizeof span_text);
        std::strcat(span_text, "    ");
    }
    std::snprintf(legend, legend_size, "%sMax Time: %d s    Max Bitrate: %d kbps    Average Bitrate: %d kbps",
                  span_text, static_cast<int>(figures.last_start_ms / 1000), static_cast<int32_t>(figures.max_kbps),
                  static_cast<int32_t>(static_cast<uint32_t>(figures.average_kbps)));
    if (view.extra_count == 0) return;
    ScopedSelection font(dc, GetStockObject(SYSTEM_FIXED_FONT), ScopedSelection::STOCK);
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    TEXTMETRICA metrics;
    const int line = GetTextMetricsA(dc, &metrics) ? int(metrics.tmHeight) : 16;
    char text[LABEL_TEXT_SIZE];
    for (uint32_t i = 0; i < view.extra_count; ++i) {
        std::snprintf(text, sizeof text, "%s    Max Bitrate: %d kbps    Average Bitrate: %d kbps",
                      view.extra_series[i].name, static_cast<int32_t>(extra[i].max_kbps),
                      static_cast<int32_t>(static_cast<uint32_t>(extra[i].average_kbps)));
        SetTextColor(dc, view.extra_series[i].color);
        DrawLabel(dc, PLOT_LEFT + SERIES_LEGEND_INDENT, PLOT_TOP + SERIES_LEGEND_INDENT + line * int(i), text);
    }
}

// Bars three columns wide or more leave their last column empty, so
// neighbours stay apart.
int BarEnd(const ChartBar& bar) { return bar.x1 - (bar.x1 - bar.x0 >= 3 ? 1 : 0); }

void FillBar(HDC dc, int x0, int x1, int y, int bottom, COLORREF color) {
    RECT bar = {x0, y < bottom ? y : bottom - 1, x1, bottom};
    ScopedSelection brush(dc, CreateSolidBrush(color), ScopedSelection::OWNED);
    PatBlt(dc, bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top, PATCOPY);
}

bool HasFrames(const ChartView& view) {
    return view.frame_count > 0 && view.frames && view.frame_places && view.frame_order;
}

std::vector<ChartBar> VisibleFrameBars(const ChartView& view, const TimeSpan& span, const PlotGeometry& g) {
    if (!HasFrames(view)) return {};
    return FrameBars(view.frames, view.frame_places, view.frame_order, view.frame_count, view.frame_interval_ms, span,
                     g.plot_width);
}

// The frames as bars coloured by type, their GOPs' first frames as faint
// lines, and a legend of the visible frames' counts.
void DrawFrames(HDC dc, const PlotGeometry& g, const ChartView& view, const TimeSpan& span, double* top, char* legend,
                size_t legend_size) {
    const std::vector<ChartBar> bars = VisibleFrameBars(view, span, g);
    uint32_t counts[VIDEO_FRAME_TYPE_COUNT] = {};
    double largest = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    if (HasFrames(view)) FramesInSpan(view.frame_places, view.frame_order, view.frame_count, span, &first, &last);
    for (uint32_t k = first; k < last; ++k) {
        const uint32_t i = view.frame_order[k];
        ++counts[FrameTypeIndex(view.frames[i].type)];
        largest = std::max(largest, FrameKbit(view.frames[i]));
    }
    *top = largest;
    const ChartCurve axis = AxisCurve(view, largest);
    for (const ChartBar& bar : bars) {
        const VideoFrame& frame = view.frames[bar.item];
        FillBar(dc, PLOT_LEFT + bar.x0, PLOT_LEFT + BarEnd(bar), Row(axis, FrameKbit(frame), g), g.bottom,
                FRAME_COLORS[FrameTypeIndex(frame.type)]);
    }
    // Each GOP's start one column left of its keyframe's bar: in the gap
    // between bars while they are wide enough to have one.
    ScopedSelection pen(dc, SolidPen(1, GOP_LINE_COLOR), ScopedSelection::OWNED);
    for (uint32_t k = first; k < last; ++k) {
        const uint32_t i = view.frame_order[k];
        if (!view.frames[i].keyframe) continue;
        const int x = ColumnX(span, view.frame_places[i], g) - 1;
        if (x > PLOT_LEFT) DrawLine(dc, x, PLOT_TOP, x, g.bottom);
    }
    char span_text[64];
    FormatSpan(span, span_text, sizeof span_text);
    std::snprintf(legend, legend_size, FRAMES_LEGEND, span_text, counts[0], counts[1], counts[2], counts[3]);
}

void DrawGops(HDC dc, const PlotGeometry& g, const ChartView& view, const TimeSpan& span, double* top, char* legend,
              size_t legend_size) {
    const std::vector<ChartBar> bars = GopBars(view.gops, view.gop_count, span, g.plot_width);
    double largest = 0;
    for (const ChartBar& bar : bars) largest = std::max(largest, view.gops[bar.item].kbps);
    *top = largest;
    const ChartCurve axis = AxisCurve(view, largest);
    for (const ChartBar& bar : bars) {
        FillBar(dc, PLOT_LEFT + bar.x0, PLOT_LEFT + BarEnd(bar), Row(axis, view.gops[bar.item].kbps, g), g.bottom,
                GOP_BAR_COLOR);
    }
    char span_text[64];
    FormatSpan(span, span_text, sizeof span_text);
    std::snprintf(legend, legend_size, GOPS_LEGEND, span_text, unsigned(bars.size()), LabelInteger(largest));
}

}  // namespace

int DrawTimeView(HDC dc, const RECT* rect, const ChartView& view) {
    const PlotGeometry g = GeometryOf(rect);
    const TimeSpan span = ShownSpan(view);
    DrawTimeGrid(dc, g, span);
    DrawPlotAxes(dc, g);
    char legend[LABEL_TEXT_SIZE * 2] = "";
    Labels labels = {1, "(kbps)"};
    if (view.kind == CHART_FRAMES) {
        DrawFrames(dc, g, view, span, &labels.top, legend, sizeof legend);
        labels.unit = "(kbit)";
    } else if (view.kind == CHART_GOPS) {
        DrawGops(dc, g, view, span, &labels.top, legend, sizeof legend);
    } else {
        DrawBitratePlot(dc, g, view, span, &labels.top, legend, sizeof legend);
    }
    ScopedSelection font(dc, GetStockObject(SYSTEM_FIXED_FONT), ScopedSelection::STOCK);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, INK_COLOR);
    DrawTimeTicksAndLabels(dc, g, span);
    {
        ScopedSelection pen(dc, SolidPen(1, INK_COLOR), ScopedSelection::OWNED);
        DrawValueTicks(dc, g);
    }
    DrawValueLabels(dc, g, labels.top, labels.unit);
    DrawLegendText(dc, g, legend);
    return 1;
}

int DrawMovingAverage(HDC dc, const RECT* rect, const ChartView& view) {
    if (view.moving_average_ms == 0 || view.moving_average_count == 0 || view.window_count == 0) return 1;
    const PlotGeometry g = GeometryOf(rect);
    if (g.plot_width <= 0) return 1;
    // Over the whole-file chart each point goes to the column of the window
    // its middle falls in, on the Video curve's value axis.
    const ChartCurve& video = view.curves[CURVE_VIDEO];
    float range = SingleRange(video);
    if (range == 0.0f) range = 1.0f;
    ScopedSelection pen(dc, SolidPen(1, MOVING_AVERAGE_COLOR), ScopedSelection::OWNED);
    uint32_t window = 0;
    for (uint32_t i = 0; i < view.moving_average_count; ++i) {
        const MovingAveragePoint& point = view.moving_average[i];
        while (window + 1 < view.window_count && view.windows[window + 1].start_ms <= point.middle_ms) ++window;
        const int x = PLOT_LEFT + ChartedWindowColumn(view, window, g.plot_width);
        const int y = MapValueToRow(point.kbps, video, range, g.plot_height);
        if (i == 0) {
            MoveToEx(dc, x, y, nullptr);
        } else {
            LineTo(dc, x, y);
        }
    }
    return 1;
}

int DrawDragBand(HDC dc, const RECT* rect, const ChartView& view) {
    if (!view.drag.active) return 1;
    const PlotGeometry g = GeometryOf(rect);
    const int x0 = std::min(view.drag.from_x, view.drag.to_x);
    const int x1 = std::max(view.drag.from_x, view.drag.to_x);
    ScopedSelection pen(dc, CreatePen(PS_DOT, 1, BAND_COLOR), ScopedSelection::OWNED);
    ScopedSelection brush(dc, GetStockObject(NULL_BRUSH), ScopedSelection::STOCK);
    SetBkMode(dc, TRANSPARENT);
    Rectangle(dc, x0, PLOT_TOP, x1 + 1, g.bottom + 1);
    return 1;
}

int32_t TimeViewItemAt(const RECT* rect, const ChartView& view, int x, int y) {
    const PlotGeometry g = GeometryOf(rect);
    if (x < PLOT_LEFT || x > g.right || y < PLOT_TOP || y > g.bottom || g.plot_width <= 0) return -1;
    const TimeSpan span = ShownSpan(view);
    const int column = x - PLOT_LEFT;
    if (view.kind == CHART_FRAMES || view.kind == CHART_GOPS) {
        const std::vector<ChartBar> bars = view.kind == CHART_FRAMES
                                               ? VisibleFrameBars(view, span, g)
                                               : GopBars(view.gops, view.gop_count, span, g.plot_width);
        for (const ChartBar& bar : bars) {
            if (column >= bar.x0 && column < bar.x1) return bar.item;
        }
        return -1;
    }
    if (view.window_count == 0 || view.windows == nullptr) return -1;
    // The window the column's time falls in: the last to start at or before it.
    const double time = TimeOfColumn(span, column, g.plot_width);
    const BitrateSample* end = view.windows + view.window_count;
    const BitrateSample* after =
        std::upper_bound(view.windows, end, time, [](double t, const BitrateSample& w) { return t < w.start_ms; });
    return after == view.windows ? 0 : int32_t(after - view.windows - 1);
}

void FormatChartReadout(const ChartView& view, int32_t item, char* out, size_t size) {
    if (item < 0) {
        std::snprintf(out, size, "%s", "");
        return;
    }
    char time[32];
    if (view.kind == CHART_FRAMES && uint32_t(item) < view.frame_count) {
        const VideoFrame& f = view.frames[item];
        FormatTimeLabel(f.timestamp_ms, 100, time, sizeof time);
        std::snprintf(out, size, "%s  %c  %.1f kbit  %" PRIu32 " packet%s", time, f.type, FrameKbit(f), f.packets,
                      f.packets == 1 ? "" : "s");
    } else if (view.kind == CHART_GOPS && uint32_t(item) < view.gop_count) {
        const VideoGop& gop = view.gops[item];
        FormatTimeLabel(gop.start_ms, 100, time, sizeof time);
        std::snprintf(out, size, "%s  %" PRIu32 " frames  %.1f s  %.0f kbps", time, gop.frames,
                      gop.duration_ms / 1000.0, gop.kbps);
    } else {
        FormatReadout(view, uint32_t(item), out, size);
        if (uint32_t(item) >= view.window_count || view.windows == nullptr) return;
        // Each other series' window at the same time.
        const uint32_t at = view.windows[item].start_ms;
        for (uint32_t i = 0; i < view.extra_count; ++i) {
            const ChartSeries& s = view.extra_series[i];
            const int32_t w = SeriesWindows(s).At(at);
            const size_t used = std::strlen(out);
            if (w < 0 || used + 1 >= size) continue;
            std::snprintf(out + used, size - used, "   %s %" PRIu32 " kbps", s.name, s.windows[w].kbps);
        }
    }
}
