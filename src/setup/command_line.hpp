// The option grammar of the setup program's command line.
//
// The text is what the start-up code passes to WinMain: everything behind the
// program's own name. It is scanned once from left to right; "-" or "/" starts
// an option wherever it stands, the letter behind it is compared in upper case,
// and every other character is skipped. Options need no blank between them
// (/S/N is two options), but a letter behind an option letter is not an option
// (/SN sets silent mode only).
//
//   /S    silent mode               /I    info mode (list, install nothing)
//   /R    run after a silent run    /RS   also extend the run command by
//   /RSK  /RS without self-removal        " -BI -S" and remove the setup program
//   /N    never install CONFIG.DAT  /CD   skip the running-engine check
//   /CO   overwrite CONFIG.DAT      /D p  install directory p ("p" may be quoted)
#pragma once

#include <cstddef>

#include "base/bounded_text.hpp"

// The suffix each /RS appends to the run command.
constexpr const char kRunSelfDeleteSuffix[] = " -BI -S";

struct CommandLineOptions {
  int silentMode = 0;
  int runAfterSilent = 0;
  int infoMode = 0;
  int skipConfig = 0;
  int selfDelete = 0;
  int keepExistingConfig = 1;
  int skipRunningCheck = 0;
  // Number of /RS forms seen: each appends kRunSelfDeleteSuffix again.
  int runSuffixCount = 0;
  // The install directory: the caller fills it with the default path before
  // the scan; /D replaces it.
  char targetPath[kPathSize] = {};
  // A /D path did not fit targetPath; targetPath holds its first 259
  // characters and must not be used as a directory.
  int targetPathTooLong = 0;
};

// Scans `commandLine` and updates `options`. Never fails: unknown letters and
// sub-letters are ignored, a "-" or "/" at the very end ends the scan.
void ParseOptions(const char* commandLine, CommandLineOptions* options);

// The command line behind the program's own name (quoted or not) and the
// blanks after it, as the Windows start-up code hands it to a GUI program.
const char* SkipProgramName(const char* commandLine);
