// Program group and shortcuts. Where COM can be initialised, a folder under the
// Programs folder receives one shell link (.lnk) per icon entry; elsewhere
// Program Manager is asked over DDE for a group and its items. An entry whose
// name begins with "*" is the uninstall registration, handled at its place in
// the table. Nothing here stops the installation and nothing is reported.
#include "shell/shell.hpp"

#include <dde.h>
#include <objbase.h>
#include <shlobj.h>

#include "base/bounded_text.hpp"
#include "format/member_name.hpp"
#include "resources/resource.h"
#include "state/steps.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

// {00021401-0000-0000-C000-000000000046}
constexpr GUID kClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000214EE-0000-0000-C000-000000000046}
constexpr GUID kIidShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {0000010B-0000-0000-C000-000000000046}
constexpr GUID kIidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr int kFolderBufferSize = 256;
constexpr int kGroupCommandSize = 80;
constexpr int kItemCommandSize = 256;
constexpr int kProgmanWindowsDirectorySize = 64;
// Program Manager answers within moments; a server that never does must not
// hold the installation for ever.
constexpr DWORD kDdeAnswerTimeout = 20000;

// The Program Manager conversation, alive during the icon step only.
HWND ddeWindow;
HWND progmanWindow;
HWND serverWindow;
bool initiating;
int lastAckStatus;
ATOM applicationAtom;
ATOM topicAtom;

bool IsUninstallEntry(const IconEntry& entry) { return IsUninstallIconName(entry.name); }

// The group and the icon names place folders and links below the Programs
// folder (and name Program Manager's group file): a name that would leave it,
// or name a device, creates nothing. An absent group puts the links into the
// Programs folder itself.
bool IsGroupAllowed(const char* groupName) { return groupName == nullptr || IsSafeShortcutName(groupName); }

// Appends `text` to `buffer` (of `size`); false when it does not fit whole.
bool Append(char* buffer, int size, const char* text) {
  const int used = lstrlenA(buffer);
  if (used + lstrlenA(text) >= size) return false;
  lstrcpyA(buffer + used, text);
  return true;
}

// Writes the entry's target behind the install directory in targetPath.
void PlaceTarget(const IconEntry& entry) {
  CopyBounded(setupState.fileNamePart, kPathSize - setupState.targetDirLength,
              entry.target != nullptr ? entry.target : "");
}

HRESULT CreateShellLink(const char* targetPath, const char* workingDirectory, const char* linkPath,
                        const char* arguments) {
  IShellLinkA* link = nullptr;
  HRESULT result = CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkA,
                                    reinterpret_cast<void**>(&link));
  if (FAILED(result)) return result;
  link->SetPath(targetPath);
  link->SetWorkingDirectory(workingDirectory);
  if (arguments != nullptr) link->SetArguments(arguments);
  IPersistFile* file = nullptr;
  result = link->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&file));
  if (FAILED(result)) {
    link->Release();
    return result;
  }
  WCHAR widePath[kPathSize];
  if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, kPathSize) == 0) widePath[0] = 0;
  result = file->Save(widePath, TRUE);
  file->Release();
  link->Release();
  return result;
}

// The Programs folder: the shell's, or the Windows directory's Start Menu.
void GetProgramsFolder(HWND owner, char* folder) {
  folder[0] = '\0';
  LPITEMIDLIST list = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(owner, CSIDL_PROGRAMS, &list)) && list != nullptr) {
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(list, path)) CopyBounded(folder, kFolderBufferSize, path);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
      allocator->Free(list);
      allocator->Release();
    }
    return;
  }
  GetWindowsDirectoryA(folder, 220);
  Append(folder, kFolderBufferSize, "\\Start Menu\\Programs");
}

