// What the chart shows: 16 curve slots of up to 1024 points, of which Audio
// and Video are configured when the main window is created.
#ifndef KOV_CHART_CHART_MODEL_H
#define KOV_CHART_CHART_MODEL_H

#include <cstdint>

const int CURVE_SLOT_COUNT = 16;
const int CURVE_MAX_POINTS = 1024;
const int CURVE_AUDIO = 0;
const int CURVE_VIDEO = 1;

struct ChartCurve {
    uint32_t color;  // COLORREF layout, 0x00BBGGRR
    int32_t visible;
    float top;
    float bottom;
    float scale;   // multiplies every value; 0 keeps its place
    float offset;  // fraction of the plot height the curve moves up
    const char* label;
    int32_t point_count;
    float points[CURVE_MAX_POINTS];
};

extern ChartCurve ChartCurves[CURVE_SLOT_COUNT];

// Everything a slot is given at window creation except its points.
struct ChartCurveSettings {
    uint32_t color;
    int32_t visible;
    float top;
    float bottom;
    float scale;
    float offset;
    const char* label;
    int32_t point_count;
};

extern const ChartCurveSettings AudioCurveSettings;
extern const ChartCurveSettings VideoCurveSettings;

int ResetChartCurves();
// Applies the creation settings to one slot; its points are left alone.
void ApplyChartCurveSettings(int slot, const ChartCurveSettings& settings);

#endif
