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

TEST(ProgressMath, CentringTruncatesEachHalf) {
  EXPECT_EQ(CenteredOrigin(800, 301), 250);
  EXPECT_EQ(CenteredOrigin(801, 301), 250);
  EXPECT_EQ(CenteredOrigin(640, 800), -80);
}

}  // namespace
