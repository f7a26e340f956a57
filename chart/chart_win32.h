// The chart's Win32 side: the back buffer, the redraw, the paint, window
// creation, the arrow keys, the pointer and the wheel, the GDI drawing steps
// and the picture saved as a file.
#ifndef KOV_CHART_CHART_WIN32_H
#define KOV_CHART_CHART_WIN32_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "chart/chart_model.h"
#include "chart/chart_view.h"

extern HDC BackBufferDC;
extern HBITMAP BackBufferBitmap;

int CreateBackBuffer(HWND window);
int ReleaseBackBuffer();
// The redraw and everything that calls it take the view to draw: the
// picture of `view` in the back buffer (the background alone while a run is
// pending). The view's readout window is set to the one drawn.
int ResizeChart(HWND window, ChartView& view);
void RedrawChart(HWND window, ChartView& view);
void PaintChart(HWND window, HDC paint_dc);
int InitChart(HWND window);
void HandleChartKey(HWND window, WPARAM virtual_key, ChartView& view);

// The pointer moved to (x, y) of the client area: the readout follows it
// over the plot and goes when it leaves the plot.
void HandleChartPointer(HWND window, int x, int y, ChartView& view);
// The pointer left the client area: the readout goes.
void HandleChartPointerLeave(HWND window, ChartView& view);
// A wheel turn of `delta` (WHEEL_DELTA a notch, either sign): one Right
// press per notch away from the user, one Left press per notch towards.
void HandleChartWheel(HWND window, int delta, ChartView& view);

// Time zoom, each redrawing the chart. The factor zooms in above 1, around
// the time under client column `anchor_x` (the plot's middle when
// negative), which keeps its place; a pan moves by a fraction of the view
// (negative: back in time). A view that reaches the whole file is the
// whole-file chart again.
void ZoomChartTime(HWND window, ChartView& view, double factor, int anchor_x);
void PanChartTime(HWND window, ChartView& view, double fraction);
// The whole file again, with the Video curve's scale and offset as created.
void ShowWholeFile(HWND window, ChartView& view);

// A drag with the left button: pressed over the plot it starts (and takes
// the capture), the band follows the pointer, and released at least a few
// columns away it zooms to the time swept over; a click does nothing. The
// pointer's moves reach the drag through HandleChartPointer (true: the band
// moved and the chart was redrawn).
void HandleChartButtonDown(HWND window, int x, int y, ChartView& view);
bool HandleChartDragMove(HWND window, int x, ChartView& view);
void HandleChartButtonUp(HWND window, int x, ChartView& view);
// The capture went elsewhere mid-drag: the drag ends without a zoom.
void HandleChartCaptureLost(HWND window, ChartView& view);
// The wheel with Ctrl (`zoom`: 1.25 times in per notch away from the user,
// around client column `pointer_x`) or Shift (a tenth of the view back in
// time per notch away); the horizontal wheel pans, tilted right forward.
void HandleChartTimeWheel(HWND window, int delta, bool zoom, int pointer_x, ChartView& view);
void HandleChartHorizontalWheel(HWND window, int delta, ChartView& view);

// The smallest client size at which every legend and label of the chart
// fits, in the chart's font on `dc`: the widest legend over the plot and
// the readout above it, one step of each axis.
SIZE ChartMinimumClientSize(HDC dc);

// Writes the back buffer's pixels to `path` (in the process code page) as a
// PNG file, with `title` (the measured file's name; none when null or empty)
// as its "Title" text. 1 when written; 0, and no file left, when not.
int SaveChartPicture(const char* path, const char* title = nullptr);

// Drawing steps: each draws into dc over the client rectangle and returns 1;
// those that draw data draw the view's.
int FillBackground(HDC dc, COLORREF color, const RECT* rect);
int DrawGrid(HDC dc, int first_column_x, int first_row_y, const RECT* rect);
int DrawAxesAndAverage(HDC dc, const RECT* rect, const ChartView& view);
int DrawCurves(HDC dc, const RECT* rect, const ChartView& view);
int DrawTicksAndLabels(HDC dc, const RECT* rect, const ChartView& view);

// Drawn over the chart on request, with the same arguments.
// A short tick under the time axis for each charted window that holds a
// keyframe, between the time ticks and their labels; nothing while the
// keyframes are not known.
int DrawKeyframeTicks(HDC dc, const RECT* rect, const ChartView& view);
// The readout of a charted item (see ChartView::readout_window) in the top
// right corner, above the legend.
int DrawReadout(HDC dc, const RECT* rect, const ChartView& view, uint32_t item);
// The moving average over the whole-file chart, on the Video curve's axis.
int DrawMovingAverage(HDC dc, const RECT* rect, const ChartView& view);
// The band of a drag under way.
int DrawDragBand(HDC dc, const RECT* rect, const ChartView& view);

// Every other picture: a stretch of time, or the frames or GOPs, with their
// own grid, axes, labels and legend (and the moving average over a
// stretch's bitrate).
int DrawTimeView(HDC dc, const RECT* rect, const ChartView& view);

// The charted item under the pointer at (x, y) (a window, or a frame or GOP
// in their plots), -1 when the pointer is not over the plot or nothing is
// there.
int ReadoutWindowAt(const RECT* rect, const ChartView& view, int x, int y);
int32_t TimeViewItemAt(const RECT* rect, const ChartView& view, int x, int y);
// The readout's text: a window's start as m:ss and its kbps.
void FormatReadout(const ChartView& view, uint32_t window, char* out, size_t size);
// The readout's text for an item of the view's kind: a window as above; a
// frame's time, type, size and packets; a GOP's start, frames, length and
// kbps.
void FormatChartReadout(const ChartView& view, int32_t item, char* out, size_t size);

#endif
