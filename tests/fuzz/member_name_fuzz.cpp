// libFuzzer target: the portable name rules of setup.exe and the packager
// (format/member_name.hpp) on arbitrary bytes.
//
// Checks, for every name the rule accepts: it is 1 to 255 bytes without a
// zero byte; setup.exe's zero-terminated check agrees; the shortcut rule,
// which refuses less, accepts it too; each directory a member creates on the
// way (every prefix before a separator) is itself an accepted name; and on
// the host, with backslashes as "/", it stays a relative path below its
// directory after every "." and ".." is resolved.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "format/member_name.hpp"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const MemberNameFault fault = FindMemberNameFault(name.data(), name.size());
  if (name.find('\0') == std::string::npos && !name.empty())
    Check(IsSafeMemberName(name.c_str()) == (fault == kMemberNameOk));
  if (fault != kMemberNameOk) return 0;

  Check(!name.empty() && name.size() <= 255 && name.find('\0') == std::string::npos);
  Check(IsSafeShortcutName(name.c_str()));
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (IsSeparator(name[i])) Check(FindMemberNameFault(name.data(), i) == kMemberNameOk);
  }
  std::string host = name;
  for (char& c : host) {
    if (c == '\\') c = '/';
  }
  const std::filesystem::path path = std::filesystem::path(host).lexically_normal();
  Check(path.is_relative());
  Check(path.empty() || *path.begin() != "..");
  return 0;
}
