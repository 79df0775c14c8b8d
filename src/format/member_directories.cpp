#include "format/member_directories.hpp"

void ForgetDirectories(KnownDirectories& known) { known.length = 0; }

void RememberDirectories(KnownDirectories& known, const char* name) {
  std::size_t length = 0;
  for (std::size_t i = 0; name[i] != '\0' && i < kKnownDirectorySize; ++i) {
    if (name[i] == '\\') length = i;
  }
  for (std::size_t i = 0; i < length; ++i) known.path[i] = name[i];
  known.length = length;
}

std::size_t FirstUnknownDirectory(const KnownDirectories& known, const char* name) {
  std::size_t first = 0;
  if (known.length == 0) return first;
  for (std::size_t i = 0; name[i] != '\0'; ++i) {
    const bool knownEnds = i == known.length;
    if (!knownEnds && name[i] != known.path[i]) break;
    // A backslash where the known folders have one too, or where they end:
    // the name's folder up to here is one of them.
    if (name[i] == '\\') first = i + 1;
    if (knownEnds) break;
  }
  return first;
}
