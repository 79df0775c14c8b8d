// Archive records, error texts, member names and message formatting.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "archive/layout.hpp"
#include "archive/member_name.hpp"
#include "base/bounded_text.hpp"
#include "ui/message_format.hpp"

namespace {

TEST(ArchiveLayout, HeaderWorkedExample) {
  const std::array<std::uint8_t, 28> bytes = {0x51, 0x5A, 0x29, 0x00, 0x0F, 0x00, 0x03, 0x00, 0x00, 0x00,
                                              0x30, 0x00, 0xF4, 0x01, 0xA2, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0x50, 0x51, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  ArchiveHeader header;
  LoadArchiveHeader(bytes.data(), &header);
  EXPECT_TRUE(HasArchiveMagic(header));
  EXPECT_EQ(header.flags, 0x29);
  EXPECT_EQ(header.fileCount, 15);
  EXPECT_EQ(header.iconCount, 3);
  EXPECT_EQ(header.requiredSpace, 3145728u);
  EXPECT_EQ(header.helpContext, 500);
  EXPECT_EQ(header.headerLength, 162);
  EXPECT_EQ(header.externalSize, 0u);
  EXPECT_EQ(header.ipcPrefix[0], 'P');
  EXPECT_EQ(header.ipcPrefix[1], 'Q');
  std::array<std::uint8_t, 28> stored{};
  stored.fill(0xEE);
  StoreArchiveHeader(header, stored.data());
  EXPECT_EQ(stored, bytes);
}

TEST(ArchiveLayout, SwappedMagicIsInvalid) {
  std::array<std::uint8_t, 28> bytes{};
  bytes[0] = 'Z';
  bytes[1] = 'Q';
  ArchiveHeader header;
  LoadArchiveHeader(bytes.data(), &header);
  EXPECT_FALSE(HasArchiveMagic(header));
}

TEST(ArchiveLayout, FileEntryWorkedExample) {
  const std::array<std::uint8_t, 18> bytes = {0x46, 0x01, 0xA2, 0x04, 0x09, 0x00, 0x00, 0x90, 0x14,
                                              0x00, 0x00, 0x27, 0x49, 0xF1, 0xB1, 0x08, 0xBF, 0x01};
  FileEntryHeader entry;
  LoadFileEntryHeader(bytes.data(), &entry);
  EXPECT_EQ(entry.tag, 'F');
  EXPECT_EQ(entry.flags, kMemberCmp);
  EXPECT_EQ(entry.storedLength, 591010u);
  EXPECT_EQ(entry.originalSize, 1347584u);
  EXPECT_EQ((std::uint64_t{entry.lastWriteTimeHigh} << 32) | entry.lastWriteTimeLow, 0x01BF08B1F1492700u);
  std::array<std::uint8_t, 18> stored{};
  StoreFileEntryHeader(entry, stored.data());
  EXPECT_EQ(stored, bytes);
}

TEST(ArchiveLayout, MemberVersionOrder) {
  auto v = [](unsigned a, unsigned b, unsigned c, unsigned d) {
    return MemberVersion{(a << 16) | b, (c << 16) | d};
  };
  EXPECT_TRUE(IsMemberVersionNewer(v(1, 9, 9, 9), v(2, 0, 0, 0)));
  EXPECT_FALSE(IsMemberVersionNewer(v(2, 0, 0, 0), v(1, 10, 0, 0)));
  EXPECT_FALSE(IsMemberVersionNewer(v(2, 0, 0, 0), v(2, 0, 0, 0)));
  EXPECT_TRUE(IsMemberVersionNewer(v(2, 0, 0, 0), v(2, 0, 0, 1)));
  EXPECT_TRUE(IsMemberVersionNewer(v(2, 0, 65535, 0), v(2, 1, 0, 0)));
}

TEST(ArchiveLayout, ErrorTexts) {
  EXPECT_EQ(ArchiveErrorText(1), nullptr);
  EXPECT_STREQ(ArchiveErrorText(2), "Bad Signature");
  EXPECT_STREQ(ArchiveErrorText(3), "Number of files invalid");
  EXPECT_STREQ(ArchiveErrorText(4), "Compressed length invalid");
  EXPECT_STREQ(ArchiveErrorText(5), "File name missing");
  EXPECT_STREQ(ArchiveErrorText(6), "End of file marker missing");
  EXPECT_STREQ(ArchiveErrorText(7), "Archive Header missing");
  EXPECT_STREQ(ArchiveErrorText(8), "Archive Header invalid");
  EXPECT_STREQ(ArchiveErrorText(9), "Archive Header length wrong");
  EXPECT_STREQ(ArchiveErrorText(10), "File Header invalid");
  EXPECT_STREQ(ArchiveErrorText(11), "Read failed");
  EXPECT_STREQ(ArchiveErrorText(12), "Default Path missing");
  EXPECT_STREQ(ArchiveErrorText(13), "Run Command missing");
  for (int code : {0, -1, 14, 1000}) EXPECT_STREQ(ArchiveErrorText(code), "Unknown Error") << code;
}

TEST(ArchiveLayout, TrailingTags) {
  const std::uint8_t qz[2] = {'Q', 'Z'}, ct[2] = {'C', 'T'}, ds[2] = {'D', 'S'}, zq[2] = {'Z', 'Q'};
  EXPECT_EQ(TrailingTypeFromTag(qz), kTrailingQz);
  EXPECT_EQ(TrailingTypeFromTag(ct), kTrailingCt);
  EXPECT_EQ(TrailingTypeFromTag(ds), kTrailingDs);
  EXPECT_EQ(TrailingTypeFromTag(zq), kTrailingUnknown);
}

TEST(MemberName, SafeNames) {
  for (const char* name : {"a.txt", "sub\\dir\\a.dat", "a..b", ".hidden", "x\\.\\y", "sub/a"}) {
    EXPECT_TRUE(IsSafeMemberName(name)) << name;
  }
}

TEST(MemberName, NamesThatLeaveTheirDirectory) {
  for (const char* name : {"", "..", "..\\a", "a\\..\\..\\b", "a\\..", "\\a", "/a", "\\\\server\\share\\a",
                           "C:\\a", "C:a", "a:b", "sub\\x:stream", "../a", "a/../../b", ". .\\a", ".. \\a", "...\\a"}) {
    EXPECT_FALSE(IsSafeMemberName(name)) << name;
  }
}

TEST(MemberName, FitsPathBuffer) {
  EXPECT_TRUE(FitsPathBuffer(10, 249, 260));
  EXPECT_FALSE(FitsPathBuffer(10, 250, 260));
  EXPECT_FALSE(FitsPathBuffer(260, 0, 260));
  EXPECT_FALSE(FitsPathBuffer(300, 1, 260));
}

TEST(MessageFormat, ReplacesTheArgument) {
  char out[512];
  FormatWithArgument(out, sizeof out, "Installation failed because file %s could not be created.", "C:\\a.txt");
  EXPECT_STREQ(out, "Installation failed because file C:\\a.txt could not be created.");
  FormatWithArgument(out, sizeof out, "100%% of %s", "x");
  EXPECT_STREQ(out, "100% of x");
}

TEST(MessageFormat, CutsAtTheBufferEnd) {
  char out[16];
  std::memset(out, 'Z', sizeof out);
  FormatWithArgument(out, 12, "ab %s cd", "0123456789");
  EXPECT_STREQ(out, "ab 01234567");
  EXPECT_EQ(out[12], 'Z');
  char small[4];
  EXPECT_EQ(CopyBounded(small, sizeof small, "abcdef"), 3u);
  EXPECT_STREQ(small, "abc");
}

TEST(MessageFormat, DecimalText) {
  char out[11];
  FormatUnsigned(out, 0);
  EXPECT_STREQ(out, "0");
  FormatUnsigned(out, 3145728u >> 20);
  EXPECT_STREQ(out, "3");
  FormatUnsigned(out, 0xFFFFFFFFu);
  EXPECT_STREQ(out, "4294967295");
}

TEST(ProgressMath, PercentUsesTheExactProduct) {
  EXPECT_EQ(ProgressPercent(50000000, 100000000), 50u);
  EXPECT_EQ(ProgressPercent(1, 3), 33u);
  EXPECT_EQ(ProgressPercent(0xFFFFFFFFu, 0xFFFFFFFFu), 100u);
  EXPECT_EQ(ProgressPercent(1, 0), 0u);
}

TEST(ProgressMath, CentringTruncatesEachHalf) {
  EXPECT_EQ(CenteredOrigin(800, 301), 250);
  EXPECT_EQ(CenteredOrigin(801, 301), 250);
  EXPECT_EQ(CenteredOrigin(640, 800), -80);
}

}  // namespace

#include "ui/directory_rules.hpp"

namespace {

TEST(DirectoryRules, TrailingBackslashesAreRemoved) {
  char path[] = "C:\\Backup\\\\\\";
  RemoveTrailingBackslashes(path);
  EXPECT_STREQ(path, "C:\\Backup");
  char root[] = "\\\\";
  RemoveTrailingBackslashes(root);
  EXPECT_STREQ(root, "");
}

TEST(DirectoryRules, DriveAndDirectory) {
  for (const char* good : {"C:\\Backup", "z:\\a", "C:\\New\\Sub"}) EXPECT_TRUE(HasDriveAndDirectory(good)) << good;
  for (const char* bad : {"C:\\", "D:", "1:\\dir", "C;\\dir", "C:dir", "", "\\\\srv\\share", "\xC4:\\dir"}) {
    EXPECT_FALSE(HasDriveAndDirectory(bad)) << bad;
  }
}

}  // namespace
