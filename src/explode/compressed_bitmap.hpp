// The welcome picture: a whole BMP file stored as one explode stream in the
// setup program's resources (type "CMPBMP"), decompressed into a movable
// global memory block for painting with SetDIBitsToDevice. Win32 only.
#pragma once

#include <windows.h>

#include <cstdint>

// The welcome dialog's picture.
constexpr UINT kWelcomeBitmapResource = 109;

// The user parameter of both decoder passes.
struct BitmapSource {
  const std::uint8_t* resourceStart; // first byte of the resource data
  std::uint32_t resourceSize;        // resource data size in bytes
  const std::uint8_t* readPointer;   // next resource byte to deliver
  std::uint32_t bytesLeft;           // resource bytes not yet delivered
  std::uint8_t* blockStart;          // start of the locked output block
  std::uint32_t outputSize;          // decompressed bytes counted by the first pass
  std::uint8_t* writePointer;        // where the second pass puts its next byte
};

// Width and height of a loaded picture, in pixels.
struct BitmapSize {
  std::uint32_t width;
  std::uint32_t height;
};

// Read callback of both passes: delivers the smaller of *size and bytesLeft
// bytes from readPointer; 0 once the resource is used up.
unsigned int BitmapReadCallback(char* buffer, unsigned int* size, void* source);
// Write callback of the first pass: counts the bytes, stores nothing.
void BitmapCountCallback(char* buffer, unsigned int* size, void* source);
// Write callback of the second pass: copies the bytes to writePointer, never
// past the outputSize bytes of the block.
void BitmapCopyCallback(char* buffer, unsigned int* size, void* source);

// Decompresses the "CMPBMP" resource `resourceId` of the program's own module.
// On success returns the block's handle, locked, and sets the picture's size,
// its bitmap information header and its pixel bits (both inside the block);
// the owner releases it with GlobalUnlock and GlobalFree. On any failure
// (resource missing, allocation failing, a decoder result other than 0, a
// file that is not a BMP the loader can paint safely) returns nullptr, leaves
// the outputs untouched and keeps nothing allocated.
HGLOBAL LoadCompressedBitmap(UINT resourceId, BitmapSize* size, BITMAPINFOHEADER** header,
                             void** bits);
