// Directories created with all their missing levels: the install directory
// of the command line or the welcome dialog, and the program group's folder.
#include "state/steps.hpp"

int CreateDirectoryPath(char* path) {
  const int length = lstrlenA(path);
  int result = 1;
  for (int i = 4; i <= length && result == 1; ++i) {
    if (path[i] != '\\' && i != length) continue;
    const char saved = path[i];
    if (i < length) path[i] = '\0';
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) result = 0;
    path[i] = saved;
  }
  return result;
}
