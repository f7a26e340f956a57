// The chart's plot geometry, colours and small drawing helpers, shared by its drawing steps.
#ifndef KOV_CHART_PLOT_GEOMETRY_WIN32_H
#define KOV_CHART_PLOT_GEOMETRY_WIN32_H

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "chart/chart_model.h"

namespace plot {

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
// The legends over the plot: the whole file's figures; a stretch's (its
// span first) of the windows, the frames or the GOPs it shows.
const char BITRATE_LEGEND[] = "Max Time: %d s    Max Bitrate: %d kbps    Average Bitrate: %d kbps";
const char SPAN_BITRATE_LEGEND[] = "%s    Max Time: %d s    Max Bitrate: %d kbps    Average Bitrate: %d kbps";
const char FRAMES_LEGEND[] = "%s    Frames: I %u    P %u    B %u    ? %u";
const char GOPS_LEGEND[] = "%s    GOPs: %u    Max GOP Bitrate: %d kbps";
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

inline PlotGeometry GeometryOf(const RECT* rect) {
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
inline float SingleRange(const ChartCurve& curve) {
    volatile float range = curve.top - curve.bottom;
    return range;
}

// Maps a value to a client row for a curve's range, scale and offset.
// Computed in double and clamped before the conversion, so no row outside the
// int range reaches GDI. A row that comes out NaN (a value times a scale that
// is no number) goes where the value 0 lies, which the scale never moves: the
// time axis unless the curve is shifted.
inline int MapValueToRow(double value, const ChartCurve& curve, float range, int plot_height) {
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
inline int LabelInteger(double value) {
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

inline void DrawLine(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

inline void DrawLabel(HDC dc, int x, int y, const char* text) {
    TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text)));
}

inline HGDIOBJ SolidPen(int width, COLORREF color) { return CreatePen(PS_SOLID, width, color); }

// Shared by the whole-file chart and the time view: the value axis' ticks
// (with the pen selected), its labels from 0 up to `top` and its unit above
// it, and the two axes.
void DrawValueTicks(HDC dc, const PlotGeometry& g);
void DrawValueLabels(HDC dc, const PlotGeometry& g, double top, const char* unit);
void DrawPlotAxes(HDC dc, const PlotGeometry& g);

}  // namespace plot

#endif
