// The agent channel, the running check, the shutdown of the launcher and the
// tray program and the launcher's restart, against a stand-in of the agent
// programs (tests/helpers/agent_standin.cpp) that logs every command it is
// handed with its ring index, and every WM_COMMAND its windows receive.
// The paths that setup.exe never takes itself (argument words, the waits of
// the channel) run through agent_caller.exe, the same channel code driven
// from the command line.
//
// Every test has its own two-character channel prefix, so that no stand-in
// of another test can answer.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "setuppack/host/file_io.hpp"
#include "shell_support.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const std::string kAlreadyRunning =
    "The application you are installing is already running. If you wish to continue installing, close the "
    "application, and try installing again.";
const std::string kLauncherFile = "Launcher.exe";

// A log line of the stand-in for a command without arguments from the setup
// program (sender slot 6).
std::string Cmd(int slot, int command, int index) {
  char line[96];
  std::snprintf(line, sizeof line, "slot %d command %d index %d word 0x%08X", slot, command, index,
                0x06000000u | static_cast<unsigned>(command) << 8);
  return line;
}

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// What agent_caller printed: its first line without the elapsed time, the
// elapsed time, and its second line.
struct CallResult {
  std::string answer;
  long milliseconds = -1;
  std::string block;
};

class AgentChannel : public SetupTest {
protected:
  void SetUp() override {
    SetupTest::SetUp();
    if (IsSkipped()) return;
    prefix_ = NewPrefix();
  }
  void TearDown() override {
    for (Process& agent : agents_) {
      if (agent.Started() && agent.Running()) agent.Kill();
    }
    SetupTest::TearDown();
  }

  static std::string NewPrefix() {
    static int counter = 0;
    const int n = counter++ % 100;
    return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
  }

  // Starts a stand-in for `prefix` that logs into `log` (in the test's
  // directory) and waits until its objects exist.
  bool StartAgent(const Lines& options, const std::string& prefix, const std::string& log = "agent.log") {
    Lines arguments{prefix, WinFile(log)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    agents_.push_back(StartWine(HelperFile("agent_standin.exe").string(), arguments));
    Process& agent = agents_.back();
    const fs::path ready = DirFile(log + ".ready");
    if (WaitUntil([&] { return !agent.Running() || (fs::exists(ready) && ReadText(ready) == "ready\n"); },
                  Milliseconds(10000)) &&
        agent.Running())
      return true;
    ADD_FAILURE() << "the stand-in agent did not get ready";
    return false;
  }
  bool StartAgent(const Lines& options) { return StartAgent(options, prefix_); }

  Lines AgentLog(const std::string& log = "agent.log") const {
    return fs::exists(DirFile(log)) ? SplitLines(ReadText(DirFile(log))) : Lines{};
  }

  // A class name of this test only.
  std::string WindowClass(const std::string& name) const { return "Kvt" + name + prefix_; }

  // A package on this test's channel prefix that installs a.txt and the
  // launcher (the start marker).
  PackageBuilder AgentPackage() const {
    PackageBuilder package = NewPackage();
    package.header.ipcPrefix[0] = prefix_[0];
    package.header.ipcPrefix[1] = prefix_[1];
    package.settings.launcherFile = kLauncherFile;
    package.AddFile("a.txt", "installed");
    package.AddFile(kLauncherFile, ReadWholeFile(HelperFile("start_marker.exe")));
    return package;
  }

  // The lines the start marker wrote in the install directory.
  Lines Started() const {
    const fs::path marker = Installed("STARTED.TXT");
    return fs::exists(marker) ? SplitLines(ReadText(marker)) : Lines{};
  }
  // The start marker's line for the launcher started from the install
  // directory with `parameters`.
  std::string LauncherStart(const std::string& parameters) const {
    return InstallDir() + "\\" + kLauncherFile + "|" + parameters + "|" + InstallDir();
  }
  // Waits a little for a program that setup.exe started to write its line.
  Lines StartedAfterWait() const {
    WaitUntil([&] { return !Started().empty(); }, Milliseconds(3000));
    return Started();
  }

  Process StartCaller(const std::string& prefix, const Lines& arguments) {
    Lines all{prefix};
    all.insert(all.end(), arguments.begin(), arguments.end());
    Process::Options options;
    options.pipeStdout = true;
    Lines argv{"wine", HelperFile("agent_caller.exe").string()};
    argv.insert(argv.end(), all.begin(), all.end());
    return Process(argv, options);
  }
  CallResult ReadCall(Process& caller) {
    CallResult result;
    auto first = caller.ReadLine(Milliseconds(30000));
    auto second = caller.ReadLine(Milliseconds(30000));
    EXPECT_EQ(caller.Wait(Milliseconds(30000)), 0);
    if (!first || !second) {
      ADD_FAILURE() << "agent_caller gave no answer";
      return result;
    }
    const std::size_t ms = first->rfind(" ms ");
    result.answer = first->substr(0, ms);
    if (ms != std::string::npos) result.milliseconds = std::stol(first->substr(ms + 4));
    result.block = *second;
    return result;
  }
  CallResult Call(const std::string& prefix, const Lines& arguments) {
    Process caller = StartCaller(prefix, arguments);
    return ReadCall(caller);
  }

  std::string prefix_;

private:
  std::vector<Process> agents_;
};

TEST_F(AgentChannel, RunningEngineRefusesWithString18AndIsToldAfterTheBox) {
  ASSERT_TRUE(StartAgent({"--slot", "0", "set", "--slot", "1", "set", "--slot", "2", "set"}));
  PackageBuilder package = AgentPackage();
  package.settings.launcherClasses = WindowClass("Launcher");
  WritePackage(package);
  // /RS: the refusal skips the clean-up, so nothing is removed.
  std::error_code ec;
  fs::remove(UnixPath("C:\\DEL_SETUP32.BAT"), ec);
  Process setup = StartSetup({"/S", "/RS", "/D", InstallDir()});
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->StaticTexts(), Lines{kAlreadyRunning});
  EXPECT_FALSE(box->HasOwner());
  EXPECT_EQ(AgentLog(), Lines{Cmd(0, 0, 0)}) << "the refusal notice goes after the box";
  Bot().Press(box->hwnd, kIdOk);
  EXPECT_EQ(setup.Wait(kBoxTimeout), 0);
  EXPECT_EQ(AgentLog(), (Lines{Cmd(0, 0, 0), Cmd(0, 5, 1)})) << "the launcher and the tray are not asked";
  EXPECT_FALSE(fs::exists(Installed("a.txt")));
  EXPECT_TRUE(fs::exists(DirFile(kPackageName)));
  EXPECT_FALSE(fs::exists(UnixPath("C:\\DEL_SETUP32.BAT")));
}

