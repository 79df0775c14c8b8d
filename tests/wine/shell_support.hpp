// Helpers of the shell integration tests: the uninstall registry key read as a
// whole, the Programs folder of the prefix, shell links read back, and
// environment variables set for the Wine processes of one test.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "setup_fixture.hpp"
#include "setuppack/host/file_io.hpp"

namespace winetest {

inline const std::string kUninstallKey = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane";

// Runs `argv` on the host (wine itself, usually) and returns its stdout lines,
// or nothing when it failed or did not end in time.
inline std::optional<std::vector<std::string>> RunAndCapture(const std::vector<std::string>& argv,
                                                             Milliseconds timeout = Milliseconds(30000)) {
  Process::Options options;
  options.pipeStdout = true;
  Process process(argv, options);
  if (!process.Started()) return std::nullopt;
  std::vector<std::string> lines;
  while (auto line = process.ReadLine(timeout)) lines.push_back(*line);
  auto code = process.Wait(timeout);
  if (!code || *code != 0) return std::nullopt;
  return lines;
}

// The REG_SZ values of the product key, by name; nothing when the key does not
// exist. One `wine reg query` for the whole key.
inline std::optional<std::map<std::string, std::string>> UninstallValues() {
  auto lines = RunAndCapture({"wine", "reg", "query", kUninstallKey});
  if (!lines) return std::nullopt;
  std::map<std::string, std::string> values;
  for (const std::string& line : *lines) {
    // "    <name>    REG_SZ    <data>"; an empty text may lose the blanks
    // behind the type.
    const std::size_t type = line.find("    REG_SZ");
    if (type == std::string::npos) continue;
    const std::size_t start = line.find_first_not_of(' ');
    std::string name = line.substr(start, type - start);
    const std::size_t data = type + 10;
    values[name] = data + 4 <= line.size() ? line.substr(data + 4) : std::string();
  }
  return values;
}

inline void DeleteUninstallKey() {
  Process process({"wine", "reg", "delete", kUninstallKey, "/f"}, {});
  process.Wait(Milliseconds(30000));
}

// Sets an environment variable for the processes started while the object
// lives (Process passes the test's own environment on) and restores it.
class ScopedEnvironment {
public:
  ScopedEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) previous_ = old;
    setenv(name_.c_str(), value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (previous_)
      setenv(name_.c_str(), previous_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
  std::string name_;
  std::optional<std::string> previous_;
};

// The current WINEDLLOVERRIDES extended by `more` (";"-separated entries).
inline std::string DllOverridesWith(const std::string& more) {
  const char* current = std::getenv("WINEDLLOVERRIDES");
  return current && *current ? std::string(current) + ";" + more : more;
}

// CSIDL_PROGRAMS of the prefix's user:
// drive_c/users/<user>/AppData/Roaming/Microsoft/Windows/Start Menu/Programs.
inline std::filesystem::path ProgramsFolder() {
  namespace fs = std::filesystem;
  const fs::path relative = "AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
  std::error_code ec;
  for (const auto& user : fs::directory_iterator(Wine().DriveC() / "users", ec)) {
    if (user.path().filename() == "Public") continue;
    if (fs::is_directory(user.path() / relative)) return user.path() / relative;
  }
  return Wine().DriveC() / "users" / "unknown" / relative;
}

// A shell link as IShellLinkA reports it after IPersistFile::Load.
struct ShellLink {
  std::string path;
  std::string workingDirectory;
  std::string arguments;
  std::uint32_t linkFlags = 0;  // LinkFlags of the file header (offset 0x14)
};

// Link flags of the shell link header.
constexpr std::uint32_t kLinkHasName = 0x04;
constexpr std::uint32_t kLinkHasWorkingDir = 0x10;
constexpr std::uint32_t kLinkHasArguments = 0x20;

inline std::optional<ShellLink> ReadShellLink(const std::filesystem::path& unixPath) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(unixPath);
  // The header: HeaderSize 0x4C, then LinkCLSID {00021401-...}, then LinkFlags.
  if (bytes.size() < 0x4C || bytes[0] != 0x4C || bytes[4] != 0x01 || bytes[5] != 0x14 || bytes[6] != 0x02)
    return std::nullopt;
  ShellLink link;
  link.linkFlags = static_cast<std::uint32_t>(bytes[0x14]) | static_cast<std::uint32_t>(bytes[0x15]) << 8 |
                   static_cast<std::uint32_t>(bytes[0x16]) << 16 | static_cast<std::uint32_t>(bytes[0x17]) << 24;
  auto lines = RunAndCapture({"wine", HelperFile("read_link.exe").string(), WindowsPath(unixPath)});
  if (!lines) return std::nullopt;
  for (const std::string& line : *lines) {
    if (line.rfind("path=", 0) == 0) link.path = line.substr(5);
    if (line.rfind("workdir=", 0) == 0) link.workingDirectory = line.substr(8);
    if (line.rfind("arguments=", 0) == 0) link.arguments = line.substr(10);
  }
  return link;
}

}  // namespace winetest
