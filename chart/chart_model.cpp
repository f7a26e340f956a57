// The curve slots, their reset and the Audio and Video creation settings.
#include "chart/chart_model.h"

ChartCurve ChartCurves[CURVE_SLOT_COUNT];

const ChartCurveSettings AudioCurveSettings = {
    0x0000FF00u,  // green
    1,           150.0f, 0.0f, 1.0f, 0.0f, "Audio", 0,
};

const ChartCurveSettings VideoCurveSettings = {
    0x0000FFFFu,  // yellow (RGB 255, 255, 0)
    1,           100.0f, 0.0f, 1.0f, 0.0f, "Video", 0,
};

int ResetChartCurves() {
    for (ChartCurve& curve : ChartCurves) {
        curve.color = 0x0000FF00u;
        curve.visible = 0;
        curve.top = 100.0f;
        curve.bottom = 0.0f;
        curve.scale = 1.0f;
        curve.offset = 0.0f;
        // The label stays: it names the slot, not its content.
        curve.point_count = 0;
        for (float& point : curve.points) point = 0.0f;
    }
    return 1;
}

void ApplyChartCurveSettings(int slot, const ChartCurveSettings& settings) {
    if (slot < 0 || slot >= CURVE_SLOT_COUNT) return;
    ChartCurve& curve = ChartCurves[slot];
    curve.color = settings.color;
    curve.visible = settings.visible;
    curve.top = settings.top;
    curve.bottom = settings.bottom;
    curve.scale = settings.scale;
    curve.offset = settings.offset;
    curve.label = settings.label;
    curve.point_count = settings.point_count;
}
