// Extraction of the main file table: stored members into the install and
// system directories, their times, the SYS, DLR, EXT and CONFIG.DAT rules,
// and the archive errors that stop the extraction.
#include <algorithm>

#include <gtest/gtest.h>

#include "setup_fixture.hpp"
#include "setuppack/host/file_io.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

const std::string kFileNotCreatedPrefix = "Installation failed because file ";
const std::string kFileNotCreatedSuffix = " could not be created.";

class Extraction : public SetupTest {
protected:
  std::optional<int> ExpectBoxAndExit(const std::string& text, std::vector<std::string> args = {}) {
    Process setup = StartSetup(args.empty() ? SilentArgs() : args);
    auto box = ExpectMessageBox(setup, text);
    if (box) {
      EXPECT_EQ(box->ownerText, kDialogCaption) << "not owned by the progress dialog";
    }
    return setup.Wait(kBoxTimeout);
  }
  // A package of `first` and `second`, where something the test put in the
  // way keeps `second` from being created: string 5 names its path, and
  // `first` stays installed.
  void ExpectSecondNotCreated(const std::string& first, const std::string& second) {
    PackageBuilder package = NewPackage();
    package.AddFile(first, "first");
    package.AddFile(second, "second");
    WritePackage(package);
    EXPECT_EQ(ExpectBoxAndExit(kFileNotCreatedPrefix + InstallDir() + "\\" + second + kFileNotCreatedSuffix), 1);
    std::string firstPath = first;
    std::replace(firstPath.begin(), firstPath.end(), '\\', '/');
    EXPECT_EQ(ReadText(Installed(firstPath)), "first");
  }
  // A SYS member over the existing system file `existing` (a version file,
  // or none).
  bool SystemMemberReplaces(const std::optional<std::string>& existing, MemberVersion version) {
    std::string name = SystemFileName(".dll");
    if (existing) fs::copy_file(HelperFile(*existing), SystemFile(name));
    PackageBuilder package = NewPackage();
    package.AddSystemFile(name, BytesOf("member data"), version);
    package.AddFile("after.txt", "after");
    WritePackage(package);
    EXPECT_EQ(RunSetup(SilentArgs()), 0);
    EXPECT_EQ(ReadText(Installed("after.txt")), "after");
    return ReadText(SystemFile(name)) == "member data";
  }
};

std::string CopyFailed(const std::string& path) {
  return "Installation failed because an error occurred while copying file " + path + ".";
}

TEST_F(Extraction, StoredMembersAreInstalledWithTheirContent) {
  PackageBuilder package = NewPackage();
  package.AddFile("readme.txt", "plain text\r\n");
  std::vector<std::uint8_t> binary(70000);
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<std::uint8_t>(i * 7 + 3);
  package.AddFile("data.bin", binary);
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("readme.txt")), "plain text\r\n");
  EXPECT_EQ(ReadWholeFile(Installed("data.bin")), binary);
}

TEST_F(Extraction, MemberSubdirectoriesAreCreated) {
  PackageBuilder package = NewPackage();
  package.AddFile("docs\\en\\guide.txt", "guide");
  package.AddFile("docs\\de\\guide.txt", "Anleitung");
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("docs/en/guide.txt")), "guide");
  EXPECT_EQ(ReadText(Installed("docs/de/guide.txt")), "Anleitung");
}

// Folders are created only where the last member's folders end: siblings,
// a deeper folder, a return to the root and to an earlier folder, and a
// folder spelt in another case all land where their names say.
TEST_F(Extraction, MembersFindTheirFoldersWhicheverMemberMadeThem) {
  const std::vector<std::pair<std::string, std::string>> members = {
      {"a\\b\\one.txt", "a/b/one.txt"}, {"a\\two.txt", "a/two.txt"},
      {"a\\c\\d\\three.txt", "a/c/d/three.txt"}, {"top.txt", "top.txt"},
      {"a\\b\\four.txt", "a/b/four.txt"}, {"A\\C\\five.txt", "a/c/five.txt"},
      {"a\\c\\d\\e\\six.txt", "a/c/d/e/six.txt"}};
  PackageBuilder package = NewPackage();
  for (const auto& [name, path] : members) package.AddFile(name, path);
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  for (const auto& [name, path] : members) EXPECT_EQ(ReadText(Installed(path)), path) << name;
}

