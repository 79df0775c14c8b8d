#include "state/setup_state.hpp"

SetupState setupState;

void* AllocZeroed(DWORD size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }

void FreeBlock(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

char* CutToDirectory(char* path) {
  char* end = path + lstrlenA(path);
  while (end > path && end[-1] != '\\') --end;
  *end = '\0';
  return end;
}
