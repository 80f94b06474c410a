#include "controls/GradientBands.h"

#include <gtest/gtest.h>

namespace {

constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kGrey240{240, 240, 240};

TEST(GradientBar, ShowsOnlyStrictlyInsideItsRange)
{
    EXPECT_FALSE(ShowsBar(0, 0, 100));
    EXPECT_FALSE(ShowsBar(0, 100, 100)); // full looks empty, as at the start
    EXPECT_TRUE(ShowsBar(0, 1, 100));
    EXPECT_TRUE(ShowsBar(0, 99, 100));
    EXPECT_FALSE(ShowsBar(20, 10, 100));
}

TEST(GradientBar, FilledWidthIsPositionOverUpperEnd)
{
    EXPECT_EQ(FilledWidth(50, 100, 200), 100);
    EXPECT_EQ(FilledWidth(60, 100, 200), 120); // lower end 20 plays no part: 60 %, not 50 %
    EXPECT_EQ(FilledWidth(1, 3, 100), 33);     // truncated toward zero
    EXPECT_EQ(FilledWidth(99, 100, 7), 6);
    EXPECT_EQ(FilledWidth(-5, 0, 100), 0);     // an upper end of 0 divides nothing
}

TEST(GradientBar, HalfWayGreenToBlueShowsHalfTheBandsThenBackground)
{
    const GradientPlan plan = PlanGradient(kGreen, kBlue, 510, FilledWidth(50, 100, 510));
    // 255 bands of 2 pixels span the whole width; the one whose right edge passes 255 is the
    // last shown.
    ASSERT_EQ(plan.bands.size(), 128u);
    EXPECT_EQ(plan.bands.front().left, 0);
    EXPECT_EQ(plan.bands.front().color, kGreen);
    EXPECT_EQ(plan.bands.back().left, 254);
    EXPECT_EQ(plan.bands.back().right, 256);
    EXPECT_EQ(plan.bands.back().color, (Rgb{0, 128, 127}));
    EXPECT_EQ(plan.backgroundLeft, 256);
}

TEST(GradientBar, IdleLookShowsAllFifteenBands)
{
    const int width = 150;
    const GradientPlan plan = PlanGradient(kWhite, kGrey240, width, FilledWidth(99, 100, width));
    ASSERT_EQ(plan.bands.size(), 15u);
    EXPECT_EQ(plan.bands.back().right, width);
    EXPECT_EQ(plan.bands.back().color, (Rgb{241, 241, 241}));
    EXPECT_EQ(plan.backgroundLeft, width);
    for (size_t i = 1; i < plan.bands.size(); ++i)
        EXPECT_EQ(plan.bands[i].left, plan.bands[i - 1].right) << i;
}

TEST(GradientBar, BandEdgesFollowSinglePrecisionTruncation)
{
    // 101 pixels in 15 bands: 6.7333 each.
    const GradientPlan plan = PlanGradient(kWhite, kGrey240, 101, 100);
    ASSERT_EQ(plan.bands.size(), 15u);
    EXPECT_EQ(plan.bands[1].left, 6);
    EXPECT_EQ(plan.bands[1].right, 13);
    EXPECT_EQ(plan.bands[14].right, 101);
}

TEST(GradientBar, EqualColoursPaintOnlyTheBackground)
{
    const GradientPlan plan = PlanGradient(kBlue, kBlue, 100, 50);
    EXPECT_TRUE(plan.bands.empty());
    EXPECT_EQ(plan.backgroundLeft, 0);
}

TEST(GradientBar, PercentTextRoundsTheRatio)
{
    EXPECT_EQ(PercentText(50, 100), L"50%");
    EXPECT_EQ(PercentText(1, 3), L"33%");
    EXPECT_EQ(PercentText(2, 3), L"67%");
    EXPECT_EQ(PercentText(60, 100), L"60%");
}

} // namespace
