// The modeless progress dialog (resource 104) and window placement.
#pragma once

#include <windows.h>

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The dialog's phases, in the order the install sequence calls them; each
// does nothing when the dialog could not be created.
//   CreateProgressDialog     modeless, no owner: "Checking for existing
//                            files...", the "Installing File:" label hidden
//   ShowInstallingPhase      the "Installing File:" label appears
//   ShowIconPhase            the label reads string 20 and the bar, its label
//                            and the status line are hidden
//   DestroyProgressDialog    the dialog is gone and progressDialog null
void CreateProgressDialog();
void ShowInstallingPhase();
void ShowIconPhase();
void DestroyProgressDialog();
void SetProgressPosition(HWND bar, UINT percent);
// Moves the bar to the consumed percentage, at most every
// kProgressRedrawInterval milliseconds (ui/message_format.hpp).
void UpdateProgressBar();
// Moves the bar to the latest percentage if it lags behind.
void CatchUpProgressBar();
// Shows `path` in the status line of the progress dialog.
void SetStatusText(const char* path);
// Lets the progress dialog (and any window of this thread) paint and answer
// the system while the program works without a message loop of its own.
void ProcessPendingMessages();
void CenterWindowOnScreen(HWND window, int setCaption);
// The owner for boxes raised while files are extracted: the progress dialog
// while it exists, else none. The bar is brought up to date first.
HWND ExtractionOwner();
