// The program group on the shell-link path (COM available, as in Wine): a
// folder named by iconGroup under the Programs folder, one shell link per icon
// entry, and the uninstall registration of the "*" entries at their place in
// the icon table. Also the uninstall registry key and its values.
#include <gtest/gtest.h>

#include <algorithm>

#include "shell_support.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

class Shortcuts : public SetupTest {
protected:
  void SetUp() override {
    SetupTest::SetUp();
    if (IsSkipped()) return;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    group_ = std::string("Korvane ") + info->name();
    std::error_code ec;
    fs::remove_all(GroupFolder(), ec);
    DeleteUninstallKey();
  }
  void TearDown() override {
    SetupTest::TearDown();
    if (group_.empty()) return;
    std::error_code ec;
    fs::remove_all(GroupFolder(), ec);
    DeleteUninstallKey();
  }

  // The group of this test, unique so that tests do not see each other's links.
  const std::string& Group() const { return group_; }
  fs::path GroupFolder() const { return ProgramsFolder() / group_; }
  fs::path Link(const std::string& name) const { return GroupFolder() / (name + ".lnk"); }

  // A package installing prog.exe and readme.txt, with the test's group.
  PackageBuilder NewShellPackage() const {
    PackageBuilder package = NewPackage();
    package.settings.iconGroup = group_;
    package.AddFile("prog.exe", "program");
    package.AddFile("readme.txt", "read me");
    return package;
  }

  void InstallSilently(const PackageBuilder& package) {
    WritePackage(package);
    EXPECT_EQ(RunSetup(SilentArgs()), 0);
  }

  std::vector<std::string> LinkNames() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(GroupFolder(), ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

private:
  std::string group_;
};

TEST_F(Shortcuts, OneLinkPerIconEntryInTheGroupFolder) {
  PackageBuilder package = NewShellPackage();
  package.AddIcon("Korvane Backup", "-x", "prog.exe");
  package.AddIcon("Read Me", std::nullopt, "readme.txt");
  InstallSilently(package);
  EXPECT_EQ(LinkNames(), (std::vector<std::string>{"Korvane Backup.lnk", "Read Me.lnk"}));
}

TEST_F(Shortcuts, LinkStartsTheTargetInTheInstallDirectoryWithItsArguments) {
  PackageBuilder package = NewShellPackage();
  package.AddIcon("Korvane Backup", "-x /quiet", "prog.exe");
  InstallSilently(package);
  auto link = ReadShellLink(Link("Korvane Backup"));
  ASSERT_TRUE(link) << "cannot read " << Link("Korvane Backup");
  EXPECT_EQ(link->path, InstallDir() + "\\prog.exe");
  EXPECT_EQ(link->workingDirectory, InstallDir());
  EXPECT_EQ(link->arguments, "-x /quiet");
  EXPECT_TRUE(link->linkFlags & kLinkHasArguments);
  EXPECT_TRUE(link->linkFlags & kLinkHasWorkingDir);
  EXPECT_FALSE(link->linkFlags & kLinkHasName) << "no description is set";
}

TEST_F(Shortcuts, LinkWithoutArgumentsHasNone) {
  PackageBuilder package = NewShellPackage();
  package.AddIcon("Read Me", std::nullopt, "readme.txt");
  InstallSilently(package);
  auto link = ReadShellLink(Link("Read Me"));
  ASSERT_TRUE(link);
  EXPECT_EQ(link->path, InstallDir() + "\\readme.txt");
  EXPECT_EQ(link->workingDirectory, InstallDir());
  EXPECT_EQ(link->arguments, "");
  EXPECT_FALSE(link->linkFlags & kLinkHasArguments);
}

TEST_F(Shortcuts, LinkNameThatCannotBeAFileStopsTheLoop) {
  PackageBuilder package = NewShellPackage();
  package.AddIcon("First", std::nullopt, "prog.exe");
  package.AddIcon("a|b", std::nullopt, "prog.exe");
  package.AddIcon("After", std::nullopt, "prog.exe");
  InstallSilently(package);
  EXPECT_EQ(LinkNames(), std::vector<std::string>{"First.lnk"});
}

TEST_F(Shortcuts, UninstallEntryBeforeAFailingLinkIsRegistered) {
  PackageBuilder package = NewShellPackage();
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  package.AddIcon("a|b", std::nullopt, "prog.exe");
  package.AddUninstall("Never Registered", "never.exe");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values) << "no uninstall key";
  EXPECT_EQ((*values)["DisplayName"], "Korvane Online Backup");
  EXPECT_EQ((*values)["UninstallString"], InstallDir() + "\\uninst.exe");
}

