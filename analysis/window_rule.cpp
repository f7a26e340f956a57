// The window rule: one packet at a time, with the window's bitrate when it closes.
#include "analysis/window_rule.h"

WindowStep AddPacketToWindow(WindowAccumulator* windows, uint32_t timestamp, uint32_t length, BitrateSample* closed) {
    windows->bytes += length;
    const uint32_t distance = timestamp - windows->start_ms;
    if (distance <= WINDOW_MS) return WINDOW_GOES_ON;
    if (windows->closed == 0 && distance > FIRST_WINDOW_LIMIT_MS) return WINDOW_STARTS_LATE;
    if (windows->closed > 0 && distance > GAP_LIMIT_MS) return WINDOW_GAP;
    closed->start_ms = windows->start_ms;
    closed->kbps = WindowKbps(windows->bytes, distance);
    ++windows->closed;
    windows->bytes = 0;
    windows->start_ms = timestamp;
    return WINDOW_CLOSED;
}

uint32_t WindowKbps(uint64_t bytes, uint32_t duration_ms) {
    if (duration_ms == 0) return 0;  // never asked by the run: a window spans more than 1000 ms
    if (bytes > UINT64_MAX / 8) return 0xFFFFFFFFu;
    const uint64_t kbps = bytes * 8 / duration_ms;
    return kbps > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(kbps);
}
