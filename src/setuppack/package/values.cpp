#include "setuppack/package/values.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <utility>

#include "format/member_name.hpp"
#include "setuppack/host/file_time.hpp"

std::optional<std::uint32_t> ParseByteSize(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  while (i < text.size() && text[i] == ' ') ++i;
  std::string unit(text.substr(i));
  while (!unit.empty() && unit.back() == ' ') unit.pop_back();
  std::string lower;
  for (char c : unit) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::pair<const char*, std::uint64_t> kUnits[] = {
      {"", 1},          {"b", 1},           {"byte", 1},        {"bytes", 1},
      {"kib", 1 << 10}, {"mib", 1 << 20},   {"gib", 1u << 30},  {"kb", 1000},
      {"mb", 1000000},  {"gb", 1000000000},
  };
  for (const auto& [name, factor] : kUnits) {
    if (lower == name) {
      const std::uint64_t bytes = value * factor;
      if (bytes > 0xFFFFFFFFull) return std::nullopt;
      return static_cast<std::uint32_t>(bytes);
    }
  }
  return std::nullopt;
}

std::optional<MemberVersion> ParseMemberVersion(std::string_view text) {
  std::uint32_t parts[4];
  std::size_t count = 0;
  std::size_t i = 0;
  while (count < 4) {
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      if (value > 0xFFFF) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    parts[count++] = value;
    if (count < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return MemberVersion{parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

std::optional<std::uint8_t> ParsePlatform(std::string_view name) {
  static const std::pair<std::string_view, std::uint8_t> kPlatforms[] = {
      {"any", 0},
      {"not-nt", kHeaderFlagNotNt},
      {"nt4", kHeaderFlagNt4},
      {"nt-only", kHeaderFlagNtOnly},
      {"nt4-only", kHeaderFlagNt4 | kHeaderFlagNtOnly},
  };
  for (const auto& [known, bits] : kPlatforms) {
    if (name == known) return bits;
  }
  return std::nullopt;
}

std::optional<LiteralMode> ParseLiteralMode(std::string_view text) {
  if (text == "binary") return LiteralMode::Binary;
  if (text == "ascii") return LiteralMode::Ascii;
  if (text == "auto") return LiteralMode::Auto;
  return std::nullopt;
}

std::optional<unsigned> DictionarySize(std::int64_t bytes) {
  if (bytes == 1024 || bytes == 2048 || bytes == 4096) return static_cast<unsigned>(bytes);
  return std::nullopt;
}

std::optional<unsigned> ParseDictionarySize(std::string_view text) {
  if (text == "auto") return 0u;
  if (text == "1024") return 1024u;
  if (text == "2048") return 2048u;
  if (text == "4096") return 4096u;
  return std::nullopt;
}

std::optional<std::uint64_t> FileTimeOfDateTime(const DateTime& time, std::string& problem) {
  if (!time.offsetMinutes) {
    problem = "has no time zone; add one, e.g. 1999-09-27T06:31:34Z";
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day ymd{year{time.year}, month{time.month}, day{time.day}};
  if (!ymd.ok()) {
    problem = "is not a valid date";
    return std::nullopt;
  }
  const std::int64_t days = sys_days{ymd}.time_since_epoch().count();
  const std::int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second -
                               std::int64_t{*time.offsetMinutes} * 60;
  const std::int64_t earliest = -static_cast<std::int64_t>(kFileTimeUnixEpoch / 10000000);
  if (seconds <= earliest) {
    problem = "lies before 1601, where Windows file times begin";
    return std::nullopt;
  }
  return FileTimeFromUnix(seconds, time.nanosecond);
}

std::optional<std::int64_t> ParseSourceDateEpoch(std::string_view text) {
  constexpr std::int64_t kLast = 253402300799;  // 9999-12-31T23:59:59Z
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::int64_t seconds = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  if (seconds > kLast) return std::nullopt;
  return seconds;
}

std::string ToMemberName(std::string_view text) {
  std::string name(text);
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::optional<std::string> MemberNameProblem(std::string_view name) {
  const std::string zero(name);
  switch (FindMemberNameFault(zero.c_str(), zero.size())) {
    case kMemberNameOk:
      return std::nullopt;
    case kMemberNameEmpty:
      return "is empty; give a file name";
    case kMemberNameTooLong:
      return "is " + std::to_string(name.size()) + " bytes long; a member name holds at most 255";
    case kMemberNameZeroByte:
      return "holds a zero byte";
    case kMemberNameLeavesDirectory:
      return "\"" + zero +
             "\" would leave the install directory (a \"..\" part, a leading backslash, a drive "
             "letter or a colon); give a path below the install directory";
    case kMemberNameDeviceName:
      return "\"" + zero + "\" has a part that Windows reserves for a device (CON, PRN, AUX, NUL, "
             "COM0-9, LPT0-9, also with an extension); rename it";
    case kMemberNameBadCharacter:
      return "\"" + zero + "\" holds a character that Windows refuses in file names";
    case kMemberNameEndsWithSeparator:
      return "\"" + zero + "\" ends with a backslash; name a file";
    case kMemberNameEmptyPart:
      return "\"" + zero + "\" has an empty path part (two backslashes in a row)";
    case kMemberNameDotPart:
      return "\"" + zero + "\" has a \".\" part; leave it out";
    case kMemberNameEndsWithDotOrBlank:
      return "\"" + zero + "\" has a part that ends with a dot or a blank, which Windows drops";
  }
  return "is not a usable member name";
}
