// Where the parts of a decompressed BMP file lie, and which files are refused.
#include "explode/bitmap_layout.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

void Put32(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put16(std::vector<std::uint8_t>& file, std::size_t at, std::uint16_t value) {
  file[at] = static_cast<std::uint8_t>(value);
  file[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

struct BmpShape {
  std::uint32_t headerSize = 40;
  std::uint32_t width = 122;
  std::uint32_t height = 229;
  std::uint16_t bitsPerPixel = 4;
  std::uint32_t coloursUsed = 0;
  std::uint32_t tableEntries = 16;   // entries actually stored
  std::uint32_t rowBytes = 64;       // stored bytes per row
};

// "BM", a header of shape.headerSize bytes (fields written where they fit),
// the colour table and the pixel rows, all zero except the fields.
std::vector<std::uint8_t> MakeBmp(const BmpShape& s) {
  std::vector<std::uint8_t> file(14 + s.headerSize + 4 * s.tableEntries + s.rowBytes * s.height);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, static_cast<std::uint32_t>(file.size()));
  Put32(file, 10, 0xDEAD);  // the file header's pixel offset is not consulted
  Put32(file, 14, s.headerSize);
  if (s.headerSize >= 16) {
    Put32(file, 18, s.width);
    Put32(file, 22, s.height);
    Put16(file, 26, 1);
    Put16(file, 28, s.bitsPerPixel);
  }
  if (s.headerSize >= 36) Put32(file, 14 + 32, s.coloursUsed);
  return file;
}

bool Layout(const std::vector<std::uint8_t>& file, BitmapLayout* layout) {
  return ComputeBitmapLayout(file.data(), static_cast<std::uint32_t>(file.size()), layout);
}

TEST(BitmapLayout, WelcomePictureShapeHasItsBitsAt118) {
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(MakeBmp(BmpShape{}), &layout));
  EXPECT_EQ(layout.infoHeaderOffset, 14u);
  EXPECT_EQ(layout.colourTableOffset, 54u);
  EXPECT_EQ(layout.colourCount, 16u);
  EXPECT_EQ(layout.bitsOffset, 118u);
  EXPECT_EQ(layout.width, 122u);
  EXPECT_EQ(layout.height, 229u);
  EXPECT_EQ(layout.bitsSize, 64u * 229u);  // 122 pixels of 4 bits: 61 bytes, padded to 64
}

TEST(BitmapLayout, TheCommittedWelcomePictureHasTheExpectedShape) {
  std::ifstream in(std::string(SOURCE_DIR) + "/src/resources/welcome.bmp", std::ios::binary);
  ASSERT_TRUE(in) << "src/resources/welcome.bmp is missing";
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(file, &layout));
  EXPECT_EQ(layout.headerSize, 40u);
  EXPECT_EQ(layout.width, 122u);
  EXPECT_EQ(layout.height, 229u);
  EXPECT_EQ(layout.bitsPerPixel, 4u);
  EXPECT_EQ(layout.colourCount, 16u);
  EXPECT_EQ(layout.bitsOffset, 118u);
  EXPECT_EQ(file.size(), 14776u);  // rows end at 14774; the file is padded to 4 bytes
}

TEST(BitmapLayout, NonZeroColoursUsedWinsOverTheBitDepth) {
  BmpShape s;
  s.bitsPerPixel = 8;
  s.coloursUsed = 20;
  s.tableEntries = 20;
  s.rowBytes = 124;
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(MakeBmp(s), &layout));
  EXPECT_EQ(layout.colourCount, 20u);
  EXPECT_EQ(layout.bitsOffset, 14u + 40u + 80u);
}

TEST(BitmapLayout, EightBitsWithoutColoursUsedHave256Entries) {
  BmpShape s;
  s.bitsPerPixel = 8;
  s.tableEntries = 256;
  s.rowBytes = 124;
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(MakeBmp(s), &layout));
  EXPECT_EQ(layout.colourCount, 256u);
  EXPECT_EQ(layout.bitsOffset, 14u + 40u + 1024u);
}

TEST(BitmapLayout, OneBitHasTwoEntries) {
  BmpShape s;
  s.bitsPerPixel = 1;
  s.tableEntries = 2;
  s.rowBytes = 16;  // 122 bits: 16 bytes
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(MakeBmp(s), &layout));
  EXPECT_EQ(layout.colourCount, 2u);
  EXPECT_EQ(layout.bitsOffset, 14u + 40u + 8u);
}

TEST(BitmapLayout, TwentyFourBitsHaveNoColourTable) {
  BmpShape s;
  s.bitsPerPixel = 24;
  s.tableEntries = 0;
  s.rowBytes = 368;  // 366 bytes padded to 368
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(MakeBmp(s), &layout));
  EXPECT_EQ(layout.colourCount, 0u);
  EXPECT_EQ(layout.bitsOffset, 54u);
}

TEST(BitmapLayout, HeaderShorterThan36BytesNeverHasColoursUsedRead) {
  // A 16-byte header: the 4 bytes where colours-used would be belong to the
  // colour table and say 3.
  BmpShape s;
  s.headerSize = 16;
  std::vector<std::uint8_t> file = MakeBmp(s);
  Put32(file, 14 + 32, 3);
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(file, &layout));
  EXPECT_EQ(layout.colourCount, 16u);
  EXPECT_EQ(layout.bitsOffset, 14u + 16u + 64u);
}

TEST(BitmapLayout, ColoursUsedLetsSixteenBitsHaveATable) {
  BmpShape s;
  s.bitsPerPixel = 16;
  s.coloursUsed = 4;
  s.tableEntries = 4;
  s.rowBytes = 244;
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(MakeBmp(s), &layout));
  EXPECT_EQ(layout.colourCount, 4u);
}

