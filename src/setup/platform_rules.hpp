// Platform, version and free-space rules of the setup program, as pure
// functions of the values Windows reports.
#pragma once

#include <cstdint>

// dwPlatformId values of OSVERSIONINFOA.
constexpr std::uint32_t kPlatformWin32s = 0;
constexpr std::uint32_t kPlatformWindows = 1;  // Windows 95 and 98
constexpr std::uint32_t kPlatformNt = 2;

enum PlatformAction {
  kPlatformAccept,
  kPlatformRefuse,       // show messageId, end the program
  kPlatformHandOver,     // Win32s: start SETUP.EXE beside the program, end quietly
};

struct PlatformDecision {
  PlatformAction action;
  int messageId;           // string table id when refused, else 0
  int isNt;                // accepted Windows NT
  int useDiskFreeSpaceEx;  // the extended free-space query is worth trying
  int clearInstallDlr;     // DLR members are not installed (Windows NT)
};

// The platform check for the archive header's `flags`:
//   Win32s          -> hand over
//   NT, flag 0x04   -> string 1
//   NT, flag 0x08 and major < 4 -> string 14
//   NT below 3.51   -> string 16
//   NT 3.51 and on  -> accept; extended query from 4.0 on; no DLR members
//   95/98, flag 0x10 -> string 15
//   95/98           -> accept; extended query when the build field > 1080
// Any platform id other than 0 and 2 is taken as Windows 95/98. The build
// number is the whole 32-bit field, not its low word.
PlatformDecision DecidePlatform(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                                std::uint32_t build, std::uint8_t flags);

// The upgrade gate on the installed run-command file's FileVersion text: true
// when the installed version cannot be upgraded (its first character is below
// "2", or it is "2" and the third is below "5"). Characters compare as signed
// 8-bit values; a text shorter than three characters has 0 as its third.
// So "2.4" and "1.9.9" are refused, "2.5", "3.0" and "4" pass, "10.0" is
// refused.
bool IsVersionTextRefused(const char* versionText);

// The extended query's answer: room when the free bytes (64-bit) are strictly
// greater than `requiredSpace`.
bool ExtendedFreeSpaceSuffices(std::uint32_t freeLow, std::uint32_t freeHigh, std::uint32_t requiredSpace);

// The drive root query's answer: room when sectors per cluster x bytes per
// sector x free clusters, without 32-bit overflow, is at least `requiredSpace`.
bool RootFreeSpaceSuffices(std::uint32_t sectorsPerCluster, std::uint32_t bytesPerSector,
                           std::uint32_t freeClusters, std::uint32_t requiredSpace);
