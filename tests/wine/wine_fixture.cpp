#include "wine_fixture.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace winetest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

WineEnvironment* gEnvironment = nullptr;

// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

// Polls with a short, growing interval: most waits end within milliseconds.
void PollPause(int& round) {
  std::this_thread::sleep_for(Milliseconds(round < 20 ? 2 : 10));
  ++round;
}

}  // namespace

double TimeScale() {
  static const double scale = [] {
    const char* text = std::getenv("WINE_TESTS_TIME_SCALE");
    double value = text ? std::strtod(text, nullptr) : 1.0;
    return value >= 1.0 && value <= 100.0 ? value : 1.0;
  }();
  return scale;
}

Milliseconds Scaled(Milliseconds limit) {
  return Milliseconds(static_cast<Milliseconds::rep>(static_cast<double>(limit.count()) * TimeScale()));
}

// ---------------------------------------------------------------- Process

Process::Process(const std::vector<std::string>& argv, const Options& options) {
  int inPipe[2] = {-1, -1};
  int outPipe[2] = {-1, -1};
  if (options.pipeStdin && pipe2(inPipe, O_CLOEXEC) != 0) return;
  if (options.pipeStdout && pipe2(outPipe, O_CLOEXEC) != 0) return;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.pipeStdin)
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::string log = options.logFile.empty() ? std::string("/dev/null") : options.logFile.string();
  if (options.pipeStdout)
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  fs::path cwd = options.workingDirectory;
  if (cwd.empty() && gEnvironment && fs::is_directory(gEnvironment->DriveC())) cwd = gEnvironment->DriveC();
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (options.pipeStdin) close(inPipe[0]);
  if (options.pipeStdout) close(outPipe[1]);
  if (rc != 0) {
    if (options.pipeStdin) close(inPipe[1]);
    if (options.pipeStdout) close(outPipe[0]);
    return;
  }
  pid_ = pid;
  stdinFd_ = options.pipeStdin ? inPipe[1] : -1;
  stdoutFd_ = options.pipeStdout ? outPipe[0] : -1;
}

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Kill();
    CloseFds();
    pid_ = std::exchange(other.pid_, -1);
    exitCode_ = std::exchange(other.exitCode_, std::nullopt);
    stdinFd_ = std::exchange(other.stdinFd_, -1);
    stdoutFd_ = std::exchange(other.stdoutFd_, -1);
    pending_ = std::move(other.pending_);
  }
  return *this;
}

Process::~Process() {
  Kill();
  CloseFds();
}

void Process::CloseFds() {
  if (stdinFd_ >= 0) close(stdinFd_);
  if (stdoutFd_ >= 0) close(stdoutFd_);
  stdinFd_ = stdoutFd_ = -1;
}

void Process::Reap(int status) {
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::optional<int> Process::ExitCode() {
  if (exitCode_ || pid_ <= 0) return exitCode_;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) Reap(status);
  return exitCode_;
}

bool Process::Running() { return pid_ > 0 && !ExitCode(); }

std::optional<int> Process::Wait(Milliseconds timeout) {
  auto deadline = Clock::now() + Scaled(timeout);
  int round = 0;
  while (Running()) {
    if (Clock::now() >= deadline) {
      Kill();
      return std::nullopt;
    }
    PollPause(round);
  }
  return exitCode_;
}

void Process::Kill() {
  if (pid_ <= 0 || exitCode_) return;
  kill(pid_, SIGKILL);
  int status = 0;
  if (waitpid(pid_, &status, 0) == pid_) Reap(status);
  exitCode_.reset();
  pid_ = -1;
}

