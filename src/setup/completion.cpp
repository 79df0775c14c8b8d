// Completion: the finish dialog, or after a silent run the optional start of
// the installed program; the release of the setup state and the self-removal
// of the setup program.
#include "state/steps.hpp"

#include <windows.h>
#include <shellapi.h>

#include "base/bounded_text.hpp"
#include "resources/resource.h"
#include "setup/completion_rules.hpp"
#include "state/setup_state.hpp"
#include "ui/progress_dialog.hpp"

namespace {

void FreeInfoRecords(InfoRecord* records, unsigned count) {
  if (records == nullptr) return;
  for (unsigned i = 0; i < count; ++i) FreeBlock(records[i].name);
  FreeBlock(records);
}

void HideControl(HWND dialog, int id) { ShowWindow(GetDlgItem(dialog, id), SW_HIDE); }

INT_PTR CALLBACK FinishDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  SetupState& s = setupState;
  if (message == WM_INITDIALOG) {
    if (s.header.helpContext == 0 || Setting(kHelpFile) == nullptr) {
      HideControl(dialog, IDC_OVERVIEW);
      HideControl(dialog, IDC_OVERVIEW_TEXT);
    }
    if (Setting(kReadmeFile) == nullptr) {
      HideControl(dialog, IDC_README);
      HideControl(dialog, IDC_README_TEXT);
    }
    CenterWindowOnScreen(dialog, 1);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDOK:
    case IDCANCEL:
      EndDialog(dialog, LOWORD(wParam));
      break;
    case IDC_RUN:
      StartInstalledFile(dialog, Setting(kRunCommand));
      EndDialog(dialog, IDC_RUN);
      break;
    case IDC_README:
      // Hidden without a read-me file; a command that still arrives does nothing.
      if (Setting(kReadmeFile) != nullptr) StartInstalledFile(dialog, Setting(kReadmeFile));
      break;
    case IDC_OVERVIEW:
      if (Setting(kHelpFile) != nullptr) {
        CopyBounded(s.fileNamePart, kPathSize - s.targetDirLength, Setting(kHelpFile));
        WinHelpA(dialog, s.targetPath, HELP_CONTEXT, s.header.helpContext);
      }
      break;
  }
  return TRUE;
}

// Starts the batch file hidden and suspended at idle priority, raises this
// program's own priority and only then lets the batch file run: it deletes
// the setup program's file once this process has ended.
void StartSelfRemovalBatch() {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  char commandLine[] = "C:\\DEL_SETUP32.BAT";
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, nullptr, "C:\\", &startup, &process)) {
    return;
  }
  SetThreadPriority(process.hThread, THREAD_PRIORITY_IDLE);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  CloseHandle(process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
}

}  // namespace

void ShowCompletion() {
  SetupState& s = setupState;
  if (!s.silentMode) {
    DialogBoxParamA(s.hInstance, MAKEINTRESOURCEA(IDD_FINISH), nullptr, FinishDialogProc, 0);
  } else if (s.runAfterSilent) {
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

void CleanUpSetup() {
  SetupState& s = setupState;
  if (s.archiveFile != nullptr && s.archiveFile != INVALID_HANDLE_VALUE) CloseHandle(s.archiveFile);
  s.archiveFile = nullptr;
  for (char*& text : s.settings) {
    FreeBlock(text);
    text = nullptr;
  }
  if (s.icons != nullptr) {
    for (unsigned i = 0; i < s.header.iconCount; ++i) {
      FreeBlock(s.icons[i].name);
      FreeBlock(s.icons[i].arguments);
      FreeBlock(s.icons[i].target);
    }
    FreeBlock(s.icons);
    s.icons = nullptr;
  }
  FreeInfoRecords(s.infoMainEntries, s.header.fileCount);
  s.infoMainEntries = nullptr;
  FreeInfoRecords(s.infoTrailingEntries, s.trailingCount);
  s.infoTrailingEntries = nullptr;
  if (s.selfDelete == 1) RemoveSetupProgram();
}

// Writes the batch file and starts it. A read-only setup program (copied from
// a CD, say) cannot be deleted: the batch file would repeat its "del" for
// ever, so none is written.
void RemoveSetupProgram() {
  char setupFile[kPathSize];
  const DWORD length = GetModuleFileNameA(setupState.hInstance, setupFile, kPathSize);
  if (length == 0 || length >= kPathSize) return;
  const DWORD attributes = GetFileAttributesA(setupFile);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) return;
  char content[kSelfRemovalBatchSize];
  const std::size_t size = BuildSelfRemovalBatch(content, sizeof content, setupFile);
  if (size == 0) return;
  const HFILE batch = _lcreat(kSelfRemovalBatchPath, 0);
  if (batch == HFILE_ERROR) return;
  const UINT written = _lwrite(batch, content, static_cast<UINT>(size));
  _lclose(batch);
  if (written == static_cast<UINT>(size)) StartSelfRemovalBatch();
}
