// The steps of the install sequence. The top floor (src/setup) defines them
// all; they are declared here, beside the setup state and below every
// subsystem, because the subsystems take some of them too: the welcome dialog
// creates the directory typed into it and checks the free space, the agent
// channel asks for Windows NT, the agent control starts the launcher, the
// shell creates the program group's folder.
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
