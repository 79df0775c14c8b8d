// The version resource of an installed file: read by the SYS member rule
// (VS_FIXEDFILEINFO of the file in the system directory) and by the upgrade
// check of the install sequence (FileVersion text of the run command).
#pragma once

#include <windows.h>

// Loads the version resource of `path` into a block that the caller releases
// with LocalFree. Null when the file has no version resource or it cannot be
// read.
void* LoadVersionBlock(const char* path);

// The value `subBlock` of a loaded version block ("\\" for the fixed file
// info), with its length in `length`; null when the block has none.
void* QueryVersionValue(void* block, const char* subBlock, UINT* length);

// The FileVersion text of `path` in the state's versionText (at most 19
// characters), or null when the file has none.
char* GetFileVersionText(const char* path);
