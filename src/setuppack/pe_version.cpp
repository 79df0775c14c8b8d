#include "setuppack/pe_version.hpp"

#include <algorithm>

#include "base/le.hpp"

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

class Image {
public:
  explicit Image(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Has(std::uint64_t offset, std::uint64_t size) const {
    return offset <= bytes_.size() && size <= bytes_.size() - offset;
  }
  std::uint16_t U16(std::uint64_t offset) const { return LoadLe16(bytes_.data() + offset); }
  std::uint32_t U32(std::uint64_t offset) const { return LoadLe32(bytes_.data() + offset); }

private:
  std::span<const std::uint8_t> bytes_;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t size;
  std::uint32_t fileOffset;
};

}  // namespace

std::optional<MemberVersion> ReadPeFileVersion(std::span<const std::uint8_t> bytes) {
  const Image image(bytes);
  if (!image.Has(0, 0x40) || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  const std::uint64_t pe = image.U32(0x3C);
  if (!image.Has(pe, 24) || image.U32(pe) != 0x00004550) return std::nullopt;  // "PE\0\0"
  const std::uint16_t sectionCount = image.U16(pe + 6);
  const std::uint16_t optionalSize = image.U16(pe + 20);
  const std::uint64_t optional = pe + 24;
  if (!image.Has(optional, optionalSize) || optionalSize < 2) return std::nullopt;
  const std::uint16_t magic = image.U16(optional);
  std::uint64_t countAt, directories;
  if (magic == 0x10B) {
    countAt = 92;
    directories = 96;
  } else if (magic == 0x20B) {
    countAt = 108;
    directories = 112;
  } else {
    return std::nullopt;
  }
  if (optionalSize < directories + 3 * 8 || image.U32(optional + countAt) < 3) return std::nullopt;
  const std::uint32_t resourceRva = image.U32(optional + directories + 2 * 8);
  if (resourceRva == 0) return std::nullopt;

  const std::uint64_t table = optional + optionalSize;
  if (!image.Has(table, std::uint64_t{sectionCount} * 40)) return std::nullopt;
  auto fileOffsetOf = [&](std::uint32_t rva) -> std::optional<std::uint64_t> {
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
      const std::uint64_t s = table + std::uint64_t{i} * 40;
      const Section section{image.U32(s + 12), std::max(image.U32(s + 8), image.U32(s + 16)),
                            image.U32(s + 20)};
      if (rva >= section.virtualAddress && rva - section.virtualAddress < section.size)
        return std::uint64_t{section.fileOffset} + (rva - section.virtualAddress);
    }
    return std::nullopt;
  };
  const std::optional<std::uint64_t> root = fileOffsetOf(resourceRva);
  if (!root) return std::nullopt;

  // One directory level: the entry with `id`, or the first entry when id is 0.
  auto findEntry = [&](std::uint64_t directory, std::uint32_t id) -> std::optional<std::uint32_t> {
    if (!image.Has(directory, 16)) return std::nullopt;
    const std::uint32_t count = std::uint32_t{image.U16(directory + 12)} + image.U16(directory + 14);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t entry = directory + 16 + std::uint64_t{i} * 8;
      if (!image.Has(entry, 8)) return std::nullopt;
      if (id == 0 || image.U32(entry) == id) return image.U32(entry + 4);
    }
    return std::nullopt;
  };

  std::uint64_t directory = *root;
  std::optional<std::uint32_t> next = findEntry(directory, kRtVersion);
  for (int level = 1; level < 3; ++level) {
    if (!next || !(*next & 0x80000000u)) return std::nullopt;
    directory = *root + (*next & 0x7FFFFFFFu);
    next = findEntry(directory, 0);
  }
  if (!next || (*next & 0x80000000u)) return std::nullopt;
  const std::uint64_t leaf = *root + *next;
  if (!image.Has(leaf, 8)) return std::nullopt;
  const std::optional<std::uint64_t> data = fileOffsetOf(image.U32(leaf));
  const std::uint32_t size = image.U32(leaf + 4);
  if (!data || !image.Has(*data, size)) return std::nullopt;

  for (std::uint64_t at = 0; at + 16 <= size; at += 4) {
    if (image.U32(*data + at) == kFixedFileInfoSignature)
      return MemberVersion{image.U32(*data + at + 8), image.U32(*data + at + 12)};
  }
  return std::nullopt;
}