TEST_F(Extraction, FileWhereAFolderIsNeededShowsString5) {
  fs::create_directories(Installed("a"));
  WriteText(Installed("a/b"), "a file, not a folder");
  ExpectSecondNotCreated("a\\first.txt", "a\\b\\second.txt");
  EXPECT_EQ(ReadText(Installed("a/b")), "a file, not a folder");
}

TEST_F(Extraction, InstalledFilesGetTheStoredLastWriteTime) {
  PackageBuilder package = NewPackage();
  package.AddFile("a.txt", "a").lastWriteTime = kSampleTime;
  package.AddFile("b.txt", "b").lastWriteTime = kSampleTime + 10000000ull * 3600 * 24 * 365;
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(LastWriteFileTime(Installed("a.txt")), kSampleTime);
  EXPECT_EQ(LastWriteFileTime(Installed("b.txt")), kSampleTime + 10000000ull * 3600 * 24 * 365);
}

TEST_F(Extraction, EmptyMemberYieldsEmptyFileWithItsTime) {
  PackageBuilder package = NewPackage();
  package.AddFile("empty.txt", "").lastWriteTime = kSampleTime;
  package.AddFile("after.txt", "after");
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  ASSERT_TRUE(fs::exists(Installed("empty.txt")));
  EXPECT_EQ(fs::file_size(Installed("empty.txt")), 0u);
  EXPECT_EQ(LastWriteFileTime(Installed("empty.txt")), kSampleTime);
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(Extraction, ExistingFileIsOverwritten) {
  PackageBuilder package = NewPackage();
  package.AddFile("a.txt", "new");
  WritePackage(package);
  WriteText(Installed("a.txt"), "old and longer content");
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("a.txt")), "new");
}

TEST_F(Extraction, SystemMemberGoesToTheSystemDirectory) {
  std::string name = SystemFileName(".dll");
  PackageBuilder package = NewPackage();
  package.AddSystemFile(name, BytesOf("system data"), {0x00020000, 0}).lastWriteTime = kSampleTime;
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(SystemFile(name)), "system data");
  EXPECT_EQ(LastWriteFileTime(SystemFile(name)), kSampleTime);
  EXPECT_FALSE(fs::exists(Installed(name)));
}

TEST_F(Extraction, SystemMemberNewerThanExistingIsInstalled) {
  EXPECT_TRUE(SystemMemberReplaces("version-1.9.9.9.exe", {0x00020000, 0x00000000}));
}

TEST_F(Extraction, SystemMemberOlderThanExistingIsNotInstalled) {
  // 1.10.0.0 against 2.0.0.0: numbers, not texts, are compared.
  EXPECT_FALSE(SystemMemberReplaces("version-2.0.0.0.exe", {0x0001000A, 0x00000000}));
}

TEST_F(Extraction, SystemMemberOfEqualVersionIsNotInstalled) {
  EXPECT_FALSE(SystemMemberReplaces("version-2.0.0.0.exe", {0x00020000, 0x00000000}));
}

TEST_F(Extraction, SystemMemberOverFileWithoutVersionIsInstalled) {
  EXPECT_TRUE(SystemMemberReplaces("version-none.exe", {0x00010000, 0}));
}

TEST_F(Extraction, SystemMemberWithoutExistingFileIsInstalled) {
  EXPECT_TRUE(SystemMemberReplaces(std::nullopt, {0x00010000, 0}));
}

