#include "explode/compressed_bitmap.hpp"

#include "explode/bitmap_layout.hpp"
#include "explode/explode.hpp"

#include <cstring>

unsigned int BitmapReadCallback(char* buffer, unsigned int* size, void* source) {
  BitmapSource* s = static_cast<BitmapSource*>(source);
  const std::uint32_t n = *size < s->bytesLeft ? *size : s->bytesLeft;
  std::memcpy(buffer, s->readPointer, n);
  s->readPointer += n;
  s->bytesLeft -= n;
  return n;
}

void BitmapCountCallback(char*, unsigned int* size, void* source) {
  static_cast<BitmapSource*>(source)->outputSize += *size;
}

void BitmapCopyCallback(char* buffer, unsigned int* size, void* source) {
  BitmapSource* s = static_cast<BitmapSource*>(source);
  // The second pass decodes the bytes the first one counted, so it fits;
  // the bound only guards the block should the resource data change between
  // the passes.
  const std::uint32_t room =
      s->outputSize - static_cast<std::uint32_t>(s->writePointer - s->blockStart);
  const std::uint32_t n = *size < room ? *size : room;
  std::memcpy(s->writePointer, buffer, n);
  s->writePointer += n;
}

HGLOBAL LoadCompressedBitmap(UINT resourceId, BitmapSize* size, BITMAPINFOHEADER** header,
                             void** bits) {
  // The program's own module: the same handle as SetupState's hInstance.
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(resourceId), "CMPBMP");
  if (resource == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return nullptr;

  BitmapSource source;
  source.resourceStart = source.readPointer = static_cast<const std::uint8_t*>(data);
  source.resourceSize = source.bytesLeft = SizeofResource(module, resource);
  source.blockStart = source.writePointer = nullptr;
  source.outputSize = 0;

  HGLOBAL block = nullptr;
  std::uint8_t* blockStart = nullptr;
  bool decoded = false;
  void* work = HeapAlloc(GetProcessHeap(), 0, kExtractWorkAreaSize);
  if (work != nullptr &&
      explode(BitmapReadCallback, BitmapCountCallback, work, &source) == kExplodeOk &&
      source.outputSize != 0) {
    block = GlobalAlloc(GMEM_MOVEABLE, source.outputSize);
    if (block != nullptr) {
      source.readPointer = source.resourceStart;
      source.bytesLeft = source.resourceSize;
      blockStart = static_cast<std::uint8_t*>(GlobalLock(block));
      source.blockStart = source.writePointer = blockStart;
      decoded = blockStart != nullptr &&
                explode(BitmapReadCallback, BitmapCopyCallback, work, &source) == kExplodeOk &&
                source.writePointer == blockStart + source.outputSize;
    }
  }
  if (work != nullptr) HeapFree(GetProcessHeap(), 0, work);
  FreeResource(loaded);

  BitmapLayout layout;
  if (!decoded || !ComputeBitmapLayout(blockStart, source.outputSize, &layout)) {
    if (block != nullptr) {
      if (blockStart != nullptr) GlobalUnlock(block);
      GlobalFree(block);
    }
    return nullptr;
  }
  size->width = layout.width;
  size->height = layout.height;
  *header = reinterpret_cast<BITMAPINFOHEADER*>(blockStart + layout.infoHeaderOffset);
  *bits = blockStart + layout.bitsOffset;
  return block;
}
