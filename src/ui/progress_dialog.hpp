// The modeless progress dialog (resource 104) and window placement.
#pragma once

#include <windows.h>

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void SetProgressPosition(HWND bar, UINT percent);
void UpdateProgressBar();
// Shows `path` in the status line of the progress dialog.
void SetStatusText(const char* path);
// Lets the progress dialog (and any window of this thread) paint and answer
// the system while the program works without a message loop of its own.
void ProcessPendingMessages();
void CenterWindowOnScreen(HWND window, int setCaption);
// The owner for boxes raised while files are extracted: the progress dialog
// while it exists, else none.
HWND ExtractionOwner();
