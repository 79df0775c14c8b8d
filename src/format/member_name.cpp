#include "format/member_name.hpp"

namespace {

constexpr std::size_t kMaxMemberNameLength = 255;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsRefusedCharacter(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' ||
         c == '?' || c == '*';
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StemIs(const char* stem, std::size_t length, const char* device) {
  std::size_t i = 0;
  for (; i < length && device[i] != '\0'; ++i) {
    if (Upper(stem[i]) != device[i]) return false;
  }
  return i == length && device[i] == '\0';
}

// The digit of COM1 and LPT1: 0 to 9, and the superscript one, two and three
// (0xB9, 0xB2, 0xB3 in the Western code page), which Windows maps to the same
// devices.
bool IsPortDigit(char c) { return (c >= '0' && c <= '9') || c == '\xB9' || c == '\xB2' || c == '\xB3'; }

// Windows reads a device from the part up to its first dot, blanks before that
// dot dropped: "nul", "NUL.txt", "Com1 .log" and "CON " all name a device. COM0
// and LPT0 are refused too: Windows lists them as reserved, and a name that
// some Windows versions open as a port is no name for a file.
bool IsDevicePart(const char* part, std::size_t length) {
  std::size_t stem = 0;
  while (stem < length && part[stem] != '.') ++stem;
  while (stem > 0 && part[stem - 1] == ' ') --stem;
  static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (StemIs(part, stem, device)) return true;
  }
  return stem == 4 && (StemIs(part, 3, "COM") || StemIs(part, 3, "LPT")) && IsPortDigit(part[3]);
}

// The fault of one path part of `length` characters; `last` when no
// separator follows it.
MemberNameFault FindPartFault(const char* part, std::size_t length, bool last) {
  if (length == 0) return last ? kMemberNameEndsWithSeparator : kMemberNameEmptyPart;
  // Windows drops trailing dots and blanks of a part, so ". ." and ".. " may
  // name the parent as well as "..": a part of dots and blanks only, with two
  // dots or more, leaves its directory; with one dot it is the directory itself.
  int dots = 0;
  bool onlyDots = true;
  for (std::size_t i = 0; i < length; ++i) {
    if (part[i] == '.') ++dots;
    else if (part[i] != ' ') onlyDots = false;
  }
  if (onlyDots && dots >= 2) return kMemberNameLeavesDirectory;
  if (IsDevicePart(part, length)) return kMemberNameDeviceName;
  if (onlyDots && dots == 1) return kMemberNameDotPart;
  if (part[length - 1] == '.' || part[length - 1] == ' ') return kMemberNameEndsWithDotOrBlank;
  return kMemberNameOk;
}

}  // namespace

MemberNameFault FindMemberNameFault(const char* name, std::size_t length) {
  if (length == 0) return kMemberNameEmpty;
  if (length > kMaxMemberNameLength) return kMemberNameTooLong;
  // Every fault is noted; the one of the lowest code is returned.
  MemberNameFault fault = kMemberNameOk;
  const auto note = [&fault](MemberNameFault found) {
    if (found != kMemberNameOk && (fault == kMemberNameOk || found < fault)) fault = found;
  };
  if (IsSeparator(name[0])) note(kMemberNameLeavesDirectory);
  std::size_t part = 0;
  for (std::size_t i = 0; i <= length; ++i) {
    if (i < length) {
      const char c = name[i];
      if (c == '\0') note(kMemberNameZeroByte);
      else if (c == ':') note(kMemberNameLeavesDirectory);
      else if (IsRefusedCharacter(c)) note(kMemberNameBadCharacter);
      if (!IsSeparator(c)) continue;
    }
    note(FindPartFault(name + part, i - part, i == length));
    part = i + 1;
  }
  return fault;
}

namespace {

std::size_t TextLength(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

}  // namespace

bool IsSafeMemberName(const char* name) {
  return FindMemberNameFault(name, TextLength(name)) == kMemberNameOk;
}

bool IsSafeShortcutName(const char* name) {
  const MemberNameFault fault = FindMemberNameFault(name, TextLength(name));
  return fault == kMemberNameOk || fault > kMemberNameDeviceName;
}

bool FitsPathBuffer(std::size_t directoryLength, std::size_t nameLength, std::size_t bufferSize) {
  return directoryLength < bufferSize && nameLength < bufferSize - directoryLength;
}

bool IsConfigRuleInstalling(bool isConfigFile, bool skipConfig, bool keepExistingConfig, bool exists) {
  if (!isConfigFile) return true;
  return !skipConfig && !(keepExistingConfig && exists);
}
