#include "setuppack/host/pe_version.hpp"

#include "base/le.hpp"
#include "setuppack/host/pe_headers.hpp"

namespace {

constexpr std::uint32_t kResourceDirectory = 2;
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

}  // namespace

std::optional<MemberVersion> ReadPeFileVersion(std::span<const std::uint8_t> bytes) {
  const std::optional<PeHeaders> headers = PeHeaders::Read(bytes);
  if (!headers) return std::nullopt;
  const std::optional<PeDataDirectory> resources = headers->Directory(kResourceDirectory);
  if (!resources || resources->address == 0) return std::nullopt;
  const Image image(bytes);
  const std::optional<std::uint64_t> root = headers->FileOffsetOf(resources->address);
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
  const std::optional<std::uint64_t> data = headers->FileOffsetOf(image.U32(leaf));
  const std::uint32_t size = image.U32(leaf + 4);
  if (!data || !image.Has(*data, size)) return std::nullopt;

  for (std::uint64_t at = 0; at + 16 <= size; at += 4) {
    if (image.U32(*data + at) == kFixedFileInfoSignature)
      return MemberVersion{image.U32(*data + at + 8), image.U32(*data + at + 12)};
  }
  return std::nullopt;
}
