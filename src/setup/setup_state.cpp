#include "setup/setup_state.hpp"

#include "archive/file_version.hpp"
#include "setup/steps.hpp"

SetupState setupState;

namespace {

void FreeInfoRecords(InfoRecord* records, unsigned count) {
  if (records == nullptr) return;
  for (unsigned i = 0; i < count; ++i) FreeBlock(records[i].name);
  FreeBlock(records);
}

}  // namespace

void* AllocZeroed(DWORD size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }

void FreeBlock(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

void CleanUpSetup() {
  SetupState& s = setupState;
  if (s.archiveFile != nullptr && s.archiveFile != INVALID_HANDLE_VALUE) CloseHandle(s.archiveFile);
  s.archiveFile = nullptr;
  for (char*& text : s.settings) {
    FreeBlock(text);
    text = nullptr;
  }
  if (s.icons != nullptr) {
    for (unsigned i = 0; i < s.header.iconCount; ++i) {
      FreeBlock(s.icons[i].name);
      FreeBlock(s.icons[i].arguments);
      FreeBlock(s.icons[i].target);
    }
    FreeBlock(s.icons);
    s.icons = nullptr;
  }
  FreeInfoRecords(s.infoMainEntries, s.header.fileCount);
  s.infoMainEntries = nullptr;
  FreeInfoRecords(s.infoTrailingEntries, s.trailingCount);
  s.infoTrailingEntries = nullptr;
  if (s.selfDelete == 1) RemoveSetupProgram();
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

char* CutToDirectory(char* path) {
  char* end = path + lstrlenA(path);
  while (end > path && end[-1] != '\\') --end;
  *end = '\0';
  return end;
}
