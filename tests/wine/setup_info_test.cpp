// Info mode (/I): the "Setup Info" dialog lists the settings strings and one
// line per member, "name TAB date time TAB size TAB flag words"; nothing is
// installed or created, and the exit code is always 1.
//
// Dates and times come from the user's locale and time zone. The prefix runs
// Wine's default locale, en-US (short date "M/d/yyyy", time "h:mm:ss tt"),
// and setup.exe is started with TZ=UTC, from which Wine takes its time zone,
// so the expected texts are the UTC fields of the stored FILETIMEs.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "setuppack/host/file_io.hpp"
#include "shell_support.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

// 27 September 1999, 06:31:34 UTC, stored as 00 27 49 F1 B1 08 BF 01.
constexpr std::uint64_t kSeptember1999 = 0x01BF08B1F1492700ull;
const std::string kSeptember1999Text = "9/27/1999 6:31:34 AM";
// 2 January 2000, 03:04:05 UTC (Unix time 946782245), and twelve hours later.
constexpr std::uint64_t kMorning = kFileTimeUnixEpoch + 946782245ull * 10000000;
const std::string kMorningText = "1/2/2000 3:04:05 AM";
constexpr std::uint64_t kAfternoon = kMorning + 12ull * 3600 * 10000000;
const std::string kAfternoonText = "1/2/2000 3:04:05 PM";

// The line of a record that no reader reached.
const std::string kUnreachedLine = "\t\t0\t";

std::string Line(const std::string& name, const std::string& date, const std::string& size,
                 const std::string& flags = "") {
  return name + "\t" + date + "\t" + size + "\t" + flags;
}

class SetupInfo : public SetupTest {
protected:
  // Starts the package, damaged by `damage` when given, with /I (and TZ=UTC),
  // answers the error box `error` when given, and returns the Setup Info
  // dialog as the robot sees it.
  std::optional<WindowInfo> OpenSetupInfo(const PackageBuilder& package, const std::string& error = {},
                                          void (*damage)(DamagedProgram&) = nullptr) {
    if (damage != nullptr) {
      WriteDamagedPackage(package, damage);
    } else {
      WritePackage(package);
    }
    {
      ScopedEnvironment utc("TZ", "UTC");
      setup_ = StartSetup({"/I"});
    }
    if (!error.empty()) {
      auto box = ExpectMessageBox(setup_, ArchiveErrorBoxText(error));
      if (box) {
        EXPECT_FALSE(box->HasOwner());
      }
    }
    auto dialog = Bot().WaitWindow("#32770", "Setup Info", kBoxTimeout, &setup_);
    EXPECT_TRUE(dialog) << "no Setup Info dialog: " << Bot().LastError();
    if (dialog) {
      EXPECT_EQ(dialog->exe, kPackageName);
    }
    return dialog;
  }

  // The lines of list box 1018.
  std::vector<std::string> ListLines(const WindowInfo& dialog) {
    auto lines = Bot().List(dialog.hwnd, IDC_INFO_FILES);
    EXPECT_TRUE(lines) << "list box 1018 not read: " << Bot().LastError();
    return lines ? *lines : std::vector<std::string>{};
  }

  // Presses Cancel and expects the exit code 1, with nothing installed.
  void CancelAndExpectNothingInstalled(const WindowInfo& dialog) {
    Bot().Press(dialog.hwnd, kIdCancel);
    EXPECT_EQ(setup_.Wait(kBoxTimeout), 1);
    EXPECT_FALSE(fs::exists(DirFile("Default"))) << "the install directory was created";
  }

  static std::string Field(const WindowInfo& dialog, int id) {
    const ControlInfo* control = dialog.Control(id);
    EXPECT_TRUE(control) << "no control " << id;
    return control ? control->text : std::string("<missing>");
  }

  Process setup_;
};

