#include "setuppack/host/pe_headers.hpp"

#include <algorithm>

#include "base/le.hpp"

namespace {

constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kSectionEntrySize = 40;
constexpr std::uint64_t kDirectoryEntrySize = 8;

bool Has(std::span<const std::uint8_t> image, std::uint64_t offset, std::uint64_t size) {
  return offset <= image.size() && size <= image.size() - offset;
}

}  // namespace

std::optional<PeHeaders> PeHeaders::Read(std::span<const std::uint8_t> image) {
  if (!Has(image, 0, 0x40) || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
  const std::uint64_t pe = LoadLe32(image.data() + kLfanewOffset);
  if (!Has(image, pe, 4 + kCoffHeaderSize) || LoadLe32(image.data() + pe) != 0x00004550) return std::nullopt;
  const std::uint8_t* coff = image.data() + pe + 4;
  const std::uint16_t sectionCount = LoadLe16(coff + 2);
  const std::uint16_t optionalSize = LoadLe16(coff + 16);
  const std::uint64_t optional = pe + 4 + kCoffHeaderSize;
  if (optionalSize < 2 || !Has(image, optional, optionalSize)) return std::nullopt;

  std::uint64_t countAt = 0;
  std::uint64_t directoriesAt = 0;
  switch (LoadLe16(image.data() + optional)) {
    case 0x10B:
      countAt = 92;
      directoriesAt = 96;
      break;
    case 0x20B:
      countAt = 108;
      directoriesAt = 112;
      break;
    default:
      return std::nullopt;
  }
  if (optionalSize < directoriesAt) return std::nullopt;
  const std::uint64_t room = (optionalSize - directoriesAt) / kDirectoryEntrySize;
  const std::uint64_t stated = LoadLe32(image.data() + optional + countAt);

  PeHeaders headers;
  headers.image_ = image;
  headers.directories_ = optional + directoriesAt;
  headers.directoryCount_ = static_cast<std::uint32_t>(std::min(room, stated));
  headers.sections_ = optional + optionalSize;
  headers.sectionCount_ = Has(image, headers.sections_, sectionCount * kSectionEntrySize) ? sectionCount : 0;
  return headers;
}

std::optional<PeDataDirectory> PeHeaders::Directory(std::uint32_t index) const {
  if (index >= directoryCount_) return std::nullopt;
  const std::uint8_t* entry = image_.data() + directories_ + index * kDirectoryEntrySize;
  return PeDataDirectory{LoadLe32(entry), LoadLe32(entry + 4)};
}

std::optional<std::uint64_t> PeHeaders::FileOffsetOf(std::uint32_t rva) const {
  for (std::uint16_t i = 0; i < sectionCount_; ++i) {
    const std::uint8_t* section = image_.data() + sections_ + i * kSectionEntrySize;
    const std::uint32_t virtualAddress = LoadLe32(section + 12);
    const std::uint32_t size = std::max(LoadLe32(section + 8), LoadLe32(section + 16));
    if (rva >= virtualAddress && rva - virtualAddress < size)
      return std::uint64_t{LoadLe32(section + 20)} + (rva - virtualAddress);
  }
  return std::nullopt;
}
