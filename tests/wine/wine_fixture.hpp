// The Wine side of the end-to-end tests: one fresh 32-bit prefix for the
// whole run, an X server when none is given, processes started under Wine
// with a timeout, C:\ paths, the registry and file times of the prefix.
//
// The prefix lives in a new folder under $TMPDIR (or /tmp) and is created
// once per run by WineEnvironment, a gtest global environment; a persistent wineserver
// keeps process start-up cheap. Every test gets its own directory
// C:\t\<Suite>.<Test>, created empty by WineTest::SetUp.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winetest {

using Milliseconds = std::chrono::milliseconds;

// Every time limit of these tests is one for a machine that runs Wine
// natively; WINE_TESTS_TIME_SCALE (default 1) stretches them all alike on a
// slower one, such as the emulated machine. Waits for windows, processes and
// replies apply it themselves; a test that bounds how long the program took
// applies it to its bound.
double TimeScale();
Milliseconds Scaled(Milliseconds limit);

// Exit code of wine_tests when Wine cannot run at all: CTest reports the
// binary as skipped (SKIP_RETURN_CODE in tests/wine/CMakeLists.txt).
constexpr int kSkippedExitCode = 77;

// A process that the tests started. It is ended by its own id only: on
// timeout, and when the object is destroyed while the process still runs.
class Process {
public:
  struct Options {
    std::filesystem::path workingDirectory;  // empty: the prefix's drive_c
    bool pipeStdin = false;                  // Write() to the child's stdin
    bool pipeStdout = false;                 // ReadLine() from its stdout
    std::filesystem::path logFile;           // stdout/stderr when not piped
  };

  Process() = default;
  Process(const std::vector<std::string>& argv, const Options& options);
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  bool Started() const { return pid_ > 0; }
  int Pid() const { return pid_; }
  // True while the process has not ended.
  bool Running();
  // The exit code once the process ended within `timeout` (scaled); otherwise
  // the process is killed and the result is empty.
  std::optional<int> Wait(Milliseconds timeout);
  // The exit code if the process has already ended.
  std::optional<int> ExitCode();
  void Kill();

  bool Write(std::string_view text);
  // One line of the child's stdout without its line end; empty on timeout
  // (scaled) or end of output.
  std::optional<std::string> ReadLine(Milliseconds timeout);
  // The same with a deadline taken as it is.
  std::optional<std::string> ReadLineUntil(std::chrono::steady_clock::time_point deadline);

private:
  void Reap(int status);
  void CloseFds();

  int pid_ = -1;
  std::optional<int> exitCode_;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string pending_;
};

// Polls `done` every 10 ms until it holds or `limit` (scaled) has passed;
// whether it held.
bool WaitUntil(const std::function<bool()>& done, Milliseconds limit);

// Starts `wine program arguments...`; a program given as an absolute Unix path
// or as a C:\ path both work.
Process StartWine(const std::string& program, const std::vector<std::string>& arguments,
                  const Process::Options& options = {});
// Runs it to the end: the exit code, or empty after a timeout (process killed).
std::optional<int> RunWine(const std::string& program, const std::vector<std::string>& arguments,
                           Milliseconds timeout = Milliseconds(30000));

// The prefix and the files that the tests copy into it.
class WineEnvironment : public ::testing::Environment {
public:
  void SetUp() override;
  void TearDown() override;

  const std::filesystem::path& Prefix() const { return prefix_; }
  std::filesystem::path DriveC() const { return prefix_ / "drive_c"; }
  // build/bin, where setup.exe lies, and build/bin/tests with the helpers.
  static std::filesystem::path ProductDir();
  static std::filesystem::path HelperDir();
  bool Ready() const { return ready_; }
  const std::string& Failure() const { return failure_; }

private:
  void StartXServer();
  void StopXServer();

  std::filesystem::path prefix_;
  int xServerPid_ = -1;
  // A Wine process that lives through the whole run. When the last process
  // of a prefix ends, Wine's own system processes (explorer, services) wind
  // down, and the next program waits for them to start again, with that
  // test's DLL overrides: a Program Manager test's "ole32=n" keeps them from
  // starting at all.
  Process keeper_;
  bool ready_ = false;
  std::string failure_;
};

// The one environment of this run (registered by main).
WineEnvironment& Wine();

// C:\dir\file <-> <prefix>/drive_c/dir/file. Only drive C: is mapped.
std::filesystem::path UnixPath(std::string_view windowsPath);
std::string WindowsPath(const std::filesystem::path& unixPath);

// `wine reg query <key> /v <value>`: the data of a REG_SZ (or any) value as
// reg prints it, empty when the key or value does not exist.
std::optional<std::string> QueryRegistry(const std::string& key, const std::string& value);
bool AddRegistryString(const std::string& key, const std::string& value, const std::string& data);
bool DeleteRegistryValue(const std::string& key, const std::string& value);

// Sets the Windows version that Wine reports ("win31", "win95", "win98",
// "nt351", "nt40", "win2k", "winxp", "win10") and restores the previous
// setting when it goes out of scope. With `program` (a file name such as
// KorvaneTest.exe) only that program sees the version
// (HKCU\Software\Wine\AppDefaults\<program>); without it, every program does
// (HKCU\Software\Wine).
class ScopedWindowsVersion {
public:
  explicit ScopedWindowsVersion(const std::string& version, const std::string& program = {});
  ~ScopedWindowsVersion();
  ScopedWindowsVersion(const ScopedWindowsVersion&) = delete;
  ScopedWindowsVersion& operator=(const ScopedWindowsVersion&) = delete;
  bool Applied() const { return applied_; }

private:
  std::string key_;
  std::optional<std::string> previous_;
  bool applied_ = false;
};

// Last-write time of a file as a Win32 FILETIME (100 ns since 1601, UTC).
std::optional<std::uint64_t> LastWriteFileTime(const std::filesystem::path& unixPath);

std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, std::string_view text);
void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A helper program or file of build/bin/tests.
std::filesystem::path HelperFile(std::string_view name);

// Base fixture: skips when the prefix could not be made, and gives each test
// an empty directory C:\t\<Suite>.<Test>.
class WineTest : public ::testing::Test {
protected:
  void SetUp() override;

  // The test's directory, as a Unix path and as C:\t\<Suite>.<Test>.
  const std::filesystem::path& Dir() const { return dir_; }
  const std::string& WinDir() const { return winDir_; }
  // A file name below the test's directory, both ways.
  std::filesystem::path DirFile(std::string_view relative) const;
  std::string WinFile(std::string_view relative) const;

private:
  std::filesystem::path dir_;
  std::string winDir_;
};

}  // namespace winetest
