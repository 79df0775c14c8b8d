// Checks of a directory typed into the directory chooser.
#pragma once

// Removes every trailing backslash of `path` in place.
void RemoveTrailingBackslashes(char* path);

// True when `path` begins with a drive letter and a directory name: at least
// four characters, an ASCII letter, ":" and a backslash ("C:\x").
bool HasDriveAndDirectory(const char* path);
