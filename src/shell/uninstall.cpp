// The uninstall registration: one key under the system's uninstall list,
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane,
// with DisplayName, UninstallString and StartMenuGroup (REG_SZ, terminator
// counted).
#include "shell/shell.hpp"

#include "base/bounded_text.hpp"
#include "format/uninstall_key.hpp"

namespace {

void SetText(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(lstrlenA(text) + 1));
}

}  // namespace

bool RegisterUninstall(const IconEntry* entry, const char* groupName) {
  HKEY parent = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                      const_cast<char*>(""), REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                      &parent, &disposition) != ERROR_SUCCESS) {
    return true;
  }
  HKEY product = nullptr;
  if (RegCreateKeyExA(parent, kUninstallKeyName, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &product, &disposition) != ERROR_SUCCESS) {
    RegCloseKey(parent);
    return true;
  }
  SetText(product, "DisplayName", UninstallDisplayName(entry->name));
  // A value this package has nothing for is removed rather than left from an
  // earlier installation: without an uninstall program the list offers no
  // removal, and without a group there is no Start menu folder to name.
  if (entry->arguments != nullptr) {
    CopyBounded(setupState.fileNamePart, kPathSize - setupState.targetDirLength, entry->arguments);
    SetText(product, "UninstallString", setupState.targetPath);
  } else {
    RegDeleteValueA(product, "UninstallString");
  }
  if (groupName != nullptr) {
    SetText(product, "StartMenuGroup", groupName);
  } else {
    RegDeleteValueA(product, "StartMenuGroup");
  }
  RegCloseKey(product);
  RegCloseKey(parent);
  return true;
}
