// The icon table and the trailing block behind it: the icon table is read and
// kept for the program group; the trailing block's members ("QZ", "CT", "DS")
// go to the install directory under the account information and CONFIG.DAT
// rules; every fault of the trailing block stops with its archive error.
#include <gtest/gtest.h>

#include <chrono>

#include "setuppack/host/file_io.hpp"
#include "setuppack/host/file_time.hpp"
#include "shell_support.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

const std::string kAccountPresent =
    "New account information not installed:  account information is already present in ";

class Trailing : public SetupTest {
protected:
  void TearDown() override {
    SetupTest::TearDown();
    if (cleanShell_) {
      std::error_code ec;
      fs::remove_all(ProgramsFolder() / group_, ec);
      DeleteUninstallKey();
    }
  }

  // A package with one main member and a trailing block of `type` (read:
  // header flag 0x02 clear).
  PackageBuilder NewTrailingPackage(const std::string& type) const {
    PackageBuilder package = NewPackage();
    package.header.flags = 0;
    package.AddFile("main.txt", "main");
    package.trailing.emplace();
    package.trailing->typeTag = type;
    return package;
  }

  // For tests that reach the icon step: a group of their own, removed with
  // the uninstall key afterwards.
  const std::string& UseShell() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    group_ = std::string("Korvane ") + info->name();
    cleanShell_ = true;
    return group_;
  }

  std::optional<int> Install(const PackageBuilder& package, std::vector<std::string> extra = {}) {
    WritePackage(package);
    std::vector<std::string> args = SilentArgs();
    args.insert(args.begin(), extra.begin(), extra.end());
    return RunSetup(args);
  }

  // Runs silently, expects one message box owned by the progress dialog, and
  // returns the exit code.
  std::optional<int> InstallExpectingBox(const PackageBuilder& package, const std::string& text,
                                         bool ownedByProgressDialog) {
    WritePackage(package);
    Process setup = StartSetup(SilentArgs());
    auto box = ExpectMessageBox(setup, text);
    if (box) {
      if (ownedByProgressDialog) {
        EXPECT_EQ(box->ownerText, kDialogCaption);
      } else {
        EXPECT_FALSE(box->HasOwner());
      }
    }
    return setup.Wait(kBoxTimeout);
  }

private:
  std::string group_;
  bool cleanShell_ = false;
};

// ------------------------------------------------------------- icon table

TEST_F(Trailing, IconCountZeroReadsNoIconTable) {
  const std::string group = UseShell();
  PackageBuilder package = NewPackage();
  package.settings.iconGroup = group;
  package.AddFile("main.txt", "main");
  package.AddIcon("Korvane Backup", std::nullopt, "main.txt");
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  // The icon entries are in the archive, but the header counts none.
  WriteDamagedPackage(package, [](DamagedProgram& d) { d.SetIconCount(0); });
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("main.txt")), "main");
  EXPECT_FALSE(fs::exists(ProgramsFolder() / group));
  EXPECT_FALSE(UninstallValues());
}

TEST_F(Trailing, IconTableEndingAtTheEndOfTheFileHasNoTrailingBlock) {
  const std::string group = UseShell();
  PackageBuilder package = NewPackage();
  package.header.flags = 0;
  package.settings.iconGroup = group;
  package.AddFile("main.txt", "main");
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  EXPECT_EQ(Install(package), 0);
  EXPECT_EQ(ReadText(Installed("main.txt")), "main");
  auto values = UninstallValues();
  ASSERT_TRUE(values) << "the icon table was not kept";
  EXPECT_EQ((*values)["DisplayName"], "Korvane Online Backup");
}

// ---------------------------------------------------------- trailing block

