// The packager reads a system member's version from its version resource.
#include "setuppack/host/pe_version.hpp"

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

// Header words a damaged or hostile image may carry; the reader stays inside
// the bytes and finds no version. Offsets: e_lfanew 0x3C (0x40 in the test
// image), section count 0x46, optional header size 0x54, magic 0x58,
// NumberOfRvaAndSizes 0xB4.
TEST(PeVersion, RefusesHostileHeaderWords) {
  struct Patch {
    const char* what;
    std::size_t offset;
    std::uint32_t value;
    int width;
  };
  const Patch patches[] = {
      {"e_lfanew at the end of the address space", 0x3C, 0xFFFFFFFF, 4},
      {"optional header shorter than its directories", 0x54, 90, 2},
      {"optional header past the end", 0x54, 0xFFFF, 2},
      {"no data directories", 0xB4, 0, 4},
      {"two data directories, none for resources", 0xB4, 2, 4},
      {"section table past the end", 0x46, 0xFFFF, 2},
      {"neither PE32 nor PE32+", 0x58, 0x107, 2},
  };
  for (const Patch& patch : patches) {
    std::vector<std::uint8_t> image = PeImageWithVersion(1, 2);
    for (int i = 0; i < patch.width; ++i) image[patch.offset + i] = static_cast<std::uint8_t>(patch.value >> (8 * i));
    EXPECT_FALSE(ReadPeFileVersion(image)) << patch.what;
  }
}

}  // namespace
