// Reading a setup program's archive on the host, for `setuppack list` and
// `setuppack extract`. It reads the whole archive in the order and with the
// checks of setup.exe's readers (archive error codes of format/layout.hpp),
// keeps everything it read, and stops at the first error; whatever was read
// before it stays available for the listing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/layout.hpp"
#include "setuppack/package/package.hpp"

// A member of the main file table as read. Offsets are file offsets.
struct ArchiveMemberInfo {
  FileEntryHeader entry{};
  std::string name;                 // backslash-separated, as stored
  MemberVersion version{0, 0};      // SYS members only
  std::uint64_t entryOffset = 0;    // the entry header
  std::uint64_t dataOffset = 0;     // the stored data; EXT: none
};

// A member of the trailing block as read.
struct TrailingMemberInfo {
  std::string name;
  std::uint32_t length = 0;
  std::uint64_t lastWriteTime = 0;  // "QZ" only
  std::uint64_t entryOffset = 0;    // the entry's head
  std::uint64_t dataOffset = 0;
};

struct TrailingInfo {
  std::string typeTag;              // "QZ", "CT" or "DS"
  std::optional<std::string> configName;  // "QZ" and "CT"
  std::uint16_t count = 0;
  std::uint64_t offset = 0;         // the type tag
  std::uint64_t countOffset = 0;    // trailingCount
  std::vector<TrailingMemberInfo> members;
};

struct ArchiveListing {
  std::uint64_t fileSize = 0;
  bool headerRead = false;          // header and settings strings are valid
  ArchiveHeader header{};
  SettingsStrings settings;
  std::vector<ArchiveMemberInfo> members;
  std::vector<PackageIcon> icons;
  std::vector<std::uint64_t> iconOffsets;  // file offset of each icon entry
  std::optional<TrailingInfo> trailing;

  // 0, or the archive error code at which reading stopped.
  int error = kArchiveOk;
  std::uint64_t errorOffset = 0;    // file offset where the fault was found
  std::string errorDetail;          // what exactly was wrong, UTF-8 (names converted)
  // File offset of the first byte behind the archive's last record (the
  // icon table or the trailing block); set only when reading succeeded.
  std::uint64_t archiveEnd = 0;

  // The configuration name in effect: the trailing block's for "QZ" and "CT".
  const std::optional<std::string>& EffectiveConfigName() const;
};

// Reads the archive of a whole setup program held in memory.
ArchiveListing ReadArchive(std::span<const std::uint8_t> program);

// The bytes of the setup program `path`, read whole. Throws InputError
// ("PATH: cannot read the setup program: ...") when the file cannot be read.
std::vector<std::uint8_t> ReadSetupProgramBytes(const std::filesystem::path& path);

// "archive error 10 (File Header invalid) at offset 61532: <detail>".
std::string DescribeArchiveError(const ArchiveListing& listing);