void CreateShellLinks(HWND owner, const char* groupName, const IconEntry* icons) {
  SetupState& s = setupState;
  char workingDirectory[kFolderBufferSize];
  CopyBounded(workingDirectory, s.targetDirLength > 0 ? s.targetDirLength : 1, s.targetPath);

  char folder[kFolderBufferSize];
  GetProgramsFolder(owner, folder);
  if (!Append(folder, kFolderBufferSize, "\\") ||
      !Append(folder, kFolderBufferSize, groupName != nullptr ? groupName : "")) {
    return;
  }
  // A refused group is a group that cannot be created: its first link fails.
  const bool groupAllowed = IsGroupAllowed(groupName);
  if (groupAllowed) CreateDirectoryPath(folder);
  if (!Append(folder, kFolderBufferSize, "\\")) return;
  const int folderLength = lstrlenA(folder);

  for (const IconEntry* entry = icons; entry->name != nullptr; ++entry) {
    if (IsUninstallEntry(*entry)) {
      RegisterUninstall(entry, groupName);
      continue;
    }
    if (!groupAllowed || !IsSafeShortcutName(entry->name)) break;
    PlaceTarget(*entry);
    folder[folderLength] = '\0';
    if (!Append(folder, kFolderBufferSize, entry->name) || !Append(folder, kFolderBufferSize, ".lnk")) {
      break;
    }
    if (CreateShellLink(s.targetPath, workingDirectory, folder, entry->arguments) != S_OK) break;
  }
}

LRESULT CALLBACK DdeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND sender = reinterpret_cast<HWND>(wParam);
  switch (message) {
    case WM_DDE_TERMINATE:
      PostMessageA(sender, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
      if (sender == serverWindow) serverWindow = nullptr;
      return 0;
    case WM_DDE_ACK:
      if (initiating) {
        if (sender == progmanWindow) serverWindow = sender;
        GlobalDeleteAtom(LOWORD(lParam));
        GlobalDeleteAtom(HIWORD(lParam));
      } else {
        UINT_PTR status = 0;
        UINT_PTR commands = 0;
        UnpackDDElParam(WM_DDE_ACK, lParam, &status, &commands);
        FreeDDElParam(WM_DDE_ACK, lParam);
        lastAckStatus = (status & 0x8000) != 0 ? 1 : 0;
      }
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Waits for the server's answer, taking only messages of the DDE range (and
// a quit message, which every retrieval takes). A negative or missing answer,
// the server's end of the conversation, a quit message or the time limit
// give 0. Messages outside the range stay queued.
int WaitForDdeAck(HWND server) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_DDE_FIRST, WM_DDE_LAST, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return 0;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
      if (reinterpret_cast<HWND>(message.wParam) != server) continue;
      if (message.message == WM_DDE_ACK) return lastAckStatus;
      if (message.message == WM_DDE_DATA) return 1;
      if (message.message == WM_DDE_TERMINATE) return 0;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= kDdeAnswerTimeout) return 0;
    // Wakes for any posted message in the queue, also one that arrived
    // between the look above and this wait.
    MsgWaitForMultipleObjectsEx(0, nullptr, kDdeAnswerTimeout - elapsed, QS_POSTMESSAGE,
                                MWMO_INPUTAVAILABLE);
  }
}

int DdeExecute(const char* command) {
  if (serverWindow == nullptr) return 0;
  const int length = lstrlenA(command);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, length + 1);
  if (memory == nullptr) return 0;
  char* text = static_cast<char*>(GlobalLock(memory));
  if (text == nullptr) {
    GlobalFree(memory);
    return 0;
  }
  lstrcpyA(text, command);
  GlobalUnlock(memory);
  lastAckStatus = 0;
  if (!PostMessageA(serverWindow, WM_DDE_EXECUTE, reinterpret_cast<WPARAM>(ddeWindow),
                    reinterpret_cast<LPARAM>(memory))) {
    GlobalFree(memory);
    return 0;
  }
  const int answer = WaitForDdeAck(serverWindow);
  GlobalFree(memory);
  return answer;
}

