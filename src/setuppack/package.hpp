// The package model: the records a setup program's archive is built from
// (settings strings, main file table members, icons, trailing block) and read
// back into. The manifest reader and the package writer fill them, the
// archive builder turns them into bytes, the archive reader and `list` read
// archives back into them. Texts are in the system code page (1252).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/layout.hpp"

// Largest text a length-prefixed string can hold: its length is one byte.
constexpr std::size_t kMaxArchiveString = 255;

// The twelve settings strings, in archive order, each absent (std::nullopt) or
// a text of 1 to 255 bytes in the system code page. runCommand and defaultPath
// are required by setup.exe (archive errors 13 and 12); the builder writes
// whatever it is given.
struct SettingsStrings {
  std::optional<std::string> runCommand;      // program started by Run, version gate
  std::optional<std::string> helpFile;        // opened by Overview
  std::optional<std::string> readmeFile;      // opened by Read Me
  std::optional<std::string> iniFile;         // account information file
  std::optional<std::string> launcherClasses; // comma-separated window classes
  std::optional<std::string> iconGroup;       // Start menu folder
  std::optional<std::string> defaultPath;     // default install directory
  std::optional<std::string> configName;      // shown by /I
  std::optional<std::string> launcherFile;    // launcher program file name
  std::optional<std::string> trayFile;        // tray program file name
  std::optional<std::string> reservedString1; // kept, unused
  std::optional<std::string> reservedString2; // kept, unused

  // Field by its SettingsString index (0..11).
  std::optional<std::string>& operator[](std::size_t index);
  const std::optional<std::string>& operator[](std::size_t index) const;
  // Bytes the twelve strings take in the archive, length bytes included.
  std::size_t EncodedSize() const;
};

// One member of the main file table.
//   entry header   tag 'F', flags, storedLength = data.size() (unless
//                  storedLengthOverride), originalSize, lastWriteTime
//   name           length-prefixed, backslash-separated, 1..255 bytes
//   version        8 bytes, written only when flags has kMemberSys
//   data           the stored bytes; written into the archive unless the
//                  member is EXT, whose data goes to the external member file
struct PackageMember {
  std::string name;
  std::uint8_t flags = 0;                 // MemberFlag bits
  std::vector<std::uint8_t> data;         // stored data (implode stream for CMP)
  std::uint32_t originalSize = 0;         // installed size, listed only
  std::uint64_t lastWriteTime = 0;        // FILETIME, UTC; 0 = none
  MemberVersion version{0, 0};            // SYS only
  std::uint8_t tag = 'F';                 // anything else is archive error 10
  std::optional<std::uint32_t> storedLengthOverride; // for malformed entries
};

// One icon entry: three length-prefixed strings. A name beginning with "*" is
// the uninstall registration: display name behind the "*", arguments = the
// uninstall program relative to the install directory.
struct PackageIcon {
  std::optional<std::string> name; // absent only in broken archives (error 11)
  std::optional<std::string> arguments;
  std::optional<std::string> target;
};

// One member of the trailing block, always stored as it is, always installed
// into the install directory.
//   "QZ": 18-byte entry header (tag 'F', flags 0, storedLength, originalSize
//         unused, lastWriteTime), name, data
//   "CT", "DS": 4-byte data length, name, data, end marker 'F'
struct TrailingMember {
  std::string name;
  std::vector<std::uint8_t> data;
  std::uint64_t lastWriteTime = 0;      // "QZ" only
  std::uint8_t tag = 'F';               // "QZ": entry tag; "CT"/"DS": end marker
  std::uint8_t flags = 0;               // "QZ" only; non-zero is archive error 10
};

// The trailing block behind the icon table.
//   type tag         2 bytes: "QZ", "CT" or "DS" (typeTag, any two bytes)
//   configuration    length-prefixed, "QZ" and "CT" only; replaces configName
//   trailingCount    2 bytes, at most 100 (countOverride for malformed blocks)
//   entries          in the layout of the type
struct TrailingBlock {
  std::string typeTag = "QZ";
  std::optional<std::string> configName;
  std::vector<TrailingMember> members;
  std::optional<std::uint16_t> countOverride;

  // True for "QZ" and "CT": the block carries a configuration name.
  bool HasConfigName() const;
};

// An external member file of an EXT member: `fileName` ("_" + name[1..]) in
// the directory of the setup program, holding exactly the stored data.
struct ExternalFile {
  std::string fileName;
  std::vector<std::uint8_t> data;
};

// Name of the external member file of member `name`: its first character
// replaced by "_" ("Agent.exe" -> "_gent.exe").
std::string ExternalFileName(std::string_view memberName);

