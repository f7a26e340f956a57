// The GDI drawing steps of the chart. Each step draws into the DC it is given
// over the client rectangle, so tests can run them on a DC of their own.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "analysis/result_messages.h"
#include "chart/chart_model.h"
#include "chart/chart_win32.h"
#include "chart/gdi_guards_win32.h"

namespace {

// Plot area: fixed margins around the client rectangle.
const int PLOT_LEFT = 110;
const int PLOT_TOP = 50;
const int PLOT_RIGHT_MARGIN = 94;
const int PLOT_BOTTOM_MARGIN = 68;

const int GRID_COLUMN_SPACING = 70;  // also the time tick spacing
const int GRID_ROW_SPACING = 27;
const int VALUE_TICK_SPACING = 40;
const int TICK_LENGTH = 5;  // out from the axis

// Labels, placed from the client's edges as the plot's margins are.
const int TIME_LABEL_TOP_MARGIN = 58;      // top of the time labels, above the client's bottom
const int VALUE_LABEL_RIGHT = 100;         // right end of the value labels
const int VALUE_LABEL_BOTTOM_MARGIN = 59;  // bottom of the "0" label, above the client's bottom
const int TIME_UNIT_RIGHT_MARGIN = 54;     // centre of "(mm:ss)", left of the client's right edge
const int TIME_UNIT_TOP_MARGIN = 76;       // top of "(mm:ss)", above the client's bottom
const int VALUE_UNIT_BOTTOM = 40;          // bottom of "(kbps)", whose right end is the value axis
const int LEGEND_TOP = 25;                 // top of the legend, centred over the plot
const int LABEL_TEXT_SIZE = 160;
// The readout: right-aligned in the band above the legend and "(kbps)",
// which nothing else draws into.
const int READOUT_RIGHT_MARGIN = 10;  // right end, left of the client's right edge
const int READOUT_TOP = 5;            // a text line tall, it ends above LEGEND_TOP

const COLORREF GRID_COLOR = 0x00555555;
const COLORREF INK_COLOR = 0x00FFFFFF;  // axes, tick marks and texts
const COLORREF AVERAGE_COLOR = 0x000000FF;
const COLORREF KEYFRAME_COLOR = 0x00FFFF00;  // cyan: no other part of the chart uses it

// Rows are clamped to this before they become ints: far beyond any screen, yet
// well inside the 27-bit coordinates NT-family GDI draws lines with. A segment
// to a clamped point keeps its on-screen slope to within a pixel for windows
// up to several thousand pixels high.
const double ROW_LIMIT = 1000000.0;

struct PlotGeometry {
    int width;   // client width W
    int height;  // client height H
    int right;   // W - 94
    int bottom;  // H - 68
    int plot_width;
    int plot_height;
};

PlotGeometry GeometryOf(const RECT* rect) {
    PlotGeometry g;
    g.width = rect->right;
    g.height = rect->bottom;
    g.right = g.width - PLOT_RIGHT_MARGIN;
    g.bottom = g.height - PLOT_BOTTOM_MARGIN;
    g.plot_width = g.width - (PLOT_LEFT + PLOT_RIGHT_MARGIN);
    g.plot_height = g.height - (PLOT_TOP + PLOT_BOTTOM_MARGIN);
    return g;
}

// x87 code may keep a float difference in an 80-bit register; going through
// memory rounds it to single precision, which the value range is defined in.
float SingleRange(const ChartCurve& curve) {
    volatile float range = curve.top - curve.bottom;
    return range;
}

// Maps a value to a client row for a curve's range, scale and offset.
// Computed in double and clamped before the conversion, so no row outside the
// int range reaches GDI. A row that comes out NaN (a value times a scale that
// is no number) goes where the value 0 lies, which the scale never moves: the
// time axis unless the curve is shifted.
int MapValueToRow(double value, const ChartCurve& curve, float range, int plot_height) {
    const double ph = plot_height;
    const double shift = PLOT_TOP - ph * static_cast<double>(curve.offset);
    double y =
        ph * (static_cast<double>(curve.top) - value * static_cast<double>(curve.scale)) / static_cast<double>(range) +
        shift;
    if (y != y) {
        y = ph * static_cast<double>(curve.top) / static_cast<double>(range) + shift;
    }
    if (y != y) {
        y = PLOT_TOP + ph;
    }
    if (y < -ROW_LIMIT) {
        y = -ROW_LIMIT;
    } else if (y > ROW_LIMIT) {
        y = ROW_LIMIT;
    }
    return static_cast<int>(y);
}

// Label figures are truncated toward zero and printed with %d. Out-of-range
// doubles must not reach a plain int conversion; beyond 32 bits they keep
// their low 32 bits, as the legend's figures do.
int LabelInteger(double value) {
    if (!(value == value)) {
        return 0;
    }
    const double limit = 4611686018427387904.0;  // 2^62
    if (value > limit) {
        value = limit;
    } else if (value < -limit) {
        value = -limit;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(value)));
}

void DrawLine(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

void DrawLabel(HDC dc, int x, int y, const char* text) {
    TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text)));
}

