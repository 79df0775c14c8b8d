#include "setuppack/trial/shell_link.hpp"

#include <array>

#include "base/le.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"

namespace {

constexpr std::size_t kHeaderSize = 0x4C;
constexpr std::array<std::uint8_t, 16> kLinkClassId = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                       0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kHasIdList = 0x01;
constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasName = 0x04;
constexpr std::uint32_t kHasRelativePath = 0x08;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;

class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  void Need(std::size_t at, std::size_t count, const char* what) const {
    if (at > bytes_.size() || count > bytes_.size() - at)
      throw InputError(std::string("damaged shell link: the file ends inside ") + what);
  }
  std::uint16_t U16(std::size_t at, const char* what) const {
    Need(at, 2, what);
    return LoadLe16(bytes_.data() + at);
  }
  std::uint32_t U32(std::size_t at, const char* what) const {
    Need(at, 4, what);
    return LoadLe32(bytes_.data() + at);
  }
  // A zero-terminated ANSI text starting at `at`, ending before `end`.
  std::string Ansi(std::size_t at, std::size_t end, const char* what) const {
    std::string text;
    for (std::size_t i = at;; ++i) {
      if (i >= end) throw InputError(std::string("damaged shell link: ") + what + " has no end");
      if (bytes_[i] == 0) return text;
      text += static_cast<char>(bytes_[i]);
    }
  }
  // A zero-terminated UTF-16LE text starting at `at`, ending before `end`.
  std::string Wide(std::size_t at, std::size_t end, const char* what) const {
    std::u16string text;
    for (std::size_t i = at;; i += 2) {
      if (i + 1 >= end) throw InputError(std::string("damaged shell link: ") + what + " has no end");
      const char16_t c = static_cast<char16_t>(bytes_[i] | bytes_[i + 1] << 8);
      if (c == 0) return Utf8(text);
      text += c;
    }
  }
  static std::string Utf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      std::uint32_t c = text[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
        c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
      else if (c >= 0xD800 && c < 0xE000)
        c = 0xFFFD;
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return out;
  }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }

private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace

ShellLinkInfo ParseShellLink(std::span<const std::uint8_t> bytes, unsigned codePage) {
  if (bytes.size() < kHeaderSize || bytes[0] != kHeaderSize || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0)
    throw InputError("not a shell link: no 76-byte link header");
  for (std::size_t i = 0; i < kLinkClassId.size(); ++i) {
    if (bytes[4 + i] != kLinkClassId[i]) throw InputError("not a shell link: the header's class id is another");
  }
  const Reader r(bytes);
  ShellLinkInfo link;
  link.flags = r.U32(0x14, "the header");
  std::size_t at = kHeaderSize;
  if (link.flags & kHasIdList) at += 2 + r.U16(at, "the item id list");
  r.Need(at, 0, "the item id list");

  if (link.flags & kHasLinkInfo) {
    const std::uint32_t size = r.U32(at, "the link info");
    if (size < 0x1C) throw InputError("damaged shell link: the link info is shorter than its header");
    r.Need(at, size, "the link info");
    const std::size_t end = at + size;
    const std::uint32_t headerSize = r.U32(at + 4, "the link info");
    const std::uint32_t infoFlags = r.U32(at + 8, "the link info");
    if (infoFlags & 0x01) {
      std::string base, suffix;
      if (headerSize >= 0x24) {
        base = r.Wide(at + r.U32(at + 28, "the link info"), end, "the local base path");
        suffix = r.Wide(at + r.U32(at + 32, "the link info"), end, "the common path suffix");
      } else {
        base = AnsiToUtf8(r.Ansi(at + r.U32(at + 16, "the link info"), end, "the local base path"), codePage);
        const std::uint32_t suffixOffset = r.U32(at + 24, "the link info");
        if (suffixOffset != 0)
          suffix = AnsiToUtf8(r.Ansi(at + suffixOffset, end, "the common path suffix"), codePage);
      }
      link.target = base + suffix;
    }
    at = end;
  }

  const bool unicode = link.flags & kIsUnicode;
  auto readString = [&](const char* what) {
    const std::uint16_t count = r.U16(at, what);
    at += 2;
    const std::size_t length = unicode ? 2u * count : count;
    r.Need(at, length, what);
    std::string text;
    if (unicode) {
      std::u16string wide;
      for (std::size_t i = 0; i < count; ++i)
        wide += static_cast<char16_t>(bytes[at + 2 * i] | bytes[at + 2 * i + 1] << 8);
      text = Reader::Utf8(wide);
    } else {
      text = AnsiToUtf8(std::string(reinterpret_cast<const char*>(bytes.data() + at), length), codePage);
    }
    at += length;
    // Wine counts the terminating zero in; no text holds one.
    if (const std::size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
    return text;
  };
  if (link.flags & kHasName) link.description = readString("the name string");
  std::optional<std::string> relative;
  if (link.flags & kHasRelativePath) relative = readString("the relative path");
  if (link.flags & kHasWorkingDir) link.workingDirectory = readString("the working directory");
  if (link.flags & kHasArguments) link.arguments = readString("the arguments");
  if (link.flags & kHasIconLocation) readString("the icon location");
  if (!link.target && relative) link.target = relative;
  return link;
}