TEST_F(Shortcuts, UninstallEntryAfterAFailingLinkIsNotRegistered) {
  PackageBuilder package = NewShellPackage();
  package.AddIcon("First", std::nullopt, "prog.exe");
  package.AddIcon("a|b", std::nullopt, "prog.exe");
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  InstallSilently(package);
  EXPECT_EQ(LinkNames(), std::vector<std::string>{"First.lnk"});
  EXPECT_FALSE(UninstallValues());
}

TEST_F(Shortcuts, GroupFolderThatCannotBeCreatedStopsAtTheFirstLink) {
  // A file where the group folder should be.
  fs::create_directories(ProgramsFolder());
  WriteText(GroupFolder(), "not a folder");
  PackageBuilder package = NewShellPackage();
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  InstallSilently(package);
  EXPECT_EQ(ReadText(GroupFolder()), "not a folder");
  EXPECT_FALSE(UninstallValues());
  EXPECT_EQ(ReadText(Installed("prog.exe")), "program");
}

TEST_F(Shortcuts, NoIconEntriesCreateNoGroup) {
  PackageBuilder package = NewShellPackage();
  InstallSilently(package);
  EXPECT_FALSE(fs::exists(GroupFolder()));
  EXPECT_FALSE(UninstallValues());
}

class UninstallRegistration : public Shortcuts {};

TEST_F(UninstallRegistration, WritesDisplayNameUninstallStringAndGroup) {
  PackageBuilder package = NewShellPackage();
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values) << "no uninstall key";
  EXPECT_EQ(*values, (std::map<std::string, std::string>{
                         {"DisplayName", "Korvane Online Backup"},
                         {"UninstallString", InstallDir() + "\\uninst.exe"},
                         {"StartMenuGroup", Group()},
                     }));
}

TEST_F(UninstallRegistration, UninstallStringIsNotQuoted) {
  PackageBuilder package = NewShellPackage();
  package.AddUninstall("Korvane", "bin\\remove it.exe /u");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values);
  EXPECT_EQ((*values)["UninstallString"], InstallDir() + "\\bin\\remove it.exe /u");
}

TEST_F(UninstallRegistration, StarAloneGivesAnEmptyDisplayName) {
  PackageBuilder package = NewShellPackage();
  package.AddIcon("*", "uninst.exe");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values);
  ASSERT_TRUE(values->count("DisplayName"));
  EXPECT_EQ((*values)["DisplayName"], "");
}

TEST_F(UninstallRegistration, LaterEntryOverwritesTheValues) {
  PackageBuilder package = NewShellPackage();
  package.AddUninstall("First Name", "first.exe");
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  package.AddUninstall("Second Name", "second.exe");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values);
  EXPECT_EQ((*values)["DisplayName"], "Second Name");
  EXPECT_EQ((*values)["UninstallString"], InstallDir() + "\\second.exe");
  EXPECT_EQ(LinkNames(), std::vector<std::string>{"Korvane Backup.lnk"});
}

TEST_F(UninstallRegistration, OtherValuesOfTheKeyAreLeftAlone) {
  ASSERT_TRUE(AddRegistryString(kUninstallKey, "Publisher", "Korvane Corporation"));
  PackageBuilder package = NewShellPackage();
  package.AddUninstall("Korvane", "uninst.exe");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values);
  EXPECT_EQ((*values)["Publisher"], "Korvane Corporation");
  EXPECT_EQ((*values)["DisplayName"], "Korvane");
}

// Without an uninstall program there is nothing to start: an UninstallString
// left from an earlier installation is removed.
TEST_F(UninstallRegistration, EntryWithoutProgramRemovesTheUninstallString) {
  ASSERT_TRUE(AddRegistryString(kUninstallKey, "UninstallString", "C:\\old\\uninst.exe"));
  PackageBuilder package = NewShellPackage();
  package.AddIcon("*Korvane");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values);
  EXPECT_EQ(*values, (std::map<std::string, std::string>{{"DisplayName", "Korvane"},
                                                         {"StartMenuGroup", Group()}}));
}

// Without a group name there is no Start menu folder to name: a
// StartMenuGroup left from an earlier installation is removed.
TEST_F(UninstallRegistration, PackageWithoutGroupRemovesStartMenuGroup) {
  ASSERT_TRUE(AddRegistryString(kUninstallKey, "StartMenuGroup", "Old Group"));
  PackageBuilder package = NewShellPackage();
  package.settings.iconGroup.reset();
  package.AddUninstall("Korvane", "uninst.exe");
  InstallSilently(package);
  auto values = UninstallValues();
  ASSERT_TRUE(values);
  EXPECT_EQ(*values, (std::map<std::string, std::string>{{"DisplayName", "Korvane"},
                                                         {"UninstallString", InstallDir() + "\\uninst.exe"}}));
}

}  // namespace
}  // namespace winetest
