// Where the parts of a BMP file held in memory lie: the bitmap information
// header, the colour table and the pixel rows. Portable: the setup program
// uses it on the decompressed welcome picture, the host tests on hand-made
// files.
//
// File layout relied on (all integers little-endian):
//   0  14 bytes  file header: "BM", file size, reserved, pixel offset (the
//                pixel offset is not used: the bits follow the colour table)
//   14 header    bitmap information header, `headerSize` bytes:
//                  0 header size (32-bit)     4 width (32-bit)
//                  8 height (32-bit)         14 bits per pixel (16-bit)
//                 16 compression (32-bit)    32 colours used (32-bit)
//   then         the colour table, 4 bytes per entry
//   then         the pixel rows, bottom-up, each padded to 4 bytes
#pragma once

#include <cstdint>

constexpr std::uint32_t kBitmapFileHeaderSize = 14;

struct BitmapLayout {
  std::uint32_t infoHeaderOffset;  // always 14
  std::uint32_t headerSize;        // size of the information header
  std::uint32_t colourTableOffset; // first colour-table entry
  std::uint32_t colourCount;       // colour-table entries
  std::uint32_t bitsOffset;        // first byte of the pixel rows
  std::uint32_t bitsSize;          // row stride times height
  std::uint32_t width;             // pixels per row
  std::uint32_t height;            // rows, stored bottom-up
  std::uint32_t bitsPerPixel;
};

// Fills `layout` for the BMP file of `size` bytes at `file` and returns true,
// or returns false without touching it. Reads nothing outside the block.
//
// The colour table has the colours-used number of entries when the header is
// 36 bytes or longer and that field is not 0; otherwise none for 24 bits per
// pixel and 2, 16 or 256 entries for 1, 4 or 8 bits per pixel. The pixel bits
// start right after the colour table.
//
// Refused: a block without "BM"; an information header shorter than 16 bytes
// (the 12-byte core header keeps its fields elsewhere) or reaching past the
// block; a width or height of 0, above 65535 or negative (top-down rows); a
// compressed bitmap (compression field present and not 0); bit depths other
// than 1, 4, 8 and 24, except 16 and 32 with a non-zero colours-used field;
// a colour table or pixel rows (stride times height) that do not lie within
// the block.
bool ComputeBitmapLayout(const std::uint8_t* file, std::uint32_t size, BitmapLayout* layout);