HGDIOBJ SolidPen(int width, COLORREF color) { return CreatePen(PS_SOLID, width, color); }

// How many tick intervals fit along each axis. The counts keep their fraction:
// a partial interval gets no tick.
struct TickIntervals {
    double time;   // along the time axis
    double value;  // up the value axis
};

TickIntervals TickIntervalsOf(const PlotGeometry& g) {
    TickIntervals n;
    n.time = g.plot_width / static_cast<double>(GRID_COLUMN_SPACING);
    n.value = g.plot_height / static_cast<double>(VALUE_TICK_SPACING);
    return n;
}

void DrawTicks(HDC dc, const PlotGeometry& g, const TickIntervals& n) {
    ScopedSelection pen(dc, SolidPen(1, INK_COLOR), ScopedSelection::OWNED);
    if (n.value >= 0) {
        for (int k = 0; k <= n.value; ++k) {
            const int y = g.bottom - VALUE_TICK_SPACING * k;
            DrawLine(dc, PLOT_LEFT, y, PLOT_LEFT - TICK_LENGTH, y);
        }
    }
    if (n.time >= 0) {
        for (int k = 0; k <= n.time; ++k) {
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

// kbps beside each value tick, then the unit.
void DrawValueLabels(HDC dc, const PlotGeometry& g, double intervals, const SeriesStatisticsRecord& figures) {
    SetTextColor(dc, INK_COLOR);
    SetTextAlign(dc, TA_RIGHT | TA_BOTTOM);
    if (intervals >= 0) {
        const double kbps_step = figures.max_kbps / intervals;
        double v = 0.0;
        char text[LABEL_TEXT_SIZE];
        for (int k = 0; k <= intervals; ++k) {
            std::snprintf(text, sizeof text, "%d", LabelInteger(v));
            DrawLabel(dc, VALUE_LABEL_RIGHT, g.height - VALUE_LABEL_BOTTOM_MARGIN - VALUE_TICK_SPACING * k, text);
            v += kbps_step;
        }
    }
    SetTextAlign(dc, TA_RIGHT | TA_BOTTOM);
    DrawLabel(dc, PLOT_LEFT, VALUE_UNIT_BOTTOM, "(kbps)");
}

// The three figures above the plot.
void DrawLegend(HDC dc, const PlotGeometry& g, const SeriesStatisticsRecord& figures) {
    SetTextColor(dc, INK_COLOR);
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    char text[LABEL_TEXT_SIZE];
    std::snprintf(text, sizeof text, "Max Time: %d s    Max Bitrate: %d kbps    Average Bitrate: %d kbps",
                  static_cast<int>(figures.last_start_ms / 1000), static_cast<int32_t>(figures.max_kbps),
                  static_cast<int32_t>(static_cast<uint32_t>(figures.average_kbps)));
    DrawLabel(dc, PLOT_LEFT + g.plot_width / 2, LEGEND_TOP, text);
}

}  // namespace

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
    {
        ScopedSelection pen(dc, SolidPen(1, INK_COLOR), ScopedSelection::OWNED);
        MoveToEx(dc, PLOT_LEFT, PLOT_TOP, nullptr);
        LineTo(dc, PLOT_LEFT, g.bottom);
        LineTo(dc, g.right, g.bottom);
    }
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
    const TickIntervals intervals = TickIntervalsOf(g);
    DrawTicks(dc, g, intervals);

    // One font and ink for every label; the stock font is selected back out.
    ScopedSelection font(dc, GetStockObject(SYSTEM_FIXED_FONT), ScopedSelection::STOCK);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, INK_COLOR);
    DrawTimeLabels(dc, g, intervals.time, *view.figures);
    DrawValueLabels(dc, g, intervals.value, *view.figures);
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
    ScopedSelection pen(dc, SolidPen(1, KEYFRAME_COLOR), ScopedSelection::OWNED);
    int last_column = -1;
    for (uint32_t i = 0; i < view.window_count; ++i) {
        if (view.window_keyframes[i] == 0) {
            continue;
        }
        // Windows of one bucket share a column: one tick is enough.
        const int column = ChartedWindowColumn(view, i, g.plot_width);
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

int DrawReadout(HDC dc, const RECT* rect, const ChartView& view, uint32_t window) {
    char text[LABEL_TEXT_SIZE];
    FormatReadout(view, window, text, sizeof text);
    ScopedSelection font(dc, GetStockObject(SYSTEM_FIXED_FONT), ScopedSelection::STOCK);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, INK_COLOR);
    SetTextAlign(dc, TA_RIGHT | TA_TOP);
    DrawLabel(dc, rect->right - READOUT_RIGHT_MARGIN, READOUT_TOP, text);
    return 1;
}

int ReadoutWindowAt(const RECT* rect, const ChartView& view, int x, int y) {
    const PlotGeometry g = GeometryOf(rect);
    if (x < PLOT_LEFT || x > g.right || y < PLOT_TOP || y > g.bottom) {
        return -1;
    }
    return ChartedWindowAtColumn(view, x - PLOT_LEFT, g.plot_width);
}
