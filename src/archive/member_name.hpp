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

// True when `name` (zero-terminated) stays below its directory: it is not
// empty, has no ".." part (nor one of only dots and blanks that Windows may
// read as ".."), does not begin with a backslash or slash (so no UNC
// prefix either) and holds no colon (no drive letter, no stream name). Both
// "\" and "/" count as separators, as they do for Windows.
bool IsSafeMemberName(const char* name);

// True when a name of `nameLength` characters fits behind a directory string of
// `directoryLength` characters in a path buffer of `bufferSize` characters,
// the terminator included.
bool FitsPathBuffer(std::size_t directoryLength, std::size_t nameLength, std::size_t bufferSize);

// Why a name cannot be stored as a member name, for the packager, which
// refuses such names when it builds an archive and when it extracts one. The
// checks run in the order of the codes; the first that fails is returned.
enum MemberNameFault {
  kMemberNameOk = 0,
  kMemberNameEmpty,              // no characters
  kMemberNameTooLong,            // more than 255 bytes: its length is one byte
  kMemberNameZeroByte,           // a zero byte inside the name
  kMemberNameLeavesDirectory,    // IsSafeMemberName refuses it
  kMemberNameBadCharacter,       // a control character or one of < > " | ? *
  kMemberNameEndsWithSeparator,  // a last backslash: it names no file
  kMemberNameEmptyPart,          // two backslashes in a row
};

// `name` holds `length` bytes and a terminator behind them.
MemberNameFault FindMemberNameFault(const char* name, std::size_t length);
