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

// Writes the back buffer's pixels to `path` (in the process code page) as a
// PNG file. 1 when written; 0, and no file left, when not.
int SaveChartPicture(const char* path);

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
// The readout of a charted window in the top right corner, above the legend.
int DrawReadout(HDC dc, const RECT* rect, const ChartView& view, uint32_t window);

// The charted window under the pointer at (x, y), -1 when the pointer is not
// over the plot or nothing is charted.
int ReadoutWindowAt(const RECT* rect, const ChartView& view, int x, int y);
// The readout's text: the window's start as m:ss and its kbps.
void FormatReadout(const ChartView& view, uint32_t window, char* out, size_t size);

#endif