TEST_F(AgentChannel, CdSkipsTheRunningCheckAndNoClassesLeaveTheLauncherAlone) {
  ASSERT_TRUE(StartAgent({"--slot", "0", "set", "--slot", "1", "set", "--slot", "2", "set", "--window",
                          WindowClass("Launcher")}));
  WritePackage(AgentPackage());  // no launcherClasses
  EXPECT_EQ(RunSetup({"/S", "/CD", "/D", InstallDir()}), 0);
  EXPECT_EQ(AgentLog(), Lines{Cmd(1, 15, 0)});
  EXPECT_EQ(ReadText(Installed("a.txt")), "installed");
  EXPECT_EQ(Started(), Lines{}) << "the launcher is not restarted";
}

struct RestartCase {
  const char* windowsVersion;
  const char* restartQueryReply;  // the launcher's answer to command 14
  const char* parameters;         // of the restarted launcher; null: no restart
};

class AgentRestart : public AgentChannel, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(AgentRestart, ConfirmedLauncherIsRestartedAfterTheInstallation) {
  const RestartCase& c = GetParam();
  ASSERT_TRUE(StartAgent({"--slot", "0", "clear", "--slot", "2", std::string(c.restartQueryReply) + ",set",
                          "--slot", "1", "clear"}));
  PackageBuilder package = AgentPackage();
  package.settings.launcherClasses = WindowClass("Launcher");
  WritePackage(package);
  ScopedWindowsVersion version(c.windowsVersion, kPackageName);
  ASSERT_TRUE(version.Applied());
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(AgentLog(), (Lines{Cmd(0, 0, 0), Cmd(2, 14, 1), Cmd(2, 15, 2), Cmd(1, 15, 3)}));
  if (c.parameters == nullptr) {
    std::this_thread::sleep_for(Scaled(Milliseconds(500)));
    EXPECT_EQ(Started(), Lines{});
  } else {
    EXPECT_EQ(StartedAfterWait(), Lines{LauncherStart(c.parameters)});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, AgentRestart,
    ::testing::Values(RestartCase{"win98", "clear", ""}, RestartCase{"win98", "set", ""},
                      RestartCase{"winxp", "clear", "-w"}, RestartCase{"winxp", "set", nullptr}),
    [](const ::testing::TestParamInfo<RestartCase>& info) {
      return std::string(info.param.windowsVersion) + "_query_" + info.param.restartQueryReply;
    });

TEST_F(AgentChannel, SilentLauncherIsClosedThroughTheWindowOfTheFirstListedClassFound) {
  // The launcher answers the restart query, then has no slot event for the
  // exit request: the channel fails at once and the window search runs.
  ASSERT_TRUE(StartAgent({"--slot", "2", "clear+vanish", "--slot", "1", "set", "--window", WindowClass("Other"),
                          "--window", WindowClass("Launcher")}));
  PackageBuilder package = AgentPackage();
  package.files.pop_back();  // the launcher is already installed, not in the package
  package.settings.launcherClasses =
      WindowClass("Missing") + "," + WindowClass("Absent") + "," + WindowClass("Launcher");
  WritePackage(package);
  fs::create_directories(DirFile("Install"));
  fs::copy_file(HelperFile("start_marker.exe"), Installed(kLauncherFile));

  const auto start = Clock::now();
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3000)) << "the pause after the window command";
  // The exit request stays written at index 1, so the tray's goes to 2.
  EXPECT_EQ(AgentLog(), (Lines{Cmd(2, 14, 0), "window " + WindowClass("Launcher") + " command 40003 lparam 0",
                               Cmd(1, 15, 2)}));
  EXPECT_EQ(StartedAfterWait(), Lines{LauncherStart("-w")});
}

