// The welcome dialog: the welcome picture, the install directory, Install
// (with the free-space check), Browse... and Exit Setup. Browse... opens the
// old-style Save As dialog, re-dressed by template 10500 and a hook as a
// directory chooser that validates the typed path and offers to create it.
#include "ui/welcome_dialog.hpp"

#include <commdlg.h>
#include <dlgs.h>

#include "base/bounded_text.hpp"
#include "explode/compressed_bitmap.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"
#include "state/steps.hpp"
#include "ui/directory_rules.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

// The picture lives while the dialog is open.
HGLOBAL welcomeBitmap;
BitmapSize welcomeSize;
BITMAPINFOHEADER* welcomeHeader;
void* welcomeBits;

void PaintWelcomeBitmap(HWND dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  if (welcomeBitmap != nullptr) {
    SetDIBitsToDevice(dc, 8, 8, welcomeSize.width, welcomeSize.height, 0, 0, 0, welcomeSize.height,
                      welcomeBits, reinterpret_cast<BITMAPINFO*>(welcomeHeader), DIB_RGB_COLORS);
  }
  EndPaint(dialog, &paint);
}

void ReleaseWelcomeBitmap() {
  if (welcomeBitmap == nullptr) return;
  GlobalUnlock(welcomeBitmap);
  GlobalFree(welcomeBitmap);
  welcomeBitmap = nullptr;
}

constexpr int kCaptionSize = 32;
constexpr int kStringSize = 256;
constexpr int kMessageSize = 512;

UINT fileNameOkMessage;

// Makes `path` or its nearest existing parent the current directory, so that
// the chooser opens there. The path itself is not tried whole.
int SetNearestExistingDirectory(const char* path) {
  char copy[kPathSize];
  CopyBounded(copy, sizeof copy, path);
  for (int i = lstrlenA(copy); i >= 0; --i) {
    if (copy[i] != '\\') continue;
    copy[i == 2 ? 3 : i] = '\0';
    if (SetCurrentDirectoryA(copy)) return 1;
  }
  return 0;
}

// Asks whether the missing directory in targetPath is to be created.
bool ConfirmCreation(HWND chooser) {
  char format[kStringSize];
  LoadStringA(setupState.hInstance, IDS_CREATE_DIRECTORY, format, kStringSize);
  char text[kMessageSize];
  FormatWithArgument(text, sizeof text, format, setupState.targetPath);
  char caption[kCaptionSize];
  LoadStringA(setupState.hInstance, IDS_CAPTION, caption, kCaptionSize);
  return MessageBoxA(chooser, text, caption, MB_OKCANCEL | MB_ICONINFORMATION) != IDCANCEL;
}

// The chooser's OK: 0 accepts the directory left in targetPath, 1 keeps the
// chooser open.
UINT_PTR AcceptTypedDirectory(HWND chooser) {
  char* path = setupState.targetPath;
  GetDlgItemTextA(chooser, stc1, path, kPathSize);
  RemoveTrailingBackslashes(path);
  if (!HasDriveAndDirectory(path)) {
    ShowErrorStringArg(chooser, IDS_INVALID_PATH, Setting(kDefaultPath));
    return 1;
  }
  const int length = lstrlenA(path);
  if (length + 2 < kPathSize) {
    lstrcpyA(path + length, "\\.");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    path[length] = '\0';
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      return 0;
    }
  }
  if (!ConfirmCreation(chooser)) return 1;
  if (CreateDirectoryPath(path)) return 0;
  ShowErrorString(chooser, IDS_CANNOT_CREATE_DIRECTORY);
  return 1;
}

UINT_PTR CALLBACK DirectoryDialogHook(HWND chooser, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    ShowWindow(GetDlgItem(chooser, stc3), SW_HIDE);
    ShowWindow(GetDlgItem(chooser, edt1), SW_HIDE);
    ShowWindow(GetDlgItem(chooser, lst1), SW_HIDE);
    ShowWindow(GetDlgItem(chooser, cmb1), SW_HIDE);
    CenterWindowOnScreen(chooser, 0);
    return 0;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    // The common dialog only confirms a file whose directory exists, so the
    // typed directory is validated (and created) first and the hidden file
    // name is pointed into it; the confirmation then finds it in place.
    if (AcceptTypedDirectory(chooser) != 0) return 1;
    char file[kPathSize];
    const std::size_t used = CopyBounded(file, sizeof file, setupState.targetPath);
    CopyBounded(file + used, sizeof file - used, "\\X");
    SetDlgItemTextA(chooser, edt1, file);
    return 0;
  }
  if (message == fileNameOkMessage && fileNameOkMessage != 0) return AcceptTypedDirectory(chooser);
  return 0;
}

void OnBrowse(HWND dialog) {
  SetupState& s = setupState;
  GetDlgItemTextA(dialog, IDC_TARGET_DIRECTORY, s.targetPath, kPathSize);
  char file[kPathSize];
  const std::size_t used = CopyBounded(file, sizeof file, s.targetPath);
  CopyBounded(file + used, sizeof file - used, "\\X");
  fileNameOkMessage = RegisterWindowMessageA(FILEOKSTRINGA);
  SetNearestExistingDirectory(s.targetPath);

  OPENFILENAMEA parameters = {};
  parameters.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  parameters.hwndOwner = dialog;
  parameters.hInstance = s.hInstance;
  parameters.lpstrFile = file;
  parameters.nMaxFile = sizeof file;
  parameters.lpstrInitialDir = s.targetPath;
  parameters.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_LONGNAMES;
  parameters.lpfnHook = DirectoryDialogHook;
  parameters.lpTemplateName = MAKEINTRESOURCEA(IDD_CHOOSE_DIRECTORY);
  if (GetSaveFileNameA(&parameters)) SetDlgItemTextA(dialog, IDC_TARGET_DIRECTORY, s.targetPath);
}

void OnInstall(HWND dialog) {
  // Install takes the directory the dialog shows: a chooser that rejected an
  // entry and was then cancelled may have left that entry in targetPath.
  GetDlgItemTextA(dialog, IDC_TARGET_DIRECTORY, setupState.targetPath, kPathSize);
  if (HasEnoughDiskSpace(setupState.targetPath)) {
    EndDialog(dialog, IDOK);
    return;
  }
  char megabytes[12];
  FormatUnsigned(megabytes, setupState.header.requiredSpace >> 20);
  ShowErrorStringArg(dialog, IDS_NOT_ENOUGH_SPACE, megabytes);
}

}  // namespace

INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      CenterWindowOnScreen(dialog, 1);
      welcomeBitmap = LoadCompressedBitmap(IDB_WELCOME, &welcomeSize, &welcomeHeader, &welcomeBits);
      SetDlgItemTextA(dialog, IDC_TARGET_DIRECTORY, setupState.targetPath);
      return TRUE;
    case WM_PAINT:
      PaintWelcomeBitmap(dialog);
      return FALSE;
    case WM_DESTROY:
      ReleaseWelcomeBitmap();
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) OnInstall(dialog);
      if (LOWORD(wParam) == IDC_BROWSE) OnBrowse(dialog);
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
      return FALSE;
    default:
      return FALSE;
  }
}
