#include "archive/file_version.hpp"

#include "base/bounded_text.hpp"
#include "state/setup_state.hpp"

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

char* GetFileVersionText(const char* path) {
  void* block = LoadVersionBlock(path);
  if (block == nullptr) return nullptr;
  char* result = nullptr;
  UINT length = 0;
  unsigned language = 0x0409;
  unsigned codePage = 0x04E4;
  const auto* translation =
      static_cast<const WORD*>(QueryVersionValue(block, "\\VarFileInfo\\Translation", &length));
  if (translation != nullptr && length >= 4) {
    language = translation[0];
    codePage = translation[1];
  }
  char query[64];
  wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", language, codePage, "FileVersion");
  const auto* text = static_cast<const char*>(QueryVersionValue(block, query, &length));
  if (text != nullptr) {
    CopyBounded(setupState.versionText, sizeof setupState.versionText, text);
    result = setupState.versionText;
  }
  LocalFree(block);
  return result;
}
