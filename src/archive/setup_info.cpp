// The Setup Info dialog of info mode: the settings strings and one list line
// per member of the main file table and of the trailing block:
//   name TAB date and time TAB originalSize TAB flag words ("CMP SYS DLR EXT ")
#include "archive/archive.hpp"
#include "base/bounded_text.hpp"
#include "base/le.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"

namespace {

constexpr int kLineSize = 512;
constexpr int kTimeTextSize = 32;

struct ValueControl {
  int id;
  SettingsString setting;
};

constexpr ValueControl kValueControls[] = {
    {IDC_INFO_RUN_COMMAND, kRunCommand},         {IDC_INFO_HELP_FILE, kHelpFile},
    {IDC_INFO_README_FILE, kReadmeFile},         {IDC_INFO_INI_FILE, kIniFile},
    {IDC_INFO_LAUNCHER_CLASSES, kLauncherClasses}, {IDC_INFO_LAUNCHER_FILE, kLauncherFile},
    {IDC_INFO_TRAY_FILE, kTrayFile},             {IDC_INFO_DEFAULT_PATH, kDefaultPath},
    {IDC_INFO_ICON_GROUP, kIconGroup},           {IDC_INFO_CONFIG_NAME, kConfigName},
};

// Writes the local date and time of `time` into `text`; empty for a time of 0.
void FormatFileTime(const FILETIME& time, char* text, int size) {
  text[0] = '\0';
  if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0) return;
  FILETIME local;
  SYSTEMTIME fields;
  if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &fields)) return;
  const int written = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &fields, nullptr, text, size);
  if (written <= 0) {
    text[0] = '\0';
    return;
  }
  const int dateLength = lstrlenA(text);
  if (dateLength + 2 >= size) return;
  text[dateLength] = ' ';
  text[dateLength + 1] = '\0';
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &fields, nullptr, text + dateLength + 1,
                 size - dateLength - 1);
}

void AddListLine(HWND list, const InfoRecord& record) {
  FileEntryHeader entry;
  LoadFileEntryHeader(record.entryHeader, &entry);
  FILETIME time;
  time.dwLowDateTime = entry.lastWriteTimeLow;
  time.dwHighDateTime = entry.lastWriteTimeHigh;
  char timeText[kTimeTextSize];
  FormatFileTime(time, timeText, kTimeTextSize);
  char size[12];
  wsprintfA(size, "%d", static_cast<int>(entry.originalSize));

  char line[kLineSize];
  std::size_t used = CopyBounded(line, sizeof line, record.name != nullptr ? record.name : "");
  const char* parts[] = {"\t", timeText, "\t", size, "\t",
                         (entry.flags & kMemberCmp) ? "CMP " : "",
                         (entry.flags & kMemberSys) ? "SYS " : "",
                         (entry.flags & kMemberDlr) ? "DLR " : "",
                         (entry.flags & kMemberExt) ? "EXT " : ""};
  for (const char* part : parts) used += CopyBounded(line + used, sizeof line - used, part);
  SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

void FillSetupInfo(HWND dialog) {
  const SetupState& s = setupState;
  for (const ValueControl& control : kValueControls) {
    const char* value = s.settings[control.setting];
    if (value != nullptr) SetDlgItemTextA(dialog, control.id, value);
  }
  HWND list = GetDlgItem(dialog, IDC_INFO_FILES);
  INT tabStops[3] = {80, 50, 20};
  SendMessageA(list, LB_SETTABSTOPS, 3, reinterpret_cast<LPARAM>(tabStops));
  if (s.infoMainEntries != nullptr) {
    for (unsigned i = 0; i < s.header.fileCount; ++i) AddListLine(list, s.infoMainEntries[i]);
  }
  if (s.infoTrailingEntries != nullptr) {
    for (unsigned i = 0; i < s.trailingCount; ++i) AddListLine(list, s.infoTrailingEntries[i]);
  }
}

}  // namespace

INT_PTR CALLBACK SetupInfoDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    FillSetupInfo(dialog);
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}
