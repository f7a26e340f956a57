// The drawing steps, run into memory canvases of known client sizes; pixels
// are checked at the positions the chart's geometry puts things.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "chart/chart_model.h"
#include "chart/chart_win32.h"
#include "chart/series_statistics.h"
#include "chart_test_support_win32.h"

using namespace chart_test;

namespace {

const COLORREF BLUE = 0x00FF0000;
const float INF = std::numeric_limits<float>::infinity();
const float NAN_VALUE = std::numeric_limits<float>::quiet_NaN();
const int NONE = -1000000;  // "nothing on the canvas"

std::vector<int> Range(int first, int step, int last) {
    std::vector<int> values;
    for (int v = first; v <= last; v += step) {
        values.push_back(v);
    }
    return values;
}

// A 2-pixel line at position p covers p - 1 and p.
std::vector<int> TwoPixelBands(const std::vector<int>& positions) {
    std::vector<int> bands;
    for (int p : positions) {
        bands.push_back(p - 1);
        bands.push_back(p);
    }
    return bands;
}

void Background(Canvas& canvas) {
    RECT r = canvas.rect();
    FillBackground(canvas.dc(), BACKGROUND, &r);
}

void DrawFullChart(Canvas& canvas) {
    RECT r = canvas.rect();
    FillBackground(canvas.dc(), BACKGROUND, &r);
    DrawGrid(canvas.dc(), 110, 50, &r);
    DrawAxesAndAverage(canvas.dc(), &r, ChartView());
    DrawCurves(canvas.dc(), &r, ChartView());
    DrawTicksAndLabels(canvas.dc(), &r, ChartView());
}

// ---- grid ----

struct GridCase {
    int width;
    int first_column_x;
    int first_row_y;
    std::vector<int> rows;
    std::vector<int> columns;
    int row_probe_x;     // a column between grid columns, right of x = 110
    int column_probe_y;  // a row between grid rows, below y = 50
};

class ChartGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(ChartGrid, RowsAndColumnsLieWhereTheGeometryPutsThem) {
    const GridCase& c = GetParam();
    const int height = 400;
    Canvas canvas(c.width, height);
    Background(canvas);
    RECT r = canvas.rect();
    EXPECT_EQ(1, DrawGrid(canvas.dc(), c.first_column_x, c.first_row_y, &r));

    EXPECT_EQ(TwoPixelBands(c.rows), canvas.RowsOfColor(c.row_probe_x, GRID));
    EXPECT_EQ(TwoPixelBands(c.columns), canvas.ColumnsOfColor(c.column_probe_y, GRID));