TEST_F(AgentChannel, FailedInstallationRestartsTheLauncherBeforeItsMessage) {
  ASSERT_TRUE(StartAgent({"--slot", "2", "clear,set"}));
  PackageBuilder package = AgentPackage();
  package.files.pop_back();
  package.settings.launcherClasses = WindowClass("Launcher");
  package.AddFile("bad.txt", "bad");
  WriteDamagedPackage(package, [](DamagedProgram& d) { d.SetEntryTag(d.Listing().members.size() - 1, 'G'); });
  fs::create_directories(DirFile("Install"));
  fs::copy_file(HelperFile("start_marker.exe"), Installed(kLauncherFile));

  Process setup = StartSetup(SilentArgs());
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->StaticTexts(), Lines{ArchiveErrorBoxText("File Header invalid")});
  EXPECT_EQ(StartedAfterWait(), Lines{LauncherStart("-w")});
  Bot().Press(box->hwnd, kIdOk);
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
}

TEST_F(AgentChannel, HostileBlockWordsChangeNothingButTheReply) {
  // The engine sets its reply bit but points pendingIndex outside the ring:
  // the reply counts as 0 and the installation goes on. The launcher moves
  // ringWritePos far out (the next command wraps to 0), then answers its exit
  // request from a negative index (no exit, so no restart and no window
  // search). The tray leaves ringWritePos at the ring's end.
  ASSERT_TRUE(StartAgent({"--slot", "0", "set+pending=0x7FFFFFFF", "--slot", "2",
                          "clear+ringpos=0xFFFFFFFF,set+pending=-7", "--slot", "1", "set+ringpos=62", "--window",
                          WindowClass("Launcher")}));
  PackageBuilder package = AgentPackage();
  package.settings.launcherClasses = WindowClass("Launcher");
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(AgentLog(), (Lines{Cmd(0, 0, 0), Cmd(2, 14, 1), Cmd(2, 15, 0), Cmd(1, 15, 1)}));
  EXPECT_EQ(ReadText(Installed("a.txt")), "installed");
  std::this_thread::sleep_for(Scaled(Milliseconds(500)));
  EXPECT_EQ(Started(), Lines{});
  // Every slot was freed again. (Slot 3 has no record: the caller only reads.)
  EXPECT_EQ(Call(prefix_, {"running", "3"}).block, "block pending -1,-1,-1 ringpos 62");
}

