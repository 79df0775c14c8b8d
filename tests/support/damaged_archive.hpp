// Damaged installer archives for the host and the Wine tests.
//
// The packager writes valid archives only. A damaged one is a valid setup
// program with named fields patched afterwards: the positions come from the
// host reader's listing of the valid program and the field offsets of
// format/layout.hpp, so no test keeps a map of the bytes of its own.
//
// DamagedArchives() is the one table of archives that setup.exe refuses, with
// the archive error each one ends in. Its packages name their members by role:
// "first.txt" stands before the fault, "bad.txt" carries it, "after.txt"
// follows it; a trailing block's packages have "main.txt" in the main table.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/writer/archive_builder.hpp"

// A whole setup program and the listing of its records as they were before
// any patch. Every patch throws std::out_of_range when the record it names is
// not in the listing.
class DamagedProgram {
public:
  explicit DamagedProgram(std::vector<std::uint8_t> program);

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  const ArchiveListing& Listing() const { return listing_; }

  // Archive header fields.
  void SetMagic(std::string_view magic);
  void SetFileCount(std::uint16_t count);
  void SetIconCount(std::uint16_t count);
  void SetHeaderLength(std::uint16_t length);
  void SetExternalSize(std::uint32_t size);

  // Main file table entry `index`.
  void SetEntryTag(std::size_t index, std::uint8_t tag);
  void SetEntryStoredLength(std::size_t index, std::uint32_t length);
  void SetEntryNameLength(std::size_t index, std::uint8_t length);

  // Icon entry `index`: the length byte of its name.
  void SetIconNameLength(std::size_t index, std::uint8_t length);

  // The trailing block and its entry `index`. Tag and flags are those of a
  // "QZ" entry header; the data length is a "QZ" storedLength or the length
  // of a "CT" or "DS" entry.
  void SetTrailingType(std::string_view tag);
  void SetTrailingCount(std::uint16_t count);
  void SetTrailingEntryTag(std::size_t index, std::uint8_t tag);
  void SetTrailingEntryFlags(std::size_t index, std::uint8_t flags);
  void SetTrailingDataLength(std::size_t index, std::uint32_t length);
  void SetTrailingNameLength(std::size_t index, std::uint8_t length);
  void SetEndMarker(std::size_t index, std::uint8_t marker);

  // The file ends `keep` bytes into a record.
  void CutAt(std::uint64_t offset);
  void CutInsideEntryHeader(std::size_t index, std::size_t keep);
  void CutInsideTrailingHead(std::size_t index, std::size_t keep);
  void Append(std::span<const std::uint8_t> bytes);

private:
  const ArchiveMemberInfo& Member(std::size_t index) const;
  const TrailingInfo& Trailing() const;
  const TrailingMemberInfo& TrailingMember(std::size_t index) const;
  TrailingType Type() const;
  std::uint8_t* At(std::uint64_t offset, std::size_t width);

  std::vector<std::uint8_t> bytes_;
  ArchiveListing listing_;
};

// Where setup.exe meets the fault.
enum class ArchiveStage { kOpening, kMainTable, kIconTable, kTrailingBlock };

struct DamagedArchive {
  const char* name;
  ArchiveStage stage;
  // Adds the records to a package whose required settings are set.
  void (*build)(PackageBuilder& package);
  // Patches the written program; null for an archive that is refused as the
  // packager wrote it.
  void (*damage)(DamagedProgram& program);
  int error;              // the archive error code
  const char* errorText;  // its text in the archive error box
  bool firstInstalled;    // "first.txt" is installed before the fault
  bool faultyInstalled;   // "bad.txt" is installed before the fault is found
};

const std::vector<DamagedArchive>& DamagedArchives();
// Test parameters print as the case's name.
void PrintTo(const DamagedArchive& damaged, std::ostream* os);
// The table's case of that name; throws std::out_of_range for none.
const DamagedArchive& FindDamagedArchive(std::string_view name);

// The damaged program: `base` with the case's records, composed with `stub`
// and patched.
std::vector<std::uint8_t> BuildDamagedProgram(const DamagedArchive& damaged, PackageBuilder base,
                                              std::span<const std::uint8_t> stub);
