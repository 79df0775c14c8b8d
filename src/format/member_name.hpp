// Rules for member names, shared by the setup program and the packager.
//
// A member name is a path relative to the directory it is installed into (the
// install directory, the system directory, or the setup program's directory for
// external member files), with backslashes between its parts. A name is only
// written when it stays below that directory.
#pragma once

#include <cstddef>

// The external member file of an EXT member lies in the setup program's
// directory and holds exactly the member's stored data (compressed or not, as
// CMP says). Its name is the member name with the first character replaced by
// kExternalNameMark: "Agent.exe" -> "_gent.exe".
constexpr char kExternalNameMark = '_';

// Turns a copy of a member name (at least one character) into the name of its
// external member file.
inline void MarkExternalFileName(char* name) { name[0] = kExternalNameMark; }

// The configuration file that the options /N and /CO are about, in the main
// file table and in the trailing block alike; matched without regard to case.
constexpr char kConfigFileName[] = "CONFIG.DAT";

// The CONFIG.DAT rule, for a member that would otherwise be installed: a member
// of another name is installed; CONFIG.DAT is never installed with
// `skipConfig` (/N), and with `keepExistingConfig` (on unless /CO) not over a
// file that `exists` already.
bool IsConfigRuleInstalling(bool isConfigFile, bool skipConfig, bool keepExistingConfig, bool exists);

// True when setup.exe may write the member `name` (zero-terminated): it has
// none of the faults of FindMemberNameFault below. So it stays below its
// directory and names a file that Windows keeps under that name, not a device.
bool IsSafeMemberName(const char* name);

// True when a program group or shortcut name (zero-terminated, at least one
// character) keeps its folder or link inside the Programs folder and names no
// device: no ".." part, no leading separator, no colon, no device part. Other
// faults are left to the shell, which refuses such a file itself.
bool IsSafeShortcutName(const char* name);

// True when a name of `nameLength` characters fits behind a directory string of
// `directoryLength` characters in a path buffer of `bufferSize` characters,
// the terminator included.
bool FitsPathBuffer(std::size_t directoryLength, std::size_t nameLength, std::size_t bufferSize);

// Why a name cannot be a member name: the rule of names that Windows refuses
// or reads otherwise, for setup.exe (IsSafeMemberName) and for the packager,
// which refuses such names when it builds an archive and before it extracts
// one. "\" and "/" both separate parts, as they do for Windows. When a name
// has several faults, the one of the lowest code is returned.
enum MemberNameFault {
  kMemberNameOk = 0,
  kMemberNameEmpty,              // no characters
  kMemberNameTooLong,            // more than 255 bytes: its length is one byte
  kMemberNameZeroByte,           // a zero byte inside the name
  kMemberNameLeavesDirectory,    // a leading separator, a colon (drive letter,
                                 // stream name) or a ".." part, also one of
                                 // dots and blanks only such as ". ."
  kMemberNameDeviceName,         // a part that names a device: CON, PRN, AUX,
                                 // NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 (and
                                 // COM/LPT with a superscript 1, 2, 3), in any
                                 // case, with or without an extension
  kMemberNameBadCharacter,       // a control character or one of < > " | ? *
  kMemberNameEndsWithSeparator,  // a last separator: it names no file
  kMemberNameEmptyPart,          // two separators in a row
  kMemberNameDotPart,            // a "." part
  kMemberNameEndsWithDotOrBlank, // a part ending in "." or " ", which Windows drops
};

// `name` holds `length` bytes.
MemberNameFault FindMemberNameFault(const char* name, std::size_t length);
