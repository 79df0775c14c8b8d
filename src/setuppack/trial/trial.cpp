#include "setuppack/trial/trial.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "base/robot_text.hpp"
#include "explode/memory_codec.hpp"
#include "setup/command_line.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/file_time.hpp"
#include "setuppack/host/pe_version.hpp"
#include "setuppack/host/sha256.hpp"
#include "setuppack/package/package.hpp"
#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/trial/shell_link.hpp"
#include "setuppack/trial/wine_run.hpp"
#include "setuppack/writer/package_writer.hpp"

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

constexpr char kCopyFolder[] = "setuppack-try";
constexpr char kBatchFile[] = "DEL_SETUP32.BAT";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// ------------------------------------------------------------- progress

class Progress {
public:
  explicit Progress(bool on) : on_(on) {}
  ~Progress() { Clear(); }
  void Show(const std::string& text) {
    if (!on_) return;
    const std::string line = "setuppack try: " + text;
    std::cerr << '\r' << line << std::string(shown_ > line.size() ? shown_ - line.size() : 0, ' ') << std::flush;
    shown_ = line.size();
  }
  void Clear() {
    if (on_ && shown_ != 0) std::cerr << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    shown_ = 0;
  }

private:
  bool on_;
  std::size_t shown_ = 0;
};

// --------------------------------------------------------------- package

PackageContents ReadContents(const fs::path& program, const std::vector<std::uint8_t>& bytes,
                             const ArchiveListing& listing, unsigned codePage) {
  PackageContents p;
  if (listing.error != kArchiveOk) p.archiveError = DescribeArchiveError(listing);
  p.iconGroup = listing.settings[5] ? std::optional(AnsiToUtf8(*listing.settings[5], codePage)) : std::nullopt;
  p.iniFile = listing.settings[3] ? std::optional(AnsiToUtf8(*listing.settings[3], codePage)) : std::nullopt;
  for (const ArchiveMemberInfo& m : listing.members) {
    PackageFile f;
    f.name = AnsiToUtf8(m.name, codePage);
    f.flags = m.entry.flags;
    f.version = m.version;
    f.fileTime = FileEntryTime(m.entry);
    std::vector<std::uint8_t> external;
    std::span<const std::uint8_t> stored;
    if (m.entry.flags & kMemberExt) {
      std::string name = AnsiToUtf8(ExternalFileName(m.name), codePage);
      std::replace(name.begin(), name.end(), '\\', '/');
      try {
        external = ReadWholeFile(program.parent_path() / name);
      } catch (const std::exception&) {
        f.problem = "its external member file " + (program.parent_path() / name).string() + " cannot be read";
      }
      if (f.problem.empty() && external.size() < m.entry.storedLength)
        f.problem = "its external member file holds " + std::to_string(external.size()) + " bytes, the archive says " +
                    std::to_string(m.entry.storedLength);
      if (f.problem.empty()) stored = std::span<const std::uint8_t>(external).first(m.entry.storedLength);
    } else {
      stored = std::span<const std::uint8_t>(bytes).subspan(m.dataOffset, m.entry.storedLength);
    }
    if (f.problem.empty()) {
      std::vector<std::uint8_t> expanded;
      if (m.entry.flags & kMemberCmp) {
        std::uint32_t result = 0;
        if (!ExplodeBytes(stored, expanded, result))
          f.problem = "does not decompress (explode result " + std::to_string(result) + ")";
        stored = expanded;
      }
      if (f.problem.empty()) {
        f.size = stored.size();
        f.sha256 = Sha256OfBytes(stored);
      }
    }
    p.files.push_back(std::move(f));
  }
  if (listing.error == kArchiveOk || !listing.icons.empty()) {
    p.iconsRead = listing.error == kArchiveOk;
    for (const PackageIcon& icon : listing.icons) {
      auto text = [&](const std::optional<std::string>& t) {
        return t ? std::optional(AnsiToUtf8(*t, codePage)) : std::nullopt;
      };
      p.icons.push_back({AnsiToUtf8(icon.name.value_or(""), codePage), text(icon.arguments), text(icon.target)});
    }
  }
  if (listing.trailing) {
    for (const TrailingMemberInfo& m : listing.trailing->members) {
      PackageFile f;
      f.name = AnsiToUtf8(m.name, codePage);
      f.trailing = true;
      f.fileTime = listing.trailing->typeTag == "QZ" ? m.lastWriteTime : 0;
      const auto data = std::span<const std::uint8_t>(bytes).subspan(m.dataOffset, m.length);
      f.size = data.size();
      f.sha256 = Sha256OfBytes(data);
      p.files.push_back(std::move(f));
    }
  }
  return p;
}

