#include "setup/command_line.hpp"

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Copies the /D path at `p` into options->targetPath and returns the position
// behind it. A quoted path runs to the closing quote (consumed) or the end; an
// unquoted one to the next blank or the end.
const char* ReadTargetPath(const char* p, CommandLineOptions* options) {
  while (*p == ' ') ++p;
  char terminator = ' ';
  if (*p == '"') {
    terminator = '"';
    ++p;
  }
  std::size_t length = 0;
  options->targetPathTooLong = 0;
  for (; *p != '\0' && *p != terminator; ++p) {
    if (length + 1 < kPathSize) {
      options->targetPath[length++] = *p;
    } else {
      options->targetPathTooLong = 1;
    }
  }
  options->targetPath[length] = '\0';
  if (terminator == '"' && *p == '"') ++p;
  return p;
}

}  // namespace

void ParseOptions(const char* commandLine, CommandLineOptions* options) {
  const char* p = commandLine;
  while (*p != '\0') {
    if (*p != '-' && *p != '/') {
      ++p;
      continue;
    }
    ++p;
    const char letter = UpperAscii(*p);
    if (letter == '\0') break;
    ++p;
    switch (letter) {
      case 'S':
        options->silentMode = 1;
        break;
      case 'R':
        options->runAfterSilent = 1;
        if (UpperAscii(*p) == 'S') {
          ++options->runSuffixCount;
          options->selfDelete = 1;
          ++p;
          if (UpperAscii(*p) == 'K') {
            options->selfDelete = 0;
            ++p;
          }
        }
        break;
      case 'N':
        options->skipConfig = 1;
        break;
      case 'I':
        options->infoMode = 1;
        break;
      case 'C':
        if (UpperAscii(*p) == 'D') {
          options->skipRunningCheck = 1;
          ++p;
        } else if (UpperAscii(*p) == 'O') {
          options->keepExistingConfig = 0;
          ++p;
        }
        break;
      case 'D':
        p = ReadTargetPath(p, options);
        break;
      default:
        break;
    }
  }
}

const char* SkipProgramName(const char* p) {
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}
