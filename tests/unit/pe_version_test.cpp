// The packager reads a system member's version from its version resource.
#include "setuppack/pe_version.hpp"

#include <gtest/gtest.h>

#include "support/pe_image.hpp"

namespace {

TEST(PeVersion, ReadsTheFixedFileVersion) {
  const auto version = ReadPeFileVersion(PeImageWithVersion(0x00020001, 0x00030004));
  ASSERT_TRUE(version);
  EXPECT_EQ(version->ms, 0x00020001u);
  EXPECT_EQ(version->ls, 0x00030004u);
}

TEST(PeVersion, FindsNoVersionInOtherFiles) {
  EXPECT_FALSE(ReadPeFileVersion(std::vector<std::uint8_t>{}));
  EXPECT_FALSE(ReadPeFileVersion(std::vector<std::uint8_t>(100, 'M')));
  std::vector<std::uint8_t> image = PeImageWithVersion(1, 2);
  image[0x200 + 16] = 3;  // the root directory lists type 3 (icons) instead of 16
  EXPECT_FALSE(ReadPeFileVersion(image));
}

TEST(PeVersion, SurvivesEveryTruncation) {
  const std::vector<std::uint8_t> image = PeImageWithVersion(0x00050006, 0x00070008);
  for (std::size_t size = 0; size < image.size(); ++size) {
    const std::vector<std::uint8_t> cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ReadPeFileVersion(cut)) << size;
  }
}

}  // namespace