// ------------------------------------------------------------ file trees

struct FileState {
  std::uint64_t size = 0;
  std::int64_t modified = 0, changed = 0;  // nanoseconds
  std::uint64_t fileTime = 0;
};

// Every regular file below `root` by its relative name with backslashes.
std::map<std::string, FileState> Scan(const fs::path& root) {
  std::map<std::string, FileState> files;
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::string name = it->path().lexically_relative(root).string();
    std::replace(name.begin(), name.end(), '/', '\\');
    FileState state;
    state.size = static_cast<std::uint64_t>(st.st_size);
    state.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    state.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    state.fileTime = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<std::uint32_t>(st.st_mtim.tv_nsec));
    files[name] = state;
  }
  return files;
}

ObservedFile Observe(const fs::path& root, const std::string& name, const FileState& state) {
  std::string relative = name;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  ObservedFile f{name, state.size, state.fileTime, {}};
  try {
    f.sha256 = Sha256OfFile(root / relative);
  } catch (const std::exception&) {
    f.sha256 = "(unreadable)";
  }
  return f;
}

// A C:\ path below the prefix's drive_c; nothing for another drive.
std::optional<fs::path> UnixPathOf(const fs::path& driveC, const std::string& windowsPath) {
  if (windowsPath.size() < 2 || std::toupper(static_cast<unsigned char>(windowsPath[0])) != 'C' || windowsPath[1] != ':')
    return std::nullopt;
  std::string rest = windowsPath.substr(2);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  return (driveC / rest).lexically_normal();
}

fs::path ProgramsFolder(const fs::path& driveC) {
  const fs::path relative = "AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
  std::error_code ec;
  for (const auto& user : fs::directory_iterator(driveC / "users", ec)) {
    if (user.path().filename() == "Public") continue;
    if (fs::is_directory(user.path() / relative, ec)) return user.path() / relative;
  }
  return driveC / "users" / "unknown" / relative;
}

std::string WindowsPathOf(const fs::path& driveC, const fs::path& unixPath) {
  std::string text = "C:\\" + unixPath.lexically_relative(driveC).string();
  std::replace(text.begin(), text.end(), '/', '\\');
  if (text.size() > 3 && text.back() == '.') text.resize(text.size() - 2);
  return text;
}

// ------------------------------------------------------------ the robot

// "key=value key="quoted \"text\"" ..." of a robot reply line.
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::size_t i = line.find(' ');
  while (i != std::string::npos && i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t eq = line.find('=', i);
    if (eq == std::string::npos) break;
    const std::string key = line.substr(i, eq - i);
    std::size_t j = eq + 1;
    std::string value;
    if (j < line.size() && line[j] == '"') {
      std::size_t k = j + 1;
      while (k < line.size() && line[k] != '"') k += line[k] == '\\' ? 2 : 1;
      value = UnescapeRobotText(line.substr(j + 1, k - j - 1));
      j = k + 1;
    } else {
      const std::size_t k = line.find(' ', j);
      value = line.substr(j, k == std::string::npos ? std::string::npos : k - j);
      j = k == std::string::npos ? line.size() : k;
    }
    fields[key] = value;
    i = j;
  }
  return fields;
}

// robot.exe, the window robot of the end-to-end tests, run in the prefix:
// it lists the visible windows, dumps their controls and presses buttons.
class Robot {
public:
  Robot(const WineSession& session, const fs::path& exe) {
    try {
      process_ = session.Spawn({"wine", exe.string()}, true, true);
    } catch (const std::exception&) {
      return;
    }
    const auto line = process_.ReadLineUntil(Clock::now() + milliseconds(60000));
    ready_ = line && *line == "ready";
  }
  bool Ready() const { return ready_; }

  std::optional<std::vector<std::string>> Command(const std::string& line, milliseconds timeout = milliseconds(10000)) {
    if (!ready_ || !process_.Write(line + "\n")) return std::nullopt;
    std::vector<std::string> lines;
    const auto deadline = Clock::now() + timeout;
    while (auto reply = process_.ReadLineUntil(deadline)) {
      if (*reply == "ok") return lines;
      if (reply->rfind("error", 0) == 0) return std::nullopt;
      lines.push_back(*reply);
    }
    ready_ = false;  // no answer: it is not used again
    return std::nullopt;
  }
  void Quit() {
    if (ready_) Command("quit", milliseconds(5000));
    ready_ = false;
    process_.WaitUntil(Clock::now() + milliseconds(5000));
    process_.Kill();
  }

private:
  ChildProcess process_;
  bool ready_ = false;
};

