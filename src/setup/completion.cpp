// Completion: the optional start of the installed program after a silent run,
// and the self-removal of the setup program.
#include <windows.h>
#include <shellapi.h>

#include "setup/setup_state.hpp"
#include "setup/steps.hpp"
#include "base/bounded_text.hpp"

void ShowCompletion() {
  if (setupState.silentMode && setupState.runAfterSilent) {
    StartInstalledFile(nullptr, Setting(kRunCommand));
  }
}

int StartInstalledFile(HWND owner, const char* commandText) {
  SetupState& s = setupState;
  char directory[kPathSize];
  CopyBounded(directory, sizeof directory, s.targetPath);
  if (s.targetDirLength > 0) directory[s.targetDirLength - 1] = '\0';
  CopyBounded(s.fileNamePart, kPathSize - s.targetDirLength, commandText);

  char* p = s.fileNamePart;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
  }
  while (*p != '\0' && *p != ' ') ++p;
  const char* parameters = nullptr;
  if (*p == ' ') {
    *p = '\0';
    if (p[1] != '\0') parameters = p + 1;
  }
  const HINSTANCE result =
      ShellExecuteA(owner, nullptr, s.targetPath, parameters, directory, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32 ? 1 : 0;
}

void RemoveSetupProgram() {}
