// Texts between UTF-8 and the Windows code page 1252.
#include "setuppack/code_page.hpp"

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

}  // namespace
