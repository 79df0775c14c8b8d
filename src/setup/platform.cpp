// Platform and free-space checks.
#include "state/steps.hpp"

#include "resources/resource.h"
#include "setup/platform_rules.hpp"
#include "state/setup_state.hpp"
#include "ui/messages.hpp"

namespace {

OSVERSIONINFOA QueryVersion() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  return info;
}

typedef BOOL(WINAPI* GetDiskFreeSpaceExAFunction)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                                  PULARGE_INTEGER);

// The extended query, looked up at run time: 1 room, 0 no room, -1 not answered.
int QueryExtendedFreeSpace(const char* path) {
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  if (kernel == nullptr) return -1;
  int answer = -1;
  const auto query = reinterpret_cast<GetDiskFreeSpaceExAFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
  ULARGE_INTEGER freeToCaller;
  ULARGE_INTEGER total;
  if (query != nullptr && query(path, &freeToCaller, &total, nullptr)) {
    answer = ExtendedFreeSpaceSuffices(freeToCaller.LowPart, freeToCaller.HighPart,
                                       setupState.header.requiredSpace)
                 ? 1
                 : 0;
  }
  FreeLibrary(kernel);
  return answer;
}

}  // namespace

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA expects the 148-byte record");

int CheckPlatform(char* setupPath) {
  const OSVERSIONINFOA info = QueryVersion();
  const PlatformDecision decision =
      DecidePlatform(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                     setupState.header.flags);
  switch (decision.action) {
    case kPlatformHandOver: {
      char* name = CutToDirectory(setupPath);
      if (name - setupPath + 10 <= kPathSize) lstrcpyA(name, "SETUP.EXE");
      WinExec(setupPath, SW_SHOWNORMAL);
      return 0;
    }
    case kPlatformRefuse:
      ShowErrorString(nullptr, decision.messageId);
      return 0;
    case kPlatformAccept:
      break;
  }
  setupState.useDiskFreeSpaceEx = decision.useDiskFreeSpaceEx;
  if (decision.isNt) setupState.isNt = 1;
  if (decision.clearInstallDlr) setupState.installDlrFiles = 0;
  return 1;
}

int HasEnoughDiskSpace(char* path) {
  if (setupState.useDiskFreeSpaceEx) {
    const int answer = QueryExtendedFreeSpace(path);
    if (answer >= 0) return answer;
  }
  // The drive root: C:\ of C:\dir. A path shorter than that is asked as it is.
  char saved = '\0';
  const bool cut = lstrlenA(path) > 3;
  if (cut) {
    saved = path[3];
    path[3] = '\0';
  }
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  const BOOL answered =
      GetDiskFreeSpaceA(path, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters);
  if (cut) path[3] = saved;
  // A drive that cannot be asked is not refused here: creating the directory
  // on it reports the real problem.
  if (!answered) return 1;
  return RootFreeSpaceSuffices(sectorsPerCluster, bytesPerSector, freeClusters,
                               setupState.header.requiredSpace)
             ? 1
             : 0;
}

int IsWindowsNt() { return QueryVersion().dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0; }
