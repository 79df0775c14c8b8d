// Values the user writes in the manifest and on the command line: what each
// parser accepts and what it refuses.
#include "setuppack/package/values.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

struct SizeCase {
  const char* text;
  std::optional<std::uint32_t> bytes;
};

TEST(ByteSize, ReadsBytesAndBinaryAndDecimalUnits) {
  const SizeCase cases[] = {
      {"0", 0u},
      {"4096", 4096u},
      {"4096 bytes", 4096u},
      {"12 B", 12u},
      {"3 MiB", 3145728u},
      {"3MiB", 3145728u},
      {"512 KiB", 524288u},
      {"12 KB", 12000u},
      {"12 kb", 12000u},
      {"2 MB", 2000000u},
      {"3 GiB", 3221225472u},
      {"4294967295", 4294967295u},
      {"4294967296", std::nullopt},
      {"4 GiB", std::nullopt},
      {"5 GB", std::nullopt},
      {"", std::nullopt},
      {"MiB", std::nullopt},
      {"3 furlongs", std::nullopt},
      {"-3 MiB", std::nullopt},
      {"1.5 MiB", std::nullopt},
  };
  for (const SizeCase& c : cases) EXPECT_EQ(ParseByteSize(c.text), c.bytes) << c.text;
}

TEST(MemberVersionText, ReadsFourPartsOf16Bits) {
  const auto v = ParseMemberVersion("1.2.3.4");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->ms, 0x00010002u);
  EXPECT_EQ(v->ls, 0x00030004u);
  const auto max = ParseMemberVersion("65535.65535.65535.65535");
  ASSERT_TRUE(max);
  EXPECT_EQ(max->ms, 0xFFFFFFFFu);
  for (const char* bad : {"", "1", "1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.x", "1.2.3.65536", " 1.2.3.4", "1.2.3.4 "})
    EXPECT_FALSE(ParseMemberVersion(bad)) << bad;
}

TEST(MemberNames, AcceptsPathsBelowTheInstallDirectory) {
  for (const char* good : {"a.txt", "sub\\a.txt", "a\\b\\c.dat", "...txt", "a..b", "CONFIG.DAT"})
    EXPECT_FALSE(MemberNameProblem(good)) << good;
}

TEST(MemberNames, RefusesNamesThatLeaveTheirDirectory) {
  for (const char* bad : {"", "..", "..\\a", "a\\..\\..\\b", "\\a", "\\\\srv\\s\\a", "C:\\a", "a:b",
                          "a\\", "a\\\\b", "a\x01", "a|b", ". .\\x"})
    EXPECT_TRUE(MemberNameProblem(bad)) << bad;
  EXPECT_EQ(ToMemberName("a/b/c"), "a\\b\\c");
}
struct NameFault {
  std::string name;
  const char* problem;  // a part of the message; "" for an accepted name
};

TEST(MemberNames, NameTheFirstFaultOfEachName) {
  const NameFault cases[] = {
      {"", "is empty"},
      {std::string(256, 'a'), "is 256 bytes long"},
      {std::string(255, 'a'), ""},
      {std::string("a\0b", 3), "holds a zero byte"},
      {"..\\a|b", "would leave the install directory"},  // leaving is named before the character
      {"a<b", "refuses in file names"},
      {"a\\b\\", "ends with a backslash"},
      {"a\\\\b\\", "ends with a backslash"},            // before the empty part
      {"a\\\\b", "empty path part"},
      {"sub\\COM1.txt", "reserves for a device"},
      {"a\\.\\b", "has a \".\" part"},
      {"readme.", "ends with a dot or a blank"},
  };
  for (const NameFault& c : cases) {
    const std::optional<std::string> problem = MemberNameProblem(c.name);
    if (*c.problem == '\0') {
      EXPECT_FALSE(problem) << c.name;
    } else {
      ASSERT_TRUE(problem) << c.name;
      EXPECT_NE(problem->find(c.problem), std::string::npos) << c.name << ": " << *problem;
    }
  }
}

TEST(EncoderOptions, ReadTheWordsOfTheManifestAndTheCommandLine) {
  EXPECT_EQ(ParseLiteralMode("binary"), LiteralMode::Binary);
  EXPECT_EQ(ParseLiteralMode("ascii"), LiteralMode::Ascii);
  EXPECT_EQ(ParseLiteralMode("auto"), LiteralMode::Auto);
  for (const char* bad : {"", "Binary", "text", "auto "}) EXPECT_FALSE(ParseLiteralMode(bad)) << bad;

  EXPECT_EQ(ParseDictionarySize("auto"), 0u);
  for (unsigned size : {1024u, 2048u, 4096u}) {
    EXPECT_EQ(ParseDictionarySize(std::to_string(size)), size);
    EXPECT_EQ(DictionarySize(size), size);
  }
  for (const char* bad : {"", "0", "512", "8192", "4k"}) EXPECT_FALSE(ParseDictionarySize(bad)) << bad;
  for (std::int64_t bad : {0, -1024, 1000, 8192}) EXPECT_FALSE(DictionarySize(bad)) << bad;
}

TEST(PlatformNames, GiveTheHeaderFlagBits) {
  EXPECT_EQ(ParsePlatform("any"), 0);
  EXPECT_EQ(ParsePlatform("not-nt"), kHeaderFlagNotNt);
  EXPECT_EQ(ParsePlatform("nt4"), kHeaderFlagNt4);
  EXPECT_EQ(ParsePlatform("nt-only"), kHeaderFlagNtOnly);
  EXPECT_EQ(ParsePlatform("nt4-only"), kHeaderFlagNt4 | kHeaderFlagNtOnly);
  for (const char* bad : {"", "NT4", "nt_only", "win95"}) EXPECT_FALSE(ParsePlatform(bad)) << bad;
}

constexpr std::uint64_t kSeptember1999 = 0x01BF08B1F1492700ull;  // 1999-09-27 06:31:34 UTC

struct TimeCase {
  const char* what;
  DateTime time;
  std::optional<std::uint64_t> fileTime;
  const char* problem;
};

TEST(DateTimes, BecomeFileTimesInUtc) {
  const TimeCase cases[] = {
      {"UTC", {1999, 9, 27, 6, 31, 34, 0, 0}, kSeptember1999, ""},
      {"two hours east", {1999, 9, 27, 8, 31, 34, 0, 120}, kSeptember1999, ""},
      {"nanoseconds cut to 100 ns", {1999, 9, 27, 6, 31, 34, 1234599, 0}, kSeptember1999 + 12345, ""},
      {"one second after 1601", {1601, 1, 1, 0, 0, 1, 0, 0}, 10000000u, ""},
      {"1601 itself", {1601, 1, 1, 0, 0, 0, 0, 0}, std::nullopt, "before 1601"},
      {"no offset", {1999, 9, 27, 6, 31, 34, 0, std::nullopt}, std::nullopt, "has no time zone"},
      {"30 February", {2001, 2, 30, 0, 0, 0, 0, 0}, std::nullopt, "not a valid date"},
  };
  for (const TimeCase& c : cases) {
    std::string problem;
    EXPECT_EQ(FileTimeOfDateTime(c.time, problem), c.fileTime) << c.what;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
  }
}

}  // namespace
