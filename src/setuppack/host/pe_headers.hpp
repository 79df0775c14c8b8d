// The headers of a Windows PE image, read on the host: the one reader behind
// the version reader (pe_version) and the signature finder
// (signing/authenticode).
//
// Format facts relied on:
// - "MZ" header with the file offset of the "PE\0\0" signature at 0x3C; the
//   COFF file header (20 bytes: section count at 2, optional header size at
//   16) follows the signature, the optional header follows that, then the
//   section table (40 bytes per section: virtual size at 8, virtual address
//   at 12, raw size at 16, raw data offset at 20).
// - The optional header's magic says PE32 (0x10B: NumberOfRvaAndSizes at 92,
//   data directories at 96) or PE32+ (0x20B: at 108 and 112). Each data
//   directory is 8 bytes, an address and a size.
// Every offset is checked against the image; nothing is read outside it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

struct PeDataDirectory {
  std::uint32_t address = 0;  // an RVA, or a file offset for the security directory
  std::uint32_t size = 0;
};

class PeHeaders {
public:
  // nullopt for bytes that are no PE32 or PE32+ image, or whose headers do
  // not fit inside them.
  static std::optional<PeHeaders> Read(std::span<const std::uint8_t> image);

  // Data directory `index` (2 resources, 4 security), or nullopt when the
  // image has fewer directories.
  std::optional<PeDataDirectory> Directory(std::uint32_t index) const;

  // The file offset of an RVA through the section that holds it.
  std::optional<std::uint64_t> FileOffsetOf(std::uint32_t rva) const;

private:
  PeHeaders() = default;

  std::span<const std::uint8_t> image_;
  std::uint64_t directories_ = 0;     // file offset of data directory 0
  std::uint32_t directoryCount_ = 0;  // directories inside the optional header
  std::uint64_t sections_ = 0;        // file offset of the section table
  std::uint16_t sectionCount_ = 0;
};
