// The command line of an unattended installation: /S, /D with its path
// forms, /N and /CO with the CONFIG.DAT rules.
#include <gtest/gtest.h>

#include "setup_fixture.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

class CommandLine : public SetupTest {
protected:
  void WriteSimplePackage() {
    PackageBuilder package = NewPackage();
    package.AddFile("a.txt", "installed");
    WritePackage(package);
  }
  void WriteConfigPackage(const std::string& configName = "CONFIG.DAT") {
    PackageBuilder package = NewPackage();
    package.AddFile(configName, "new config");
    package.AddFile("after.txt", "after");
    WritePackage(package);
  }
};

const std::string kDirectoryNotCreated =
    "The directory could not be created.  Please check that you typed a valid directory name.";

TEST_F(CommandLine, SilentInstallIntoQuotedPathWithSpacesCreatesAllParents) {
  WriteSimplePackage();
  // Wine passes an argument with blanks in double quotes: /D "C:\...\Program Files\Backup".
  EXPECT_EQ(RunSetup({"/S", "/D", WinFile("Program Files\\Korvane Backup\\Client")}), 0);
  EXPECT_EQ(ReadText(DirFile("Program Files\\Korvane Backup\\Client\\a.txt")), "installed");
}

TEST_F(CommandLine, DirectoryIsCreatedWithEveryMissingLevel) {
  WriteSimplePackage();
  EXPECT_EQ(RunSetup({"/S", "/D", WinFile("a\\b\\c\\d")}), 0);
  EXPECT_EQ(ReadText(DirFile("a\\b\\c\\d\\a.txt")), "installed");
}

TEST_F(CommandLine, PathWithTrailingBackslashInstallsIntoThatDirectory) {
  WriteSimplePackage();
  EXPECT_EQ(RunSetup({"/S", "/D", WinFile("Backup\\")}), 0);
  EXPECT_EQ(ReadText(DirFile("Backup\\a.txt")), "installed");
}

TEST_F(CommandLine, OptionsAreCaseBlindAndTakeDashOrSlash) {
  WriteSimplePackage();
  EXPECT_EQ(RunSetup({"-s", "-d", InstallDir()}), 0);
  EXPECT_EQ(ReadText(Installed("a.txt")), "installed");
}

TEST_F(CommandLine, OptionsNeedNoSeparatingBlank) {
  WriteSimplePackage();
  EXPECT_EQ(RunSetup({"/S/D" + InstallDir()}), 0);
  EXPECT_EQ(ReadText(Installed("a.txt")), "installed");
}

TEST_F(CommandLine, WithoutDTheDefaultPathIsUsed) {
  WriteSimplePackage();
  EXPECT_EQ(RunSetup({"/S"}), 0);
  EXPECT_EQ(ReadText(DirFile("Default\\a.txt")), "installed");
}

TEST_F(CommandLine, DirectoryBelowAFileCannotBeCreatedString12) {
  WriteSimplePackage();
  WriteText(DirFile("plain.txt"), "a file, not a directory");
  Process setup = StartSetup({"/S", "/D", WinFile("plain.txt\\sub")});
  auto box = ExpectMessageBox(setup, kDirectoryNotCreated);
  if (box) {
    EXPECT_FALSE(box->HasOwner());
  }
  EXPECT_EQ(setup.Wait(kBoxTimeout), 0);
}

TEST_F(CommandLine, OverlongInstallPathIsRefusedWithoutOverrun) {
  WriteSimplePackage();
  std::string longPath = WinDir();
  while (longPath.size() < 300) longPath += "\\abcdefghijklmnopqrstuvwxyz";
  Process setup = StartSetup({"/S", "/D", longPath});
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(box) << "no message box for a " << longPath.size() << "-character path";
  ASSERT_EQ(box->StaticTexts().size(), 1u);
  EXPECT_NE(box->StaticTexts()[0].find("could not be created"), std::string::npos)
      << box->StaticTexts()[0];
  Bot().Press(box->hwnd, kIdOk);
  auto code = setup.Wait(kBoxTimeout);
  ASSERT_TRUE(code);
  EXPECT_TRUE(*code == 0 || *code == 1) << *code;
  // Nothing was installed anywhere below the test directory.
  for (const auto& entry : fs::recursive_directory_iterator(Dir()))
    EXPECT_NE(entry.path().filename(), "a.txt") << entry.path();
}

TEST_F(CommandLine, NSkipsConfigDatAndInstallsTheRest) {
  WriteConfigPackage();
  EXPECT_EQ(RunSetup({"/S", "/N", "/D", InstallDir()}), 0);
  EXPECT_FALSE(fs::exists(Installed("CONFIG.DAT")));
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(CommandLine, NSkipsConfigDatInAnyCase) {
  WriteConfigPackage("config.Dat");
  EXPECT_EQ(RunSetup({"/S", "/N", "/D", InstallDir()}), 0);
  EXPECT_FALSE(fs::exists(Installed("config.Dat")));
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(CommandLine, NLeavesConfigDatInASubdirectoryAlone) {
  WriteConfigPackage("sub\\CONFIG.DAT");
  EXPECT_EQ(RunSetup({"/S", "/N", "/D", InstallDir()}), 0);
  EXPECT_EQ(ReadText(Installed("sub/CONFIG.DAT")), "new config");
}

TEST_F(CommandLine, ConfigDatIsInstalledWhereNoneExists) {
  WriteConfigPackage();
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("CONFIG.DAT")), "new config");
}

TEST_F(CommandLine, ExistingConfigDatIsKeptByDefault) {
  WriteConfigPackage();
  WriteText(Installed("CONFIG.DAT"), "old config");
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("CONFIG.DAT")), "old config");
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(CommandLine, COOverwritesExistingConfigDat) {
  WriteConfigPackage();
  WriteText(Installed("CONFIG.DAT"), "old config");
  EXPECT_EQ(RunSetup({"/S", "/CO", "/D", InstallDir()}), 0);
  EXPECT_EQ(ReadText(Installed("CONFIG.DAT")), "new config");
}

TEST_F(CommandLine, NWinsOverCO) {
  WriteConfigPackage();
  WriteText(Installed("CONFIG.DAT"), "old config");
  EXPECT_EQ(RunSetup({"/S", "/N", "/CO", "/D", InstallDir()}), 0);
  EXPECT_EQ(ReadText(Installed("CONFIG.DAT")), "old config");
}

}  // namespace
}  // namespace winetest
