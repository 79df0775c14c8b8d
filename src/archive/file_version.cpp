#include "archive/file_version.hpp"

void* LoadVersionBlock(const char* path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return nullptr;
  void* block = LocalAlloc(LPTR, size);
  if (block == nullptr) return nullptr;
  if (GetFileVersionInfoA(path, 0, size, block)) return block;
  LocalFree(block);
  return nullptr;
}

void* QueryVersionValue(void* block, const char* subBlock, UINT* length) {
  void* value = nullptr;
  *length = 0;
  if (!VerQueryValueA(block, subBlock, &value, length)) return nullptr;
  return value;
}