TEST_F(Trailing, QzMembersAreInstalledWithTheirStoredTimes) {
  PackageBuilder package = NewTrailingPackage("QZ");
  package.trailing->configName = "Office";
  package.AddTrailingFile("a.txt", BytesOf("first trailing"), kSampleTime);
  package.AddTrailingFile("sub\\dir\\b.txt", BytesOf("second trailing"), kSampleTime + 36000000000ull);
  EXPECT_EQ(Install(package), 0);
  EXPECT_EQ(ReadText(Installed("main.txt")), "main");
  EXPECT_EQ(ReadText(Installed("a.txt")), "first trailing");
  EXPECT_EQ(ReadText(Installed("sub/dir/b.txt")), "second trailing");
  EXPECT_EQ(LastWriteFileTime(Installed("a.txt")), kSampleTime);
  EXPECT_EQ(LastWriteFileTime(Installed("sub/dir/b.txt")), kSampleTime + 36000000000ull);
}

class TrailingWithoutTimes : public Trailing, public ::testing::WithParamInterface<const char*> {};

TEST_P(TrailingWithoutTimes, MembersKeepTheTimeOfInstallation) {
  PackageBuilder package = NewTrailingPackage(GetParam());
  package.AddTrailingFile("a.txt", BytesOf("first trailing"));
  package.AddTrailingFile("sub\\dir\\b.txt", BytesOf("second trailing"));
  const std::uint64_t before = FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(
                                                    std::chrono::system_clock::now().time_since_epoch())
                                                    .count()) -
                               20000000ull;
  EXPECT_EQ(Install(package), 0);
  const std::uint64_t after = FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(
                                                   std::chrono::system_clock::now().time_since_epoch())
                                                   .count()) +
                              20000000ull;
  EXPECT_EQ(ReadText(Installed("a.txt")), "first trailing");
  EXPECT_EQ(ReadText(Installed("sub/dir/b.txt")), "second trailing");
  for (const char* name : {"a.txt", "sub/dir/b.txt"}) {
    auto time = LastWriteFileTime(Installed(name));
    ASSERT_TRUE(time) << name;
    EXPECT_GE(*time, before) << name;
    EXPECT_LE(*time, after) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Types, TrailingWithoutTimes, ::testing::Values("CT", "DS"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST_F(Trailing, HeaderFlag02LeavesTheTrailingBlockUnread) {
  PackageBuilder package = NewTrailingPackage("QZ");
  package.header.flags = kHeaderFlagNoTrailing;
  package.AddTrailingFile("a.txt", BytesOf("trailing"), kSampleTime);
  WriteDamagedPackage(package, [](DamagedProgram& d) { d.Append(BytesOf("and whatever follows")); });
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("main.txt")), "main");
  EXPECT_FALSE(fs::exists(Installed("a.txt")));
}

// "m<i>.txt", built by appending (GCC 12 warns falsely on "m" + to_string).
std::string NumberedName(int i) {
  std::string name = "m";
  name += std::to_string(i);
  name += ".txt";
  return name;
}

TEST_F(Trailing, HundredMembersAreAccepted) {
  PackageBuilder package = NewTrailingPackage("DS");
  for (int i = 0; i < 100; ++i) package.AddTrailingFile(NumberedName(i), BytesOf(std::to_string(i)));
  EXPECT_EQ(Install(package), 0);
  int installed = 0;
  for (int i = 0; i < 100; ++i)
    if (ReadText(Installed(NumberedName(i))) == std::to_string(i)) ++installed;
  EXPECT_EQ(installed, 100);
}

// ------------------------------------------------ account information rule

TEST_F(Trailing, ExistingAccountFileStopsTheWholeBlock) {
  PackageBuilder package = NewTrailingPackage("CT");
  package.settings.iniFile = "Account.ini";
  package.AddTrailingFile("account.INI", BytesOf("new account"));
  package.AddTrailingFile("other.txt", BytesOf("other"));
  WriteText(Installed("ACCOUNT.INI"), "old account");
  EXPECT_EQ(InstallExpectingBox(package, kAccountPresent + InstallDir() + "\\account.INI.", true), 0);
  EXPECT_EQ(ReadText(Installed("ACCOUNT.INI")), "old account");
  EXPECT_FALSE(fs::exists(Installed("other.txt")));
  EXPECT_EQ(ReadText(Installed("main.txt")), "main");
}

