// Holds a file open so that the program under test meets a busy file:
//   hold_file.exe <path>                  open with DELETE access and full
//                                         sharing: a later open that does not
//                                         share deletion fails
//   hold_file.exe <path> <offset> <length> open for reading only and lock
//                                         that byte range: reads of it fail
// Prints "ready" once the file is held and keeps it until stdin ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) return 2;
  // Only the plain hold asks for DELETE access; a lock must leave the file
  // open-able for reading.
  DWORD access = argc == 2 ? GENERIC_READ | DELETE : GENERIC_READ;
  HANDLE file = CreateFileA(argv[1], access,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("error open %lu\n", GetLastError());
    return 1;
  }
  if (argc == 4) {
    DWORD offset = std::strtoul(argv[2], nullptr, 0);
    DWORD length = std::strtoul(argv[3], nullptr, 0);
    if (!LockFile(file, offset, 0, length, 0)) {
      std::printf("error lock %lu\n", GetLastError());
      return 1;
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char line[64];
  while (std::fgets(line, sizeof line, stdin)) {
  }
  CloseHandle(file);
  return 0;
}