bool ConnectProgman(HWND owner) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DdeWindowProc;
  windowClass.hInstance = setupState.hInstance;
  windowClass.lpszClassName = "ddeClass";
  if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  ddeWindow = CreateWindowA("ddeClass", "", 0, 0, 0, 0, 0, owner, nullptr, setupState.hInstance, nullptr);
  if (ddeWindow == nullptr) return false;
  applicationAtom = GlobalAddAtomA("PROGMAN");
  topicAtom = GlobalAddAtomA("PROGMAN");
  progmanWindow = FindWindowA("PROGMAN", nullptr);
  if (progmanWindow == nullptr) {
    if (WinExec("PROGMAN", SW_SHOWNORMAL) < 32) return false;
    progmanWindow = FindWindowA("PROGMAN", nullptr);
    if (progmanWindow == nullptr) return false;
  }
  initiating = true;
  SendMessageA(progmanWindow, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(ddeWindow),
               MAKELPARAM(applicationAtom, topicAtom));
  initiating = false;
  return serverWindow != nullptr;
}

void DisconnectProgman() {
  DdeExecute("[exitprogman(1)]");
  if (serverWindow != nullptr) {
    PostMessageA(serverWindow, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(ddeWindow), 0);
  }
  progmanWindow = nullptr;
  serverWindow = nullptr;
  if (ddeWindow != nullptr) DestroyWindow(ddeWindow);
  ddeWindow = nullptr;
}

void CreateProgmanGroup(const char* groupName) {
  char command[kGroupCommandSize];
  char windowsDirectory[kProgmanWindowsDirectorySize];
  char shortName[9];
  const char* group = groupName != nullptr ? groupName : "";
  if (lstrlenA(group) + 16 < kGroupCommandSize) {
    wsprintfA(command, "[deletegroup(%s)]", group);
    DdeExecute(command);
  }
  if (GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory) >= sizeof windowsDirectory) {
    windowsDirectory[0] = '\0';
  }
  CopyBounded(shortName, sizeof shortName, group);
  if (lstrlenA(group) + lstrlenA(windowsDirectory) + lstrlenA(shortName) + 22 < kGroupCommandSize) {
    wsprintfA(command, "[creategroup(%s,%s\\%s.GRP)]", group, windowsDirectory, shortName);
    DdeExecute(command);
  }
}

void CreateProgmanItems(HWND owner, const char* groupName, const IconEntry* icons) {
  if (!ConnectProgman(owner)) {
    DisconnectProgman();
    return;
  }
  const bool groupAllowed = IsGroupAllowed(groupName);
  if (groupAllowed) CreateProgmanGroup(groupName);
  for (const IconEntry* entry = icons; entry->name != nullptr; ++entry) {
    if (IsUninstallEntry(*entry)) {
      RegisterUninstall(entry, groupName);
      continue;
    }
    if (!groupAllowed || !IsSafeShortcutName(entry->name)) break;
    PlaceTarget(*entry);
    const int needed = lstrlenA(setupState.targetPath) + lstrlenA(entry->name) +
                       (entry->arguments != nullptr ? lstrlenA(entry->arguments) + 1 : 0) + 14;
    if (needed >= kItemCommandSize) break;
    char command[kItemCommandSize];
    if (entry->arguments != nullptr) {
      wsprintfA(command, "[additem(%s %s,%s)]", setupState.targetPath, entry->arguments, entry->name);
    } else {
      wsprintfA(command, "[additem(%s,%s)]", setupState.targetPath, entry->name);
    }
    if (!DdeExecute(command)) break;
  }
  DisconnectProgman();
}

void CreateProgramGroup(HWND owner, const char* groupName, const IconEntry* icons) {
  if (CoInitialize(nullptr) == S_OK) {
    CreateShellLinks(owner, groupName, icons);
    CoUninitialize();
  } else {
    CreateProgmanItems(owner, groupName, icons);
  }
}

}  // namespace

int CreateProgramIcons() {
  SetupState& s = setupState;
  if (s.header.iconCount == 0 || s.icons == nullptr) return 0;
  ShowIconPhase();
  CreateProgramGroup(s.progressDialog, Setting(kIconGroup), s.icons);
  return 0;
}