TEST_F(SetupInfo, ShowsEverySettingInItsField) {
  PackageBuilder package = NewPackage();
  package.settings.helpFile = "Korvane.hlp";
  package.settings.readmeFile = "ReadMe.txt";
  package.settings.iniFile = "Account.ini";
  package.settings.launcherClasses = "KorvaneLauncher,KorvaneTray";
  package.settings.iconGroup = "Korvane Online Backup";
  package.settings.configName = "Standard";
  package.settings.launcherFile = "Launcher.exe";
  package.settings.trayFile = "Tray.exe";
  package.settings.reservedString1 = "reserved one";
  auto dialog = OpenSetupInfo(package);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(Field(*dialog, IDC_INFO_RUN_COMMAND), kRunCommand);
  EXPECT_EQ(Field(*dialog, IDC_INFO_HELP_FILE), "Korvane.hlp");
  EXPECT_EQ(Field(*dialog, IDC_INFO_README_FILE), "ReadMe.txt");
  EXPECT_EQ(Field(*dialog, IDC_INFO_INI_FILE), "Account.ini");
  EXPECT_EQ(Field(*dialog, IDC_INFO_LAUNCHER_CLASSES), "KorvaneLauncher,KorvaneTray");
  EXPECT_EQ(Field(*dialog, IDC_INFO_LAUNCHER_FILE), "Launcher.exe");
  EXPECT_EQ(Field(*dialog, IDC_INFO_TRAY_FILE), "Tray.exe");
  EXPECT_EQ(Field(*dialog, IDC_INFO_DEFAULT_PATH), WinFile("Default"));
  EXPECT_EQ(Field(*dialog, IDC_INFO_ICON_GROUP), "Korvane Online Backup");
  EXPECT_EQ(Field(*dialog, IDC_INFO_CONFIG_NAME), "Standard");
  EXPECT_EQ(ListLines(*dialog), std::vector<std::string>{});
  CancelAndExpectNothingInstalled(*dialog);
}

TEST_F(SetupInfo, AbsentSettingsLeaveTheirFieldsEmptyAndTheCloseBoxEnds) {
  auto dialog = OpenSetupInfo(NewPackage());
  ASSERT_TRUE(dialog);
  EXPECT_EQ(Field(*dialog, IDC_INFO_RUN_COMMAND), kRunCommand);
  EXPECT_EQ(Field(*dialog, IDC_INFO_DEFAULT_PATH), WinFile("Default"));
  for (int id : {IDC_INFO_HELP_FILE, IDC_INFO_README_FILE, IDC_INFO_INI_FILE, IDC_INFO_LAUNCHER_CLASSES, IDC_INFO_LAUNCHER_FILE,
                 IDC_INFO_TRAY_FILE, IDC_INFO_ICON_GROUP, IDC_INFO_CONFIG_NAME}) {
    EXPECT_EQ(Field(*dialog, id), "") << "control " << id;
  }
  Bot().Close(dialog->hwnd);
  EXPECT_EQ(setup_.Wait(kBoxTimeout), 1);
  EXPECT_FALSE(fs::exists(DirFile("Default")));
}

TEST_F(SetupInfo, ListsMainMembersWithDateSizeAndFlagWords) {
  const std::string systemName = SystemFileName(".dll");
  PackageBuilder package = NewPackage();
  auto& program = package.AddFile("Korvane.exe", std::vector<std::uint8_t>(64, 0x11), kMemberCmp);
  program.originalSize = 1347584;
  program.lastWriteTime = kSeptember1999;
  package.AddFile("readme.txt", "no time");
  package.AddSystemFile(systemName, BytesOf("system"), {0x00020000, 0}).lastWriteTime = kAfternoon;
  package.AddFile("Agent.exe", std::vector<std::uint8_t>(40, 0x22), kMemberCmp | kMemberExt).originalSize = 99;
  auto& all = package.AddSystemFile("all.dll", BytesOf("all flags"), {0x00010000, 0});
  all.flags = kMemberCmp | kMemberSys | kMemberDlr | kMemberExt;
  all.lastWriteTime = kMorning;
  package.AddFile("docs\\huge.bin", "x").originalSize = 0xFFFFFFFFu;
  auto dialog = OpenSetupInfo(package);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(ListLines(*dialog), (std::vector<std::string>{
                                    Line("Korvane.exe", kSeptember1999Text, "1347584", "CMP "),
                                    Line("readme.txt", "", "7"),
                                    Line(systemName, kAfternoonText, "6", "SYS "),
                                    Line("Agent.exe", "", "99", "CMP EXT "),
                                    Line("all.dll", kMorningText, "9", "CMP SYS DLR EXT "),
                                    Line("docs\\huge.bin", "", "-1"),
                                }));
  CancelAndExpectNothingInstalled(*dialog);
  EXPECT_FALSE(fs::exists(SystemFile(systemName)));
}

TEST_F(SetupInfo, QzTrailingMembersAreListedWithLengthAndDate) {
  PackageBuilder package = NewPackage();
  package.header.flags = 0;
  package.settings.configName = "Standard";
  package.AddFile("main.txt", "main").lastWriteTime = kMorning;
  package.trailing.emplace();
  package.trailing->typeTag = "QZ";
  package.trailing->configName = "Office";
  package.AddTrailingFile("Account.ini", BytesOf("account data"), kAfternoon);
  package.AddTrailingFile("CONFIG.DAT", BytesOf("config"));
  auto dialog = OpenSetupInfo(package);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(Field(*dialog, IDC_INFO_CONFIG_NAME), "Office");
  EXPECT_EQ(ListLines(*dialog), (std::vector<std::string>{
                                    Line("main.txt", kMorningText, "4"),
                                    Line("Account.ini", kAfternoonText, "12"),
                                    Line("CONFIG.DAT", "", "6"),
                                }));
  CancelAndExpectNothingInstalled(*dialog);
}