TEST(BitmapLayout, LongerHeadersAreSkippedWhole) {
  BmpShape s;
  s.headerSize = 124;
  BitmapLayout layout{};
  ASSERT_TRUE(Layout(MakeBmp(s), &layout));
  EXPECT_EQ(layout.bitsOffset, 14u + 124u + 64u);
}

TEST(BitmapLayout, ExtraBytesAfterThePixelRowsAreAllowed) {
  std::vector<std::uint8_t> file = MakeBmp(BmpShape{});
  file.resize(file.size() + 100);
  BitmapLayout layout{};
  EXPECT_TRUE(Layout(file, &layout));
}

TEST(BitmapLayout, RefusalLeavesTheLayoutUntouched) {
  std::vector<std::uint8_t> file = MakeBmp(BmpShape{});
  file[0] = 'X';
  BitmapLayout layout{};
  layout.bitsOffset = 777;
  EXPECT_FALSE(Layout(file, &layout));
  EXPECT_EQ(layout.bitsOffset, 777u);
}

struct RefusedCase {
  std::string name;
  std::vector<std::uint8_t> file;
};

std::vector<RefusedCase> RefusedFiles() {
  std::vector<RefusedCase> cases;
  const std::vector<std::uint8_t> good = MakeBmp(BmpShape{});
  auto with = [&](std::string name, auto change) {
    std::vector<std::uint8_t> file = good;
    change(file);
    cases.push_back({std::move(name), std::move(file)});
  };
  auto shape = [&](std::string name, auto change) {
    BmpShape s;
    change(s);
    cases.push_back({std::move(name), MakeBmp(s)});
  };
  with("MissingB", [](auto& f) { f[0] = 'b'; });
  with("MissingM", [](auto& f) { f[1] = 0; });
  with("LastPixelByteMissing", [](auto& f) { f.pop_back(); });
  with("HalfThePixelRowsMissing", [](auto& f) { f.resize(f.size() / 2); });
  with("ColourTableCut", [](auto& f) { f.resize(14 + 40 + 30); });
  with("HeaderCut", [](auto& f) { f.resize(14 + 20); });
  with("FileHeaderOnly", [](auto& f) { f.resize(14); });
  with("TwoBytes", [](auto& f) { f.resize(2); });
  with("Empty", [](auto& f) { f.clear(); });
  with("HeaderSizeBeyondTheFile", [](auto& f) { Put32(f, 14, 0x10000000); });
  with("HeaderSizeHuge", [](auto& f) { Put32(f, 14, 0xFFFFFFF0u); });
  with("NegativeHeight", [](auto& f) { Put32(f, 22, static_cast<std::uint32_t>(-229)); });
  with("ZeroHeight", [](auto& f) { Put32(f, 22, 0); });
  with("ZeroWidth", [](auto& f) { Put32(f, 18, 0); });
  with("WidthBeyond16Bits", [](auto& f) { Put32(f, 18, 0x10000 + 122); });
  with("HeightBeyond16Bits", [](auto& f) { Put32(f, 22, 0x10000 + 229); });
  with("RunLengthCompressed", [](auto& f) { Put32(f, 14 + 16, 2); });
  with("ColoursUsedBeyondTheFile", [](auto& f) { Put32(f, 14 + 32, 0x40000000); });
  with("ColoursUsedHuge", [](auto& f) { Put32(f, 14 + 32, 0xFFFFFFFFu); });
  with("ZeroBitsPerPixel", [](auto& f) { Put16(f, 28, 0); });
  with("ThreeBitsPerPixel", [](auto& f) { Put16(f, 28, 3); });
  with("SixteenBitsWithoutColoursUsed", [](auto& f) { Put16(f, 28, 16); });
  with("ThirtyTwoBitsWithoutColoursUsed", [](auto& f) { Put16(f, 28, 32); });
  with("ThreeBitsEvenWithColoursUsed", [](auto& f) {
    Put16(f, 28, 3);
    Put32(f, 14 + 32, 4);
  });
  shape("CoreHeaderOf12Bytes", [](BmpShape& s) { s.headerSize = 12; });
  shape("HeaderOf15Bytes", [](BmpShape& s) { s.headerSize = 15; });
  shape("TwentyFourBitRowsWithoutPadding", [](BmpShape& s) {
    s.bitsPerPixel = 24;
    s.tableEntries = 0;
    s.rowBytes = 366;
  });
  return cases;
}

class BitmapLayoutRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(BitmapLayoutRefuses, File) {
  const std::vector<std::uint8_t>& file = GetParam().file;
  // An exact-size copy, so that AddressSanitizer sees any read past the end.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[file.size()]);
  std::copy(file.begin(), file.end(), copy.get());
  BitmapLayout layout{};
  EXPECT_FALSE(ComputeBitmapLayout(copy.get(), static_cast<std::uint32_t>(file.size()), &layout));
}

INSTANTIATE_TEST_SUITE_P(Table, BitmapLayoutRefuses, ::testing::ValuesIn(RefusedFiles()),
                         [](const auto& testCase) { return testCase.param.name; });

TEST(BitmapLayout, NoPrefixOfAGoodFileIsAccepted) {
  const std::vector<std::uint8_t> good = MakeBmp(BmpShape{});
  for (std::size_t size = 0; size < good.size(); ++size) {
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + size);
    BitmapLayout layout{};
    ASSERT_FALSE(ComputeBitmapLayout(cut.data(), static_cast<std::uint32_t>(size), &layout))
        << "size " << size;
  }
}

}  // namespace
