// The Program Manager path of the program group: taken when CoInitialize does
// not answer S_OK. The tests take the program's real code path: a stand-in
// ole32.dll (tests/helpers/shell/ole32_stub.cpp) lies beside the package and
// is loaded instead of Wine's (WINEDLLOVERRIDES "ole32=n"); its CoInitialize
// answers what KORVANE_TEST_COINITIALIZE says. A stand-in Program Manager
// (tests/helpers/shell/progman_standin.cpp) records every DDE command it is
// sent, one per line.
//
// Wine's own progman.exe opens no window of class "PROGMAN" (Wine 8):
// setup.exe would start it with WinExec("PROGMAN"), find no window and leave
// it running. The tests disable it ("progman.exe=d"), so that
// WinExec fails and nothing is left behind; the stand-in has another file name
// and is not affected. In a fresh Wine 8 prefix no other window of class
// "Progman" exists; the stand-in checks that FindWindowA finds its own window
// before the test goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "resources/resource.h"
#include "shell_support.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;


const std::string kGroup = "Group Name";
// GetWindowsDirectoryA in the prefix.
const std::string kWindowsDirectory = "C:\\windows";

class ProgramManager : public SetupTest {
protected:
  void SetUp() override {
    SetupTest::SetUp();
    if (IsSkipped()) return;
    fs::copy_file(HelperFile("ole32_stub.dll"), DirFile("ole32.dll"));
    overrides_.emplace("WINEDLLOVERRIDES", DllOverridesWith("ole32=n;progman.exe=d"));
    SetCoInitializeAnswer("E_FAIL");
    ready_ = true;
  }
  void TearDown() override {
    if (standIn_.Started() && standIn_.Running()) standIn_.Kill();
    coInitialize_.reset();
    overrides_.reset();
    SetupTest::TearDown();
    if (ready_) {
      std::error_code ec;
      fs::remove_all(ProgramsFolder() / kGroup, ec);
      DeleteUninstallKey();
    }
  }

  void SetCoInitializeAnswer(const std::string& answer) {
    coInitialize_.reset();
    coInitialize_.emplace("KORVANE_TEST_COINITIALIZE", answer);
  }

  // Starts the stand-in with `options` and waits until its window is the one
  // that FindWindowA("PROGMAN") finds.
  bool StartStandIn(const std::vector<std::string>& options = {}) {
    std::vector<std::string> arguments{WinFile("dde.log")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    standIn_ = StartWine(HelperFile("progman_standin.exe").string(), arguments);
    const fs::path ready = DirFile("dde.log.ready");
    WaitUntil([&] { return !standIn_.Running() || (fs::exists(ready) && !ReadText(ready).empty()); },
              Milliseconds(10000));
    const std::string state = fs::exists(ready) ? ReadText(ready) : std::string("no answer");
    EXPECT_EQ(state, "ready\n") << "the stand-in Program Manager is not the window found first";
    return state == "ready\n";
  }

  // The commands the stand-in received, in order.
  std::vector<std::string> Commands() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadText(DirFile("dde.log")));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

  std::string Item(const std::string& target, const std::string& name) const {
    return "[additem(" + InstallDir() + "\\" + target + "," + name + ")]";
  }
  std::string Item(const std::string& target, const std::string& arguments, const std::string& name) const {
    return "[additem(" + InstallDir() + "\\" + target + " " + arguments + "," + name + ")]";
  }
  std::vector<std::string> GroupCommands() const {
    return {"[deletegroup(" + kGroup + ")]",
            "[creategroup(" + kGroup + "," + kWindowsDirectory + "\\Group Na.GRP)]"};
  }

  PackageBuilder NewProgmanPackage() const {
    PackageBuilder package = NewPackage();
    package.settings.iconGroup = kGroup;
    package.AddFile("prog.exe", "program");
    return package;
  }

