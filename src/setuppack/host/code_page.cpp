#include "setuppack/host/code_page.hpp"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace {

// One iconv conversion, closed when it goes out of scope.
class Converter {
public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {
    if (handle_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
  }
  ~Converter() { iconv_close(handle_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts from `*in` on; stops at the end or at the first byte it cannot
  // convert. Returns 0 when all was converted, else errno (EILSEQ, EINVAL).
  int Convert(const char*& in, std::size_t& left, std::string& out) {
    char buffer[256];
    while (left > 0) {
      char* next = buffer;
      std::size_t room = sizeof buffer;
      const std::size_t done = iconv(handle_, const_cast<char**>(&in), &left, &next, &room);
      out.append(buffer, static_cast<std::size_t>(next - buffer));
      if (done == static_cast<std::size_t>(-1) && errno != E2BIG) return errno;
    }
    return 0;
  }

private:
  iconv_t handle_;
};

std::string IconvName(unsigned codePage) { return "CP" + std::to_string(codePage); }

bool IsDoubleByte(unsigned codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// Length of the UTF-8 sequence that begins with `lead`; 0 for a byte that
// begins none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

}  // namespace

bool IsAnsiCodePage(unsigned codePage) {
  return codePage == 874 || IsDoubleByte(codePage) || (codePage >= 1250 && codePage <= 1258);
}

AnsiText ConvertToAnsi(std::string_view utf8, unsigned codePage) {
  if (!IsAnsiCodePage(codePage))
    throw std::invalid_argument("not a Windows ANSI code page: " + std::to_string(codePage));
  const std::string name = IconvName(codePage);
  Converter toAnsi(name.c_str(), "UTF-8");
  AnsiText result;
  // Character by character, so that each double-byte character's second byte
  // can be looked at.
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(utf8[i]));
    if (length == 0 || i + length > utf8.size()) return {{}, AnsiFault::kNotUtf8};
    const char* in = utf8.data() + i;
    std::size_t left = length;
    std::string bytes;
    const int error = toAnsi.Convert(in, left, bytes);
    if (error != 0) {
      // A broken sequence is no UTF-8; a good one the code page lacks.
      Converter check("UTF-32LE", "UTF-8");
      const char* again = utf8.data() + i;
      std::size_t againLeft = length;
      std::string ignored;
      return {{}, check.Convert(again, againLeft, ignored) != 0 ? AnsiFault::kNotUtf8
                                                                 : AnsiFault::kMissingCharacter};
    }
    if (IsDoubleByte(codePage) && bytes.size() == 2 && bytes[1] == '\\')
      return {{}, AnsiFault::kBackslashTrailByte};
    result.bytes += bytes;
    i += length;
  }
  if (AnsiToUtf8(result.bytes, codePage) != utf8) return {{}, AnsiFault::kNoRoundTrip};
  return result;
}

std::string DescribeAnsiFault(AnsiFault fault, unsigned codePage) {
  const std::string page = "the Windows code page " + std::to_string(codePage);
  switch (fault) {
    case AnsiFault::kNone:
      return "nothing wrong";
    case AnsiFault::kNotUtf8:
      return "bytes that are not UTF-8; manifests and file names must be UTF-8";
    case AnsiFault::kMissingCharacter:
      return "characters that " + page + " cannot show";
    case AnsiFault::kNoRoundTrip:
      return "a character that " + page +
             " stores as the bytes of another; use the character it reads back as";
    case AnsiFault::kBackslashTrailByte:
      return "a character whose second byte in " + page +
             " is 0x5C, the backslash, where setup.exe would split the path";
  }
  return "characters that cannot be stored";
}

std::optional<std::string> Utf8ToAnsi(std::string_view utf8, unsigned codePage) {
  AnsiText text = ConvertToAnsi(utf8, codePage);
  if (text.fault != AnsiFault::kNone) return std::nullopt;
  return std::move(text.bytes);
}

std::string AnsiToUtf8(std::string_view ansi, unsigned codePage) {
  if (!IsAnsiCodePage(codePage))
    throw std::invalid_argument("not a Windows ANSI code page: " + std::to_string(codePage));
  const std::string name = IconvName(codePage);
  Converter toUtf8("UTF-8", name.c_str());
  std::string out;
  const char* in = ansi.data();
  std::size_t left = ansi.size();
  while (left > 0) {
    if (toUtf8.Convert(in, left, out) == 0) break;
    // A byte the code page leaves unassigned: the character of its number.
    const auto b = static_cast<unsigned char>(*in);
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
    ++in;
    --left;
  }
  return out;
}
