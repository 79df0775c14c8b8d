// Texts between UTF-8 (manifests, the host's file names, listings) and a
// Windows ANSI code page, the one the archive's texts are stored in and
// setup.exe shows them with: 1252 unless the manifest names another. The
// conversions are glibc's iconv tables ("CP932", ...).
//
// setup.exe splits paths at every byte 0x5C ("\"), also at the second byte of
// a double-byte character (code pages 932, 936, 949, 950), so such a
// character cannot stand in a name it installs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

constexpr unsigned kDefaultCodePage = 1252;

// True for the Windows ANSI code pages: 874, 932, 936, 949, 950, 1250 to 1258.
bool IsAnsiCodePage(unsigned codePage);
// "874, 932, 936, 949, 950 or 1250 to 1258", for messages.
constexpr std::string_view kAnsiCodePageNames = "874, 932, 936, 949, 950 or 1250 to 1258";

// Why a text cannot be stored in a code page.
enum class AnsiFault {
  kNone,
  kNotUtf8,               // the text itself is no valid UTF-8
  kMissingCharacter,      // a character the code page lacks
  kNoRoundTrip,           // converted back, it reads as another character
  kBackslashTrailByte,    // a double-byte character whose second byte is 0x5C
};

struct AnsiText {
  std::string bytes;      // the converted text when `fault` is kNone
  AnsiFault fault = AnsiFault::kNone;
};

// UTF-8 -> code page `codePage` (IsAnsiCodePage), with the faults above.
AnsiText ConvertToAnsi(std::string_view utf8, unsigned codePage);

// What is wrong with such a text, completing "holds ...": "characters that
// the Windows code page 1252 cannot show".
std::string DescribeAnsiFault(AnsiFault fault, unsigned codePage);

// ConvertToAnsi's bytes, nullopt for any fault. In code page 1252 the five
// bytes it leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) are never produced.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8, unsigned codePage = kDefaultCodePage);

// Code page -> UTF-8. Every byte converts: one that the code page leaves
// unassigned (or a lead byte without its second byte) becomes the control
// character or Latin-1 character of the same number.
std::string AnsiToUtf8(std::string_view ansi, unsigned codePage = kDefaultCodePage);
