// `setuppack try` run as a host process on packages of the tests: each run
// makes a Wine prefix and an X server of its own and removes them again; the
// JSON report says what the program did.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "setup_fixture.hpp"
#include "shell_support.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

struct TryRun {
  std::optional<int> exitCode;
  nlohmann::json report;   // null when no JSON came
  std::string errors;      // standard error
};

class Try : public SetupTest {
protected:
  void SetUp() override {
    SetupTest::SetUp();
    if (IsSkipped()) return;
    // A process of the shared prefix lives while try runs for long: left
    // without one, the prefix's system processes wind down, and the next
    // test would wait for them to start again.
    Bot();
  }

  TryRun RunTry(const std::vector<std::string>& arguments) {
    // Without DISPLAY: each run starts an X server of its own, and the
    // prefix of the other tests never shares a display with a prefix that
    // is ended under it.
    std::vector<std::string> argv{"/usr/bin/env", "-u", "DISPLAY", (WineEnvironment::ProductDir() / "setuppack").string(), "try"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Process::Options options;
    options.pipeStdout = true;
    options.logFile = DirFile("try-stderr.txt");
    options.workingDirectory = Dir();
    Process process(argv, options);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + Scaled(Milliseconds(240000));
    while (auto line = process.ReadLineUntil(deadline)) output += *line + "\n";
    TryRun run;
    run.exitCode = process.Wait(Milliseconds(240000));
    run.report = nlohmann::json::parse(output, nullptr, false);
    if (run.report.is_discarded()) run.report = nullptr;
    run.errors = ReadText(DirFile("try-stderr.txt"));
    return run;
  }

  static std::vector<std::string> Kinds(const nlohmann::json& report) {
    std::vector<std::string> kinds;
    for (const auto& d : report["differences"]) kinds.push_back(d["kind"]);
    return kinds;
  }
};

TEST_F(Try, TheExamplePackageInstallsAsItSays) {
  const fs::path program = DirFile("KorvaneSetup.exe");
  Process build({(WineEnvironment::ProductDir() / "setuppack").string(), "build",
                 std::string(SOURCE_DIR) + "/examples/package.toml", "-o", program.string(), "-q"},
                {});
  ASSERT_EQ(build.Wait(Milliseconds(60000)), 0);
  const TryRun run = RunTry({program.string(), "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.errors << run.report.dump(2);
  const auto& r = run.report;
  EXPECT_TRUE(r["matched"]);
  EXPECT_EQ(r["exitCode"], 0);
  EXPECT_TRUE(r["messageBoxesRead"]);
  EXPECT_TRUE(r["messageBoxes"].empty());
  EXPECT_EQ(r["installDir"]["path"], "C:\\Program Files\\Korvane Online Backup");
  EXPECT_EQ(r["installDir"]["files"].size(), 11u);
  EXPECT_TRUE(r["systemDir"]["changed"].empty());
  EXPECT_EQ(r["programGroup"]["shortcuts"].size(), 2u);
  EXPECT_EQ(r["uninstall"]["values"]["UninstallString"],
            "C:\\Program Files\\Korvane Online Backup\\Uninstall.exe");
  EXPECT_FALSE(r["beside"]["batchFile"].is_string());
}

TEST_F(Try, AMemberTheProgramRefusesIsReportedWithItsMessageBox) {
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile("COM1", "device");
  package.AddFile("after.txt", "after");
  WritePackage(package);
  const TryRun run = RunTry({DirFile(kPackageName).string(), "--json", "--dir", "C:\\Refused"});
  ASSERT_EQ(run.exitCode, 1) << run.errors;
  const auto& r = run.report;
  EXPECT_FALSE(r["matched"]);
  EXPECT_EQ(r["exitCode"], 1);
  ASSERT_EQ(r["messageBoxes"].size(), 1u) << r.dump(2);
  EXPECT_EQ(r["messageBoxes"][0]["text"], "Installation failed because file C:\\Refused\\COM1 could not be created.");
  EXPECT_EQ(r["messageBoxes"][0]["caption"], kBoxCaption);
  const std::vector<std::string> kinds = Kinds(r);
  EXPECT_EQ(kinds.front(), "run");
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), "missing"), kinds.end());
  ASSERT_EQ(r["installDir"]["files"].size(), 1u);
  EXPECT_EQ(r["installDir"]["files"][0]["name"], "first.txt");
}

TEST_F(Try, AProgramThatWaitsIsEndedAtTheTimeLimit) {
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  WritePackage(package);
  // Info mode waits in its Setup Info dialog, which is no message box.
  const TryRun run = RunTry({DirFile(kPackageName).string(), "--json", "--args", "/I", "--timeout", "5"});
  ASSERT_EQ(run.exitCode, 1) << run.errors;
  const auto& r = run.report;
  EXPECT_TRUE(r["timedOut"]);
  EXPECT_TRUE(r["exitCode"].is_null());
  bool dialog = false;
  for (const auto& w : r["windows"]) dialog = dialog || w["caption"] == "Setup Info";
  EXPECT_TRUE(dialog) << r["windows"].dump();
  EXPECT_EQ(Kinds(r).front(), "run");
}

struct Unavailable {
  const char* test;
  const char* path;        // PATH for the run; nullptr keeps it
  bool setupProgram;       // else README.md of the sources
  const char* said;
};

class TryUnavailable : public Try, public ::testing::WithParamInterface<Unavailable> {};

TEST_P(TryUnavailable, SaysWhyInOneLineAndExitsWith2) {
  const Unavailable& c = GetParam();
  std::string program = std::string(SOURCE_DIR) + "/README.md";
  if (c.setupProgram) {
    PackageBuilder package = NewPackage();
    package.AddFile("first.txt", "first");
    WritePackage(package);
    program = DirFile(kPackageName).string();
  }
  std::optional<ScopedEnvironment> path;
  if (c.path) path.emplace("PATH", c.path);
  const TryRun run = RunTry({program});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find(c.said), std::string::npos) << run.errors;
  EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(
    TryCases, TryUnavailable,
    ::testing::Values(Unavailable{"NoWine", "/nonexistent", true, "wine is not installed"},
                      Unavailable{"NotASetupProgram", nullptr, false, "not a setup program"}),
    [](const ::testing::TestParamInfo<Unavailable>& info) { return std::string(info.param.test); });

}  // namespace
}  // namespace winetest
