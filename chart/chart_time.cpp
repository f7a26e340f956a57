// The visible stretch of time: zoom and pan within the file, labels that suit it, what lies in it.
#include "chart/chart_time.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace {

const uint32_t LABEL_STEPS_MS[] = {
    100,    200,    500,    1000,   2000,    5000,    10000,   15000,    30000,    60000,
    120000, 300000, 600000, 900000, 1800000, 3600000, 7200000, 18000000, 36000000,
};

// [from, to) of columns a bar over [from_ms, to_ms) covers, at least one.
ChartBar BarOver(int32_t item, double from_ms, double to_ms, const TimeSpan& span, int plot_width) {
    ChartBar bar;
    bar.item = item;
    bar.x0 = int(std::floor(ColumnOfTime(span, from_ms, plot_width)));
    bar.x1 = int(std::floor(ColumnOfTime(span, to_ms, plot_width)));
    if (bar.x0 < 0) bar.x0 = 0;
    if (bar.x1 > plot_width) bar.x1 = plot_width;
    if (bar.x1 <= bar.x0) bar.x1 = bar.x0 + 1;
    return bar;
}

// The next bar, left to right. Items that start in one column share it,
// which shows the one `larger` picks; an item that starts before the last
// one's end cuts that one short.
template <class Larger>
void AddBar(std::vector<ChartBar>* bars, const ChartBar& bar, Larger larger) {
    if (!bars->empty()) {
        ChartBar& before = bars->back();
        if (bar.x0 <= before.x0) {
            if (larger(bar.item, before.item)) before.item = bar.item;
            return;
        }
        if (before.x1 > bar.x0) before.x1 = bar.x0;
    }
    bars->push_back(bar);
}

}  // namespace

TimeSpan ClampSpan(int64_t from_ms, int64_t to_ms, const TimeLimits& limits) {
    const int64_t end = limits.end_ms;
    int64_t length = to_ms - from_ms;
    if (length < int64_t(limits.min_ms)) length = limits.min_ms;
    if (length > end) length = end;
    // A narrowed view stays centred where it was.
    if (to_ms - from_ms < length) from_ms -= (length - (to_ms - from_ms)) / 2;
    if (from_ms < 0) from_ms = 0;
    if (from_ms + length > end) from_ms = end - length;
    TimeSpan span;
    span.from_ms = uint32_t(from_ms);
    span.to_ms = uint32_t(from_ms + length);
    if (span.to_ms <= span.from_ms) span.to_ms = span.from_ms + 1;  // a file of no length still has an axis
    return span;
}

TimeSpan ZoomSpan(const TimeSpan& span, double factor, double anchor_ms, double anchor_place,
                  const TimeLimits& limits) {
    if (!(factor > 0)) factor = 1;
    factor = std::min(std::max(factor, 1e-3), 1e3);  // keeps the new ends finite
    if (!(anchor_place >= 0)) anchor_place = 0;
    if (anchor_place > 1) anchor_place = 1;
    const double length = (double(span.to_ms) - span.from_ms) / factor;
    const double from = anchor_ms - anchor_place * length;
    return ClampSpan(int64_t(std::llround(from)), int64_t(std::llround(from + length)), limits);
}

bool IsWholeFile(const TimeSpan& span, const TimeLimits& limits) {
    return span.from_ms == 0 && span.to_ms >= limits.end_ms;
}

TimeSpan PanSpan(const TimeSpan& span, double fraction, const TimeLimits& limits) {
    const int64_t shift = int64_t(std::llround(fraction * double(span.to_ms - span.from_ms)));
    return ClampSpan(int64_t(span.from_ms) + shift, int64_t(span.to_ms) + shift, limits);
}

double ColumnOfTime(const TimeSpan& span, double time_ms, int plot_width) {
    return (time_ms - span.from_ms) * plot_width / double(span.to_ms - span.from_ms);
}

double TimeOfColumn(const TimeSpan& span, double column, int plot_width) {
    if (plot_width <= 0) return span.from_ms;
    return span.from_ms + column * double(span.to_ms - span.from_ms) / plot_width;
}

uint32_t TimeLabelStepMs(const TimeSpan& span, int plot_width, int min_spacing) {
    const double length = double(span.to_ms - span.from_ms);
    for (uint32_t step : LABEL_STEPS_MS) {
        if (plot_width <= 0 || step * double(plot_width) / length >= min_spacing) return step;
    }
    return LABEL_STEPS_MS[sizeof LABEL_STEPS_MS / sizeof LABEL_STEPS_MS[0] - 1];
}

void FormatTimeLabel(uint32_t time_ms, uint32_t step_ms, char* out, size_t size) {
    const uint32_t seconds = time_ms / 1000;
    if (step_ms < 1000) {
        std::snprintf(out, size, "%" PRIu32 ":%02" PRIu32 ".%" PRIu32, seconds / 60, seconds % 60,
                      (time_ms % 1000) / 100);
    } else {
        std::snprintf(out, size, "%" PRIu32 ":%02" PRIu32, seconds / 60, seconds % 60);
    }
}