TEST_F(AgentChannel, ArgumentWordsTravelBothWaysAndTheRingWraps) {
  ASSERT_TRUE(StartAgent({"--slot", "1", "results", "--slot", "2", "clear+results", "--ringpos", "60"}));
  // 3 words need 4 ring words: 60 + 4 >= 64, so the command goes to 0.
  CallResult call = Call(prefix_, {"send", "1", "7", "12", "0x11", "0x22", "0x33"});
  EXPECT_EQ(call.answer, "result 1 reply 1 args 0x111,0x122,0x133");
  EXPECT_EQ(call.block, "block pending -1,-1,-1 ringpos 4");
  // 10 bytes are two words.
  call = Call(prefix_, {"send", "1", "9", "10", "0x44", "0x55"});
  EXPECT_EQ(call.answer, "result 1 reply 1 args 0x144,0x155");
  EXPECT_EQ(call.block, "block pending -1,-1,-1 ringpos 7");
  // A clear reply copies nothing back.
  call = Call(prefix_, {"send", "2", "8", "8", "0x66", "0x77"});
  EXPECT_EQ(call.answer, "result 1 reply 0 args 0x66,0x77");
  // An empty array still sets the has-arguments bit.
  call = Call(prefix_, {"send", "1", "6", "0"});
  EXPECT_EQ(call.answer, "result 1 reply 1");
  EXPECT_EQ(call.block, "block pending -1,-1,-1 ringpos 11");
  EXPECT_EQ(AgentLog(), (Lines{"slot 1 command 7 index 0 word 0x06030710 args 0x11,0x22,0x33",
                               "slot 1 command 9 index 4 word 0x06020910 args 0x44,0x55",
                               "slot 2 command 8 index 7 word 0x06020810 args 0x66,0x77",
                               "slot 1 command 6 index 10 word 0x06000610"}));

  // Index 62 is the ring's last; the command after it starts again at 0.
  const std::string other = NewPrefix();
  ASSERT_TRUE(StartAgent({"--slot", "0", "set", "--ringpos", "62"}, other, "other.log"));
  call = Call(other, {"running", "0"});
  EXPECT_EQ(call.answer, "result 1 reply 1");
  EXPECT_EQ(call.block, "block pending -1,-1,-1 ringpos 63");
  EXPECT_EQ(Call(other, {"running", "0"}).block, "block pending -1,-1,-1 ringpos 1");
  EXPECT_EQ(AgentLog("other.log"), (Lines{Cmd(0, 0, 62), Cmd(0, 0, 0)}));
}

TEST_F(AgentChannel, MissingClosedOrEventlessSlotsFailAtOnce) {
  ASSERT_TRUE(StartAgent({"--closed", "1", "--noevent", "2"}));
  struct Case {
    Lines arguments;
    std::string block;
  };
  const Case cases[] = {
      {{"running", "0"}, "block pending -1,-2,-1 ringpos 0"},      // not present: nothing written
      {{"send", "1", "15"}, "block pending -1,-2,-1 ringpos 0"},   // closed: nothing written
      {{"send", "2", "15"}, "block pending -1,-2,-1 ringpos 1"},   // no event: written, freed, no wait
  };
  for (const Case& c : cases) {
    const CallResult call = Call(prefix_, c.arguments);
    EXPECT_EQ(call.answer, "result 0 reply 0") << c.arguments[1];
    EXPECT_EQ(call.block, c.block) << c.arguments[1];
    EXPECT_LT(call.milliseconds, Scaled(Milliseconds(1000)).count()) << c.arguments[1];
  }
  const CallResult none = Call(NewPrefix(), {"running", "0"});
  EXPECT_EQ(none.answer, "result 0 reply 0");
  EXPECT_EQ(none.block, "block none");
  EXPECT_LT(none.milliseconds, Scaled(Milliseconds(1000)).count());
  EXPECT_EQ(AgentLog(), Lines{});
}

TEST_F(AgentChannel, UnansweredAndStuckSlotsGiveUpAfterFiveSeconds) {
  // Both waits run side by side, each on its own prefix.
  const std::string stuck = NewPrefix();
  ASSERT_TRUE(StartAgent({"--slot", "1", "never+set"}));
  ASSERT_TRUE(StartAgent({"--stuck", "2"}, stuck, "stuck.log"));
  Process unanswered = StartCaller(prefix_, {"send", "1", "15"});
  Process waiting = StartCaller(stuck, {"send", "2", "15"});

  // No acknowledgement: the answer is still read (here the reply bit was set)
  // and the slot freed.
  const CallResult a = ReadCall(unanswered);
  EXPECT_EQ(a.answer, "result 0 reply 1");
  EXPECT_EQ(a.block, "block pending -1,-1,-1 ringpos 1");
  EXPECT_GE(a.milliseconds, 4900);
  EXPECT_LT(a.milliseconds, 5000 + Scaled(Milliseconds(3000)).count());
  EXPECT_EQ(AgentLog(), Lines{Cmd(1, 15, 0)});

  // A slot that stays pending through 25 polls: nothing is written.
  const CallResult b = ReadCall(waiting);
  EXPECT_EQ(b.answer, "result 0 reply 0");
  EXPECT_EQ(b.block, "block pending -1,-1,5 ringpos 0");
  EXPECT_GE(b.milliseconds, 4900);
  EXPECT_LT(b.milliseconds, 5000 + Scaled(Milliseconds(3000)).count());
  EXPECT_EQ(AgentLog("stuck.log"), Lines{});
}

}  // namespace
}  // namespace winetest
