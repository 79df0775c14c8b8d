#include "explode/bitmap_layout.hpp"

#include "base/le.hpp"

namespace {

constexpr std::uint32_t kMinimumHeaderSize = 16;   // up to the bits-per-pixel field
constexpr std::uint32_t kColoursUsedHeaderSize = 36;
constexpr std::uint32_t kCompressionHeaderSize = 20;
constexpr std::uint32_t kMaximumDimension = 0xFFFF;

// Colour-table entries for a bit depth when the header does not give a
// number, or 0 for a depth that has no table; -1 for an unknown depth.
long DefaultColourCount(std::uint32_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    case 24: return 0;
    default: return -1;
  }
}

}  // namespace

bool ComputeBitmapLayout(const std::uint8_t* file, std::uint32_t size, BitmapLayout* layout) {
  if (file == nullptr || size < kBitmapFileHeaderSize + kMinimumHeaderSize) return false;
  if (file[0] != 'B' || file[1] != 'M') return false;

  const std::uint8_t* header = file + kBitmapFileHeaderSize;
  const std::uint32_t room = size - kBitmapFileHeaderSize;
  const std::uint32_t headerSize = LoadLe32(header);
  if (headerSize < kMinimumHeaderSize || headerSize > room) return false;

  const std::uint32_t width = LoadLe32(header + 4);
  const std::uint32_t height = LoadLe32(header + 8);  // negative: top-down, refused
  if (width == 0 || width > kMaximumDimension) return false;
  if (height == 0 || height > kMaximumDimension) return false;
  const std::uint32_t bitsPerPixel = LoadLe16(header + 14);
  if (headerSize >= kCompressionHeaderSize && LoadLe32(header + 16) != 0) return false;

  std::uint64_t colourCount = 0;
  const std::uint32_t coloursUsed =
      headerSize >= kColoursUsedHeaderSize ? LoadLe32(header + 32) : 0;
  const long defaultCount = DefaultColourCount(bitsPerPixel);
  if (coloursUsed != 0 && (defaultCount >= 0 || bitsPerPixel == 16 || bitsPerPixel == 32)) {
    colourCount = coloursUsed;
  } else if (defaultCount >= 0) {
    colourCount = static_cast<std::uint64_t>(defaultCount);
  } else {
    return false;
  }

  const std::uint64_t colourTableOffset = kBitmapFileHeaderSize + std::uint64_t{headerSize};
  const std::uint64_t bitsOffset = colourTableOffset + 4 * colourCount;
  const std::uint64_t stride = (std::uint64_t{width} * bitsPerPixel + 31) / 32 * 4;
  const std::uint64_t bitsSize = stride * height;
  if (bitsOffset > size || bitsSize > size - bitsOffset) return false;

  layout->infoHeaderOffset = kBitmapFileHeaderSize;
  layout->headerSize = headerSize;
  layout->colourTableOffset = static_cast<std::uint32_t>(colourTableOffset);
  layout->colourCount = static_cast<std::uint32_t>(colourCount);
  layout->bitsOffset = static_cast<std::uint32_t>(bitsOffset);
  layout->bitsSize = static_cast<std::uint32_t>(bitsSize);
  layout->width = width;
  layout->height = height;
  layout->bitsPerPixel = bitsPerPixel;
  return true;
}
