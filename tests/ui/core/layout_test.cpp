// The window's layout from its twips for a screen and a font, and the bar's fill.

#include "ui/core/layout.h"
#include "ui/core/progress_fill.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace velmora::ui {
namespace {

// A font that fits everywhere at 96 dots per inch.
FontNeeds SmallFont() {
    FontNeeds needs;
    for (FontNeeds::Text& text : needs.texts) {
        text = {20, 12};
    }
    needs.buttonFrame = 2;
    needs.buttonMargin = 6;
    needs.pathBoxHeight = 20;
    return needs;
}

struct Scale {
    const char* name;
    double dpi;
    int width;
    int height;
    Rect label3; // 3500 twips wide: no whole number of pixels at 96
    Rect command1;
};

class LayOutAtDpi : public testing::TestWithParam<Scale> {};

// Edges in proportion, each rounded down on its own: controls that meet in twips meet in
// pixels, and the bar covers the status text exactly but for its last column.
TEST_P(LayOutAtDpi, PlacesEachEdgeInProportion) {
    const Layout layout = LayOut(GetParam().dpi, GetParam().dpi, SmallFont());
    EXPECT_EQ(layout.width, GetParam().width);
    EXPECT_EQ(layout.height, GetParam().height);
    EXPECT_EQ(layout[Control::Label3], GetParam().label3);
    EXPECT_EQ(layout[Control::Command1], GetParam().command1);
    const Rect& fileIn = layout[Control::FileIn];
    const Rect& command1 = layout[Control::Command1];
    EXPECT_EQ(fileIn.left + fileIn.width, command1.left + command1.width);
    const Rect& label4 = layout[Control::Label4];
    EXPECT_EQ(label4.top + label4.height, layout.height);
    EXPECT_EQ(layout[Control::ProgressBar1].top, layout[Control::Label3].top);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, LayOutAtDpi,
    testing::Values(Scale{"At96", 96, 427, 169, {16, 120, 233, 25}, {264, 120, 81, 25}},
                    Scale{"At144", 144, 640, 253, {24, 180, 350, 37}, {396, 180, 121, 37}},
                    Scale{"At192", 192, 854, 338, {32, 240, 466, 50}, {528, 240, 162, 50}}),
    [](const testing::TestParamInfo<Scale>& row) { return std::string(row.param.name); });

// A text that does not fit makes the whole window grow in proportion until it does.
TEST(LayOut, GrowsTogetherWhereTheFontNeedsMoreRoom) {
    FontNeeds needs = SmallFont();
    needs.texts[static_cast<std::size_t>(Control::Label3)].width = 300.5; // room: 233
    const Layout layout = LayOut(96, 96, needs);
    EXPECT_GE(layout[Control::Label3].width, 301);
    EXPECT_NEAR(layout.width * 2535.0 / (layout.height * 6405.0), 1.0, 0.01);
    needs = SmallFont();
    needs.buttonFrame = 30; // a line of 12 and the frame: 42, in a room of 25
    const Layout tall = LayOut(96, 96, needs);
    for (const Control button : {Control::Command1, Control::Command2, Control::Command3}) {
        EXPECT_GE(tall[button].height, 42);
    }
    needs = SmallFont();
    needs.texts[static_cast<std::size_t>(Control::FileIn)].width = 1000; // paths scroll
    EXPECT_EQ(LayOut(96, 96, needs).width, 427);
}

struct Fill {
    const char* name;
    float max;
    float value;
    int steps; // of 1000
};

class FilledSteps : public testing::TestWithParam<Fill> {};

// The engine may send a maximum of 0, values past the maximum (the text grows as it is
// rewritten) and, in principle, anything a float holds.
TEST_P(FilledSteps, DrawsOddValuesClamped) {
    EXPECT_EQ(ui::FilledSteps(GetParam().max, GetParam().value, 1000), GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FilledSteps,
    testing::Values(Fill{"Half", 28, 14, 500}, Fill{"PastTheMaximum", 22, 27, 1000},
                    Fill{"MaximumOfZero", 0, 5, 0}, Fill{"Negative", 10, -3, 0},
                    Fill{"NotANumber", 10, std::numeric_limits<float>::quiet_NaN(), 0},
                    Fill{"Infinite", 10, std::numeric_limits<float>::infinity(), 0},
                    Fill{"HugeMaximum", std::numeric_limits<float>::max(), 1, 0}),
    [](const testing::TestParamInfo<Fill>& row) { return std::string(row.param.name); });

} // namespace
} // namespace velmora::ui