bool Process::Write(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(stdinFd_, text.data(), text.size());
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<std::string> Process::ReadLine(Milliseconds timeout) {
  return ReadLineUntil(Clock::now() + Scaled(timeout));
}

std::optional<std::string> Process::ReadLineUntil(Clock::time_point deadline) {
  for (;;) {
    std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || stdoutFd_ < 0) return std::nullopt;
    pollfd p{stdoutFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool WaitUntil(const std::function<bool()>& done, Milliseconds limit) {
  const auto deadline = Clock::now() + Scaled(limit);
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Milliseconds(10));
  }
  return true;
}

Process StartWine(const std::string& program, const std::vector<std::string>& arguments,
                  const Process::Options& options) {
  std::vector<std::string> argv{"wine", program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Process(argv, options);
}

std::optional<int> RunWine(const std::string& program, const std::vector<std::string>& arguments,
                           Milliseconds timeout) {
  Process process = StartWine(program, arguments);
  if (!process.Started()) return std::nullopt;
  return process.Wait(timeout);
}

namespace {

// Runs a host command to its end; its stdout goes to `output` when given.
std::optional<int> RunHost(const std::vector<std::string>& argv, Milliseconds timeout,
                           std::string* output = nullptr) {
  Process::Options options;
  options.pipeStdout = output != nullptr;
  Process process(argv, options);
  if (!process.Started()) return std::nullopt;
  if (output) {
    auto deadline = Clock::now() + Scaled(timeout);
    while (auto line = process.ReadLineUntil(deadline)) {
      *output += *line;
      *output += '\n';
    }
  }
  return process.Wait(timeout);
}

}  // namespace

// ---------------------------------------------------------- WineEnvironment

WineEnvironment& Wine() { return *gEnvironment; }

fs::path WineEnvironment::ProductDir() { return PRODUCT_DIR; }
fs::path WineEnvironment::HelperDir() { return fs::path(PRODUCT_DIR) / "tests"; }

void WineEnvironment::StartXServer() {
  // Xvfb picks a free display itself and writes its number to the pipe once
  // it accepts connections.
  int fds[2];
  if (pipe(fds) != 0) return;
  std::string fdText = std::to_string(fds[1]);
  std::vector<std::string> argv{"Xvfb", "-displayfd", fdText, "-screen", "0", "1024x768x24",
                                "-nolisten", "tcp"};
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return;
  }
  xServerPid_ = pid;
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  auto deadline = Clock::now() + Milliseconds(20000);
  while (Clock::now() < deadline) {
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (!number.empty()) setenv("DISPLAY", (":" + number).c_str(), 1);
}

void WineEnvironment::StopXServer() {
  if (xServerPid_ <= 0) return;
  kill(xServerPid_, SIGTERM);
  int status;
  waitpid(xServerPid_, &status, 0);
  xServerPid_ = -1;
}

void WineEnvironment::SetUp() {
  gEnvironment = this;
  // A fresh prefix in the temporary folder: in the emulated machine that is
  // a tmpfs, where wineboot takes a fraction of its time on the shared disk.
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/wine_tests.XXXXXX";
  if (!mkdtemp(pattern.data())) {
    failure_ = "no temporary folder for the Wine prefix: " + pattern;
    return;
  }
  prefix_ = fs::path(pattern) / "prefix";
  setenv("WINEPREFIX", prefix_.c_str(), 1);
  setenv("WINEARCH", "win32", 1);
  setenv("WINEDEBUG", "-all", 1);
  // No Mono/Gecko installer prompts, no desktop menu entries for shortcuts.
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) StartXServer();
  if (!std::getenv("DISPLAY")) {
    failure_ = "no X display: Xvfb could not be started";
    return;
  }

  // Wine's loader for 32-bit programs is itself an i386 program. A kernel
  // without i386 support refuses it at once ("Exec format error"); finding
  // that out here saves the long wait for wineboot.
  std::string version;
  auto loader = RunHost({"wine", "--version"}, Milliseconds(60000), &version);
  if (!loader || *loader != 0) {
    failure_ = "wine --version failed: this machine cannot run Wine's 32-bit loader "
               "(a kernel without i386 support answers \"Exec format error\")";
    return;
  }

  std::error_code ec;
  fs::remove_all(prefix_, ec);
  fs::create_directories(prefix_, ec);
  // One persistent wineserver for the whole run: later processes start fast.
  RunHost({"wineserver", "-p"}, Milliseconds(10000));
  auto rc = RunHost({"wineboot", "--init"}, Milliseconds(180000));
  if (!rc || *rc != 0 || !fs::exists(DriveC() / "windows" / "system32")) {
    failure_ = "wineboot --init failed for " + prefix_.string();
    return;
  }
  // Without a window manager on the display, Wine waits two seconds for one
  // to acknowledge every window it hides; unmanaged windows need no such
  // acknowledgement.
  AddRegistryString("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N");
  Process::Options keeperOptions;
  keeperOptions.pipeStdin = true;
  keeperOptions.pipeStdout = true;
  keeper_ = StartWine(HelperFile("robot.exe").string(), {}, keeperOptions);
  fs::create_directories(DriveC() / "t", ec);
  ready_ = true;
}

void WineEnvironment::TearDown() {
  keeper_.Kill();
  RunHost({"wineserver", "-k"}, Milliseconds(20000));
  StopXServer();
  if (!std::getenv("WINE_TESTS_KEEP_PREFIX") && !prefix_.empty()) {
    std::error_code ec;
    fs::remove_all(prefix_.parent_path(), ec);
  } else if (!prefix_.empty()) {
    std::fprintf(stderr, "wine_tests: the prefix is kept in %s\n", prefix_.c_str());
  }
}

// ------------------------------------------------------------------ paths

fs::path UnixPath(std::string_view windowsPath) {
  std::string rest(windowsPath);
  if (rest.size() >= 2 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':') rest.erase(0, 2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  return Wine().DriveC() / rest;
}

std::string WindowsPath(const fs::path& unixPath) {
  fs::path relative = unixPath.lexically_relative(Wine().DriveC());
  std::string text = "C:\\" + relative.string();
  if (relative == ".") text = "C:\\";
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

// --------------------------------------------------------------- registry

std::optional<std::string> QueryRegistry(const std::string& key, const std::string& value) {
  std::string output;
  auto rc = RunHost({"wine", "reg", "query", key, "/v", value}, Milliseconds(30000), &output);
  if (!rc || *rc != 0) return std::nullopt;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    // "    <name>    REG_SZ    <data>"
    std::size_t type = line.find("    REG_", start);
    if (type == std::string::npos) continue;
    if (line.substr(start, type - start) != value) continue;
    std::size_t data = line.find("    ", type + 4);
    return data == std::string::npos ? std::string() : line.substr(data + 4);
  }
  return std::nullopt;
}

bool AddRegistryString(const std::string& key, const std::string& value, const std::string& data) {
  auto rc = RunHost({"wine", "reg", "add", key, "/v", value, "/d", data, "/f"}, Milliseconds(30000));
  return rc && *rc == 0;
}

bool DeleteRegistryValue(const std::string& key, const std::string& value) {
  auto rc = RunHost({"wine", "reg", "delete", key, "/v", value, "/f"}, Milliseconds(30000));
  return rc && *rc == 0;
}

ScopedWindowsVersion::ScopedWindowsVersion(const std::string& version, const std::string& program)
    : key_(program.empty() ? std::string("HKCU\\Software\\Wine")
                           : "HKCU\\Software\\Wine\\AppDefaults\\" + program) {
  previous_ = QueryRegistry(key_, "Version");
  applied_ = AddRegistryString(key_, "Version", version);
}

ScopedWindowsVersion::~ScopedWindowsVersion() {
  if (previous_)
    AddRegistryString(key_, "Version", *previous_);
  else
    DeleteRegistryValue(key_, "Version");
}

// ------------------------------------------------------------------ files

std::optional<std::uint64_t> LastWriteFileTime(const fs::path& unixPath) {
  struct stat st;
  if (stat(unixPath.c_str(), &st) != 0) return std::nullopt;
  std::int64_t ticks = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
  return static_cast<std::uint64_t>(ticks + static_cast<std::int64_t>(kUnixEpochFileTime));
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// --------------------------------------------------------------- WineTest

void WineTest::SetUp() {
  if (!Wine().Ready()) GTEST_SKIP() << Wine().Failure();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  dir_ = Wine().DriveC() / "t" / name;
  std::error_code ec;
  fs::remove_all(dir_, ec);
  fs::create_directories(dir_);
  winDir_ = WindowsPath(dir_);
}

fs::path WineTest::DirFile(std::string_view relative) const {
  return UnixPath(WinFile(relative));
}

std::string WineTest::WinFile(std::string_view relative) const {
  return winDir_ + "\\" + std::string(relative);
}

fs::path HelperFile(std::string_view name) { return WineEnvironment::HelperDir() / name; }

}  // namespace winetest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  auto* environment = new winetest::WineEnvironment;
  ::testing::AddGlobalTestEnvironment(environment);
  const int result = RUN_ALL_TESTS();
  // Without Wine every test has skipped itself; say so once and let CTest
  // report the whole binary as skipped rather than passed.
  if (!environment->Ready()) {
    std::fprintf(stderr, "wine_tests: every test skipped: %s\n", environment->Failure().c_str());
    return winetest::kSkippedExitCode;
  }
  return result;
}
