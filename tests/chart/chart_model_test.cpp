// The curve slots' reset and the creation settings of Audio and Video.
#include "chart/chart_model.h"

#include <gtest/gtest.h>

namespace {

const char ODD_LABEL[] = "odd";

void ScribbleOverEverySlot() {
    for (int slot = 0; slot < CURVE_SLOT_COUNT; ++slot) {
        ChartCurve& curve = ChartCurves[slot];
        curve.color = 0x00123456u;
        curve.visible = 1;
        curve.top = -5.0f;
        curve.bottom = 3.0f;
        curve.scale = 0.25f;
        curve.offset = -0.7f;
        curve.label = slot % 2 ? ODD_LABEL : nullptr;
        curve.point_count = 1024;
        for (float& point : curve.points) point = 9.0f;
    }
}

TEST(ChartModelTest, ResetEmptiesEverySlotButKeepsItsLabel) {
    ScribbleOverEverySlot();
    EXPECT_EQ(1, ResetChartCurves());
    for (int slot = 0; slot < CURVE_SLOT_COUNT; ++slot) {
        SCOPED_TRACE(slot);
        const ChartCurve& curve = ChartCurves[slot];
        EXPECT_EQ(0x0000FF00u, curve.color);
        EXPECT_EQ(0, curve.visible);
        EXPECT_EQ(100.0f, curve.top);
        EXPECT_EQ(0.0f, curve.bottom);
        EXPECT_EQ(1.0f, curve.scale);
        EXPECT_EQ(0.0f, curve.offset);
        EXPECT_EQ(slot % 2 ? ODD_LABEL : nullptr, curve.label);
        EXPECT_EQ(0, curve.point_count);
        for (int i = 0; i < CURVE_MAX_POINTS; ++i) ASSERT_EQ(0.0f, curve.points[i]) << i;
    }
}

TEST(ChartModelTest, CreationSettingsConfigureAudioAndVideo) {
    struct Case {
        int slot;
        const ChartCurveSettings& settings;
        uint32_t color;
        float top;
        const char* label;
    };
    const Case cases[] = {
        {CURVE_AUDIO, AudioCurveSettings, 0x0000FF00u, 150.0f, "Audio"},
        {CURVE_VIDEO, VideoCurveSettings, 0x0000FFFFu, 100.0f, "Video"},
    };
    ScribbleOverEverySlot();
    ResetChartCurves();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ChartCurves[c.slot].points[5] = 3.0f;
        ApplyChartCurveSettings(c.slot, c.settings);
        const ChartCurve& curve = ChartCurves[c.slot];
        EXPECT_EQ(c.color, curve.color);
        EXPECT_EQ(1, curve.visible);
        EXPECT_EQ(c.top, curve.top);
        EXPECT_EQ(0.0f, curve.bottom);
        EXPECT_EQ(1.0f, curve.scale);
        EXPECT_EQ(0.0f, curve.offset);
        EXPECT_STREQ(c.label, curve.label);
        EXPECT_EQ(0, curve.point_count);
        EXPECT_EQ(3.0f, curve.points[5]);  // points are not settings
    }
    // The other slots stay invisible and empty.
    for (int slot = 2; slot < CURVE_SLOT_COUNT; ++slot) {
        EXPECT_EQ(0, ChartCurves[slot].visible);
        EXPECT_EQ(0, ChartCurves[slot].point_count);
    }
}

}  // namespace
