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

#include "format/layout.hpp"

// The twelve settings strings of kSettingsStrings (format/layout.hpp), each
// absent (std::nullopt) or a text of 1 to 255 bytes in the system code page,
// one member per field name. The builder writes whatever it is given, required
// strings included.
struct SettingsStrings {
  std::optional<std::string> runCommand;
  std::optional<std::string> helpFile;
  std::optional<std::string> readmeFile;
  std::optional<std::string> iniFile;
  std::optional<std::string> launcherClasses;
  std::optional<std::string> iconGroup;
  std::optional<std::string> defaultPath;
  std::optional<std::string> configName;
  std::optional<std::string> launcherFile;
  std::optional<std::string> trayFile;
  std::optional<std::string> reservedString1;
  std::optional<std::string> reservedString2;

  // Field by its SettingsString index (0..11).
  std::optional<std::string>& operator[](std::size_t index);
  const std::optional<std::string>& operator[](std::size_t index) const;
  // Bytes the twelve strings take in the archive, length bytes included.
  std::size_t EncodedSize() const;
};

// One member of the main file table (FileEntryHeader in format/layout.hpp):
// the entry header with storedLength = data.size(), the name, the version of
// a SYS member, and the data unless the member is EXT, whose data goes to the
// external member file.
struct PackageMember {
  std::string name;                       // backslash-separated
  std::uint8_t flags = 0;                 // MemberFlag bits
  std::vector<std::uint8_t> data;         // stored data (implode stream for CMP)
  std::uint32_t originalSize = 0;         // installed size, listed only
  std::uint64_t lastWriteTime = 0;        // FILETIME, UTC; 0 = none
  MemberVersion version{0, 0};            // SYS only
};

// One icon entry (format/layout.hpp). The reader keeps an absent name too,
// for the listing of an archive that setup.exe refuses.
struct PackageIcon {
  std::optional<std::string> name;
  std::optional<std::string> arguments;
  std::optional<std::string> target;
};

// One member of the trailing block (TrailingEntryHead in format/layout.hpp).
struct TrailingMember {
  std::string name;
  std::vector<std::uint8_t> data;
  std::uint64_t lastWriteTime = 0;      // "QZ" only
};

// The trailing block behind the icon table: its type tag ("QZ", "CT" or "DS";
// any other throws std::invalid_argument when written), the configuration name
// ("QZ" and "CT" only) and the members.
struct TrailingBlock {
  std::string typeTag = "QZ";
  std::optional<std::string> configName;
  std::vector<TrailingMember> members;

  TrailingType Type() const;
  // True for "QZ" and "CT": the block carries a configuration name.
  bool HasConfigName() const;
};

// An external member file of an EXT member: `fileName` in the directory of the
// setup program, holding exactly the stored data.
struct ExternalFile {
  std::string fileName;
  std::vector<std::uint8_t> data;
};

// Name of the external member file of member `name` (format/member_name.hpp):
// "Agent.exe" -> "_gent.exe".
std::string ExternalFileName(std::string_view memberName);

