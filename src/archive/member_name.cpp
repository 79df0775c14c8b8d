#include "archive/member_name.hpp"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsSafeMemberName(const char* name) {
  if (name[0] == '\0' || IsSeparator(name[0])) return false;
  const char* part = name;
  for (const char* p = name;; ++p) {
    if (*p == ':') return false;
    if (*p == '\0' || IsSeparator(*p)) {
      // Windows drops trailing dots and blanks of a path part, so ". ." and
      // ".. " may name the parent as well as "..": a part made of dots and
      // blanks only, with two dots or more, is refused.
      bool onlyDots = p != part;
      int dots = 0;
      for (const char* q = part; q != p; ++q) {
        if (*q == '.') ++dots;
        else if (*q != ' ') onlyDots = false;
      }
      if (onlyDots && dots >= 2) return false;
      if (*p == '\0') return true;
      part = p + 1;
    }
  }
}

bool FitsPathBuffer(std::size_t directoryLength, std::size_t nameLength, std::size_t bufferSize) {
  return directoryLength < bufferSize && nameLength < bufferSize - directoryLength;
}

MemberNameFault FindMemberNameFault(const char* name, std::size_t length) {
  if (length == 0) return kMemberNameEmpty;
  if (length > 255) return kMemberNameTooLong;
  for (std::size_t i = 0; i < length; ++i) {
    if (name[i] == '\0') return kMemberNameZeroByte;
  }
  if (!IsSafeMemberName(name)) return kMemberNameLeavesDirectory;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = name[i];
    if (static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' ||
        c == '?' || c == '*')
      return kMemberNameBadCharacter;
  }
  if (name[length - 1] == '\\') return kMemberNameEndsWithSeparator;
  for (std::size_t i = 0; i + 1 < length; ++i) {
    if (name[i] == '\\' && name[i + 1] == '\\') return kMemberNameEmptyPart;
  }
  return kMemberNameOk;
}

bool IsConfigRuleInstalling(bool isConfigFile, bool skipConfig, bool keepExistingConfig, bool exists) {
  if (!isConfigFile) return true;
  return !skipConfig && !(keepExistingConfig && exists);
}
