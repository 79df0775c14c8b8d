// The install sequence: the body of WinMain. It runs every subsystem once, in a
// fixed order, and returns the exit code:
//   0  completed, and every early stop (bad archive, refused platform, Exit
//      Setup, directory not created, version not upgradable, engine running)
//   1  an archive error during installation, and always in info mode
#include "state/setup_state.hpp"

#include <commctrl.h>

#include "agent/agent_control.hpp"
#include "archive/archive.hpp"
#include "archive/file_version.hpp"
#include "base/bounded_text.hpp"
#include "format/member_name.hpp"
#include "resources/resource.h"
#include "setup/platform_rules.hpp"
#include "shell/shell.hpp"
#include "state/steps.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

// Step 10: an installed run-command file whose FileVersion text is below 2.5
// cannot be upgraded. The path is the install directory followed directly by
// the run command as the command line left it.
bool IsUpgradeRefused() {
  // A run command naming a device (COM1, say) names no installed file, and
  // reading its version would open the device and could wait on it.
  const char* runCommand = Setting(kRunCommand);
  if (FindMemberNameFault(runCommand, static_cast<std::size_t>(lstrlenA(runCommand))) == kMemberNameDeviceName)
    return false;
  char path[kPathSize];
  const std::size_t used = CopyBounded(path, sizeof path, setupState.targetPath);
  CopyBounded(path + used, sizeof path - used, runCommand);
  const char* version = GetFileVersionText(path);
  return version != nullptr && IsVersionTextRefused(version);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  SetupState& s = setupState;
  s.hInstance = instance;
  s.keepExistingConfig = 1;
  s.installDlrFiles = 1;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));

  s.systemDirLength = static_cast<int>(GetSystemDirectoryA(s.systemPath, kPathSize));
  if (s.systemDirLength <= 0 || s.systemDirLength >= kPathSize - 1) s.systemDirLength = 0;
  s.systemPath[s.systemDirLength] = '\\';
  s.systemPath[s.systemDirLength + 1] = '\0';
  ++s.systemDirLength;

  InitCommonControls();
  GetModuleFileNameA(instance, s.setupPath, kPathSize);

  if (!OpenArchive(s.setupPath)) return 0;
  if (!CheckPlatform(s.setupPath)) {
    CleanUpSetup();
    return 0;
  }
  if (s.header.externalSize != 0) CutToDirectory(s.setupPath);
  if (!ParseCommandLine(commandLine)) {
    CleanUpSetup();
    return 0;
  }
  s.targetDirLength = lstrlenA(s.targetPath);
  s.fileNamePart = s.targetPath + s.targetDirLength;

  if (IsUpgradeRefused()) {
    ShowErrorString(nullptr, IDS_CANNOT_UPGRADE);
    return 0;
  }

  bool restartLauncher = false;
  if (!s.infoMode) {
    CreateProgressDialog();
    SetAgentPrefix(s.header.ipcPrefix);
    if (!s.skipRunningCheck && RefuseIfEngineRunning()) return 0;
    restartLauncher = StopAgents();
    ShowInstallingPhase();
  }

  int code = ExtractMainTable();
  if (code == 0) code = ReadIconTable();
  if (code == 0) code = ExtractTrailingBlock();

  if (s.infoMode) {
    if (code != 0) ShowArchiveError(nullptr, code);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETUP_INFO), nullptr, SetupInfoDialogProc, 0);
    CleanUpSetup();
    return 1;
  }

  if (code == 0) CreateProgramIcons();
  DestroyProgressDialog();
  if (restartLauncher) RestartLauncher();
  if (code == 0) {
    ShowCompletion();
    CleanUpSetup();
    return 0;
  }
  ShowArchiveError(nullptr, code);
  CleanUpSetup();
  return 1;
}
