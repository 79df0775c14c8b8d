// The report of `setuppack try`, as text and as JSON.
#include <nlohmann/json.hpp>

#include <cstdio>

#include "setuppack/reader/list.hpp"
#include "setuppack/trial/trial.hpp"

namespace {

using Json = nlohmann::ordered_json;

// "2024-05-01T09:00:00Z"; null for none and beyond the year 9999.
Json IsoTime(std::uint64_t fileTime) {
  std::string t = FormatFileTimeUtc(fileTime);
  if (t.empty() || t.find('-') == std::string::npos) return nullptr;
  t[10] = 'T';
  return t + "Z";
}

std::string TimeText(std::uint64_t fileTime) {
  const Json t = IsoTime(fileTime);
  return t.is_null() ? std::string(19, '-') : t.get<std::string>();
}

Json Optional(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Padded(std::string text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Summary(const TrialReport& r) {
  std::string line = r.program + ": ";
  line += r.Matched() ? "installed as the package says" : "does not install as the package says";
  line += " (";
  if (r.timedOut) line += "still running after " + std::to_string(static_cast<int>(r.seconds)) + " s";
  else if (r.interrupted) line += "interrupted";
  else if (r.exitCode) line += "exit code " + std::to_string(*r.exitCode);
  char took[32];
  std::snprintf(took, sizeof took, " after %.1f s", r.seconds);
  line += took;
  line += ", " + Plural(r.observed.installAfter.size() + r.observed.systemChanged.size(), "file", "files");
  line += ", " + Plural(r.boxes.size(), "message box", "message boxes");
  if (!r.Matched()) line += ", " + Plural(r.differences.size(), "difference", "differences");
  return line + ")";
}

void PrintFiles(const std::vector<ObservedFile>& files, std::ostream& out) {
  if (files.empty()) out << "  (nothing)\n";
  for (const ObservedFile& f : files)
    out << "  " << Padded(std::to_string(f.size), 9) << "  " << TimeText(f.fileTime) << "  " << f.sha256.substr(0, 16)
        << "  " << f.name << "\n";
}

}  // namespace

void PrintTrialReport(const TrialReport& r, std::ostream& out) {
  out << Summary(r) << "\n\n";
  out << "Run (" << r.wineVersion << ", Windows version " << r.windowsVersion << ")\n"
      << "  " << r.program << " " << r.commandLine << "\n";
  if (r.timedOut) out << "  still running after " << static_cast<int>(r.seconds) << " s: ended with its prefix\n";
  else if (r.interrupted) out << "  interrupted: ended with its prefix\n";
  else if (r.exitCode) out << "  exit code " << *r.exitCode << "\n";
  if (!r.boxesRead) out << "  " << r.boxesNote << "\n";
  for (const MessageBoxSeen& b : r.boxes) {
    char at[32];
    std::snprintf(at, sizeof at, "%.1f s", b.seconds);
    out << "  message box at " << at << " from " << b.program << ", \"" << b.caption << "\": " << b.text << "\n";
  }
  for (const WindowSeen& w : r.windowsOpen)
    out << "  window " << w.className << " \"" << w.caption << "\" of " << w.program << "\n";
  for (const std::string& note : r.notes) out << "  " << note << "\n";

  out << "\nInstall directory " << r.installDir << "\n";
  PrintFiles(r.observed.installAfter, out);
  out << "\nSystem directory " << r.systemDir << ", created or changed\n";
  PrintFiles(r.observed.systemChanged, out);
  for (const std::string& name : r.observed.systemRemoved) out << "  removed  " << name << "\n";

  out << "\nProgram group in " << r.programsDir << "\n";
  if (r.observed.links.empty()) out << "  (no shortcut)\n";
  for (const ObservedLink& l : r.observed.links) {
    out << "  " << l.name;
    if (!l.problem.empty()) {
      out << ": " << l.problem << "\n";
      continue;
    }
    out << " -> " << l.target.value_or("(no target)");
    if (l.arguments) out << " " << *l.arguments;
    out << ", in " << l.workingDirectory.value_or("(no working directory)") << "\n";
  }
  out << "\nUninstall entry " << UninstallKeyPath() << "\n";
  if (!r.observed.uninstall) out << "  (none)\n";
  else
    for (const auto& [name, value] : *r.observed.uninstall) out << "  " << name << " = " << value << "\n";

  out << "\nBeside the program\n"
      << "  the program: " << (r.beside.programPresent ? "still there" : "removed") << "\n"
      << "  C:\\DEL_SETUP32.BAT: " << (r.beside.batchFile ? "left behind" : "none") << "\n";

  if (!r.expected.notes.empty()) {
    out << "\nLeft out by the package's rules\n";
    for (const std::string& note : r.expected.notes) out << "  " << note << "\n";
  }
  out << "\n" << (r.Matched() ? "No difference from the package" : "Differences from the package") << "\n";
  for (const Difference& d : r.differences) out << "  " << d.kind << ": " << d.message << "\n";
}

void PrintTrialJson(const TrialReport& r, std::ostream& out) {
  auto files = [](const std::vector<ObservedFile>& list) {
    Json a = Json::array();
    for (const ObservedFile& f : list)
      a.push_back({{"name", f.name}, {"size", f.size}, {"time", IsoTime(f.fileTime)}, {"fileTime", f.fileTime},
                   {"sha256", f.sha256}});
    return a;
  };
  Json boxes = Json::array();
  for (const MessageBoxSeen& b : r.boxes)
    boxes.push_back({{"seconds", b.seconds}, {"caption", b.caption}, {"text", b.text}, {"program", b.program},
                     {"owner", b.owner.empty() ? Json(nullptr) : Json(b.owner)}});
  Json windows = Json::array();
  for (const WindowSeen& w : r.windowsOpen)
    windows.push_back({{"class", w.className}, {"caption", w.caption}, {"program", w.program}});
  Json links = Json::array();
  for (const ObservedLink& l : r.observed.links)
    links.push_back({{"name", l.name}, {"target", Optional(l.target)}, {"arguments", Optional(l.arguments)},
                     {"workingDirectory", Optional(l.workingDirectory)},
                     {"problem", l.problem.empty() ? Json(nullptr) : Json(l.problem)}});
  Json uninstall = nullptr;
  if (r.observed.uninstall) {
    uninstall = Json::object();
    for (const auto& [name, value] : *r.observed.uninstall) uninstall[name] = value;
  }
  Json differences = Json::array();
  for (const Difference& d : r.differences)
    differences.push_back({{"kind", d.kind}, {"path", d.path.empty() ? Json(nullptr) : Json(d.path)}, {"message", d.message}});
  Json expected = Json::array();
  for (const ExpectedFile& e : r.expected.files) {
    const PackageFile& m = r.package.files[e.member];
    expected.push_back({{"name", e.name}, {"system", e.system}, {"trailing", m.trailing}, {"size", m.size},
                        {"time", IsoTime(m.fileTime)}, {"fileTime", m.fileTime},
                        {"sha256", m.sha256.empty() ? Json(nullptr) : Json(m.sha256)}});
  }
  Json root = {
      {"program", r.program},
      {"matched", r.Matched()},
      {"wine", r.wineVersion},
      {"windowsVersion", r.windowsVersion},
      {"commandLine", r.commandLine},
      {"exitCode", r.exitCode ? Json(*r.exitCode) : Json(nullptr)},
      {"timedOut", r.timedOut},
      {"interrupted", r.interrupted},
      {"seconds", r.seconds},
      {"messageBoxesRead", r.boxesRead},
      {"messageBoxes", boxes},
      {"windows", windows},
      {"installDir", {{"path", r.installDir}, {"files", files(r.observed.installAfter)}}},
      {"systemDir", {{"path", r.systemDir}, {"changed", files(r.observed.systemChanged)}, {"removed", r.observed.systemRemoved}}},
      {"programGroup", {{"programsDir", r.programsDir}, {"shortcuts", links}}},
      {"uninstall", {{"key", UninstallKeyPath()}, {"values", uninstall}}},
      {"beside", {{"programPresent", r.beside.programPresent}, {"batchFile", Optional(r.beside.batchFile)}}},
      {"expected", {{"files", expected}, {"leftOut", r.expected.notes}}},
      {"notes", r.notes},
      {"differences", differences},
  };
  out << root.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}
