// The archive builder writes the installer archive byte for byte as setup.exe
// reads it.
#include "setuppack/writer/archive_builder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "setuppack/host/file_io.hpp"
#include "setuppack/reader/list.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kSeptember1999 = 0x01BF08B1F1492700ull;  // 1999-09-27 06:31:34 UTC

TEST(ArchiveWriter, WritesTheWorkedExampleHeader) {
  ArchiveHeader h{};
  h.magic[0] = 'Q';
  h.magic[1] = 'Z';
  h.flags = 0x29;
  h.fileCount = 15;
  h.iconCount = 3;
  h.requiredSpace = 3145728;
  h.helpContext = 500;
  h.headerLength = 162;
  h.externalSize = 0;
  h.ipcPrefix[0] = 'P';
  h.ipcPrefix[1] = 'Q';
  ArchiveWriter w;
  w.Header(h);
  const Bytes expected = {0x51, 0x5A, 0x29, 0x00, 0x0F, 0x00, 0x03, 0x00, 0x00, 0x00,
                          0x30, 0x00, 0xF4, 0x01, 0xA2, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x50, 0x51, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(w.Data(), expected);
}

TEST(ArchiveWriter, WritesTheWorkedExampleFileEntryHeader) {
  FileEntryHeader e{};
  e.tag = 'F';
  e.flags = kMemberCmp;
  e.storedLength = 591010;
  e.originalSize = 1347584;
  e.lastWriteTimeLow = static_cast<std::uint32_t>(kSeptember1999);
  e.lastWriteTimeHigh = static_cast<std::uint32_t>(kSeptember1999 >> 32);
  ArchiveWriter w;
  w.EntryHeader(e);
  const Bytes expected = {0x46, 0x01, 0xA2, 0x04, 0x09, 0x00, 0x00, 0x90, 0x14,
                          0x00, 0x00, 0x27, 0x49, 0xF1, 0xB1, 0x08, 0xBF, 0x01};
  EXPECT_EQ(w.Data(), expected);
  EXPECT_EQ(FormatFileTimeUtc(kSeptember1999), "1999-09-27 06:31:34");
}

TEST(ArchiveWriter, WritesIntegersLowByteFirst) {
  ArchiveWriter w;
  w.U8(0xAB).U16(0x1234).U32(0x89ABCDEF).FileTime(0x0102030405060708ull);
  EXPECT_EQ(w.Data(), (Bytes{0xAB, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(ArchiveWriter, WritesLengthPrefixedAndAbsentStrings) {
  ArchiveWriter w;
  w.String("ab").AbsentString().OptionalString(std::nullopt).OptionalString(std::string("c"));
  EXPECT_EQ(w.Data(), (Bytes{2, 'a', 'b', 0, 0, 1, 'c'}));
}

TEST(ArchiveWriter, AcceptsA255ByteStringAndRefusesA256ByteOne) {
  ArchiveWriter w;
  w.String(std::string(255, 'x'));
  EXPECT_EQ(w.Size(), 256u);
  EXPECT_EQ(w.Data()[0], 255);
  EXPECT_THROW(w.String(std::string(256, 'x')), std::length_error);
}

TEST(PackageBuilder, WritesASmallPackageExactly) {
  PackageBuilder p;
  p.header.ipcPrefix[0] = 'K';
  p.header.ipcPrefix[1] = 'O';
  p.settings.runCommand = "a.exe";
  p.settings.defaultPath = "C:\\K";
  p.AddFile("a.txt", "hi").lastWriteTime = kSeptember1999;
  const Bytes expected = {
      // header: QZ, flags 0, 1 file, 0 icons, requiredSpace 0, helpContext 0,
      // headerLength 28 + 6 + 5 + 10 = 49, externalSize 0, "KO"
      0x51, 0x5A, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4B, 0x4F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // runCommand, four absent, defaultPath, five absent
      0x05, 'a', '.', 'e', 'x', 'e', 0, 0, 0, 0, 0, 0x04, 'C', ':', '\\', 'K', 0, 0, 0, 0, 0,
      // file entry: 'F', flags 0, stored 2, original 2, time; name; data
      0x46, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
      0x00, 0x27, 0x49, 0xF1, 0xB1, 0x08, 0xBF, 0x01,
      0x05, 'a', '.', 't', 'x', 't', 'h', 'i'};
  EXPECT_EQ(p.ArchiveBytes(), expected);
}

TEST(PackageBuilder, WritesTheMemberVersionOfSystemMembersOnly) {
  PackageBuilder p;
  p.AddSystemFile("s.dll", {0xAA}, MemberVersion{0x00020001, 0x00030004});
  const Bytes bytes = p.ArchiveBytes();
  const std::size_t entry = kArchiveHeaderSize + 12;
  // header 18, name 6, version 8, data 1
  ASSERT_EQ(bytes.size(), entry + 18 + 6 + 8 + 1);
  EXPECT_EQ(bytes[entry + 1], kMemberSys);
  EXPECT_EQ(Bytes(bytes.begin() + entry + 24, bytes.begin() + entry + 32),
            (Bytes{0x01, 0x00, 0x02, 0x00, 0x04, 0x00, 0x03, 0x00}));
  EXPECT_EQ(bytes.back(), 0xAA);
}

TEST(PackageBuilder, LeavesExternalDataOutOfTheArchiveAndCountsIt) {
  PackageBuilder p;
  p.AddFile("Agent.exe", "12345", kMemberExt);
  p.AddFile("b.txt", "xy");
  const ArchiveHeader h = p.FinalHeader();
  EXPECT_EQ(h.externalSize, 5u);
  const Bytes bytes = p.ArchiveBytes();
  EXPECT_EQ(bytes.size(), kArchiveHeaderSize + 12 + (18 + 10) + (18 + 6 + 2));
  const std::vector<ExternalFile> externals = p.ExternalFiles();
  ASSERT_EQ(externals.size(), 1u);
  EXPECT_EQ(externals[0].fileName, "_gent.exe");
  EXPECT_EQ(externals[0].data, BytesOf("12345"));
}

TEST(PackageBuilder, WritesIconsWithAbsentFieldsAndTheUninstallEntry) {
  PackageBuilder p;
  p.AddIcon("Run", std::nullopt, std::string("r.exe"));
  p.AddUninstall("Korvane", "un.exe");
  const Bytes bytes = p.ArchiveBytes();
  const Bytes icons(bytes.begin() + kArchiveHeaderSize + 12, bytes.end());
  EXPECT_EQ(icons, (Bytes{3, 'R', 'u', 'n', 0, 5, 'r', '.', 'e', 'x', 'e',
                          8, '*', 'K', 'o', 'r', 'v', 'a', 'n', 'e', 6, 'u', 'n', '.', 'e', 'x', 'e', 0}));
  EXPECT_EQ(p.FinalHeader().iconCount, 2);
}

TEST(PackageBuilder, WritesTheThreeTrailingBlockLayouts) {
  const std::size_t start = kArchiveHeaderSize + 12;
  {
    PackageBuilder p;
    p.trailing.emplace().configName = "cfg";
    p.AddTrailingFile("a", BytesOf("z"), 0x0102030405060708ull);
    const Bytes bytes = p.ArchiveBytes();
    EXPECT_EQ(Bytes(bytes.begin() + start, bytes.end()),
              (Bytes{'Q', 'Z', 3, 'c', 'f', 'g', 1, 0, 'F', 0, 1, 0, 0, 0, 1, 0, 0, 0,
                     8, 7, 6, 5, 4, 3, 2, 1, 1, 'a', 'z'}));
  }
  {
    PackageBuilder p;
    p.trailing.emplace().typeTag = "CT";
    p.AddTrailingFile("a", BytesOf("z"));
    const Bytes bytes = p.ArchiveBytes();
    EXPECT_EQ(Bytes(bytes.begin() + start, bytes.end()),
              (Bytes{'C', 'T', 0, 1, 0, 1, 0, 0, 0, 1, 'a', 'z', 'F'}));
  }
  {
    PackageBuilder p;
    p.trailing.emplace().typeTag = "DS";
    p.trailing->configName = "ignored";  // a "DS" block has no configuration name
    p.AddTrailingFile("a", BytesOf("z"));
    const Bytes bytes = p.ArchiveBytes();
    EXPECT_EQ(Bytes(bytes.begin() + start, bytes.end()),
              (Bytes{'D', 'S', 1, 0, 1, 0, 0, 0, 1, 'a', 'z', 'F'}));
  }
}

TEST(PackageBuilder, ComputesTheHeaderFromTheRecords) {
  PackageBuilder p;
  p.header.fileCount = 7;
  p.header.headerLength = 99;
  p.settings.runCommand = "a.exe";
  p.AddFile("a", "b");
  p.AddFile("e", "12345", kMemberExt);
  p.AddIcon("i");
  const ArchiveHeader h = p.FinalHeader();
  EXPECT_EQ(h.fileCount, 2);
  EXPECT_EQ(h.iconCount, 1);
  EXPECT_EQ(h.headerLength, kArchiveHeaderSize + 6 + 11);
  EXPECT_EQ(h.externalSize, 5u);
}

// Each named settings field is the string at its place in the table.
TEST(PackageBuilder, KeepsEachSettingsFieldAtItsPlaceInTheTable) {
  SettingsStrings s;
  s.runCommand = "runCommand";
  s.helpFile = "helpFile";
  s.readmeFile = "readmeFile";
  s.iniFile = "iniFile";
  s.launcherClasses = "launcherClasses";
  s.iconGroup = "iconGroup";
  s.defaultPath = "defaultPath";
  s.configName = "configName";
  s.launcherFile = "launcherFile";
  s.trayFile = "trayFile";
  s.reservedString1 = "reservedString1";
  s.reservedString2 = "reservedString2";
  for (const SettingsStringInfo& info : kSettingsStrings) EXPECT_EQ(s[info.index], info.field);
}

TEST(PackageBuilder, RefusesToWriteAnInvalidTrailingBlock) {
  PackageBuilder unknown;
  unknown.trailing.emplace().typeTag = "XY";
  EXPECT_THROW(unknown.ArchiveBytes(), std::invalid_argument);
  PackageBuilder tooMany;
  for (int i = 0; i <= 100; ++i) tooMany.AddTrailingFile("t", BytesOf("x"));
  EXPECT_THROW(tooMany.ArchiveBytes(), std::length_error);
}

TEST(PackageBuilder, ArchiveIsTheHeadEachMemberAndTheTail) {
  PackageBuilder p = MinimalPackage();
  p.AddFile("a.txt", "stored");
  p.AddFile("Agent.exe", "outside", kMemberExt);
  p.AddSystemFile("s.dll", {0xAA, 0xBB}, MemberVersion{1, 2});
  p.AddIcon("Run", std::nullopt, std::string("a.exe"));
  p.AddTrailingFile("account.ini", BytesOf("[a]"), kSampleTime);
  Bytes parts = p.HeadBytes();
  for (const PackageMember& m : p.files) {
    const Bytes head = PackageBuilder::MemberHeadBytes(m);
    parts.insert(parts.end(), head.begin(), head.end());
    if (!(m.flags & kMemberExt)) parts.insert(parts.end(), m.data.begin(), m.data.end());
  }
  const Bytes tail = p.TailBytes();
  parts.insert(parts.end(), tail.begin(), tail.end());
  EXPECT_EQ(parts, p.ArchiveBytes());
  EXPECT_EQ(p.HeadBytes().size(), p.FinalHeader().headerLength);
}

// Written piece by piece, with the header written again at the end, a setup
// program is the composed one.
TEST(SetupProgram, WrittenPieceByPieceIsTheComposedProgram) {
  TempDir dir;
  {
    SetupProgramFile program(dir / "Setup.exe", FakeStub());
    program.Append(Bytes{1, 2, 3, 4});
    program.AddExternal("_gent.exe", BytesOf("agent"));
    program.Append(Bytes{5, 6});
    program.Rewrite(1, Bytes{7, 8});
    program.Rewrite(5, Bytes{9});
    EXPECT_THROW(program.Rewrite(5, Bytes{9, 9}), std::out_of_range);
    EXPECT_EQ(program.ArchiveSize(), 6u);
    EXPECT_FALSE(std::filesystem::exists(dir / "Setup.exe"));
    program.Commit();
  }
  EXPECT_EQ(ReadBytes(dir / "Setup.exe"), ComposeSetupProgram(FakeStub(), Bytes{1, 7, 8, 4, 5, 9}));
  EXPECT_EQ(ReadText(dir / "_gent.exe"), "agent");
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Setup.exe", "_gent.exe"}));
}

TEST(SetupProgram, LeavesNothingBehindWhenNotCommitted) {
  TempDir dir;
  {
    SetupProgramFile program(dir / "Setup.exe", FakeStub());
    program.Append(Bytes{1, 2, 3});
    program.AddExternal("_gent.exe", BytesOf("agent"));
  }
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_THROW(SetupProgramFile(dir / "Setup.exe", Bytes(kArchiveOffset + 1, 1)), std::length_error);
  EXPECT_TRUE(dir.Files().empty());
}

TEST(SetupProgram, PadsTheStubToTheArchiveOffset) {
  const Bytes program = ComposeSetupProgram(FakeStub(), Bytes{1, 2, 3});
  ASSERT_EQ(program.size(), kArchiveOffset + 3u);
  EXPECT_EQ(program[0], 'M');
  EXPECT_EQ(program[FakeStub().size()], 0);
  EXPECT_EQ(program[kArchiveOffset - 1], 0);
  EXPECT_EQ(program[kArchiveOffset], 1);
}

TEST(SetupProgram, AcceptsAStubOfExactly61440BytesAndRefusesALargerOne) {
  EXPECT_EQ(ComposeSetupProgram(Bytes(kArchiveOffset, 1), Bytes{9}).size(), kArchiveOffset + 1u);
  EXPECT_THROW(ComposeSetupProgram(Bytes(kArchiveOffset + 1, 1), Bytes{9}), std::length_error);
}

TEST(SetupProgram, WritesTheExternalMemberFilesBesideTheProgram) {
  TempDir dir;
  PackageBuilder p;
  p.settings.runCommand = "a.exe";
  p.settings.defaultPath = "C:\\K";
  p.AddFile("Agent.exe", "agent data", kMemberExt);
  p.WriteTo(dir / "Setup1.exe", FakeStub());
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Setup1.exe", "_gent.exe"}));
  EXPECT_EQ(ReadText(dir / "_gent.exe"), "agent data");
}

TEST(SetupProgram, LeavesNothingBehindWhenAWriteFails) {
  TempDir dir;
  PackageBuilder p;
  p.AddFile("Agent.exe", "agent data", kMemberExt);
  p.AddFile("x\\Bgent.exe", "b", kMemberExt);  // "_\Bgent.exe" needs a missing directory
  EXPECT_THROW(p.WriteTo(dir / "Setup1.exe", FakeStub()), std::system_error);
  EXPECT_TRUE(dir.Files().empty());
}

}  // namespace
