#include "setuppack/trial/wine_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

std::atomic<bool> gInterrupted{false};
struct sigaction gOldInt {}, gOldTerm {};

void OnSignal(int) { gInterrupted = true; }

std::vector<std::string> WithVariables(std::vector<std::pair<std::string, std::string>> set) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [key, value] : set) replaced = replaced || key == name;
    if (!replaced) out.push_back(entry);
  }
  for (const auto& [key, value] : set) out.push_back(key + "=" + value);
  return out;
}

}  // namespace

bool TrialInterrupted() { return gInterrupted; }

// ----------------------------------------------------------- ChildProcess

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (options.pipeStdin && pipe2(in, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
  if (options.pipeStdout && pipe2(out, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.pipeStdin) posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (options.pipeStdout) posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!options.workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  std::vector<char*> args, env;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : options.environment) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);
  // The lookup on PATH follows the child's environment.
  std::string path;
  for (const std::string& e : options.environment)
    if (e.rfind("PATH=", 0) == 0) path = e.substr(5);
  std::string program = argv.at(0);
  if (program.find('/') == std::string::npos) {
    std::string found;
    std::size_t start = 0;
    while (start <= path.size()) {
      std::size_t end = path.find(':', start);
      if (end == std::string::npos) end = path.size();
      const std::string dir = end > start ? path.substr(start, end - start) : ".";
      const std::string candidate = dir + "/" + program;
      if (::access(candidate.c_str(), X_OK) == 0) {
        found = candidate;
        break;
      }
      start = end + 1;
    }
    program = found;
  }
  pid_t pid = -1;
  int rc = program.empty() ? ENOENT
                           : posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (options.pipeStdin) ::close(in[0]);
  if (options.pipeStdout) ::close(out[1]);
  if (rc != 0) {
    if (options.pipeStdin) ::close(in[1]);
    if (options.pipeStdout) ::close(out[0]);
    throw std::system_error(rc, std::generic_category(), argv.at(0));
  }
  pid_ = pid;
  stdinFd_ = options.pipeStdin ? in[1] : -1;
  stdoutFd_ = options.pipeStdout ? out[0] : -1;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    CloseFds();
    pid_ = std::exchange(other.pid_, -1);
    status_ = std::exchange(other.status_, std::nullopt);
    stdinFd_ = std::exchange(other.stdinFd_, -1);
    stdoutFd_ = std::exchange(other.stdoutFd_, -1);
    pending_ = std::move(other.pending_);
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  Kill();
  CloseFds();
}

void ChildProcess::CloseFds() {
  if (stdinFd_ >= 0) ::close(stdinFd_);
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
  stdinFd_ = stdoutFd_ = -1;
}

std::optional<int> ChildProcess::Poll() {
  if (status_ || pid_ <= 0) return status_;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_)
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

std::optional<int> ChildProcess::WaitUntil(Clock::time_point deadline) {
  while (!Poll()) {
    if (Clock::now() >= deadline || gInterrupted) return std::nullopt;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return status_;
}

void ChildProcess::Kill() {
  if (pid_ <= 0 || Poll()) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  status_ = 128 + SIGKILL;
}

bool ChildProcess::Write(const std::string& text) {
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t n = ::write(stdinFd_, rest.data(), rest.size());
    if (n <= 0) return false;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<std::string> ChildProcess::ReadLineUntil(Clock::time_point deadline) {
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || stdoutFd_ < 0 || gInterrupted) return std::nullopt;
    pollfd p{stdoutFd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 200))) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string ChildProcess::ReadAllUntil(Clock::time_point deadline) {
  std::string all;
  while (auto line = ReadLineUntil(deadline)) all += *line + "\n";
  all += pending_;
  pending_.clear();
  return all;
}

// ------------------------------------------------------------ WineSession

WineSession::WineSession(WineSessionOptions options) : options_(std::move(options)) {}

WineSession::~WineSession() { Close(); }

ChildProcess WineSession::Spawn(const std::vector<std::string>& argv, bool pipeStdin, bool pipeStdout,
                                const fs::path& workingDirectory) const {
  ChildProcess::Options options;
  options.environment = environment_;
  options.pipeStdin = pipeStdin;
  options.pipeStdout = pipeStdout;
  options.workingDirectory = workingDirectory;
  return ChildProcess(argv, options);
}

