// The welcome dialog: the install directory, Install and Exit Setup.
#include "ui/welcome_dialog.hpp"

#include "resources/resource.h"
#include "setup/setup_state.hpp"
#include "setup/steps.hpp"
#include "ui/message_format.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      CenterWindowOnScreen(dialog, 1);
      SetDlgItemTextA(dialog, IDC_TARGET_DIRECTORY, setupState.targetPath);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (HasEnoughDiskSpace(setupState.targetPath)) {
            EndDialog(dialog, IDOK);
          } else {
            char megabytes[12];
            FormatUnsigned(megabytes, setupState.header.requiredSpace >> 20);
            ShowErrorStringArg(dialog, IDS_NOT_ENOUGH_SPACE, megabytes);
          }
          break;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          break;
        default:
          break;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
