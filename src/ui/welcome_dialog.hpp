// The welcome dialog (resource 102) with the directory chooser.
#pragma once

#include <windows.h>

INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
