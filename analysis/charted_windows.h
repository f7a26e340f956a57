// The windows the chart shows, kept apart from BitrateSeries (which the next
// run clears even when it fails and the chart stays), which of them hold a
// keyframe once that is known, and where each lies along the Video curve.
#ifndef KOV_ANALYSIS_CHARTED_WINDOWS_H
#define KOV_ANALYSIS_CHARTED_WINDOWS_H

#include <cstdint>

#include "analysis/analysis_run.h"

struct ChartedWindowsRecord {
    // 0 until a run has drawn a chart; then at least 1, as the chart counts
    // them (a run that stored no window shows one window of 0 kbps).
    uint32_t count;
    BitrateSample windows[BITRATE_SERIES_SIZE];
    int keyframes_known;  // keyframe[] holds the file's figures
    uint8_t keyframe[BITRATE_SERIES_SIZE];
};

extern ChartedWindowsRecord ChartedWindows;

// Takes the series as the chart reads it (entry 0, then every entry up to
// the first later one that starts at 0); the keyframes are not known yet.
void KeepChartedWindows();

// Whether a measurement's `count` stored windows are the charted ones. No
// stored window matches the single empty window the chart then shows.
bool ChartShowsWindows(const BitrateSample* windows, uint32_t count);

// Marks the charted windows that hold a keyframe, from the keyframes counted
// in each of the same windows. False (and nothing marked) when `count` is not
// the charted count.
bool NoteChartedKeyframes(const uint32_t* keyframes, uint32_t count);

// Where windows lie along the Video curve of a plot `plot_width` pixels wide
// (columns counted from the value axis, 0 to plot_width). Up to 512 windows
// a window is drawn as two points; the window under a column is the one
// whose point lies nearest. Beyond, the points are buckets of start times
// and the columns a time axis from 0 to the last window's start; the window
// under a column is the one whose start lies nearest that column's time.
// -1 when nothing is charted or the plot has no width.
int32_t ChartedWindowAtColumn(int column, int plot_width);
// The column a window's mark goes under: the middle of its two points, or
// its bucket's point.
int ChartedWindowColumn(uint32_t index, int plot_width);

#endif