  // Installs silently; the stand-in has ended by itself afterwards when it
  // was sent "[exitprogman(1)]". Every answer of the stand-in comes at once,
  // so the whole run takes a few seconds: a run near the program's 20-second
  // limit for one answer means an answer that had arrived was not taken.
  void InstallSilently(const PackageBuilder& package) {
    WritePackage(package);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunSetup(SilentArgs()), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // On a slow machine the bound grows, but stays below that limit.
    EXPECT_LT(elapsed, std::min(Scaled(Milliseconds(12000)), Milliseconds(19000)))
        << "an answer was not taken when it came; commands and their arrival ticks:\n"
        << ReadText(DirFile("dde.log.times")) << "setup.exe ended at tick " << TickNow();
    EXPECT_EQ(ReadText(Installed("prog.exe")), "program");
  }

  // GetTickCount of the prefix, through the stand-in's clock: the Linux
  // monotonic clock in milliseconds, as Wine counts it.
  static unsigned long TickNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
  }

  Process standIn_;

private:
  std::optional<ScopedEnvironment> overrides_;
  std::optional<ScopedEnvironment> coInitialize_;
  bool ready_ = false;
};

TEST_F(ProgramManager, GroupAndItemCommandsAreSentInOrder) {
  ASSERT_TRUE(StartStandIn());
  PackageBuilder package = NewProgmanPackage();
  package.AddIcon("Korvane Backup", "-x", "prog.exe");
  package.AddIcon("Read Me", std::nullopt, "readme.txt");
  InstallSilently(package);
  std::vector<std::string> expected = GroupCommands();
  expected.push_back(Item("prog.exe", "-x", "Korvane Backup"));
  expected.push_back(Item("readme.txt", "Read Me"));
  expected.push_back("[exitprogman(1)]");
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(standIn_.Wait(Milliseconds(5000)), 0) << "the stand-in did not end after [exitprogman(1)]";
  EXPECT_FALSE(fs::exists(ProgramsFolder() / kGroup)) << "no shell links on this path";
}

TEST_F(ProgramManager, UninstallEntryIsRegisteredAtItsPlace) {
  ASSERT_TRUE(StartStandIn());
  PackageBuilder package = NewProgmanPackage();
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  InstallSilently(package);
  std::vector<std::string> expected = GroupCommands();
  expected.push_back(Item("prog.exe", "Korvane Backup"));
  expected.push_back("[exitprogman(1)]");
  EXPECT_EQ(Commands(), expected);
  auto values = UninstallValues();
  ASSERT_TRUE(values) << "no uninstall key";
  EXPECT_EQ(*values, (std::map<std::string, std::string>{
                         {"DisplayName", "Korvane Online Backup"},
                         {"UninstallString", InstallDir() + "\\uninst.exe"},
                         {"StartMenuGroup", kGroup},
                     }));
}

TEST_F(ProgramManager, RefusedItemStopsTheLoopButProgmanIsStillDismissed) {
  ASSERT_TRUE(StartStandIn({"refuse=,Refused"}));
  PackageBuilder package = NewProgmanPackage();
  package.AddUninstall("Before", "before.exe");
  package.AddIcon("First", std::nullopt, "prog.exe");
  package.AddIcon("Refused Item", std::nullopt, "prog.exe");
  package.AddIcon("Later", std::nullopt, "prog.exe");
  package.AddUninstall("After", "after.exe");
  InstallSilently(package);
  std::vector<std::string> expected = GroupCommands();
  expected.push_back(Item("prog.exe", "First"));
  expected.push_back(Item("prog.exe", "Refused Item"));
  expected.push_back("[exitprogman(1)]");
  EXPECT_EQ(Commands(), expected);
  auto values = UninstallValues();
  ASSERT_TRUE(values) << "the entry before the refused item was not registered";
  EXPECT_EQ((*values)["DisplayName"], "Before") << "the entry after the refused item was registered";
  EXPECT_EQ((*values)["UninstallString"], InstallDir() + "\\before.exe");
}