    // Rows run from the value axis to the right edge of the plot, columns from
    // its top to the time axis, whatever the first column and row (ends may
    // carry a pixel of the wide pen's cap, no more).
    for (int y : c.rows) {
        EXPECT_EQ(GRID, canvas.Pixel(110, y)) << y;
        EXPECT_EQ(GRID, canvas.Pixel(c.width - 95, y)) << y;
        EXPECT_NE(GRID, canvas.Pixel(107, y)) << y;
        EXPECT_NE(GRID, canvas.Pixel(c.width - 92, y)) << y;
    }
    for (int x : c.columns) {
        EXPECT_EQ(GRID, canvas.Pixel(x, 50)) << x;
        EXPECT_EQ(GRID, canvas.Pixel(x, height - 69)) << x;
        EXPECT_NE(GRID, canvas.Pixel(x, 47)) << x;
        EXPECT_NE(GRID, canvas.Pixel(x, height - 66)) << x;
    }
    EXPECT_EQ(BACKGROUND, canvas.Pixel(5, 5));
    EXPECT_EQ(BACKGROUND, canvas.Pixel(c.width - 5, height - 5));
}

INSTANTIATE_TEST_SUITE_P(Widths, ChartGrid,
                         ::testing::Values(
                             // The plot grid of a redraw.
                             GridCase{904, 110, 50, Range(50, 27, 320), Range(110, 70, 740), 145, 63},
                             GridCase{834, 110, 50, Range(50, 27, 320), Range(110, 70, 670), 145, 63},
                             // The last column at 670, short of the right edge at 686.
                             GridCase{780, 110, 50, Range(50, 27, 320), Range(110, 70, 670), 145, 63},
                             // The first picture's grid: offset from the plot, rows still start at
                             // the value axis and columns at the top edge.
                             GridCase{904, 69, 26, Range(26, 27, 323), Range(69, 70, 769), 160, 65}));

// ---- axes and the average line ----

struct AverageCase {
    const char* name;
    uint32_t max_kbps;  // the Video curve's top
    int64_t average_kbps;
    float scale;
    float offset;
    int expected_row;  // NONE: no red pixel on the canvas
};

class ChartAxesAndAverage : public ::testing::TestWithParam<AverageCase> {};

TEST_P(ChartAxesAndAverage, AxesAndTheAverageRow) {
    const AverageCase& c = GetParam();
    SCOPED_TRACE(c.name);
    LoadChart(c.max_kbps, 0, c.average_kbps, {});
    ChartCurves[CURVE_VIDEO].scale = c.scale;
    ChartCurves[CURVE_VIDEO].offset = c.offset;
    Canvas canvas(904, 400);  // plot from (110, 50) to (810, 332), PH = 282
    Background(canvas);
    RECT r = canvas.rect();
    EXPECT_EQ(1, DrawAxesAndAverage(canvas.dc(), &r, ChartView()));

    // One connected white line down the value axis and along the time axis,
    // except where the red line crosses it.
    std::vector<int> value_axis = Range(50, 1, 332);
    value_axis.erase(std::remove(value_axis.begin(), value_axis.end(), c.expected_row), value_axis.end());
    EXPECT_EQ(value_axis, canvas.RowsOfColor(110, WHITE));
    const std::vector<int> time_axis = c.expected_row == 332 ? std::vector<int>() : Range(110, 1, 809);
    EXPECT_EQ(time_axis, canvas.ColumnsOfColor(332, WHITE));

    if (c.expected_row == NONE) {
        EXPECT_EQ(0, canvas.CountColor(RED));
    } else {
        EXPECT_EQ(Range(110, 1, 809), canvas.ColumnsOfColor(c.expected_row, RED));
        EXPECT_EQ(700, canvas.CountColor(RED));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChartAxesAndAverage,
    ::testing::Values(AverageCase{"first failed run: 0 on the range 0..100 lies on the time axis", 100, 0, 1.0f, 0.0f,
                                  332},
                      AverageCase{"half the top: halfway up", 700, 350, 1.0f, 0.0f, 191},
                      AverageCase{"scale 2 follows the zoom", 700, 350, 2.0f, 0.0f, 50},
                      AverageCase{"offset 0.5 lifts by half the plot", 700, 350, 1.0f, 0.5f, 50},
                      AverageCase{"offset -0.1 lowers by a tenth, truncated", 700, 350, 1.0f, -0.1f, 219},
                      AverageCase{"rows truncate toward zero: -0.5 is row 0", 564, 665, 1.0f, 0.0f, 0},
                      AverageCase{"zero range takes the curves' range 1", 0, 0, 1.0f, 0.0f, 50},
                      AverageCase{"zero range, average above it: off the canvas", 0, 5, 1.0f, 0.0f, NONE},
                      AverageCase{"huge scale: far above, clamped", 700, 350, 1e30f, 0.0f, NONE},
                      AverageCase{"infinite scale", 700, 350, INF, 0.0f, NONE},
                      // No number: where the value 0 lies, not at the top.
                      AverageCase{"infinite scale times average 0 (NaN)", 700, 0, INF, 0.0f, 332},
                      AverageCase{"negative infinite scale: far below, clamped", 700, 350, -INF, 0.0f, NONE},
                      AverageCase{"average beyond 32 bits", 700, int64_t{1} << 40, 1.0f, 0.0f, NONE}));

// ---- curves ----

struct PointColumnsCase {
    int width;
    std::vector<int> columns;
};

class ChartCurvePoints : public ::testing::TestWithParam<PointColumnsCase> {};

TEST_P(ChartCurvePoints, SixPointsSpreadFromTheValueAxisToTheRightEdge) {
    const PointColumnsCase& c = GetParam();
    // top 564 on PH 282: a value v lies on row 332 - v / 2.
    LoadChart(564, 0, 0, {164, 364, 164, 364, 164, 364});
    const int rows[] = {250, 150, 250, 150, 250, 150};
    Canvas canvas(c.width, 400);
    Background(canvas);
    RECT r = canvas.rect();
    EXPECT_EQ(1, DrawCurves(canvas.dc(), &r, ChartView()));

    // Every segment is wider than tall, so the column of a point holds just the
    // first pixel of the segment starting there.
    for (int j = 0; j < 5; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(std::vector<int>{rows[j]}, canvas.RowsOfColor(c.columns[j], YELLOW));
    }
    // The last point ends a line, and a line's end point is not painted.
    EXPECT_TRUE(canvas.RowsOfColor(c.columns[5], YELLOW).empty());
    EXPECT_FALSE(canvas.RowsOfColor(c.columns[5] - 1, YELLOW).empty());
    // The Audio curve is visible but has no points.
    EXPECT_EQ(0, canvas.CountColor(GREEN));
}

INSTANTIATE_TEST_SUITE_P(Widths, ChartCurvePoints,
                         ::testing::Values(PointColumnsCase{904, {110, 250, 390, 530, 670, 810}},
                                           PointColumnsCase{834, {110, 236, 362, 488, 614, 740}},
                                           PointColumnsCase{780, {110, 225, 340, 455, 570, 686}}));

struct CurveRowCase {
    const char* name;
    uint32_t max_kbps;
    float scale;
    float offset;
    float value;  // both points
    int expected_row;
};

class ChartCurveRows : public ::testing::TestWithParam<CurveRowCase> {};

TEST_P(ChartCurveRows, TwoEqualPointsMakeOneRow) {
    const CurveRowCase& c = GetParam();
    SCOPED_TRACE(c.name);
    LoadChart(c.max_kbps, 0, 0, {c.value, c.value});
    ChartCurves[CURVE_VIDEO].scale = c.scale;
    ChartCurves[CURVE_VIDEO].offset = c.offset;
    Canvas canvas(904, 400);
    Background(canvas);
    RECT r = canvas.rect();
    DrawCurves(canvas.dc(), &r, ChartView());
    if (c.expected_row == NONE) {
        EXPECT_EQ(0, canvas.CountColor(YELLOW));
    } else {
        EXPECT_EQ(Range(110, 1, 809), canvas.ColumnsOfColor(c.expected_row, YELLOW));
        EXPECT_EQ(700, canvas.CountColor(YELLOW));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChartCurveRows,
    ::testing::Values(CurveRowCase{"0 on the time axis", 564, 1.0f, 0.0f, 0.0f, 332},
                      CurveRowCase{"top on the top edge", 564, 1.0f, 0.0f, 564.0f, 50},
                      CurveRowCase{"zero range: replaced by 1, along the top edge", 0, 1.0f, 0.0f, 0.0f, 50},
                      CurveRowCase{"scale 2 doubles the height", 564, 2.0f, 0.0f, 100.0f, 232},
                      CurveRowCase{"scale 2: above half the top is above the plot", 564, 2.0f, 0.0f, 400.0f, NONE},
                      CurveRowCase{"offset 0.5 lifts by half the plot", 564, 1.0f, 0.5f, 0.0f, 191},
                      CurveRowCase{"scale 0 puts every value on the 0 row", 564, 0.0f, 0.0f, 564.0f, 332},
                      CurveRowCase{"huge scale: clamped far above", 564, 1e30f, 0.0f, 564.0f, NONE},
                      CurveRowCase{"infinite scale", 564, INF, 0.0f, 564.0f, NONE},
                      // Rows that are no number go where the value 0 lies.
                      CurveRowCase{"0 times infinite scale (NaN)", 564, INF, 0.0f, 0.0f, 332},
                      CurveRowCase{"NaN row of a shifted curve", 564, INF, 0.5f, 0.0f, 191},
                      CurveRowCase{"a point that is no number", 564, 1.0f, 0.0f, NAN_VALUE, 332},
                      CurveRowCase{"huge offset", 564, 1.0f, 3e7f, 0.0f, NONE}));

TEST(ChartCurves, OnePointIsASinglePixelOnTheValueAxis) {
    LoadChart(564, 0, 0, {364});
    Canvas canvas(904, 400);
    Background(canvas);
    RECT r = canvas.rect();
    EXPECT_EQ(1, DrawCurves(canvas.dc(), &r, ChartView()));
    EXPECT_EQ(1, canvas.CountColor(YELLOW));
    EXPECT_EQ(YELLOW, canvas.Pixel(110, 150));
}

TEST(ChartCurves, SegmentToAClampedPointKeepsItsDirection) {
    LoadChart(564, 0, 0, {0, 564});
    ChartCurves[CURVE_VIDEO].scale = 1e7f;  // the second point maps near -2.8e9
    Canvas canvas(904, 400);
    Background(canvas);
    RECT r = canvas.rect();
    DrawCurves(canvas.dc(), &r, ChartView());
    // Nearly vertical, straight up from the first point.
    EXPECT_EQ(Range(0, 1, 332), canvas.RowsOfColor(110, YELLOW));
    EXPECT_EQ(333, canvas.CountColor(YELLOW));

    // The same far below the int range (a slot whose range runs downward) must
    // stay below: a plain conversion would wrap it to the top.
    ChartCurves[CURVE_VIDEO].top = 0.0f;
    ChartCurves[CURVE_VIDEO].bottom = 564.0f;
    Background(canvas);
    DrawCurves(canvas.dc(), &r, ChartView());
    EXPECT_EQ(Range(50, 1, 399), canvas.RowsOfColor(110, YELLOW));
    EXPECT_EQ(350, canvas.CountColor(YELLOW));
}

TEST(ChartCurves, VisibleSlotsDrawInIndexOrderAndInvisibleOnesNot) {
    LoadChart(564, 0, 0, {0, 0});
    ChartCurve& audio = ChartCurves[CURVE_AUDIO];
    audio.point_count = 2;
    audio.points[0] = audio.points[1] = 0.0f;  // under the Video curve
    ChartCurve& extra = ChartCurves[3];
    extra.visible = 1;
    extra.color = BLUE;
    extra.top = 564.0f;
    extra.point_count = 2;
    extra.points[0] = extra.points[1] = 564.0f;
    ChartCurve& hidden = ChartCurves[4];
    hidden.visible = 0;
    hidden.color = RED;
    hidden.top = 564.0f;
    hidden.point_count = 2;
    hidden.points[0] = hidden.points[1] = 282.0f;

    Canvas canvas(904, 400);
    Background(canvas);
    RECT r = canvas.rect();
    DrawCurves(canvas.dc(), &r, ChartView());
    EXPECT_EQ(Range(110, 1, 809), canvas.ColumnsOfColor(332, YELLOW));
    EXPECT_EQ(0, canvas.CountColor(GREEN));
    EXPECT_EQ(Range(110, 1, 809), canvas.ColumnsOfColor(50, BLUE));
    EXPECT_EQ(0, canvas.CountColor(RED));
}

TEST(ChartCurves, PointCountOutsideTheTableIsHeldToIt) {
    LoadChart(564, 0, 0, {});
    ChartCurve& video = ChartCurves[CURVE_VIDEO];
    Canvas canvas(904, 400);
    RECT r = canvas.rect();

    video.point_count = 5000;  // all 1024 stored points are 0
    Background(canvas);
    DrawCurves(canvas.dc(), &r, ChartView());
    EXPECT_EQ(Range(110, 1, 809), canvas.ColumnsOfColor(332, YELLOW));

    video.point_count = -3;
    Background(canvas);
    DrawCurves(canvas.dc(), &r, ChartView());
    EXPECT_EQ(0, canvas.CountColor(YELLOW));
}

// ---- labels, captions and the legend ----

struct Label {
    std::string text;
    int x;
    int y;
    UINT align;
};

struct LabelCase {
    const char* name;
    int width;
    int height;
    uint32_t max_kbps;
    uint32_t last_start_ms;
    int64_t average_kbps;
    std::vector<std::string> time_labels;
    std::vector<std::string> value_labels;
    std::string legend;
};

// Everything DrawTicksAndLabels writes, where the geometry puts it.
std::vector<Label> ExpectedLabels(const LabelCase& c) {
    const int w = c.width;
    const int h = c.height;
    std::vector<Label> labels;
    for (size_t k = 0; k < c.time_labels.size(); ++k) {
        labels.push_back({c.time_labels[k], 110 + 70 * static_cast<int>(k), h - 58, TA_CENTER | TA_TOP});
    }
    labels.push_back({"(mm:ss)", w - 54, h - 76, TA_CENTER | TA_TOP});
    for (size_t k = 0; k < c.value_labels.size(); ++k) {
        labels.push_back({c.value_labels[k], 100, h - 59 - 40 * static_cast<int>(k), TA_RIGHT | TA_BOTTOM});
    }
    labels.push_back({"(kbps)", 110, 40, TA_RIGHT | TA_BOTTOM});
    labels.push_back({c.legend, 110 + (w - 204) / 2, 25, TA_CENTER | TA_TOP});
    return labels;
}

// The labels as the chart writes them, over what the canvas holds.
void DrawLabels(Canvas& canvas, const std::vector<Label>& labels) {
    for (const Label& label : labels) {
        DrawChartText(canvas, label.x, label.y, label.align, label.text);
    }
}

// The labels alone on the background.
void DrawReference(Canvas& canvas, const std::vector<Label>& labels) {
    canvas.Fill(BACKGROUND);
    DrawLabels(canvas, labels);
}

// Positions where two pictures differ, and the first of them, outside the
// pixels `skip` names.
struct Mismatches {
    int count = 0;
    std::string first;
};

Mismatches Compare(const Canvas& actual, const Canvas& expected, const std::function<bool(int, int)>& skip = nullptr) {
    Mismatches m;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            if ((skip && skip(x, y)) || actual.Pixel(x, y) == expected.Pixel(x, y)) {
                continue;
            }
            if (m.count++ == 0) {
                m.first = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
            }
        }
    }
    return m;
}

class ChartLabels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(ChartLabels, TextsMatchTheExpectedStringsAndPlaces) {
    const LabelCase& c = GetParam();
    SCOPED_TRACE(c.name);
    LoadChart(c.max_kbps, c.last_start_ms, c.average_kbps, {});
    Canvas actual(c.width, c.height);
    Background(actual);
    RECT r = actual.rect();
    DrawTicksAndLabels(actual.dc(), &r, ChartView());
    // Two empty pictures would match: every label of the reference must leave
    // ink of its own. Any font inks a visible string somewhere, but how many
    // pixels come out pure white depends on the face and its smoothing.
    const std::vector<Label> labels = ExpectedLabels(c);
    Canvas expected(c.width, c.height);
    for (const Label& label : labels) {
        DrawReference(expected, {label});
        ASSERT_GT(c.width * c.height - expected.CountColor(BACKGROUND), 0)
            << "the reference drew no text for \"" << label.text << "\"";
    }
    DrawReference(expected, labels);