TEST_F(Trailing, AccountFileAsSecondMemberIsOverwritten) {
  PackageBuilder package = NewTrailingPackage("QZ");
  package.settings.iniFile = "Account.ini";
  package.AddTrailingFile("other.txt", BytesOf("other"), kSampleTime);
  package.AddTrailingFile("Account.ini", BytesOf("new account"), kSampleTime);
  WriteText(Installed("Account.ini"), "old account");
  EXPECT_EQ(Install(package), 0);
  EXPECT_EQ(ReadText(Installed("Account.ini")), "new account");
  EXPECT_EQ(ReadText(Installed("other.txt")), "other");
}

TEST_F(Trailing, AccountFileNotYetPresentIsInstalled) {
  PackageBuilder package = NewTrailingPackage("DS");
  package.settings.iniFile = "Account.ini";
  package.AddTrailingFile("Account.ini", BytesOf("new account"));
  package.AddTrailingFile("other.txt", BytesOf("other"));
  EXPECT_EQ(Install(package), 0);
  EXPECT_EQ(ReadText(Installed("Account.ini")), "new account");
  EXPECT_EQ(ReadText(Installed("other.txt")), "other");
}

// ------------------------------------------------------- CONFIG.DAT rules

TEST_F(Trailing, ExistingConfigDatIsKeptAndTheRestInstalled) {
  PackageBuilder package = NewTrailingPackage("CT");
  // Also the account information file: a skipped member is not tested for it.
  package.settings.iniFile = "CONFIG.DAT";
  package.AddTrailingFile("config.dat", BytesOf("new config"));
  package.AddTrailingFile("other.txt", BytesOf("other"));
  WriteText(Installed("CONFIG.DAT"), "old config");
  EXPECT_EQ(Install(package), 0);
  EXPECT_EQ(ReadText(Installed("CONFIG.DAT")), "old config");
  EXPECT_EQ(ReadText(Installed("other.txt")), "other");
}

TEST_F(Trailing, MissingConfigDatIsInstalled) {
  PackageBuilder package = NewTrailingPackage("QZ");
  package.AddTrailingFile("CONFIG.DAT", BytesOf("new config"), kSampleTime);
  EXPECT_EQ(Install(package), 0);
  EXPECT_EQ(ReadText(Installed("CONFIG.DAT")), "new config");
}

TEST_F(Trailing, OptionNNeverInstallsConfigDat) {
  PackageBuilder package = NewTrailingPackage("DS");
  package.AddTrailingFile("Config.Dat", BytesOf("new config"));
  package.AddTrailingFile("other.txt", BytesOf("other"));
  EXPECT_EQ(Install(package, {"/N"}), 0);
  EXPECT_FALSE(fs::exists(Installed("Config.Dat")));
  EXPECT_EQ(ReadText(Installed("other.txt")), "other");
}

TEST_F(Trailing, OptionCOOverwritesConfigDat) {
  PackageBuilder package = NewTrailingPackage("CT");
  package.AddTrailingFile("CONFIG.DAT", BytesOf("new config"));
  WriteText(Installed("CONFIG.DAT"), "old config");
  EXPECT_EQ(Install(package, {"/CO"}), 0);
  EXPECT_EQ(ReadText(Installed("CONFIG.DAT")), "new config");
}

// ------------------------------------------------------------ path safety

TEST_F(Trailing, NameLeavingTheInstallDirectoryIsRefused) {
  PackageBuilder package = NewTrailingPackage("CT");
  package.AddTrailingFile("first.txt", BytesOf("first"));
  package.AddTrailingFile("..\\evil.txt", BytesOf("escaped"));
  package.AddTrailingFile("after.txt", BytesOf("after"));
  EXPECT_EQ(InstallExpectingBox(package,
                                "Installation failed because file " + InstallDir() +
                                    "\\..\\evil.txt could not be created.",
                                true),
            1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  EXPECT_FALSE(fs::exists(DirFile("evil.txt")));
  EXPECT_FALSE(fs::exists(Installed("after.txt")));
}

// The archive errors of the icon table and the trailing block are cases of the
// table of damaged archives (damaged_archive_test.cpp).

}  // namespace
}  // namespace winetest
