// Platform checks under Wine's Windows version emulation: the header's
// platform bits against the reported Windows, and the Win32s hand-over.
#include <gtest/gtest.h>

#include <thread>

#include "setup_fixture.hpp"

namespace winetest {
namespace {

class PlatformCheck : public SetupTest {
protected:
  void WriteFlaggedPackage(std::uint8_t flags) {
    PackageBuilder package = NewPackage();
    package.header.flags = static_cast<std::uint8_t>(kHeaderFlagNoTrailing | flags);
    package.AddFile("a.txt", "installed");
    WritePackage(package);
  }

  void ExpectRefusal(const std::string& version, std::uint8_t flags, const std::string& text) {
    WriteFlaggedPackage(flags);
    ScopedWindowsVersion emulated(version, kPackageName);
    ASSERT_TRUE(emulated.Applied());
    Process setup = StartSetup(SilentArgs());
    auto box = ExpectMessageBox(setup, text);
    if (box) {
      EXPECT_FALSE(box->HasOwner());
    }
    EXPECT_EQ(setup.Wait(kBoxTimeout), 0);
    EXPECT_FALSE(std::filesystem::exists(UnixPath(InstallDir())));
  }

  void ExpectAccepted(const std::string& version, std::uint8_t flags) {
    WriteFlaggedPackage(flags);
    ScopedWindowsVersion emulated(version, kPackageName);
    ASSERT_TRUE(emulated.Applied());
    EXPECT_EQ(RunSetup(SilentArgs()), 0);
    EXPECT_EQ(ReadText(Installed("a.txt")), "installed");
  }
};

const std::string kNotForNt =
    "This version of Korvane Online Backup is not designed to run on Microsoft Windows NT.  "
    "Please contact Korvane Corporation for an updated version.";
const std::string kNeedsNt4 =
    "This version of Korvane Online Backup requires Microsoft Windows NT version 4.0 or higher.";
const std::string kNeedsNt = "This version of Korvane Online Backup requires Windows NT. ";

TEST_F(PlatformCheck, Win32sStartsTheSetupProgramBesideThePackage) {
  WriteFlaggedPackage(0);
  std::filesystem::copy_file(HelperFile("start_marker.exe"), DirFile("SETUP.EXE"));
  ScopedWindowsVersion emulated("win31", kPackageName);
  ASSERT_TRUE(emulated.Applied());
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  // SETUP.EXE runs on its own; it writes STARTED.TXT beside itself.
  WaitUntil([&] { return std::filesystem::exists(DirFile("STARTED.TXT")); }, Milliseconds(10000));
  ASSERT_TRUE(std::filesystem::exists(DirFile("STARTED.TXT")));
  EXPECT_NE(ReadText(DirFile("STARTED.TXT")).find("SETUP.EXE"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(UnixPath(InstallDir())));
}

TEST_F(PlatformCheck, Windows95RefusesNtOnlyPackageWithString15) {
  ExpectRefusal("win95", kHeaderFlagNtOnly, kNeedsNt);
}

TEST_F(PlatformCheck, Windows98RefusesNtOnlyPackageWithString15) {
  ExpectRefusal("win98", kHeaderFlagNtOnly, kNeedsNt);
}

TEST_F(PlatformCheck, Nt351RefusesPackageNeedingNt4WithString14) {
  ExpectRefusal("nt351", kHeaderFlagNt4, kNeedsNt4);
}

TEST_F(PlatformCheck, Nt40RefusesPackageNotForNtWithString1) {
  ExpectRefusal("nt40", kHeaderFlagNotNt, kNotForNt);
}

TEST_F(PlatformCheck, NotForNtIsTestedBeforeTheNt4Requirement) {
  ExpectRefusal("nt351", kHeaderFlagNotNt | kHeaderFlagNt4, kNotForNt);
}

TEST_F(PlatformCheck, Nt40AcceptsNtOnlyPackageNeedingNt4) {
  ExpectAccepted("nt40", kHeaderFlagNtOnly | kHeaderFlagNt4);
}

TEST_F(PlatformCheck, Windows10AcceptsNtOnlyPackageNeedingNt4) {
  ExpectAccepted("win10", kHeaderFlagNtOnly | kHeaderFlagNt4);
}

TEST_F(PlatformCheck, Nt351AcceptsPackageWithoutPlatformBits) { ExpectAccepted("nt351", 0); }

TEST_F(PlatformCheck, Windows95AcceptsPackageWithoutNtOnlyBit) {
  ExpectAccepted("win95", kHeaderFlagNotNt | kHeaderFlagNt4);
}

}  // namespace
}  // namespace winetest
