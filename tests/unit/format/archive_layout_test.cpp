// Archive records, error texts and member names.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "format/layout.hpp"
#include "format/member_name.hpp"

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

TEST(ArchiveLayout, LengthPrefixedStrings) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::size_t taken;  // 0: the span ends inside the string
    std::string text;
  };
  std::vector<std::uint8_t> longest(256, 'x');
  longest[0] = 255;
  const Case cases[] = {
      {{}, 0, ""},
      {{0}, 1, ""},                   // absent
      {{0, 'a'}, 1, ""},
      {{2, 'a', 'b', 'c'}, 3, "ab"},
      {{2, 'a'}, 0, ""},
      {{1}, 0, ""},
      {longest, 256, std::string(255, 'x')},
      {std::vector<std::uint8_t>(longest.begin(), longest.end() - 1), 0, ""},
  };
  for (const Case& c : cases) {
    ArchiveStringView view{nullptr, 0};
    EXPECT_EQ(ParseArchiveString(c.bytes.data(), c.bytes.size(), &view), c.taken) << c.bytes.size();
    if (c.taken != 0) EXPECT_EQ(std::string(view.text, view.length), c.text);
  }
}

TEST(ArchiveLayout, TrailingTypes) {
  struct Case {
    const char* tag;
    TrailingType type;
    bool configName;
    std::size_t headSize;
    std::size_t endMarker;
  };
  const Case cases[] = {
      {"QZ", kTrailingQz, true, 18, 0},
      {"CT", kTrailingCt, true, 4, 1},
      {"DS", kTrailingDs, false, 4, 1},
      {"ZQ", kTrailingUnknown, false, 4, 1},
      {"qz", kTrailingUnknown, false, 4, 1},
  };
  for (const Case& c : cases) {
    const TrailingType type = TrailingTypeFromTag(reinterpret_cast<const std::uint8_t*>(c.tag));
    EXPECT_EQ(type, c.type) << c.tag;
    if (type == kTrailingUnknown) continue;
    EXPECT_EQ(TrailingHasConfigName(type), c.configName) << c.tag;
    EXPECT_EQ(TrailingEntryHeadSize(type), c.headSize) << c.tag;
    EXPECT_EQ(TrailingEndMarkerSize(type), c.endMarker) << c.tag;
  }
  EXPECT_TRUE(IsTrailingCountAllowed(0));
  EXPECT_TRUE(IsTrailingCountAllowed(100));
  EXPECT_FALSE(IsTrailingCountAllowed(101));
  EXPECT_FALSE(IsTrailingCountAllowed(0xFFFF));
}

TEST(ArchiveLayout, QzTrailingHeadIsAFileEntryHeaderWithoutFlags) {
  // 'F', flags 0, storedLength 5, originalSize 9 (not used), lastWriteTime.
  std::uint8_t bytes[18] = {0x46, 0, 5, 0, 0, 0, 9, 0, 0, 0, 0x00, 0x27, 0x49, 0xF1, 0xB1, 0x08, 0xBF, 0x01};
  TrailingEntryHead head{};
  EXPECT_EQ(LoadTrailingEntryHead(kTrailingQz, bytes, &head), kArchiveOk);
  EXPECT_EQ(head.dataLength, 5u);
  EXPECT_EQ((std::uint64_t{head.lastWriteTimeHigh} << 32) | head.lastWriteTimeLow, 0x01BF08B1F1492700u);
  for (const auto& [offset, value] : {std::pair{0, 'G'}, std::pair{1, char{kMemberCmp}}, std::pair{1, '\x80'}}) {
    std::uint8_t damaged[18];
    std::memcpy(damaged, bytes, sizeof damaged);
    damaged[offset] = static_cast<std::uint8_t>(value);
    EXPECT_EQ(LoadTrailingEntryHead(kTrailingQz, damaged, &head), kArchiveFileHeaderInvalid) << offset;
    EXPECT_EQ(head.dataLength, 5u) << "the length is read even from a refused header";
  }
  // Written back, originalSize carries the data length.
  std::uint8_t stored[18] = {};
  StoreTrailingEntryHead(kTrailingQz, head, stored);
  bytes[6] = 5;
  EXPECT_EQ(std::memcmp(stored, bytes, sizeof stored), 0);
}

