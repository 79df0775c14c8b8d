// Steps of the install sequence owned by the setup driver.
#pragma once

#include <windows.h>

int ParseCommandLine(const char* commandLine);
int CreateDirectoryPath(char* path);
int CheckPlatform(char* setupPath);
int HasEnoughDiskSpace(char* path);
int IsWindowsNt();
void ShowCompletion();
int StartInstalledFile(HWND owner, const char* commandText);
void RemoveSetupProgram();
// Releases the state: the archive file, the settings strings, the icon and
// info records; with selfDelete, starts the self-removal as its last step.
void CleanUpSetup();
