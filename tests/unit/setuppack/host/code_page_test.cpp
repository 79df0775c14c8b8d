// Texts between UTF-8 and the Windows ANSI code pages: 1252 by default, the
// others through the same conversion.
#include "setuppack/host/code_page.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr unsigned char kUnassigned[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

bool IsUnassigned(unsigned byte) {
  for (unsigned char u : kUnassigned) {
    if (u == byte) return true;
  }
  return false;
}

TEST(CodePage, ConvertsKnownCharactersBothWays) {
  const std::pair<const char*, const char*> pairs[] = {
      {"Prog.exe", "Prog.exe"},
      {"\u20AC", "\x80"},  // euro sign
      {"\u201A", "\x82"},  // first of the 0x80..0x9F block after the euro
      {"\u0178", "\x9F"},  // last of it
      {"\u00A0", "\xA0"},  // from 0xA0 on, bytes are their code points
      {"M\u00FCller \u20AC", "M\xFCller \x80"},
      {"\u00FF", "\xFF"},
  };
  for (const auto& [utf8, ansi] : pairs) {
    EXPECT_EQ(Utf8ToAnsi(utf8), std::string(ansi)) << utf8;
    EXPECT_EQ(AnsiToUtf8(ansi), utf8) << utf8;
  }
}

TEST(CodePage, EveryAssignedByteComesBackUnchanged) {
  for (unsigned b = 0; b < 256; ++b) {
    if (IsUnassigned(b)) continue;
    const std::string ansi(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(ansi)), ansi) << b;
  }
}

TEST(CodePage, ShowsUnassignedBytesAsControlsButNeverProducesThem) {
  for (unsigned char b : kUnassigned) {
    const std::string utf8 = AnsiToUtf8(std::string(1, static_cast<char>(b)));
    EXPECT_EQ(utf8, std::string({static_cast<char>(0xC2), static_cast<char>(b)})) << unsigned{b};
    EXPECT_FALSE(Utf8ToAnsi(utf8)) << unsigned{b};
  }
}

TEST(CodePage, RefusesWhatIsNoUtf8OrLacksInCodePage1252) {
  for (const char* bad : {
           "\xC3",              // cut after the lead byte
           "\xE2\x82",          // cut inside a three-byte sequence
           "\xC3\x28",          // no continuation byte
           "\x80",              // a continuation byte alone
           "\xF8\x88\x80\x80\x80",  // five-byte lead
           "\xC2\x80",          // U+0080, a control 1252 does not have
           "\u0100",            // Latin Extended-A beyond 1252
           "\U0001F600",        // outside the basic plane
       })
    EXPECT_FALSE(Utf8ToAnsi(bad)) << bad;
}

TEST(CodePage, ConvertsInTheChosenCodePageBothWays) {
  struct Case {
    unsigned codePage;
    const char* utf8;
    const char* ansi;
  };
  const Case cases[] = {
      {1250, "\u0139\u0148", "\xC5\xF2"},             // Central European
      {1251, "\u0416", "\xC6"},                       // Cyrillic
      {874, "\u0E01", "\xA1"},                        // Thai
      {932, "\u65E5\u672C.txt", "\x93\xFA\x96\x7B.txt"},  // Shift JIS, two bytes each
      {936, "\u4E2D", "\xD6\xD0"},
      {949, "\uD55C", "\xC7\xD1"},
      {950, "\u4E2D", "\xA4\xA4"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToAnsi(c.utf8, c.codePage), std::string(c.ansi)) << c.codePage;
    EXPECT_EQ(AnsiToUtf8(c.ansi, c.codePage), c.utf8) << c.codePage;
  }
}

TEST(CodePage, NamesWhyATextCannotBeStored) {
  struct Case {
    unsigned codePage;
    const char* utf8;
    AnsiFault fault;
  };
  const Case cases[] = {
      {1252, "\xC3", AnsiFault::kNotUtf8},
      {1252, "\u0416", AnsiFault::kMissingCharacter},
      {1251, "\u00FC", AnsiFault::kMissingCharacter},
      {932, "\u8868", AnsiFault::kBackslashTrailByte},   // 0x95 0x5C
      {932, "\u30BD", AnsiFault::kBackslashTrailByte},   // 0x83 0x5C
      {950, "\u8A31", AnsiFault::kBackslashTrailByte},   // 0xB3 0x5C
      {932, "\u00A5", AnsiFault::kNoRoundTrip},          // yen sign, stored as 0x5C
      {932, "\u301C", AnsiFault::kNoRoundTrip},          // wave dash, read back as U+FF5E
      {1252, "a\\b", AnsiFault::kNone},                 // a single-byte backslash is a separator
  };
  for (const Case& c : cases)
    EXPECT_EQ(ConvertToAnsi(c.utf8, c.codePage).fault, c.fault) << c.codePage << " " << c.utf8;
}

TEST(CodePage, KnowsTheWindowsAnsiCodePagesOnly) {
  for (unsigned page : {874u, 932u, 936u, 949u, 950u, 1250u, 1258u}) EXPECT_TRUE(IsAnsiCodePage(page));
  for (unsigned page : {0u, 437u, 850u, 1200u, 1249u, 1259u, 65001u}) EXPECT_FALSE(IsAnsiCodePage(page));
}

}  // namespace