struct UntimedBlock {
  const char* type;
  std::optional<std::string> blockConfigName;
  const char* shownConfigName;
};

class SetupInfoUntimed : public SetupInfo, public ::testing::WithParamInterface<UntimedBlock> {};

TEST_P(SetupInfoUntimed, TrailingMembersAreListedWithoutDate) {
  PackageBuilder package = NewPackage();
  package.header.flags = 0;
  package.settings.configName = "Standard";
  package.trailing.emplace();
  package.trailing->typeTag = GetParam().type;
  package.trailing->configName = GetParam().blockConfigName;
  package.AddTrailingFile("Account.ini", BytesOf("account data"), kMorning);
  package.AddTrailingFile("sub\\CONFIG.DAT", BytesOf("config"));
  auto dialog = OpenSetupInfo(package);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(Field(*dialog, IDC_INFO_CONFIG_NAME), GetParam().shownConfigName);
  EXPECT_EQ(ListLines(*dialog), (std::vector<std::string>{
                                    Line("Account.ini", "", "12"),
                                    Line("sub\\CONFIG.DAT", "", "6"),
                                }));
  CancelAndExpectNothingInstalled(*dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Types, SetupInfoUntimed,
    ::testing::Values(UntimedBlock{"CT", std::string("Office"), "Office"},
                      // A "CT" block without a name leaves no configuration name.
                      UntimedBlock{"CT", std::nullopt, ""},
                      // "DS" carries no name: the settings string stays.
                      UntimedBlock{"DS", std::nullopt, "Standard"}),
    [](const ::testing::TestParamInfo<UntimedBlock>& info) {
      return std::string(info.param.type) + (info.param.blockConfigName ? "WithName" : "WithoutName");
    });

TEST_F(SetupInfo, MainTableErrorShowsTheBoxThenTheRecordsReadSoFar) {
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first").lastWriteTime = kMorning;
  package.AddFile("bad.txt", "bad", kMemberCmp);
  package.AddFile("third.txt", "third", kMemberSys);
  auto dialog = OpenSetupInfo(package, "File Header invalid", [](DamagedProgram& d) { d.SetEntryTag(1, 'G'); });
  ASSERT_TRUE(dialog);
  EXPECT_EQ(ListLines(*dialog), (std::vector<std::string>{
                                    Line("first.txt", kMorningText, "5"),
                                    kUnreachedLine,
                                    kUnreachedLine,
                                }));
  CancelAndExpectNothingInstalled(*dialog);
}

TEST_F(SetupInfo, TrailingErrorShowsTheBoxThenTheRecordsReadSoFar) {
  PackageBuilder package = NewPackage();
  package.header.flags = 0;
  package.AddFile("main.txt", "main");
  package.trailing.emplace();
  package.trailing->typeTag = "QZ";
  package.AddTrailingFile("first.txt", BytesOf("first"), kMorning);
  package.AddTrailingFile("bad.txt", BytesOf("bad"), kMorning);
  package.AddTrailingFile("after.txt", BytesOf("after"), kMorning);
  auto dialog = OpenSetupInfo(package, "File Header invalid",
                              [](DamagedProgram& d) { d.SetTrailingEntryFlags(1, kMemberCmp); });
  ASSERT_TRUE(dialog);
  EXPECT_EQ(ListLines(*dialog), (std::vector<std::string>{
                                    Line("main.txt", "", "4"),
                                    Line("first.txt", kMorningText, "5"),
                                    kUnreachedLine,
                                    kUnreachedLine,
                                }));
  CancelAndExpectNothingInstalled(*dialog);
}

// The account information rule is an install rule: in info mode an existing
// account file gets no message.
TEST_F(SetupInfo, ExistingAccountFileGetsNoMessage) {
  PackageBuilder package = NewPackage();
  package.header.flags = 0;
  package.settings.iniFile = "Account.ini";
  package.trailing.emplace();
  package.trailing->typeTag = "DS";
  package.AddTrailingFile("Account.ini", BytesOf("new account"));
  WriteText(DirFile("Default/Account.ini"), "old account");
  auto dialog = OpenSetupInfo(package);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(ListLines(*dialog), std::vector<std::string>{Line("Account.ini", "", "11")});
  Bot().Press(dialog->hwnd, kIdCancel);
  EXPECT_EQ(setup_.Wait(kBoxTimeout), 1);
  EXPECT_EQ(ReadText(DirFile("Default/Account.ini")), "old account");
}

}  // namespace
}  // namespace winetest
