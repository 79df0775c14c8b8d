// Stands in for a program that the setup program starts (the Win32s setup
// program "SETUP.EXE", the installed program, its launcher, a read-me): each
// start appends one line to STARTED.TXT in its own directory,
//   <own file name>|<parameters>|<working directory>
// where the parameters are the command line behind the program's name (quoted
// or not) and the blanks after it. The program then exits with code 0.
#include <windows.h>

#include "setup/command_line.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char module[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  char directory[MAX_PATH + 1];
  const DWORD directoryLength = GetCurrentDirectoryA(MAX_PATH, directory);
  if (directoryLength == 0 || directoryLength >= MAX_PATH) return 2;

  // One write, so that a reader never sees half a line.
  char line[2048];
  lstrcpyA(line, module);
  lstrcatA(line, "|");
  lstrcpynA(line + lstrlenA(line), SkipProgramName(GetCommandLineA()), 1024);
  lstrcatA(line, "|");
  lstrcatA(line, directory);
  lstrcatA(line, "\n");

  char* cut = module + length;
  while (cut > module && cut[-1] != '\\') --cut;
  lstrcpyA(cut, "STARTED.TXT");
  HANDLE file = CreateFileA(module, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  WriteFile(file, line, lstrlenA(line), &written, nullptr);
  CloseHandle(file);
  return 0;
}