std::optional<fs::path> FindRobot() {
  const fs::path beside = DefaultStubPath().parent_path();
  for (const fs::path& candidate : {beside / "robot.exe", beside / "tests" / "robot.exe"}) {
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

// Watches the windows of the prefix: records every message box and presses
// its first button, and remembers the other windows once.
class WindowWatch {
public:
  WindowWatch(Robot* robot, unsigned codePage, Clock::time_point start)
      : robot_(robot), codePage_(codePage), start_(start) {}

  void Poll(TrialReport& report) {
    if (!robot_ || !robot_->Ready()) return;
    const auto windows = robot_->Command("windows");
    if (!windows) return;
    for (const std::string& line : *windows) {
      if (line.rfind("window ", 0) != 0) continue;
      auto fields = Fields(line);
      const std::string hwnd = fields["hwnd"];
      if (handled_.count(hwnd)) continue;
      handled_.insert(hwnd);
      const std::string program = AnsiToUtf8(fields["exe"], codePage_);
      const std::string caption = AnsiToUtf8(fields["text"], codePage_);
      if (fields["class"] != "#32770") {
        report.windowsOpen.push_back({fields["class"], caption, program});
        continue;
      }
      const auto dump = robot_->Command("dump " + hwnd);
      if (!dump) continue;
      bool box = true, progressDialog = false;
      int button = 0;
      std::string text;
      for (const std::string& control : *dump) {
        if (control.rfind("control ", 0) != 0) continue;
        auto c = Fields(control);
        const std::string cls = Lower(c["class"]);
        const int id = std::atoi(c["id"].c_str());
        if (cls == "button") {
          if (id < 1 || id > 11) box = false;
          else if (button == 0) button = id;
        } else if (cls == "static") {
          if (!c["text"].empty()) text += (text.empty() ? "" : "\n") + AnsiToUtf8(c["text"], codePage_);
        } else {
          box = false;
          progressDialog = progressDialog || cls == "msctls_progress32";
        }
      }
      // The program's own progress dialog is no news.
      if (progressDialog) continue;
      if (!box || button == 0) {
        report.windowsOpen.push_back({"#32770", caption, program});
        continue;
      }
      const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
      report.boxes.push_back({seconds, caption, text, program, AnsiToUtf8(fields["owner-text"], codePage_)});
      robot_->Command("command " + hwnd + " " + std::to_string(button));
      robot_->Command("wait-gone " + hwnd + " 5000", milliseconds(10000));
    }
  }

private:
  Robot* robot_;
  unsigned codePage_;
  Clock::time_point start_;
  std::set<std::string> handled_;
};

std::optional<std::map<std::string, std::string>> QueryUninstall(const WineSession& session) {
  auto result = session.Run({"wine", "reg", "query", UninstallKeyPath()}, milliseconds(60000));
  if (!result || result->first != 0) return std::nullopt;
  std::map<std::string, std::string> values;
  std::istringstream lines(result->second);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // "    <name>    REG_SZ    <data>"
    const std::size_t type = line.find("    REG_");
    if (type == std::string::npos) continue;
    const std::size_t start = line.find_first_not_of(' ');
    const std::size_t data = line.find("    ", type + 4);
    values[line.substr(start, type - start)] = data == std::string::npos ? std::string() : line.substr(data + 4);
  }
  return values;
}

}  // namespace

