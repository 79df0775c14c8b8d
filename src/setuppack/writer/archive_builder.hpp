// Building installer archives byte by byte: the packager writes its packages
// with this code, and the tests build their packages with it. It writes valid
// archives only; the tests damage them afterwards (tests/support).
//
// Two levels:
//   ArchiveWriter   an append-only byte sink with one method per on-disk item
//                   (little-endian integers, length-prefixed strings, the 28-byte
//                   ArchiveHeader, the 18-byte FileEntryHeader). It checks
//                   nothing beyond what the byte layout itself can hold.
//   PackageBuilder  a whole archive as records: header, settings strings, main
//                   file table, icon table, trailing block. It computes the
//                   header's counts and lengths, and writes a setup program:
//                   stub padded to kArchiveOffset + archive, plus the external
//                   member files of EXT members.
//
// The archive layout itself (records, limits, name rules, error codes) lives
// in format/layout.hpp and format/member_name.hpp, shared with setup.exe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/layout.hpp"
#include "setuppack/package/package.hpp"

// Append-only byte sink for archive items. Every integer is written low byte
// first; nothing is padded or aligned.
class ArchiveWriter {
public:
  ArchiveWriter& Bytes(std::span<const std::uint8_t> bytes);
  // The characters of `text` as they are: no length byte, no terminator.
  ArchiveWriter& Chars(std::string_view text);
  ArchiveWriter& U8(std::uint8_t value);
  ArchiveWriter& U16(std::uint16_t value);
  ArchiveWriter& U32(std::uint32_t value);
  // Win32 FILETIME: low 32-bit word first.
  ArchiveWriter& FileTime(std::uint64_t fileTime);
  // Length-prefixed string: one length byte N, then N bytes. Throws
  // std::length_error for texts above kMaxArchiveString bytes. An empty text writes the
  // single byte 0, which readers take as an absent string.
  ArchiveWriter& String(std::string_view text);
  // An absent string: the single length byte 0.
  ArchiveWriter& AbsentString();
  // String() when present, AbsentString() otherwise.
  ArchiveWriter& OptionalString(const std::optional<std::string>& text);
  // The 28-byte archive header; the reserved bytes 3 and 22..27 are zero.
  ArchiveWriter& Header(const ArchiveHeader& header);
  // The 18-byte file entry header.
  ArchiveWriter& EntryHeader(const FileEntryHeader& entry);
  // The 8-byte member version of a SYS member: ms word, then ls word.
  ArchiveWriter& Version(MemberVersion version);

  std::size_t Size() const { return bytes_.size(); }
  const std::vector<std::uint8_t>& Data() const { return bytes_; }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
  std::vector<std::uint8_t> bytes_;
};

// A whole installer archive as records. ArchiveBytes() fills in the header's
// fileCount, iconCount, headerLength and externalSize from the records.
class PackageBuilder {
public:
  PackageBuilder();

  ArchiveHeader header{};   // magic "QZ", everything else 0
  SettingsStrings settings;
  std::vector<PackageMember> files;
  std::vector<PackageIcon> icons;
  std::optional<TrailingBlock> trailing;

  // A stored member with originalSize = data size.
  PackageMember& AddFile(std::string name, std::vector<std::uint8_t> data,
                         std::uint8_t flags = 0);
  PackageMember& AddFile(std::string name, std::string_view text, std::uint8_t flags = 0);
  PackageMember& AddSystemFile(std::string name, std::vector<std::uint8_t> data,
                               MemberVersion version);
  PackageIcon& AddIcon(std::string name, std::optional<std::string> arguments = {},
                       std::optional<std::string> target = {});
  // The uninstall registration: icon name kUninstallIconMark + displayName.
  PackageIcon& AddUninstall(std::string displayName, std::string program);
  TrailingMember& AddTrailingFile(std::string name, std::vector<std::uint8_t> data,
                                  std::uint64_t lastWriteTime = 0);

  // The header as it will be written.
  ArchiveHeader FinalHeader() const;
  // The archive bytes, from the header to the end (to be placed at
  // kArchiveOffset): HeadBytes, then for each member its MemberHeadBytes and,
  // unless it is EXT, its data, then TailBytes.
  std::vector<std::uint8_t> ArchiveBytes() const;
  // The archive's parts, for writers that send member data on as it is made
  // rather than copy it into one buffer:
  // the archive header (FinalHeader) and the settings strings;
  std::vector<std::uint8_t> HeadBytes() const;
  // a member's entry header, name and (SYS) version, the data left out;
  static std::vector<std::uint8_t> MemberHeadBytes(const PackageMember& member);
  // the icon table and the trailing block. Throws std::invalid_argument for
  // an unknown trailing type tag, std::length_error for more than 100
  // trailing members.
  std::vector<std::uint8_t> TailBytes() const;
  // The external member files of the EXT members.
  std::vector<ExternalFile> ExternalFiles() const;

  // Writes the setup program `path` (stub padded to kArchiveOffset + archive)
  // and the external member files beside it. See WriteSetupProgram.
  void WriteTo(const std::filesystem::path& path, const std::filesystem::path& stubPath) const;
  void WriteTo(const std::filesystem::path& path, std::span<const std::uint8_t> stub) const;
};
