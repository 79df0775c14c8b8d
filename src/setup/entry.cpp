// Process entry of setup.exe. The program links no C runtime: this file gives
// it an entry point that hands WinMain the command line behind the program's
// own name, and the memory routines the compiler may call on its own.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "setup/command_line.hpp"

extern "C" {

void* memset(void* destination, int value, std::size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  while (count-- != 0) *d++ = static_cast<unsigned char>(value);
  return destination;
}

// Member data passes through memcpy twice on its way to the output file (the
// read-ahead and the write-behind), and the decoder moves its window with
// memmove once per 4096-byte block: both copy four bytes a step, then the
// rest bytewise. A plain loop rather than the string instructions: rep movs
// is fast on the processor but slow wherever the processor is emulated. The
// copy runs upwards, which is also right for an overlapping move to a lower
// address: each word is read before its bytes are overwritten.
void* memcpy(void* destination, const void* source, std::size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  for (; count >= 4; count -= 4, d += 4, s += 4) {
    std::uint32_t word;
    __builtin_memcpy(&word, s, 4);
    __builtin_memcpy(d, &word, 4);
  }
  while (count-- != 0) *d++ = *s++;
  return destination;
}

void* memmove(void* destination, const void* source, std::size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  if (d < s) {
    memcpy(d, s, count);
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