TEST_F(ProgramManager, RefusedGroupCommandsAreIgnored) {
  ASSERT_TRUE(StartStandIn({"refuse=group("}));
  PackageBuilder package = NewProgmanPackage();
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  InstallSilently(package);
  std::vector<std::string> expected = GroupCommands();
  expected.push_back(Item("prog.exe", "Korvane Backup"));
  expected.push_back("[exitprogman(1)]");
  EXPECT_EQ(Commands(), expected);
}

TEST_F(ProgramManager, CoInitializeAnsweringSFalseAlsoSelectsProgman) {
  SetCoInitializeAnswer("S_FALSE");
  ASSERT_TRUE(StartStandIn());
  PackageBuilder package = NewProgmanPackage();
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  InstallSilently(package);
  std::vector<std::string> expected = GroupCommands();
  expected.push_back(Item("prog.exe", "Korvane Backup"));
  expected.push_back("[exitprogman(1)]");
  EXPECT_EQ(Commands(), expected);
  EXPECT_FALSE(fs::exists(ProgramsFolder() / kGroup));
}

TEST_F(ProgramManager, WithoutProgmanNothingIsCreatedOrRegistered) {
  // No stand-in, and WinExec("PROGMAN") fails (progman.exe=d).
  PackageBuilder package = NewProgmanPackage();
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  InstallSilently(package);
  EXPECT_FALSE(UninstallValues());
  EXPECT_FALSE(fs::exists(ProgramsFolder() / kGroup));
}

TEST_F(ProgramManager, ProgmanThatDoesNotAnswerTheInitiationGetsNoCommands) {
  ASSERT_TRUE(StartStandIn({"mute"}));
  PackageBuilder package = NewProgmanPackage();
  package.AddUninstall("Korvane Online Backup", "uninst.exe");
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  InstallSilently(package);
  EXPECT_EQ(Commands(), std::vector<std::string>{});
  EXPECT_FALSE(UninstallValues());
  EXPECT_TRUE(standIn_.Running());
}

TEST_F(ProgramManager, ProgressDialogShowsTheIconPhaseWhileProgmanWorks) {
  ASSERT_TRUE(StartStandIn({"delay=800"}));
  PackageBuilder package = NewProgmanPackage();
  package.AddIcon("Korvane Backup", std::nullopt, "prog.exe");
  WritePackage(package);
  Process setup = StartSetup(SilentArgs());
  auto dialog = Bot().WaitWindow("#32770", kDialogCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(dialog) << Bot().LastError();
  // The label changes once extraction is done, and the other three controls
  // are hidden right after it; the stand-in holds back each answer for 0.8 s,
  // long enough to see the whole icon phase.
  auto inIconPhase = [](const WindowInfo& window) {
    const ControlInfo* label = window.Control(IDC_INSTALLING_LABEL);
    if (!label || label->text != "Creating Program Icons...") return false;
    for (int id : {IDC_PROGRESS_LABEL, IDC_PROGRESS_BAR, IDC_STATUS_TEXT}) {
      if (!window.Control(id) || window.Control(id)->visible) return false;
    }
    return true;
  };
  std::optional<WindowInfo> seen;
  WaitUntil(
      [&] {
        seen = Bot().Dump(dialog->hwnd);
        return !setup.Running() || (seen && inIconPhase(*seen));
      },
      Milliseconds(10000));
  ASSERT_TRUE(seen && seen->Control(IDC_INSTALLING_LABEL));
  EXPECT_EQ(seen->Control(IDC_INSTALLING_LABEL)->text, "Creating Program Icons...");
  EXPECT_TRUE(seen->Control(IDC_INSTALLING_LABEL)->visible);
  for (int id : {IDC_PROGRESS_LABEL, IDC_PROGRESS_BAR, IDC_STATUS_TEXT}) {
    ASSERT_TRUE(seen->Control(id)) << id;
    EXPECT_FALSE(seen->Control(id)->visible) << "control " << id << " is still shown";
  }
  EXPECT_EQ(setup.Wait(kRunTimeout), 0);
}

}  // namespace
}  // namespace winetest
