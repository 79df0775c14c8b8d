// The running check, the shutdown of the launcher and the tray program, and
// the launcher's restart, all through the agent channel and, for the
// launcher, its main window.
#include "agent/agent_control.hpp"

#include <windows.h>

#include "agent/agent_channel.hpp"
#include "agent/agent_channel_rules.hpp"
#include "base/bounded_text.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"
#include "state/steps.hpp"
#include "ui/messages.hpp"

namespace {

constexpr DWORD kExitConfirmedPause = 500;
constexpr DWORD kWindowCommandPause = 3000;
constexpr WPARAM kLauncherExitCommand = 40003;
// Window class names are at most 256 characters.
constexpr int kClassNameSize = 257;

// The first top-level window of a class of the comma-separated list, tried in
// list order; empty names are skipped.
HWND FindLauncherWindow(const char* classList) {
  const char* p = classList;
  while (*p != '\0') {
    char className[kClassNameSize];
    int length = 0;
    for (; *p != '\0' && *p != ','; ++p) {
      if (length + 1 < kClassNameSize) className[length++] = *p;
    }
    className[length] = '\0';
    if (*p == ',') ++p;
    if (length == 0) continue;
    HWND window = FindWindowA(className, nullptr);
    if (window != nullptr) return window;
  }
  return nullptr;
}

// Writes `name` at fileNamePart: targetPath then holds the install
// directory's file of that name.
void PutFileName(const char* name) {
  CopyBounded(setupState.fileNamePart, kPathSize - setupState.targetDirLength, name);
}

}  // namespace

bool RefuseIfEngineRunning() {
  if (!IsAgentRunning(kSlotEngine)) return false;
  ShowErrorString(nullptr, IDS_ALREADY_RUNNING);
  int reply = 0;
  SendAgentCommand(kSlotEngine, kCommandRefusal, &reply, nullptr, 0);
  return true;
}

bool AskLauncherToExit(int* exiting) {
  *exiting = 0;
  if (!SendAgentCommand(kSlotLauncher, kCommandRestartQuery, &setupState.noLauncherRestartOnNt,
                        nullptr, 0)) {
    return false;
  }
  const bool answered = SendAgentCommand(kSlotLauncher, kCommandExit, exiting, nullptr, 0);
  if (answered && *exiting != 0) Sleep(kExitConfirmedPause);
  return answered;
}

bool StopLauncher() {
  const char* classes = Setting(kLauncherClasses);
  if (classes == nullptr) return false;
  const char* launcherFile = Setting(kLauncherFile);
  int exiting = 0;
  // A launcher that confirmed its exit is restarted only when there is a file
  // to restart: an empty command would open the install directory instead.
  if (AskLauncherToExit(&exiting)) return exiting != 0 && launcherFile != nullptr;

  HWND window = FindLauncherWindow(classes);
  if (window == nullptr) return false;
  bool restart = false;
  if (launcherFile != nullptr) {
    PutFileName(launcherFile);
    restart = GetFileAttributesA(setupState.targetPath) != INVALID_FILE_ATTRIBUTES;
  }
  SendMessageA(window, WM_COMMAND, kLauncherExitCommand, 0);
  Sleep(kWindowCommandPause);
  return restart;
}

bool StopTray() {
  int exiting = 0;
  if (!SendAgentCommand(kSlotTray, kCommandExit, &exiting, nullptr, 0) || exiting == 0) return false;
  Sleep(kExitConfirmedPause);
  return true;
}

bool StopAgents() {
  const bool restart = StopLauncher();
  StopTray();
  return restart;
}

void RestartLauncher() {
  const char* launcherFile = Setting(kLauncherFile);
  if (launcherFile == nullptr) return;
  char command[kPathSize];
  const std::size_t used = CopyBounded(command, sizeof command, launcherFile);
  if (setupState.isNt) {
    if (setupState.noLauncherRestartOnNt) return;
    CopyBounded(command + used, sizeof command - used, " -w");
  }
  StartInstalledFile(nullptr, command);
}
