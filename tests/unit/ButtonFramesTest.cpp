#include "controls/ButtonFrames.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ButtonFrames, PickFramePrefersDisabledThenPressedThenHover)
{
    struct Case {
        bool disabled, pressed, held, hover;
        FrameState frame;
    } cases[] = {
        {false, false, false, false, FrameState::Normal},
        {false, false, false, true, FrameState::Hover},
        {false, true, false, true, FrameState::Pressed},
        {false, false, true, false, FrameState::Pressed}, // the active tab, mouse elsewhere
        {false, false, true, true, FrameState::Pressed},
        {true, false, true, true, FrameState::Disabled},
        {true, true, false, false, FrameState::Disabled},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PickFrame(c.disabled, c.pressed, c.held, c.hover), c.frame)
            << c.disabled << c.pressed << c.held << c.hover;
}

TEST(ButtonFrames, OnePictureIsAQuarterOfTheStrip)
{
    EXPECT_EQ(FrameWidth(400), 100);
    EXPECT_EQ(FrameWidth(403), 100);
    EXPECT_EQ(FrameWidth(3), 0);
    // Shapes of a strip whose width is no multiple of four start at the rounded-down quarter.
    EXPECT_EQ(ShapeLeft(403, 1), 100);
    EXPECT_EQ(ShapeLeft(403, 2), 201);
    EXPECT_EQ(ShapeLeft(403, 3), 302);
}

TEST(ButtonFrames, OpaqueRunsCoverEveryPixelWithAlpha)
{
    // Two pictures of 4 x 3 side by side; only alpha 0 is outside the shape.
    const std::vector<std::uint8_t> alpha = {
        0, 255, 255, 0,   9, 9, 9, 9,
        1, 0,   0,   200, 0, 0, 0, 0,
        0, 0,   0,   0,   0, 9, 0, 9,
    };
    EXPECT_EQ(OpaqueRuns(alpha.data(), 8, 0, 4, 3),
              (std::vector<PixelRun>{{0, 1, 3}, {1, 0, 1}, {1, 3, 4}}));
    EXPECT_EQ(OpaqueRuns(alpha.data(), 8, 4, 4, 3),
              (std::vector<PixelRun>{{0, 0, 4}, {2, 1, 2}, {2, 3, 4}}));
}

} // namespace