TEST_F(Extraction, DlrMemberIsSkippedOnWindowsNt) {
  PackageBuilder package = NewPackage();
  package.AddFile("dlr.txt", "dlr", kMemberDlr);
  package.AddFile("after.txt", "after");
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_FALSE(fs::exists(Installed("dlr.txt")));
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(Extraction, DlrMemberIsInstalledOnWindows95) {
  PackageBuilder package = NewPackage();
  package.AddFile("dlr.txt", "dlr", kMemberDlr);
  WritePackage(package);
  ScopedWindowsVersion emulated("win95", kPackageName);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("dlr.txt")), "dlr");
}

TEST_F(Extraction, DlrMemberIsSkippedOnWindows95WithHeaderFlag20) {
  PackageBuilder package = NewPackage();
  package.header.flags |= kHeaderFlagNoDlr;
  package.AddFile("dlr.txt", "dlr", kMemberDlr);
  package.AddFile("after.txt", "after");
  WritePackage(package);
  ScopedWindowsVersion emulated("win95", kPackageName);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_FALSE(fs::exists(Installed("dlr.txt")));
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(Extraction, ExternalMemberIsCopiedFromItsUnderscoreFile) {
  PackageBuilder package = NewPackage();
  package.AddFile("Agent.exe", "external data", kMemberExt).lastWriteTime = kSampleTime;
  package.AddFile("after.txt", "after");
  WritePackage(package);
  ASSERT_EQ(ReadText(DirFile("_gent.exe")), "external data");
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("Agent.exe")), "external data");
  EXPECT_EQ(LastWriteFileTime(Installed("Agent.exe")), kSampleTime);
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(Extraction, MissingExternalFileShowsString17) {
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile("Agent.exe", "external data", kMemberExt);
  package.AddFile("after.txt", "after");
  WritePackage(package);
  fs::remove(DirFile("_gent.exe"));
  EXPECT_EQ(ExpectBoxAndExit("Installation failed because source file " + WinFile("_gent.exe") +
                             " could not be found."),
            1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  EXPECT_FALSE(fs::exists(Installed("after.txt")));
}

TEST_F(Extraction, MissingExternalFileLeavesAnInstalledCopyUntouched) {
  PackageBuilder package = NewPackage();
  package.AddFile("Agent.exe", "new agent", kMemberExt);
  WritePackage(package);
  fs::remove(DirFile("_gent.exe"));
  WriteText(Installed("Agent.exe"), "installed agent");
  EXPECT_EQ(ExpectBoxAndExit("Installation failed because source file " + WinFile("_gent.exe") +
                             " could not be found."),
            1);
  EXPECT_EQ(ReadText(Installed("Agent.exe")), "installed agent");
}

TEST_F(Extraction, ShortExternalFileShowsString7) {
  PackageBuilder package = NewPackage();
  package.AddFile("Agent.exe", std::vector<std::uint8_t>(100, 'a'), kMemberExt);
  WritePackage(package);
  WriteText(DirFile("_gent.exe"), "only part of it");
  EXPECT_EQ(ExpectBoxAndExit(CopyFailed(InstallDir() + "\\Agent.exe")), 1);
}

TEST_F(Extraction, TruncatedMemberDataShowsString7) {
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile("cut.bin", std::vector<std::uint8_t>(100, 0x5A));
  WriteDamagedPackage(package, [](DamagedProgram& d) {
    d.SetEntryStoredLength(1, 5000);
    // Room in the progress total, so that the length check (code 4) passes.
    d.SetExternalSize(10000);
  });
  EXPECT_EQ(ExpectBoxAndExit(CopyFailed(InstallDir() + "\\cut.bin")), 1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
}

TEST_F(Extraction, OutputPathTakenByADirectoryShowsString5) {
  fs::create_directories(Installed("taken"));
  ExpectSecondNotCreated("first.txt", "taken");
}

// The archive errors of the main file table are cases of the table of damaged
// archives (damaged_archive_test.cpp).

}  // namespace
}  // namespace winetest