void FormatSpan(const TimeSpan& span, char* out, size_t size) {
    char from[32];
    char to[32];
    FormatTimeLabel(span.from_ms, 100, from, sizeof from);
    FormatTimeLabel(span.to_ms, 100, to, sizeof to);
    std::snprintf(out, size, "%s - %s", from, to);
}

void WindowsInSpan(const BitrateSample* windows, uint32_t count, uint32_t series_end_ms, const TimeSpan& span,
                   uint32_t* first, uint32_t* last) {
    const BitrateSample* end = windows + count;
    // The last window to start at or before the span's start reaches into it
    // unless it has ended by then.
    const BitrateSample* after =
        std::upper_bound(windows, end, span.from_ms, [](uint32_t t, const BitrateSample& w) { return t < w.start_ms; });
    uint32_t from = after == windows ? 0 : uint32_t(after - windows - 1);
    const uint32_t from_end = from + 1 < count ? windows[from + 1].start_ms : series_end_ms;
    if (from < count && from_end <= span.from_ms && windows[from].start_ms < span.from_ms) ++from;
    const auto before = [](const BitrateSample& w, uint32_t t) { return w.start_ms < t; };
    *last = uint32_t(std::lower_bound(windows, end, span.to_ms, before) - windows);
    *first = from < *last ? from : *last;
}

FramePlacement PlaceFrames(const VideoFrame* frames, uint32_t count, double interval_ms) {
    FramePlacement placement;
    std::vector<double>& places = placement.places;
    places.assign(count, 0.0);
    // The last two references placed, and the B-frames waiting for the next.
    int64_t reference = -1;
    double reference_place = 0;
    double earlier_place = 0;
    bool have_earlier = false;
    std::vector<uint32_t> waiting;
    const auto place_waiting = [&]() {
        const size_t k = waiting.size();
        for (size_t j = 0; j < k; ++j) {
            double place = 0;
            if (have_earlier) {
                place = earlier_place + (reference_place - earlier_place) * double(j + 1) / double(k + 1);
            } else {
                place = std::max(0.0, reference_place - double(k - j) * interval_ms);
            }
            places[waiting[j]] = place;
        }
        waiting.clear();
    };
    for (uint32_t i = 0; i < count; ++i) {
        if (frames[i].type == 'B') {
            if (reference < 0) {
                // No reference yet (a file cut at its start): its own time.
                places[i] = frames[i].timestamp_ms;
            } else {
                waiting.push_back(i);
            }
            continue;
        }
        // A reference: the B-frames before it in the file show before the last one.
        place_waiting();
        const bool shares_time = i > 0 && frames[i].timestamp_ms == frames[i - 1].timestamp_ms;
        const double place = shares_time && reference >= 0 ? reference_place + interval_ms : frames[i].timestamp_ms;
        have_earlier = reference >= 0;
        earlier_place = reference_place;
        reference = i;
        reference_place = place;
        places[i] = place;
    }
    // B-frames at the end show before the last reference.
    place_waiting();

    placement.order.resize(count);
    for (uint32_t i = 0; i < count; ++i) placement.order[i] = i;
    std::stable_sort(placement.order.begin(), placement.order.end(),
                     [&](uint32_t a, uint32_t b) { return places[a] < places[b]; });
    return placement;
}

void FramesInSpan(const double* places, const uint32_t* order, uint32_t count, const TimeSpan& span, uint32_t* first,
                  uint32_t* last) {
    const auto before = [&](uint32_t frame, double t) { return places[frame] < t; };
    *first = uint32_t(std::lower_bound(order, order + count, double(span.from_ms), before) - order);
    *last = uint32_t(std::lower_bound(order, order + count, double(span.to_ms), before) - order);
}

std::vector<ChartBar> FrameBars(const VideoFrame* frames, const double* places, const uint32_t* order, uint32_t count,
                                double interval_ms, const TimeSpan& span, int plot_width) {
    std::vector<ChartBar> bars;
    if (plot_width <= 0) return bars;
    uint32_t first = 0;
    uint32_t last = 0;
    FramesInSpan(places, order, count, span, &first, &last);
    for (uint32_t k = first; k < last; ++k) {
        const uint32_t i = order[k];
        const ChartBar bar = BarOver(int32_t(i), places[i], places[i] + interval_ms, span, plot_width);
        AddBar(&bars, bar, [&](int32_t a, int32_t b) { return frames[a].bytes > frames[b].bytes; });
    }
    return bars;
}

std::vector<ChartBar> GopBars(const VideoGop* gops, uint32_t count, const TimeSpan& span, int plot_width) {
    std::vector<ChartBar> bars;
    if (plot_width <= 0) return bars;
    for (uint32_t i = 0; i < count; ++i) {
        const double from = gops[i].start_ms;
        const double to = from + gops[i].duration_ms;
        if (to <= span.from_ms || from >= span.to_ms) continue;
        const ChartBar bar = BarOver(int32_t(i), from, to, span, plot_width);
        AddBar(&bars, bar, [&](int32_t a, int32_t b) { return gops[a].kbps > gops[b].kbps; });
    }
    return bars;
}