    // Compare everything except the tick marks' two bands.
    const int w = c.width;
    const int h = c.height;
    const Mismatches m = Compare(actual, expected, [&](int x, int y) {
        const bool value_tick_band = x >= 104 && x <= 111 && y >= 45 && y <= h - 62;
        const bool time_tick_band = y >= h - 69 && y <= h - 63 && x >= 104 && x <= w - 93;
        return value_tick_band || time_tick_band;
    });
    EXPECT_EQ(0, m.count) << "first differing pixel at " << m.first;
}

INSTANTIATE_TEST_SUITE_P(Cases, ChartLabels,
                         ::testing::Values(
                             // PW 630 (NX 9), PH 280 (NY 7): 65 s and 100 kbps per interval; seconds
                             // are not padded.
                             LabelCase{"834 x 398",
                                       834,
                                       398,
                                       700,
                                       585000,
                                       350,
                                       {"0:0", "1:5", "2:10", "3:15", "4:20", "5:25", "6:30", "7:35", "8:40", "9:45"},
                                       {"0", "100", "200", "300", "400", "500", "600", "700"},
                                       "Max Time: 585 s    Max Bitrate: 700 kbps    Average Bitrate: 350 kbps"},
                             LabelCase{"first failed run", 904, 400, 0, 0, 0, std::vector<std::string>(11, "0:0"),
                                       std::vector<std::string>(8, "0"),
                                       "Max Time: 0 s    Max Bitrate: 0 kbps    Average Bitrate: 0 kbps"},
                             // PW 0 and PH 0: one label each at 0, no division trouble; the legend
                             // shows the average's low 32 bits as a signed number.
                             LabelCase{"204 x 118, average beyond 32 bits",
                                       204,
                                       118,
                                       4000000,
                                       61999,
                                       int64_t{0x1FFFFFFFF},
                                       {"0:0"},
                                       {"0"},
                                       "Max Time: 61 s    Max Bitrate: 4000000 kbps    Average Bitrate: -1 kbps"},
                             LabelCase{"minimised: no time or value labels",
                                       150,
                                       100,
                                       500,
                                       7000,
                                       (int64_t{1} << 32) + 7,
                                       {},
                                       {},
                                       "Max Time: 7 s    Max Bitrate: 500 kbps    Average Bitrate: 7 kbps"}));

// ---- tick marks ----

struct TickCase {
    int width;
    int height;
    std::vector<int> time_ticks;   // x
    std::vector<int> value_ticks;  // y
};

class ChartTicks : public ::testing::TestWithParam<TickCase> {};

// With every figure 0 the labels are known at any size ("0:0" under each
// time tick, "0" beside each value tick), so the whole picture is compared:
// the ticks where the geometry puts them and nothing else but those labels,
// written as the chart writes them over the ticks.
TEST_P(ChartTicks, TicksAtEveryIntervalThatFits) {
    const TickCase& c = GetParam();
    LoadChart(0, 0, 0, {});
    Canvas actual(c.width, c.height);
    Background(actual);
    RECT r = actual.rect();
    EXPECT_EQ(1, DrawTicksAndLabels(actual.dc(), &r, ChartView()));

    Canvas expected(c.width, c.height);
    expected.Fill(BACKGROUND);
    const int bottom = c.height - 68;
    // Time ticks run 5 pixels down from the time axis; value ticks stick out
    // 4 pixels left of the value axis (the line's end at x = 105 is not
    // painted).
    for (int x : c.time_ticks) {
        for (int y = bottom; y <= bottom + 4; ++y) SetPixelV(expected.dc(), x, y, WHITE);
    }
    for (int y : c.value_ticks) {
        for (int x = 106; x <= 110; ++x) SetPixelV(expected.dc(), x, y, WHITE);
    }
    DrawLabels(expected, ExpectedLabels({"zeros", c.width, c.height, 0, 0, 0,
                                         std::vector<std::string>(c.time_ticks.size(), "0:0"),
                                         std::vector<std::string>(c.value_ticks.size(), "0"),
                                         "Max Time: 0 s    Max Bitrate: 0 kbps    Average Bitrate: 0 kbps"}));

    const Mismatches m = Compare(actual, expected);
    EXPECT_EQ(0, m.count) << "first differing pixel at " << m.first;
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChartTicks,
                         ::testing::Values(TickCase{904, 400, Range(110, 70, 810), Range(52, 40, 332)},
                                           // NX = 9.0: ten ticks, the last on the right edge.
                                           TickCase{834, 400, Range(110, 70, 740), Range(52, 40, 332)},
                                           // NX = 8.23: nine ticks, none at the right edge (686).
                                           TickCase{780, 400, Range(110, 70, 670), Range(52, 40, 332)},
                                           // Narrower than 204: no time ticks; lower than 118: no value ticks.
                                           TickCase{200, 400, {}, Range(52, 40, 332)},
                                           TickCase{904, 110, Range(110, 70, 810), {}}, TickCase{150, 100, {}, {}}));

// ---- the whole picture and the DC's state ----

TEST(ChartPicture, StepsDrawOverEachOtherInOrder) {
    // Average 282 of top 564 lies on row 191; the Video curve zigzags between
    // rows 250 and 150.
    LoadChart(564, 90000, 282, {164, 364, 164, 364, 164, 364});
    Canvas canvas(904, 400);
    DrawFullChart(canvas);
    EXPECT_EQ(BACKGROUND, canvas.Pixel(5, 5));
    EXPECT_EQ(GRID, canvas.Pixel(109, 250));    // grid column under the axis
    EXPECT_EQ(YELLOW, canvas.Pixel(110, 250));  // curve over the axis
    EXPECT_EQ(WHITE, canvas.Pixel(110, 260));   // axis over the grid column
    EXPECT_EQ(RED, canvas.Pixel(110, 191));     // average over the axis
    EXPECT_EQ(RED, canvas.Pixel(180, 191));     // average over a grid column
    EXPECT_EQ(GRID, canvas.Pixel(450, 185));    // a grid row
    EXPECT_EQ(WHITE, canvas.Pixel(400, 332));   // time axis
    EXPECT_EQ(WHITE, canvas.Pixel(180, 334));   // time tick
    EXPECT_EQ(WHITE, canvas.Pixel(106, 292));   // value tick
    EXPECT_EQ(BACKGROUND, canvas.Pixel(810, 200));
}

struct StepCase {
    const char* name;
    std::function<int(HDC, const RECT*)> step;
    int objects_made;
};

const StepCase STEPS[] = {
    {"FillBackground", [](HDC dc, const RECT* r) { return FillBackground(dc, BACKGROUND, r); }, 1},
    {"DrawGrid", [](HDC dc, const RECT* r) { return DrawGrid(dc, 110, 50, r); }, 1},
    {"DrawAxesAndAverage", [](HDC dc, const RECT* r) { return DrawAxesAndAverage(dc, r, ChartView()); }, 2},
    // Audio and Video are both visible; Audio's empty curve still makes its pen.
    {"DrawCurves", [](HDC dc, const RECT* r) { return DrawCurves(dc, r, ChartView()); }, 2},
    {"DrawTicksAndLabels", [](HDC dc, const RECT* r) { return DrawTicksAndLabels(dc, r, ChartView()); }, 1},
};

TEST(ChartSteps, EachStepRestoresTheDCAndDeletesWhatItMade) {
    LoadChart(700, 90000, 350, {100, 600, 300, 700, 0, 350});
    Canvas canvas(904, 400);
    HPEN own_pen = CreatePen(PS_DASH, 1, BLUE);
    HBRUSH own_brush = CreateHatchBrush(HS_CROSS, BLUE);
    HGDIOBJ own_font = GetStockObject(ANSI_VAR_FONT);
    HGDIOBJ old_pen = SelectObject(canvas.dc(), own_pen);
    HGDIOBJ old_brush = SelectObject(canvas.dc(), own_brush);
    HGDIOBJ old_font = SelectObject(canvas.dc(), own_font);
    RECT r = canvas.rect();
    {
        GdiCounter counter;
        ASSERT_TRUE(counter.Installed());
        for (const StepCase& s : STEPS) {
            SCOPED_TRACE(s.name);
            const int made_before = counter.Created();
            EXPECT_EQ(1, s.step(canvas.dc(), &r));
            EXPECT_EQ(s.objects_made, counter.Created() - made_before);
            EXPECT_EQ(0u, counter.LiveObjects());
            EXPECT_EQ(0, counter.BadDeletes());
            EXPECT_EQ(own_pen, GetCurrentObject(canvas.dc(), OBJ_PEN));
            EXPECT_EQ(own_brush, GetCurrentObject(canvas.dc(), OBJ_BRUSH));
            EXPECT_EQ(own_font, GetCurrentObject(canvas.dc(), OBJ_FONT));
        }
    }
    // The stock font was selected back out, not deleted.
    LOGFONTA font;
    EXPECT_NE(0, GetObjectA(GetStockObject(SYSTEM_FIXED_FONT), sizeof font, &font));
    SelectObject(canvas.dc(), old_pen);
    SelectObject(canvas.dc(), old_brush);
    SelectObject(canvas.dc(), old_font);
    EXPECT_TRUE(DeleteObject(own_pen));
    EXPECT_TRUE(DeleteObject(own_brush));
}

TEST(ChartSteps, WithoutADCNothingIsDrawnAndNothingLeaks) {
    // A failed back buffer leaves a null DC; the steps still run safely.
    LoadChart(700, 90000, 350, {100, 600, 300});
    RECT r = {0, 0, 904, 400};
    GdiCounter counter;
    ASSERT_TRUE(counter.Installed());
    for (const StepCase& s : STEPS) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(1, s.step(nullptr, &r));
    }
    EXPECT_EQ(0u, counter.LiveObjects());
    EXPECT_EQ(0, counter.BadDeletes());
}

}  // namespace
