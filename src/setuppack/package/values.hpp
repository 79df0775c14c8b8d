// Values the user writes, in the manifest or on the command line, read into
// what the archive and the encoder take: sizes, versions, times, platform
// names, encoder options and member names. Each returns nullopt (or a
// problem text) for a value it cannot use; the callers say where it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "explode/implode.hpp"
#include "format/layout.hpp"

// "3 MiB", "12 KB", "4096", "4096 bytes" -> bytes. Returns nullopt for a text
// that is no size or does not fit 32 bits. KiB/MiB/GiB are powers of 1024,
// KB/MB/GB powers of 1000.
std::optional<std::uint32_t> ParseByteSize(std::string_view text);

// "2.0.0.0" -> {0x00020000, 0x00000000}. Four numbers of 0..65535 each; nullopt otherwise.
std::optional<MemberVersion> ParseMemberVersion(std::string_view text);

// "any", "not-nt", "nt4", "nt-only", "nt4-only" -> the header's platform
// flag bits (HeaderFlag). kPlatformNames lists them for messages.
std::optional<std::uint8_t> ParsePlatform(std::string_view name);
constexpr std::string_view kPlatformNames =
    "\"any\", \"not-nt\", \"nt4\", \"nt-only\" or \"nt4-only\"";

// "binary", "ascii", "auto" -> the encoder's literal mode.
std::optional<LiteralMode> ParseLiteralMode(std::string_view text);
// 1024, 2048 or 4096 -> the window size; "auto" -> 0, the encoder's choice.
std::optional<unsigned> DictionarySize(std::int64_t bytes);
std::optional<unsigned> ParseDictionarySize(std::string_view text);

// A calendar date and time of day as written in RFC 3339, with its offset
// from UTC in minutes (nullopt for a local time without one).
struct DateTime {
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0, nanosecond = 0;
  std::optional<int> offsetMinutes;
};

// The FILETIME of a date-time. Returns nullopt and sets `problem` for a time
// without offset, an impossible date and a time before 1601.
std::optional<std::uint64_t> FileTimeOfDateTime(const DateTime& time, std::string& problem);

// SOURCE_DATE_EPOCH: a decimal number of seconds since 1970, at most the
// year 9999; nullopt for anything else.
std::optional<std::int64_t> ParseSourceDateEpoch(std::string_view text);

// The member name as stored: "/" replaced by "\".
std::string ToMemberName(std::string_view text);
// Returns the reason when a stored member name is unusable: empty, longer
// than 255 bytes, leaving its directory, naming a device, or a name Windows
// refuses or changes (format/member_name.hpp has the rule).
std::optional<std::string> MemberNameProblem(std::string_view name);
