// Process entry of setup.exe. The program links no C runtime: this file gives
// it an entry point that hands WinMain the command line behind the program's
// own name, and the memory routines the compiler may call on its own.
#include <windows.h>

#include <cstddef>

#include "setup/command_line.hpp"

extern "C" {

void* memset(void* destination, int value, std::size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  while (count-- != 0) *d++ = static_cast<unsigned char>(value);
  return destination;
}

void* memcpy(void* destination, const void* source, std::size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  while (count-- != 0) *d++ = *s++;
  return destination;
}

void* memmove(void* destination, const void* source, std::size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  if (d < s) {
    while (count-- != 0) *d++ = *s++;
  } else {
    while (count != 0) {
      --count;
      d[count] = s[count];
    }
  }
  return destination;
}

int memcmp(const void* left, const void* right, std::size_t count) {
  const unsigned char* a = static_cast<const unsigned char*>(left);
  const unsigned char* b = static_cast<const unsigned char*>(right);
  for (; count != 0; --count, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

void SetupEntry() {
  // WinMain takes the text as LPSTR; it only reads it.
  char* commandLine = const_cast<char*>(SkipProgramName(GetCommandLineA()));
  const int exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);
  ExitProcess(static_cast<UINT>(exitCode));
}

}  // extern "C"
