// The chart's Win32 side: the back buffer, the redraw, the paint, window
// creation, the arrow keys, the pointer and the wheel, the GDI drawing steps
// and the picture saved as a file.
#ifndef KOV_CHART_CHART_WIN32_H
#define KOV_CHART_CHART_WIN32_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "chart/chart_model.h"

extern HDC BackBufferDC;
extern HBITMAP BackBufferBitmap;

int CreateBackBuffer(HWND window);
int ReleaseBackBuffer();
int ResizeChart(HWND window);
void RedrawChart(HWND window);
void PaintChart(HWND window, HDC paint_dc);
int InitChart(HWND window);
void HandleChartKey(HWND window, WPARAM virtual_key);

// What the chart draws over its picture when asked to, and the pointer it
// follows for that. Nothing is drawn by default.
struct ChartMarksRecord {
    int keyframes;  // ticks under the windows that hold a keyframe (View > Keyframes)
    // The pointer: over the client area since its last move, until it left.
    int pointer_in_window;
    int pointer_x;
    int pointer_y;
    int tracking_leave;  // the system will say when the pointer leaves
    // The charted window the readout in the back buffer shows; -1: none.
    int readout_window;
    int wheel_remainder;  // of a notch, from wheels that send parts of one
};

extern ChartMarksRecord ChartMarks;
// Nothing drawn over the chart, no pointer seen: the state of a new window.
const ChartMarksRecord NO_CHART_MARKS = {0, 0, 0, 0, 0, -1, 0};

// The pointer moved to (x, y) of the client area: the readout follows it
// over the plot and goes when it leaves the plot.
void HandleChartPointer(HWND window, int x, int y);
// The pointer left the client area: the readout goes.
void HandleChartPointerLeave(HWND window);
// A wheel turn of `delta` (WHEEL_DELTA a notch, either sign): one Right
// press per notch away from the user, one Left press per notch towards.
void HandleChartWheel(HWND window, int delta);

// Writes the back buffer's pixels to `path` (in the process code page) as a
// PNG file. 1 when written; 0, and no file left, when not.
int SaveChartPicture(const char* path);

// Drawing steps: each draws into dc over the client rectangle and returns 1.
int FillBackground(HDC dc, COLORREF color, const RECT* rect);
int DrawGrid(HDC dc, int first_column_x, int first_row_y, const RECT* rect);
int DrawAxesAndAverage(HDC dc, const RECT* rect);
int DrawCurves(HDC dc, const RECT* rect);
int DrawTicksAndLabels(HDC dc, const RECT* rect);

// Drawn over the chart on request, with the same arguments.
// A short tick under the time axis for each charted window that holds a
// keyframe, between the time ticks and their labels; nothing while the
// keyframes are not known.
int DrawKeyframeTicks(HDC dc, const RECT* rect);
// The readout of a charted window in the top right corner, above the legend.
int DrawReadout(HDC dc, const RECT* rect, uint32_t window);

// The charted window under the pointer at (x, y), -1 when the pointer is not
// over the plot or nothing is charted.
int ReadoutWindowAt(const RECT* rect, int x, int y);
// The readout's text: the window's start as m:ss and its kbps.
void FormatReadout(uint32_t window, char* out, size_t size);

#endif
