// The arithmetic of the progress dialog: the percentage and the centred window.
#include "ui/message_format.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ProgressMath, PercentUsesTheExactProduct) {
  EXPECT_EQ(ProgressPercent(50000000, 100000000), 50u);
  EXPECT_EQ(ProgressPercent(1, 3), 33u);
  EXPECT_EQ(ProgressPercent(0xFFFFFFFFu, 0xFFFFFFFFu), 100u);
  EXPECT_EQ(ProgressPercent(1, 0), 0u);
}

// Steps of (percent, tick): whether the bar moves, and what it shows.
TEST(ProgressMath, TheBarMovesAtMostEveryIntervalSave100AndCatchUps) {
  struct Step {
    std::uint32_t percent, now;
    bool moves;
    std::uint32_t shown;
  };
  const std::uint32_t wrap = 0xFFFFFFF0u;
  const Step steps[] = {
      {0, wrap, true, 0},          // the first percentage, whatever the tick
      {0, wrap + 60, false, 0},    // unchanged
      {1, wrap + 10, false, 0},    // too soon (the tick wrapped)
      {2, wrap + 49, false, 0},    //
      {3, wrap + 50, true, 3},     // the interval has passed
      {4, wrap + 51, false, 3},    //
      {100, wrap + 52, true, 100}, // the end, at once
      {100, wrap + 500, false, 100},
  };
  ProgressDisplay display;
  for (const Step& step : steps) {
    EXPECT_EQ(TakeProgress(display, step.percent, step.now), step.moves) << step.percent;
    EXPECT_EQ(display.shown, step.shown) << step.percent;
  }
  // 100 was shown at tick wrap + 52, that is 36.
  EXPECT_FALSE(CatchUpProgress(display, 40));  // nothing behind
  EXPECT_FALSE(TakeProgress(display, 7, 60));
  EXPECT_TRUE(CatchUpProgress(display, 61));
  EXPECT_EQ(display.shown, 7u);
  EXPECT_FALSE(TakeProgress(display, 8, 110));  // the catch-up counts as a move
  EXPECT_TRUE(TakeProgress(display, 8, 111));
}

TEST(ProgressMath, CentringTruncatesEachHalf) {
  EXPECT_EQ(CenteredOrigin(800, 301), 250);
  EXPECT_EQ(CenteredOrigin(801, 301), 250);
  EXPECT_EQ(CenteredOrigin(640, 800), -80);
}

}  // namespace
