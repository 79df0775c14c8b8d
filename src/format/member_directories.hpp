// The folders that member names lead through, and which of them setup.exe
// already knows to exist below the install directory.
//
// A member named "a\b\c.txt" is written into the folders "a" and "a\b", which
// setup.exe creates level by level before it creates the file
// (CreateMemberDirectories). Once the file has been created, every folder
// that its name passes through at a backslash exists; a later member in the
// same folders needs none of them created again. The packager lists the
// members of a folder one after another, so the folders of the last member
// created are all there is to remember.
//
// What the rule relies on: a folder name is compared byte for byte, so a
// folder written in another case or with "/" is simply created again, as
// before; member files are created, never removed, so a known folder stays.
#pragma once

#include <cstddef>

// A member name is at most 255 bytes (its length is one byte).
constexpr std::size_t kKnownDirectorySize = 256;

// The folders of the last member whose file was created: its name up to its
// last backslash (that backslash not included), `length` bytes; 0 when no
// folder is known.
struct KnownDirectories {
  char path[kKnownDirectorySize];
  std::size_t length;
};

// Knows no folder.
void ForgetDirectories(KnownDirectories& known);

// Remembers the folders of `name` (zero-terminated), a member whose file has
// just been created below the same directory as the ones before it.
void RememberDirectories(KnownDirectories& known, const char* name);

// Where the creation of `name`'s folders begins: the index behind the last
// backslash of `name` whose folder is known to exist, or 0. The folders named
// at the backslashes from there on are to be created.
std::size_t FirstUnknownDirectory(const KnownDirectories& known, const char* name);
