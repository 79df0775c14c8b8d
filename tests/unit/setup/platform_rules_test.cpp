// Platform decision table, upgrade gate and free-space arithmetic.
#include <gtest/gtest.h>

#include "format/layout.hpp"
#include "setup/platform_rules.hpp"

namespace {

TEST(PlatformRules, Win32sHandsOver) {
  EXPECT_EQ(DecidePlatform(kPlatformWin32s, 3, 10, 0, 0).action, kPlatformHandOver);
  EXPECT_EQ(DecidePlatform(kPlatformWin32s, 3, 10, 0, kHeaderFlagNotNt).action, kPlatformHandOver);
}

TEST(PlatformRules, NtRefusals) {
  struct Case {
    std::uint32_t major, minor;
    std::uint8_t flags;
    int message;
  };
  const Case cases[] = {
      {4, 0, kHeaderFlagNotNt, 1},  {10, 0, kHeaderFlagNotNt | kHeaderFlagNt4, 1},
      {3, 51, kHeaderFlagNt4, 14},  {3, 50, kHeaderFlagNt4, 14},
      {3, 50, 0, 16},               {3, 10, 0, 16},
      {2, 99, 0, 16},
  };
  for (const Case& c : cases) {
    const PlatformDecision d = DecidePlatform(kPlatformNt, c.major, c.minor, 0, c.flags);
    EXPECT_EQ(d.action, kPlatformRefuse) << c.major << "." << c.minor;
    EXPECT_EQ(d.messageId, c.message) << c.major << "." << c.minor;
  }
}

TEST(PlatformRules, Nt351UsesOnlyTheRootQuery) {
  const PlatformDecision d = DecidePlatform(kPlatformNt, 3, 51, 1057, 0);
  EXPECT_EQ(d.action, kPlatformAccept);
  EXPECT_EQ(d.isNt, 1);
  EXPECT_EQ(d.useDiskFreeSpaceEx, 0);
  EXPECT_EQ(d.clearInstallDlr, 1);
}

TEST(PlatformRules, Nt4AndLaterUseTheExtendedQuery) {
  for (std::uint32_t major : {4u, 5u, 10u}) {
    const PlatformDecision d = DecidePlatform(kPlatformNt, major, 0, 0, kHeaderFlagNt4 | kHeaderFlagNtOnly);
    EXPECT_EQ(d.action, kPlatformAccept);
    EXPECT_EQ(d.useDiskFreeSpaceEx, 1);
  }
}

TEST(PlatformRules, Windows95And98) {
  const PlatformDecision refused = DecidePlatform(kPlatformWindows, 4, 10, 2222, kHeaderFlagNtOnly);
  EXPECT_EQ(refused.action, kPlatformRefuse);
  EXPECT_EQ(refused.messageId, 15);
  const PlatformDecision old = DecidePlatform(kPlatformWindows, 4, 0, 950, kHeaderFlagNotNt | kHeaderFlagNt4);
  EXPECT_EQ(old.action, kPlatformAccept);
  EXPECT_EQ(old.isNt, 0);
  EXPECT_EQ(old.clearInstallDlr, 0);
  EXPECT_EQ(old.useDiskFreeSpaceEx, 0);
  EXPECT_EQ(DecidePlatform(kPlatformWindows, 4, 0, 1081, 0).useDiskFreeSpaceEx, 1);
  EXPECT_EQ(DecidePlatform(kPlatformWindows, 4, 0, 1080, 0).useDiskFreeSpaceEx, 0);
  // The whole 32-bit build field counts: Windows 98 reports 0x040A0000 + build.
  EXPECT_EQ(DecidePlatform(kPlatformWindows, 4, 10, 0x040A0000u + 1998, 0).useDiskFreeSpaceEx, 1);
  // Unknown platform ids are taken as Windows 95/98.
  EXPECT_EQ(DecidePlatform(7, 4, 0, 0, kHeaderFlagNtOnly).messageId, 15);
}

TEST(PlatformRules, UpgradeGate) {
  for (const char* refused : {"2.4.0.0", "2.4", "1.9.9", "10.0", "0", "2", "2.", "\x80.0", "2.0"}) {
    EXPECT_TRUE(IsVersionTextRefused(refused)) << refused;
  }
  for (const char* passes : {"2.5.0.0", "2.5", "3.0", "4", "2.9", "9.0.0.0"}) {
    EXPECT_FALSE(IsVersionTextRefused(passes)) << passes;
  }
}

TEST(PlatformRules, ExtendedFreeSpaceIsStrictlyGreater) {
  EXPECT_TRUE(ExtendedFreeSpaceSuffices(1, 0, 0));
  EXPECT_FALSE(ExtendedFreeSpaceSuffices(0, 0, 0));
  EXPECT_FALSE(ExtendedFreeSpaceSuffices(3145728, 0, 3145728));
  EXPECT_TRUE(ExtendedFreeSpaceSuffices(3145729, 0, 3145728));
  EXPECT_TRUE(ExtendedFreeSpaceSuffices(0, 1, 0xFFFFFFFFu));
}

TEST(PlatformRules, RootFreeSpaceIsAtLeastWithoutOverflow) {
  EXPECT_TRUE(RootFreeSpaceSuffices(8, 512, 768, 3145728));   // exactly 3 MiB
  EXPECT_FALSE(RootFreeSpaceSuffices(8, 512, 767, 3145728));
  EXPECT_TRUE(RootFreeSpaceSuffices(0, 512, 0, 0));
  // 64 x 4096 x 2^20 clusters = 256 GiB: overflows 32 bits, still enough.
  EXPECT_TRUE(RootFreeSpaceSuffices(64, 4096, 1u << 20, 0xFFFFFFFFu));
  EXPECT_TRUE(RootFreeSpaceSuffices(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu));
}

}  // namespace
