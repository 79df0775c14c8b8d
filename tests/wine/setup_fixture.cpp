#include "setup_fixture.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "setuppack/host/file_io.hpp"
#include "setuppack/writer/setup_program.hpp"

namespace winetest {

namespace fs = std::filesystem;

std::string ArchiveErrorBoxText(const std::string& errorText) {
  return "Fatal error occured in archive file: " + errorText + ".";
}

void SetupTest::SetUp() {
  WineTest::SetUp();
  if (IsSkipped()) return;
  fs::path setup = WineEnvironment::ProductDir() / "setup.exe";
  if (!fs::exists(setup)) GTEST_SKIP() << "build/bin/setup.exe is not built";
  stub_ = ReadWholeFile(setup);
}

void SetupTest::TearDown() {
  robot_.reset();
  std::error_code ec;
  for (const fs::path& file : systemFiles_) fs::remove(file, ec);
}

PackageBuilder SetupTest::NewPackage() const {
  PackageBuilder package;
  package.header.flags = kHeaderFlagNoTrailing;
  package.header.ipcPrefix[0] = 'K';
  package.header.ipcPrefix[1] = 'T';
  package.settings.runCommand = kRunCommand;
  package.settings.defaultPath = WinFile("Default");
  return package;
}

void SetupTest::WritePackage(const PackageBuilder& package, const std::string& name) {
  package.WriteTo(DirFile(name), stub_);
}

void SetupTest::WriteDamagedPackage(const PackageBuilder& package, void (*damage)(DamagedProgram&),
                                    const std::string& name) {
  WritePackage(package, name);
  DamagedProgram program(ComposeSetupProgram(stub_, package.ArchiveBytes()));
  damage(program);
  WriteBytes(DirFile(name), program.Bytes());
}

PackageBuilder SetupTest::WriteDamagedPackage(const DamagedArchive& damaged) {
  PackageBuilder package = NewPackage();
  damaged.build(package);
  WriteBytes(DirFile(kPackageName), BuildDamagedProgram(damaged, NewPackage(), stub_));
  return package;
}

Process SetupTest::StartSetup(const std::vector<std::string>& arguments, const std::string& name) {
  Process::Options options;
  options.workingDirectory = Dir();
  return StartWine(WinFile(name), arguments, options);
}

std::optional<int> SetupTest::RunSetup(const std::vector<std::string>& arguments, const std::string& name) {
  Process process = StartSetup(arguments, name);
  auto code = process.Wait(kRunTimeout);
  if (!code) ADD_FAILURE() << name << " did not end within " << kRunTimeout.count() << " ms";
  return code;
}

Robot& SetupTest::Bot() {
  if (!robot_) robot_ = std::make_unique<Robot>();
  return *robot_;
}

std::optional<WindowInfo> SetupTest::ExpectMessageBox(Process& process, const std::string& text) {
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &process);
  if (!box) {
    ADD_FAILURE() << "no message box \"" << text << "\" (" << Bot().LastError() << ")";
    return std::nullopt;
  }
  EXPECT_EQ(box->StaticTexts(), std::vector<std::string>{text});
  EXPECT_EQ(box->exe, kPackageName);
  Bot().Press(box->hwnd, kIdOk);
  Bot().WaitGone(box->hwnd, Milliseconds(5000));
  return box;
}

std::optional<int> SetupTest::ExpectMessageBoxAndExit(Process& process, const std::string& text) {
  ExpectMessageBox(process, text);
  auto code = process.Wait(kBoxTimeout);
  if (!code) ADD_FAILURE() << "the setup program did not end after the message box";
  return code;
}

std::optional<WindowInfo> SetupTest::WaitFinishDialog(Process& process) {
  constexpr int kIdRun = 1010;
  const auto deadline = std::chrono::steady_clock::now() + Scaled(kRunTimeout);
  while (std::chrono::steady_clock::now() < deadline) {
    const bool ended = !process.Running();
    for (const WindowInfo& window : Bot().Windows()) {
      if (window.className != "#32770" || window.exe != kPackageName) continue;
      auto dump = Bot().Dump(window.hwnd);
      if (dump && dump->Control(kIdRun) != nullptr) return dump;
    }
    if (ended) break;
    std::this_thread::sleep_for(Milliseconds(100));
  }
  ADD_FAILURE() << "no finish dialog";
  return std::nullopt;
}

std::optional<int> SetupTest::ExitAtFinishDialog(Process& process) {
  if (auto finish = WaitFinishDialog(process)) Bot().Press(finish->hwnd, kIdOk);
  return process.Wait(kRunTimeout);
}

std::string SetupTest::SystemFileName(const std::string& suffix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "kvt_" + std::string(info->name()) + suffix;
  name.erase(std::remove(name.begin(), name.end(), '/'), name.end());
  systemFiles_.push_back(SystemFile(name));
  std::error_code ec;
  fs::remove(SystemFile(name), ec);
  return name;
}

fs::path SetupTest::SystemFile(const std::string& name) const {
  return UnixPath("C:\\windows\\system32\\" + name);
}

}  // namespace winetest
