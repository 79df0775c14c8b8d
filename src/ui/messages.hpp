// Message boxes and window texts from the string table. Every notice is an
// error box under the installation caption (string 2, cut to 31 characters).
#pragma once

#include <windows.h>

int ShowErrorText(HWND owner, const char* text);
int ShowErrorString(HWND owner, UINT stringId);
int ShowErrorStringArg(HWND owner, UINT stringId, const char* argument);
void SetWindowString(HWND window, UINT stringId);
// Code 1 shows nothing; 2..13 show string 10 with the code's text; any other
// code shows string 10 with "Unknown Error".
void ShowArchiveError(HWND owner, int code);
