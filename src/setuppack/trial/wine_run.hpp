// Running Windows programs for `setuppack try`: child processes that are
// ended by their own ids only, and a Wine session of its own (a fresh 32-bit
// prefix, a private X server when there is no display) that leaves nothing
// running and, unless kept, nothing on disk.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

// Wine cannot be used here; the message says why and what to install.
// `setuppack try` exits with 2.
class TrialUnavailable : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Set by SIGINT and SIGTERM while a session runs; every wait stops early.
bool TrialInterrupted();

class ChildProcess {
public:
  struct Options {
    std::vector<std::string> environment;  // KEY=VALUE, the whole environment
    std::filesystem::path workingDirectory;
    bool pipeStdin = false;
    bool pipeStdout = false;               // else /dev/null
  };

  ChildProcess() = default;
  // Throws std::system_error with the spawn's error when it cannot start
  // (ENOENT: the program is not on PATH).
  ChildProcess(const std::vector<std::string>& argv, const Options& options);
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  int Pid() const { return pid_; }
  // The exit status once it ended (128 + signal when killed).
  std::optional<int> Poll();
  std::optional<int> WaitUntil(Clock::time_point deadline);
  // SIGKILL to this process alone, then reaped.
  void Kill();

  bool Write(const std::string& text);
  // One line of its standard output, without the line end; nothing at the
  // deadline or at the end of the output.
  std::optional<std::string> ReadLineUntil(Clock::time_point deadline);
  // Everything it writes until it closes its output or the deadline.
  std::string ReadAllUntil(Clock::time_point deadline);

private:
  void CloseFds();

  int pid_ = -1;
  std::optional<int> status_;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string pending_;
};

struct WineSessionOptions {
  std::filesystem::path keep;                  // the prefix here, kept; empty: a temporary one
  std::optional<std::string> windowsVersion;   // win95 ... win10
  std::function<void(const std::string&)> progress;
};

class WineSession {
public:
  explicit WineSession(WineSessionOptions options);
  ~WineSession();
  WineSession(const WineSession&) = delete;
  WineSession& operator=(const WineSession&) = delete;

  // Checks Wine, makes the prefix, starts the X server. Throws
  // TrialUnavailable.
  void Start();
  const std::filesystem::path& Prefix() const { return prefix_; }
  std::filesystem::path DriveC() const { return prefix_ / "drive_c"; }
  std::string WineVersion() const { return wineVersion_; }
  // The environment of every process of the session.
  const std::vector<std::string>& Environment() const { return environment_; }

  ChildProcess Spawn(const std::vector<std::string>& argv, bool pipeStdin = false, bool pipeStdout = false,
                     const std::filesystem::path& workingDirectory = {}) const;
  // Runs a command to its end: its exit status and standard output, or
  // nothing when it could not start or did not end in time (then killed).
  std::optional<std::pair<int, std::string>> Run(const std::vector<std::string>& argv,
                                                 std::chrono::milliseconds timeout) const;
  // `wineserver -k` for this prefix: ends every process of the prefix.
  void EndPrefixProcesses() const;
  // `wineserver -w` for this prefix, within `timeout`: whether every process
  // of the prefix and its server have ended.
  bool WaitPrefixIdle(std::chrono::milliseconds timeout) const;
  // Ends the prefix's processes and the X server, removes the prefix unless
  // kept. Also done by the destructor.
  void Close();

private:
  void Step(const std::string& text) const {
    if (options_.progress) options_.progress(text);
  }
  void StartXServer();

  WineSessionOptions options_;
  std::filesystem::path root_;     // the temporary folder to remove, if any
  std::filesystem::path prefix_;
  std::vector<std::string> environment_;
  std::string wineVersion_;
  int xServerPid_ = -1;
  bool started_ = false;
};
