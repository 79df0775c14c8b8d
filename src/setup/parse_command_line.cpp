// The command line step: options, the welcome dialog, and the install
// directory created with all its missing levels (directory.cpp).
#include "state/steps.hpp"

#include "base/bounded_text.hpp"
#include "resources/resource.h"
#include "setup/command_line.hpp"
#include "state/setup_state.hpp"
#include "ui/messages.hpp"
#include "ui/welcome_dialog.hpp"

namespace {

// Replaces the run command by a copy with `count` times " -BI -S" behind it.
void ExtendRunCommand(int count) {
  char*& runCommand = Setting(kRunCommand);
  const int oldLength = lstrlenA(runCommand);
  const int suffixLength = static_cast<int>(sizeof kRunSelfDeleteSuffix) - 1;
  char* extended = static_cast<char*>(AllocZeroed(oldLength + count * suffixLength + 1));
  if (extended == nullptr) return;
  lstrcpyA(extended, runCommand);
  for (int i = 0; i < count; ++i) lstrcatA(extended, kRunSelfDeleteSuffix);
  FreeBlock(runCommand);
  runCommand = extended;
}

}  // namespace

int ParseCommandLine(const char* commandLine) {
  SetupState& s = setupState;
  CommandLineOptions options;
  options.keepExistingConfig = s.keepExistingConfig;
  CopyBounded(options.targetPath, sizeof options.targetPath, Setting(kDefaultPath));
  ParseOptions(commandLine, &options);

  s.silentMode = options.silentMode;
  s.runAfterSilent = options.runAfterSilent;
  s.infoMode = options.infoMode;
  s.skipConfig = options.skipConfig;
  s.selfDelete = options.selfDelete;
  s.keepExistingConfig = options.keepExistingConfig;
  s.skipRunningCheck = options.skipRunningCheck;
  lstrcpyA(s.targetPath, options.targetPath);
  if (options.runSuffixCount > 0) ExtendRunCommand(options.runSuffixCount);
  if (s.infoMode) {
    s.infoMainEntries =
        static_cast<InfoRecord*>(AllocZeroed(sizeof(InfoRecord) * (s.header.fileCount + 1u)));
    return 1;
  }

  if (!s.silentMode) {
    const INT_PTR result = DialogBoxParamA(s.hInstance, MAKEINTRESOURCEA(IDD_WELCOME), nullptr,
                                           WelcomeDialogProc, 0);
    if (result == -1) ShowArchiveError(nullptr, -1);
    if (result != IDOK) return 0;
  }

  // The directory needs room for its trailing backslash and a member name; a
  // /D path that did not fit the buffer is never used cut short.
  const int length = lstrlenA(s.targetPath);
  if (options.targetPathTooLong || length + 2 >= kPathSize || !CreateDirectoryPath(s.targetPath)) {
    ShowErrorString(nullptr, IDS_CANNOT_CREATE_DIRECTORY);
    return 0;
  }
  s.targetPath[length] = '\\';
  s.targetPath[length + 1] = '\0';
  return 1;
}
