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

// The main file table: 0, or an archive error code (1 = already shown).
int ExtractMainTable();
// The icon table: 0, or 11 for an entry without a name.
int ReadIconTable();
// The trailing block: 0, or an archive error code.
int ExtractTrailingBlock();

// Shared pieces of the two file tables.
int ReadMemberName(char* name, int nameSize);
int PlaceMemberName(const char* name, int forSystem);
int CreateOutputFile(char* path, int createDirectories);
int CopyStoredMember(char* buffer, DWORD chunkSize);
unsigned int ReadCallback(char* buffer, unsigned int* size, void* userParameter);
void WriteCallback(char* buffer, unsigned int* size, void* userParameter);

INT_PTR CALLBACK SetupInfoDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
