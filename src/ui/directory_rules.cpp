#include "ui/directory_rules.hpp"

void RemoveTrailingBackslashes(char* path) {
  int length = 0;
  while (path[length] != '\0') ++length;
  while (length > 0 && path[length - 1] == '\\') path[--length] = '\0';
}

bool HasDriveAndDirectory(const char* path) {
  const char drive = path[0];
  const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  return letter && path[1] == ':' && path[2] == '\\' && path[3] != '\0';
}