TrialReport RunTrial(const TrialOptions& options) {
  TrialReport report;
  report.program = options.program.string();
  Progress progress(options.progress);

  std::vector<std::uint8_t> bytes;
  try {
    bytes = ReadSetupProgramBytes(options.program);
  } catch (const InputError& e) {
    throw TrialUnavailable(e.what());
  }
  const ArchiveListing listing = ReadArchive(bytes);
  if (!listing.headerRead)
    throw TrialUnavailable(options.program.string() + ": not a setup program: " + DescribeArchiveError(listing) +
                           "; try runs programs that setuppack build makes");
  report.package = ReadContents(options.program, bytes, listing, options.codePage);

  // The command line as the program sees it, read by setup.exe's own rules.
  const std::string defaultPath =
      listing.settings[6] ? AnsiToUtf8(*listing.settings[6], options.codePage) : std::string("C:\\Program Files\\Setup");
  const std::string directory = options.directory.value_or(defaultPath);
  std::vector<std::string> words;
  {
    std::istringstream split(options.arguments);
    std::string word;
    while (split >> word) words.push_back(word);
  }
  report.commandLine = "/S /D \"" + directory + "\"";
  for (const std::string& w : words) report.commandLine += " " + w;
  CommandLineOptions parsed;
  ParseOptions(report.commandLine.c_str(), &parsed);
  InstallRules rules;
  rules.installDir = parsed.targetPath;
  rules.skipConfig = parsed.skipConfig != 0;
  rules.keepExistingConfig = parsed.keepExistingConfig != 0;
  const bool nt = !options.windowsVersion || (*options.windowsVersion != "win95" && *options.windowsVersion != "win98");
  rules.installDlr = !nt && !(listing.header.flags & kHeaderFlagNoDlr);
  report.installDir = rules.installDir;
  report.windowsVersion = options.windowsVersion.value_or("Wine's default");
  report.systemDir = "C:\\windows\\system32";

  WineSessionOptions sessionOptions;
  sessionOptions.keep = options.keep;
  sessionOptions.windowsVersion = options.windowsVersion;
  sessionOptions.progress = [&progress](const std::string& text) { progress.Show(text); };
  WineSession session(sessionOptions);
  session.Start();
  report.wineVersion = session.WineVersion();
  const fs::path driveC = session.DriveC();
  const std::optional<fs::path> installUnix = UnixPathOf(driveC, rules.installDir);
  if (!installUnix)
    throw TrialUnavailable(rules.installDir + ": the install directory must be on drive C: (C:\\...), the drive try watches");
  const fs::path systemUnix = driveC / "windows" / "system32";
  const fs::path programs = ProgramsFolder(driveC);
  report.programsDir = WindowsPathOf(driveC, programs);

  // The program and its external member files, copied into the prefix: /RS
  // removes the copy, never the original.
  const fs::path copyDir = driveC / kCopyFolder;
  fs::create_directories(copyDir);
  const fs::path copy = copyDir / options.program.filename();
  fs::copy_file(options.program, copy, fs::copy_options::overwrite_existing);
  for (const ArchiveMemberInfo& m : listing.members) {
    if (!(m.entry.flags & kMemberExt)) continue;
    std::string name = AnsiToUtf8(ExternalFileName(m.name), options.codePage);
    std::replace(name.begin(), name.end(), '\\', '/');
    std::error_code ec;
    fs::create_directories((copyDir / name).parent_path(), ec);
    fs::copy_file(options.program.parent_path() / name, copyDir / name, fs::copy_options::overwrite_existing, ec);
  }
  const std::string windowsProgram = WindowsPathOf(driveC, copy);

  // Before.
  progress.Show("looking at the prefix before the run");
  const auto systemBefore = Scan(systemUnix);
  const auto linksBefore = Scan(programs);
  for (const auto& [name, state] : Scan(*installUnix)) report.observed.installBefore.insert(Lower(name));
  for (const PackageFile& f : report.package.files) {
    if (!(f.flags & kMemberSys)) continue;
    for (const auto& [name, state] : systemBefore) {
      if (Lower(name) != Lower(f.name)) continue;
      std::optional<MemberVersion> version;
      try {
        std::string relative = name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        version = ReadPeFileVersion(ReadWholeFile(systemUnix / relative));
      } catch (const std::exception&) {
      }
      report.observed.systemBefore[Lower(f.name)] = version;
    }
  }

  // The run.
  std::unique_ptr<Robot> robot;
  if (const std::optional<fs::path> robotExe = FindRobot()) {
    progress.Show("starting the window robot");
    robot = std::make_unique<Robot>(session, *robotExe);
    report.boxesRead = robot->Ready();
    if (!report.boxesRead) report.boxesNote = robotExe->string() + " did not start under Wine";
  } else {
    report.boxesNote = "robot.exe not found beside setup.exe (" + DefaultStubPath().parent_path().string() +
                       " or its tests folder); message boxes are not read or answered";
  }
  std::vector<std::string> argv{"wine", windowsProgram, "/S", "/D", directory};
  argv.insert(argv.end(), words.begin(), words.end());
  const auto start = Clock::now();
  ChildProcess setup = session.Spawn(argv, false, false, copyDir);
  WindowWatch watch(robot.get(), options.codePage, start);
  const auto deadline = start + options.timeout;
  auto lastPoll = start;
  while (!setup.Poll()) {
    if (TrialInterrupted()) {
      report.interrupted = true;
      break;
    }
    if (Clock::now() >= deadline) {
      report.timedOut = true;
      break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    progress.Show("running " + options.program.filename().string() + " " + report.commandLine + " (" +
                  std::to_string(static_cast<int>(seconds)) + " s of " + std::to_string(options.timeout.count()) + ")");
    if (Clock::now() - lastPoll >= milliseconds(150)) {
      watch.Poll(report);
      lastPoll = Clock::now();
    }
    std::this_thread::sleep_for(milliseconds(50));
  }
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  report.exitCode = setup.Poll();
  if (report.timedOut || report.interrupted) {
    watch.Poll(report);
    progress.Show("ending the program and its prefix (wineserver -k)");
    if (robot) robot->Quit();
    session.EndPrefixProcesses();
    setup.WaitUntil(Clock::now() + milliseconds(10000));
    setup.Kill();
  } else {
    // Boxes of what the program started, then the prefix comes to rest: the
    // self-removal batch file runs to its end.
    std::this_thread::sleep_for(milliseconds(500));
    watch.Poll(report);
    if (robot) robot->Quit();
  }
  progress.Show("reading the uninstall entry");
  report.observed.uninstall = QueryUninstall(session);
  progress.Show("waiting for the prefix to come to rest");
  if (!session.WaitPrefixIdle(milliseconds(20000))) {
    report.notes.push_back("processes of the prefix still ran 20 s after the program ended; ended with wineserver -k");
    session.EndPrefixProcesses();
  }

  // After.
  progress.Show("looking at the prefix after the run");
  for (const auto& [name, state] : Scan(*installUnix))
    report.observed.installAfter.push_back(Observe(*installUnix, name, state));
  const auto systemAfter = Scan(systemUnix);
  for (const auto& [name, state] : systemAfter) {
    const auto before = systemBefore.find(name);
    if (before != systemBefore.end() && before->second.size == state.size && before->second.modified == state.modified &&
        before->second.changed == state.changed)
      continue;
    report.observed.systemChanged.push_back(Observe(systemUnix, name, state));
  }
  for (const auto& [name, state] : systemBefore)
    if (!systemAfter.count(name)) report.observed.systemRemoved.push_back(name);
  for (const auto& [name, state] : Scan(programs)) {
    const auto before = linksBefore.find(name);
    if (before != linksBefore.end() && before->second.modified == state.modified) continue;
    if (Lower(fs::path(name).extension().string()) != ".lnk") continue;
    ObservedLink link;
    link.name = name;
    try {
      std::string relative = name;
      std::replace(relative.begin(), relative.end(), '\\', '/');
      const ShellLinkInfo info = ParseShellLink(ReadWholeFile(programs / relative), options.codePage);
      link.target = info.target;
      link.arguments = info.arguments;
      link.workingDirectory = info.workingDirectory;
    } catch (const std::exception& e) {
      link.problem = e.what();
    }
    report.observed.links.push_back(std::move(link));
  }
  std::error_code ec;
  report.beside.programPresent = fs::exists(copy, ec);
  for (const auto& entry : fs::directory_iterator(driveC, ec)) {
    if (Lower(entry.path().filename().string()) != Lower(kBatchFile)) continue;
    const std::vector<std::uint8_t> text = ReadWholeFile(entry.path());
    report.beside.batchFile = AnsiToUtf8(std::string(text.begin(), text.end()), options.codePage);
  }

  report.expected = ExpectInstall(report.package, rules, report.observed);
  report.differences = CompareInstall(report.package, report.expected, report.observed);
  // How the run went counts as much as what it left.
  if (report.timedOut)
    report.differences.insert(report.differences.begin(),
                              {"run", "", "still running after " + std::to_string(options.timeout.count()) +
                                              " s; ended with its prefix"});
  if (report.interrupted) report.differences.insert(report.differences.begin(), {"run", "", "interrupted"});
  for (auto it = report.boxes.rbegin(); it != report.boxes.rend(); ++it)
    report.differences.insert(report.differences.begin(), {"run", "", "message box: " + it->text});
  if (report.exitCode && *report.exitCode != 0)
    report.differences.insert(report.differences.begin(),
                              {"run", "", "exit code " + std::to_string(*report.exitCode)});
  if (parsed.selfDelete && report.beside.programPresent)
    report.differences.push_back({"beside", windowsProgram, windowsProgram + ": still there after /RS"});
  if (report.beside.batchFile && !report.timedOut)
    report.differences.push_back({"beside", std::string("C:\\") + kBatchFile, std::string("C:\\") + kBatchFile + ": left behind"});
  if (!options.keep.empty()) report.notes.push_back("the prefix is kept in " + session.Prefix().string());
  progress.Show("removing the prefix");
  session.Close();
  progress.Clear();
  return report;
}
