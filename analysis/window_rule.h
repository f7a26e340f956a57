// How the measured stream's packets make the windows of the bitrate series:
// a window closes on the first packet more than a second past its start.
#ifndef KOV_ANALYSIS_WINDOW_RULE_H
#define KOV_ANALYSIS_WINDOW_RULE_H

#include <cstdint>

#include "analysis/analysis_run.h"

// A window closes on the first packet more than this far past its start.
const uint32_t WINDOW_MS = 1000;
// Until the first window is closed, a packet this far in means the stream
// starts too late to measure.
const uint32_t FIRST_WINDOW_LIMIT_MS = 10000;
// After the first window, a packet further than this (or before the window
// start, which wraps to a huge distance) is a gap in the video.
const uint32_t GAP_LIMIT_MS = 2000;
// The last entry of the series is never written, so the zero end marker
// always survives and readers that stop at it never run off the table.
const uint32_t STORABLE_WINDOWS = BITRATE_SERIES_SIZE - 1;

// The open window. Zero-initialise it to start: the first window starts at
// 0 ms, whatever the stream's first timestamp.
struct WindowAccumulator {
    uint32_t start_ms;
    uint64_t bytes;
    uint32_t closed;  // windows closed so far, stored or not
};

enum WindowStep {
    WINDOW_GOES_ON,      // the packet lies in the open window
    WINDOW_CLOSED,       // the packet closed it and counts in it
    WINDOW_STARTS_LATE,  // no window yet and the packet lies too far in
    WINDOW_GAP,          // a gap in the video: a frame gap
};

// Adds one packet of the measured stream. On WINDOW_CLOSED, `closed` gets the
// window the packet closes, and the next one starts at the packet's
// timestamp without its bytes. The other steps end the measurement.
WindowStep AddPacketToWindow(WindowAccumulator* windows, uint32_t timestamp, uint32_t length, BitrateSample* closed);

// A window's bitrate: bytes x 8 / milliseconds, truncated, in 64 bits so a
// window of more than 512 MiB cannot wrap; saturates at 0xFFFFFFFF.
uint32_t WindowKbps(uint64_t bytes, uint32_t duration_ms);

#endif
