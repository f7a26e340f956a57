// File > Export CSV... and File > Save Chart As...: a Save As dialog that
// proposes the measured file's name, and the file each command writes.
#ifndef KOV_SHELL_FILE_EXPORTS_H
#define KOV_SHELL_FILE_EXPORTS_H

#include <windows.h>

#include <cstddef>

// The measured file's windows as rmrate --csv writes them.
void ExportWindowsCsv(HWND main_window);
// The measured file's frames as rmrate --frames writes them.
void ExportFramesCsv(HWND main_window);
// The chart, the back buffer's pixels, as a PNG file.
void SaveChartAs(HWND main_window);

// `path` with the extension of its file name (from the name's last '.')
// replaced by `extension`, or `extension` added when the name has none.
// Empty when the result does not fit `size`.
void ReplaceExtension(const char* path, const char* extension, char* out, size_t size);

#endif
