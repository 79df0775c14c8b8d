// The installer archive readers of the setup program. Each reads on from where
// the previous one stopped in the one open archive file.
#pragma once

#include <windows.h>

#include <cstdint>

// Opens the program's own file, validates the header and reads the settings
// strings. 1 on success; 0 after the failure has been shown.
int OpenArchive(const char* fileName);
// Reads one length-prefixed string: a new heap string, or null when absent.
char* ReadArchiveString();
// Reads `count` bytes at the archive position; false when fewer arrive.
bool ReadArchiveBytes(void* buffer, DWORD count);

// The main file table: 0, or an archive error code (1 = already shown).
int ExtractMainTable();
// The icon table: 0, or 11 for an entry without a name.
int ReadIconTable();
// The trailing block: 0, or an archive error code.
int ExtractTrailingBlock();


INT_PTR CALLBACK SetupInfoDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