std::optional<std::pair<int, std::string>> WineSession::Run(const std::vector<std::string>& argv,
                                                           milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  ChildProcess child;
  try {
    child = Spawn(argv, false, true);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  std::string output = child.ReadAllUntil(deadline);
  const std::optional<int> status = child.WaitUntil(deadline);
  if (!status) return std::nullopt;
  return std::make_pair(*status, output);
}

void WineSession::StartXServer() {
  int fds[2];
  if (::pipe(fds) != 0) throw TrialUnavailable("no X server: cannot make a pipe for Xvfb");
  const std::string fd = std::to_string(fds[1]);
  std::vector<std::string> argv{"Xvfb", "-displayfd", fd, "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    throw TrialUnavailable("no X server: DISPLAY is not set and Xvfb cannot be started (" +
                           std::string(std::strerror(rc)) + "); install it (apt-get install xvfb) or set DISPLAY");
  }
  xServerPid_ = pid;
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const auto deadline = Clock::now() + milliseconds(20000);
  while (Clock::now() < deadline && !gInterrupted) {
    if (::poll(&p, 1, 200) <= 0) continue;
    char c;
    if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  ::close(fds[0]);
  if (number.empty()) throw TrialUnavailable("no X server: Xvfb did not start within 20 s; set DISPLAY to a running X server");
  environment_.push_back("DISPLAY=:" + number);
}

void WineSession::Start() {
  gInterrupted = false;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &gOldInt);
  ::sigaction(SIGTERM, &action, &gOldTerm);
  started_ = true;

  // The prefix: a new folder of its own, or the one to keep.
  std::error_code ec;
  if (!options_.keep.empty()) {
    prefix_ = fs::absolute(options_.keep).lexically_normal();
    if (fs::exists(prefix_, ec) && !fs::is_empty(prefix_, ec))
      throw TrialUnavailable(prefix_.string() + ": --keep needs a new or empty directory for the Wine prefix");
    fs::create_directories(prefix_.parent_path(), ec);
  } else {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/setuppack-try.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw TrialUnavailable(pattern + ": cannot make a temporary folder for the Wine prefix: " + std::strerror(errno));
    root_ = pattern;
    prefix_ = root_ / "prefix";
  }
  std::vector<std::pair<std::string, std::string>> set{
      {"WINEPREFIX", prefix_.string()},
      {"WINEARCH", "win32"},
      {"WINEDEBUG", "-all"},
      {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d"}};
  environment_ = WithVariables(set);
  // Wine's loader for 32-bit programs is an i386 program: a kernel without
  // i386 support refuses it with "Exec format error".
  Step("checking Wine");
  std::optional<std::pair<int, std::string>> version;
  try {
    ChildProcess probe = Spawn({"wine", "--version"}, false, true);
    const auto deadline = Clock::now() + milliseconds(60000);
    std::string output = probe.ReadAllUntil(deadline);
    if (auto status = probe.WaitUntil(deadline)) version = std::make_pair(*status, output);
  } catch (const std::system_error&) {
    throw TrialUnavailable("wine is not installed (not found on PATH); install it: dpkg --add-architecture i386 && "
                           "apt-get update && apt-get install wine wine32");
  }
  if (!version || version->first != 0 || version->second.find("Exec format error") != std::string::npos) {
    std::string said = version ? version->second.substr(0, version->second.find('\n')) : "no answer";
    if (said.empty()) said = "exit status " + std::to_string(version ? version->first : -1);
    throw TrialUnavailable("this machine cannot run Wine's 32-bit loader (wine --version: " + said +
                           "); it needs a kernel that runs i386 programs (or run setuppack try inside "
                           "scripts/i386-machine.sh)");
  }
  wineVersion_ = version->second.substr(0, version->second.find('\n'));

  // Wine without a display opens no windows; a private X server stands in.
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    Step("starting a private X server");
    StartXServer();
  }

  Step("making a fresh 32-bit Wine prefix (wineboot)");
  fs::create_directories(prefix_, ec);
  auto boot = Run({"wineboot", "--init"}, milliseconds(300000));
  if (gInterrupted) throw TrialUnavailable("interrupted");
  if (!boot || boot->first != 0 || !fs::exists(DriveC() / "windows" / "system32", ec))
    throw TrialUnavailable(prefix_.string() + ": wineboot --init could not make the Wine prefix" +
                           (boot ? " (exit status " + std::to_string(boot->first) + ")" : " within 300 s"));
  // Without a window manager Wine waits for one on every hidden window;
  // unmanaged windows need none.
  Run({"wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"}, milliseconds(60000));
  if (options_.windowsVersion) {
    auto set = Run({"wine", "reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", *options_.windowsVersion, "/f"},
                   milliseconds(60000));
    if (!set || set->first != 0)
      throw TrialUnavailable("cannot set the Windows version " + *options_.windowsVersion + " in the prefix");
  }
}

void WineSession::EndPrefixProcesses() const {
  if (prefix_.empty()) return;
  Run({"wineserver", "-k"}, milliseconds(30000));
}

bool WineSession::WaitPrefixIdle(milliseconds timeout) const {
  auto done = Run({"wineserver", "-w"}, timeout);
  return done.has_value();
}

void WineSession::Close() {
  if (!started_) return;
  started_ = false;
  // The clean-up runs to its end also after an interruption.
  gInterrupted = false;
  std::error_code ec;
  if (!prefix_.empty() && fs::exists(prefix_, ec)) {
    EndPrefixProcesses();
    WaitPrefixIdle(milliseconds(20000));
  }
  if (xServerPid_ > 0) {
    ::kill(xServerPid_, SIGTERM);
    int status = 0;
    ::waitpid(xServerPid_, &status, 0);
    xServerPid_ = -1;
  }
  if (!root_.empty()) fs::remove_all(root_, ec);
  ::sigaction(SIGINT, &gOldInt, nullptr);
  ::sigaction(SIGTERM, &gOldTerm, nullptr);
}
