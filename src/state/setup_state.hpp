// The one process-wide state of the setup program.
//
// The entry point owns it; every step reads and writes its fields directly (one
// thread, no locking). Settings strings, icon records and info records are
// heap blocks owned by the state and released once by CleanUpSetup.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/bounded_text.hpp"
#include "format/layout.hpp"
#include "format/member_directories.hpp"
#include "format/member_stream.hpp"


// One icon table entry; each text is a heap copy or null when absent. A name
// that begins with "*" is the uninstall registration.
struct IconEntry {
  char* name;
  char* arguments;
  char* target;
};

// What info mode records of one member, 32 bytes on the 32-bit program.
//   entryHeader  the member's 18-byte file entry header as stored (trailing
//                members: zero but for originalSize = data length and, for
//                "QZ", lastWriteTime)
//   name         heap copy of the member name, null when never reached
//   version      the SYS member version, else 0, 0
struct InfoRecord {
  std::uint8_t entryHeader[kFileEntryHeaderSize];
  char* name;
  MemberVersion version;
};

struct SetupState {
  // Paths. targetPath holds the install directory with a trailing backslash
  // and, from fileNamePart on, whatever name is being worked on.
  char targetPath[kPathSize];
  int targetDirLength;
  char* fileNamePart;
  char systemPath[kPathSize];  // system directory + "\" + SYS member name
  int systemDirLength;
  char setupPath[kPathSize];   // own file name; its directory with external members
  char versionText[20];

  HINSTANCE hInstance;
  HANDLE archiveFile;
  HANDLE sourceFile;
  HANDLE outputFile;
  HWND progressDialog;
  HWND progressBar;
  HWND statusText;

  std::uint32_t archiveOffset;
  std::uint32_t archiveFileSize;
  ArchiveHeader header;
  // The twelve settings strings in archive order (SettingsString indexes).
  // runCommand and defaultPath are never null once the archive is open.
  char* settings[kSettingsStringCount];

  IconEntry* icons;
  InfoRecord* infoMainEntries;
  InfoRecord* infoTrailingEntries;
  std::uint16_t trailingCount;

  std::uint32_t memberBytesLeft;
  // Member data between sourceFile and outputFile; buffered while the main
  // file table is extracted, pass-through otherwise.
  ReadAhead readAhead;
  WriteBehind writeBehind;
  // The folders below targetPath that the last member created has shown to
  // exist; none at the start.
  KnownDirectories createdDirectories;
  std::uint32_t progressDone;
  std::uint32_t progressTotal;

  int silentMode;
  int runAfterSilent;
  int infoMode;
  int skipConfig;
  int selfDelete;
  int keepExistingConfig;
  int skipRunningCheck;
  int installDlrFiles;
  int isNt;
  int useDiskFreeSpaceEx;
  int noLauncherRestartOnNt;
};

extern SetupState setupState;

// Named access to the settings strings.
inline char*& Setting(SettingsString which) { return setupState.settings[which]; }

// Heap blocks of the state: zero-filled, released with FreeBlock.
void* AllocZeroed(DWORD size);
void FreeBlock(void* block);

// Cuts `path` behind its last backslash and returns where the name began.
char* CutToDirectory(char* path);
