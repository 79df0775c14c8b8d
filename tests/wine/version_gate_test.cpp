// The version gate: an installed run-command file whose FileVersion text is
// below 2.5 (only its first and third characters count) stops the program.
#include <gtest/gtest.h>

#include "setup_fixture.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

const std::string kCannotUpgrade =
    "The current version of software cannot be directly upgraded to the version in this "
    "installation package. Please contact your administrator.";

class VersionGate : public SetupTest {
protected:
  // A package installing new.txt, with `versionFile` installed as the run
  // command already.
  void Prepare(const std::string& versionFile) {
    PackageBuilder package = NewPackage();
    package.AddFile("new.txt", "new");
    WritePackage(package);
    fs::create_directories(UnixPath(InstallDir()));
    fs::copy_file(HelperFile(versionFile), Installed(kRunCommand));
  }
  void ExpectRefused(const std::string& versionFile) {
    Prepare(versionFile);
    Process setup = StartSetup(SilentArgs());
    auto box = ExpectMessageBox(setup, kCannotUpgrade);
    if (box) {
      EXPECT_FALSE(box->HasOwner());
    }
    EXPECT_EQ(setup.Wait(kBoxTimeout), 0);
    EXPECT_FALSE(fs::exists(Installed("new.txt")));
  }
  void ExpectPassed(const std::string& versionFile) {
    Prepare(versionFile);
    EXPECT_EQ(RunSetup(SilentArgs()), 0);
    EXPECT_EQ(ReadText(Installed("new.txt")), "new");
  }
};

TEST_F(VersionGate, Version240RefusedWithString19) { ExpectRefused("version-2.4.0.0.exe"); }
TEST_F(VersionGate, Version1999Refused) { ExpectRefused("version-1.9.9.9.exe"); }
TEST_F(VersionGate, Version100RefusedByItsFirstCharacter) { ExpectRefused("version-10.0.exe"); }
TEST_F(VersionGate, Version250Passes) { ExpectPassed("version-2.5.0.0.exe"); }
TEST_F(VersionGate, Version30Passes) { ExpectPassed("version-3.0.exe"); }
TEST_F(VersionGate, FileWithoutVersionResourcePasses) { ExpectPassed("version-none.exe"); }

TEST_F(VersionGate, NoInstalledFilePasses) {
  PackageBuilder package = NewPackage();
  package.AddFile("new.txt", "new");
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("new.txt")), "new");
}

TEST_F(VersionGate, RunCommandNamingADeviceIsNotOpened) {
  for (const char* device : {"COM1", "bin\\lpt1.exe", "NUL"}) {
    PackageBuilder package = NewPackage();
    package.AddFile("new.txt", "new");
    package.settings.runCommand = device;
    WritePackage(package);
    EXPECT_EQ(RunSetup(SilentArgs()), 0) << device;
    EXPECT_EQ(ReadText(Installed("new.txt")), "new") << device;
  }
}

TEST_F(VersionGate, RefusalComesAfterTheDirectoryWasCreated) {
  PackageBuilder package = NewPackage();
  package.AddFile("new.txt", "new");
  package.settings.runCommand = "bin\\Korvane.exe";
  WritePackage(package);
  fs::create_directories(Installed("bin"));
  fs::copy_file(HelperFile("version-2.4.0.0.exe"), Installed("bin/Korvane.exe"));
  Process setup = StartSetup({"/S", "/D", InstallDir()});
  ExpectMessageBox(setup, kCannotUpgrade);
  EXPECT_EQ(setup.Wait(kBoxTimeout), 0);
  EXPECT_TRUE(fs::is_directory(UnixPath(InstallDir())));
}

TEST_F(VersionGate, RunAndRemoveOptionNeverRefuses) {
  // /RS (here /RSK, which keeps the package) adds " -BI -S" to the run
  // command, so the looked-up path names no file.
  Prepare("version-2.4.0.0.exe");
  EXPECT_EQ(RunSetup({"/S", "/RSK", "/D", InstallDir()}), 0);
  EXPECT_EQ(ReadText(Installed("new.txt")), "new");
}

}  // namespace
}  // namespace winetest
