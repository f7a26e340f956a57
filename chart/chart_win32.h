// The chart's Win32 side: the back buffer, the redraw, the paint, window
// creation and the arrow keys, and the GDI drawing steps.
#ifndef KOV_CHART_CHART_WIN32_H
#define KOV_CHART_CHART_WIN32_H

#include <windows.h>

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

// Drawing steps: each draws into dc over the client rectangle and returns 1.
int FillBackground(HDC dc, COLORREF color, const RECT* rect);
int DrawGrid(HDC dc, int first_column_x, int first_row_y, const RECT* rect);
int DrawAxesAndAverage(HDC dc, const RECT* rect);
int DrawCurves(HDC dc, const RECT* rect);
int DrawTicksAndLabels(HDC dc, const RECT* rect);

#endif
