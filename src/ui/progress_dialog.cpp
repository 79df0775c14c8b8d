// The progress dialog: the current output path and a bar for the share of the
// archive consumed. The program has no message loop while it works, so every
// change of the dialog is followed by a pass over the pending messages; without
// it the dialog is never painted and the system marks it as not responding.
#include "ui/progress_dialog.hpp"

#include <commctrl.h>

#include "resources/resource.h"
#include "state/setup_state.hpp"
#include "ui/message_format.hpp"
#include "ui/messages.hpp"

namespace {

// Dialog captions read string 2 whole.
constexpr int kDialogCaptionSize = 64;

ProgressDisplay display;

void MoveBar(UINT percent) {
  SetProgressPosition(setupState.progressBar, percent);
  ProcessPendingMessages();
}

}  // namespace

void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Keep the quit request for whoever runs the next message loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (setupState.progressDialog != nullptr && IsDialogMessageA(setupState.progressDialog, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  CenterWindowOnScreen(dialog, 1);
  setupState.progressBar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
  setupState.statusText = GetDlgItem(dialog, IDC_STATUS_TEXT);
  SetProgressPosition(setupState.progressBar, 0);
  return TRUE;
}

void CreateProgressDialog() {
  setupState.progressDialog = CreateDialogParamA(setupState.hInstance, MAKEINTRESOURCEA(IDD_PROGRESS),
                                                 nullptr, ProgressDialogProc, 0);
  ProcessPendingMessages();
}

void ShowInstallingPhase() {
  HWND dialog = setupState.progressDialog;
  if (dialog == nullptr) return;
  HWND label = GetDlgItem(dialog, IDC_INSTALLING_LABEL);
  ShowWindow(label, SW_SHOW);
  UpdateWindow(label);
  ProcessPendingMessages();
}

void ShowIconPhase() {
  HWND dialog = setupState.progressDialog;
  if (dialog == nullptr) return;
  HWND label = GetDlgItem(dialog, IDC_INSTALLING_LABEL);
  SetWindowString(label, IDS_CREATING_ICONS);
  UpdateWindow(label);
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_LABEL), SW_HIDE);
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_BAR), SW_HIDE);
  ShowWindow(GetDlgItem(dialog, IDC_STATUS_TEXT), SW_HIDE);
}

void DestroyProgressDialog() {
  if (setupState.progressDialog != nullptr) DestroyWindow(setupState.progressDialog);
  setupState.progressDialog = nullptr;
}

void SetProgressPosition(HWND bar, UINT percent) { SendMessageA(bar, PBM_SETPOS, percent, 0); }

void UpdateProgressBar() {
  if (setupState.progressBar == nullptr) return;
  // Called for every read: the bar is told, and the messages passed on, only
  // when its position moves, and not more often than the eye can follow.
  // Nothing else sets it after the dialog's start at 0.
  const UINT percent = ProgressPercent(setupState.progressDone, setupState.progressTotal);
  if (TakeProgress(display, percent, GetTickCount())) MoveBar(percent);
}

void CatchUpProgressBar() {
  if (setupState.progressBar == nullptr) return;
  if (CatchUpProgress(display, GetTickCount())) MoveBar(display.shown);
}

void SetStatusText(const char* path) {
  if (setupState.statusText == nullptr) return;
  SetWindowTextA(setupState.statusText, path);
  ProcessPendingMessages();
}

void CenterWindowOnScreen(HWND window, int setCaption) {
  if (setCaption) {
    char caption[kDialogCaptionSize];
    LoadStringA(setupState.hInstance, IDS_CAPTION, caption, kDialogCaptionSize);
    SetWindowTextA(window, caption);
  }
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = CenteredOrigin(GetSystemMetrics(SM_CXSCREEN), width);
  const int y = CenteredOrigin(GetSystemMetrics(SM_CYSCREEN), height);
  MoveWindow(window, x, y, width, height, FALSE);
}

HWND ExtractionOwner() {
  // The box about to be shown stops the installation where it is: the bar
  // shows that place while the box waits.
  CatchUpProgressBar();
  return setupState.progressDialog;
}