TEST(ArchiveLayout, CtAndDsTrailingHeadsAreADataLength) {
  for (TrailingType type : {kTrailingCt, kTrailingDs}) {
    const std::uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
    TrailingEntryHead head{7, 7, 7};
    EXPECT_EQ(LoadTrailingEntryHead(type, bytes, &head), kArchiveOk);
    EXPECT_EQ(head.dataLength, 0x04030201u);
    EXPECT_EQ(head.lastWriteTimeLow | head.lastWriteTimeHigh, 0u) << "these members carry no time";
    std::uint8_t stored[5] = {0, 0, 0, 0, 0xEE};
    StoreTrailingEntryHead(type, head, stored);
    EXPECT_EQ(std::memcmp(stored, bytes, 4), 0);
    EXPECT_EQ(stored[4], 0xEE) << "four bytes only";
  }
}

TEST(ArchiveLayout, ProgressTotalBoundsMemberData) {
  EXPECT_FALSE(ReachesBeyondProgressTotal(100, 50, 150));
  EXPECT_TRUE(ReachesBeyondProgressTotal(100, 51, 150));
  // No wrap-around for the largest 32-bit lengths.
  EXPECT_TRUE(ReachesBeyondProgressTotal(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu));
}

TEST(ArchiveLayout, UninstallIconName) {
  EXPECT_TRUE(IsUninstallIconName("*Korvane"));
  EXPECT_STREQ(UninstallDisplayName("*Korvane"), "Korvane");
  EXPECT_FALSE(IsUninstallIconName("Korvane*"));
}

TEST(MemberName, SafeNames) {
  for (const char* name : {"a.txt", "sub\\dir\\a.dat", "a..b", ".hidden", "sub/a"}) {
    EXPECT_TRUE(IsSafeMemberName(name)) << name;
  }
}

TEST(MemberName, NamesThatLeaveTheirDirectory) {
  for (const char* name : {"", "..", "..\\a", "a\\..\\..\\b", "a\\..", "\\a", "/a", "\\\\server\\share\\a",
                           "C:\\a", "C:a", "a:b", "sub\\x:stream", "../a", "a/../../b", ". .\\a", ".. \\a", "...\\a"}) {
    EXPECT_FALSE(IsSafeMemberName(name)) << name;
  }
}

TEST(MemberName, ExternalFileNameReplacesTheFirstCharacter) {
  char name[] = "Agent.exe";
  MarkExternalFileName(name);
  EXPECT_STREQ(name, "_gent.exe");
  char sub[] = "x\\Bgent.exe";
  MarkExternalFileName(sub);
  EXPECT_STREQ(sub, "_\\Bgent.exe");
}

TEST(MemberName, ConfigRule) {
  struct Case {
    bool isConfig, skip, keep, exists, installed;
  };
  const Case cases[] = {
      {false, true, true, true, true},     // other names are never held back
      {true, true, false, false, false},   // /N: never
      {true, true, true, false, false},
      {true, false, true, true, false},    // default: not over an existing file
      {true, false, true, false, true},
      {true, false, false, true, true},    // /CO: always
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsConfigRuleInstalling(c.isConfig, c.skip, c.keep, c.exists), c.installed)
        << c.isConfig << c.skip << c.keep << c.exists;
  }
}

TEST(MemberName, FitsPathBuffer) {
  EXPECT_TRUE(FitsPathBuffer(10, 249, 260));
  EXPECT_FALSE(FitsPathBuffer(10, 250, 260));
  EXPECT_FALSE(FitsPathBuffer(260, 0, 260));
  EXPECT_FALSE(FitsPathBuffer(300, 1, 260));
}

}  // namespace
