#include "setuppack/trial/install_check.hpp"

#include <algorithm>
#include <cctype>

#include "format/member_name.hpp"
#include "setuppack/reader/list.hpp"
#include "format/uninstall_key.hpp"

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsConfig(const std::string& name) { return Lower(name) == "config.dat"; }

std::string VersionText(MemberVersion v) {
  return std::to_string(v.ms >> 16) + "." + std::to_string(v.ms & 0xFFFF) + "." + std::to_string(v.ls >> 16) +
         "." + std::to_string(v.ls & 0xFFFF);
}

bool Newer(MemberVersion a, MemberVersion b) { return a.ms != b.ms ? a.ms > b.ms : a.ls > b.ls; }

std::string Time(std::uint64_t fileTime) {
  const std::string t = FormatFileTimeUtc(fileTime);
  return t.empty() ? "no time" : t + " UTC";
}

// The last expected entry of each name wins, as a later member overwrites an
// earlier one.
void Place(std::vector<ExpectedFile>& files, ExpectedFile file) {
  const std::string key = Lower(file.name);
  files.erase(std::remove_if(files.begin(), files.end(),
                             [&](const ExpectedFile& f) { return f.system == file.system && Lower(f.name) == key; }),
              files.end());
  files.push_back(std::move(file));
}

}  // namespace

std::string UninstallKeyPath() {
  return std::string("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kUninstallKeyName;
}

ExpectedInstall ExpectInstall(const PackageContents& package, const InstallRules& rules,
                              const ObservedInstall& observed) {
  ExpectedInstall expected;
  std::set<std::string> present = observed.installBefore;
  std::size_t trailingIndex = 0;
  bool trailingStopped = false;
  for (std::size_t index = 0; index < package.files.size(); ++index) {
    const PackageFile& m = package.files[index];
    const bool system = (m.flags & kMemberSys) != 0;
    if (m.trailing && trailingStopped) break;
    bool install = true;
    if (!m.trailing && (m.flags & kMemberDlr) && !rules.installDlr) {
      expected.notes.push_back(m.name + ": not installed: a DLR member on this platform");
      install = false;
    }
    if (install && system) {
      const auto before = observed.systemBefore.find(Lower(m.name));
      if (before != observed.systemBefore.end() && before->second && !Newer(m.version, *before->second)) {
        expected.notes.push_back(m.name + ": not installed: the system directory holds version " +
                                 VersionText(*before->second) + ", the member has " + VersionText(m.version));
        install = false;
      }
    }
    if (install && !system && rules.skipConfig && IsConfig(m.name)) {
      expected.notes.push_back(m.name + ": not installed: /N");
      install = false;
    }
    if (install && !system && rules.keepExistingConfig && IsConfig(m.name) && present.count(Lower(m.name))) {
      expected.notes.push_back(m.name + ": not installed: the install directory holds one already");
      install = false;
    }
    if (install && m.trailing && trailingIndex == 0 && package.iniFile &&
        Lower(m.name) == Lower(*package.iniFile) && present.count(Lower(m.name))) {
      expected.notes.push_back("trailing block not installed: the account file " + m.name + " is present");
      trailingStopped = true;
      continue;
    }
    if (m.trailing) ++trailingIndex;
    if (!install) continue;
    Place(expected.files, ExpectedFile{m.name, system, index});
    if (!system) present.insert(Lower(m.name));
  }

  if (!package.iconsRead || package.icons.empty()) return expected;
  const std::optional<std::string>& group = package.iconGroup;
  const bool groupAllowed = !group || IsSafeShortcutName(group->c_str());
  const std::string folder = group ? *group + "\\" : std::string();
  for (const PackageIconEntry& icon : package.icons) {
    if (!icon.name.empty() && icon.name[0] == kUninstallIconMark) {
      std::map<std::string, std::string> values;
      values["DisplayName"] = icon.name.substr(1);
      if (icon.arguments) values["UninstallString"] = rules.installDir + "\\" + *icon.arguments;
      if (group) values["StartMenuGroup"] = *group;
      expected.uninstall = std::move(values);
      continue;
    }
    if (!groupAllowed || !IsSafeShortcutName(icon.name.c_str())) {
      expected.notes.push_back("shortcut \"" + icon.name + "\" and the icon entries after it: not created, the name is refused");
      break;
    }
    expected.links.push_back(ExpectedLink{folder + icon.name + ".lnk", rules.installDir + "\\" + icon.target.value_or(""),
                                          rules.installDir, icon.arguments});
  }
  return expected;
}

std::vector<Difference> CompareInstall(const PackageContents& package, const ExpectedInstall& expected,
                                       const ObservedInstall& observed) {
  std::vector<Difference> out;
  if (package.archiveError)
    out.push_back({"package", "", "the archive is damaged: " + *package.archiveError});
  for (const PackageFile& m : package.files) {
    if (!m.problem.empty()) out.push_back({"package", m.name, m.name + ": " + m.problem});
  }

  auto compareFiles = [&](bool system, const std::vector<ObservedFile>& seen, const char* where) {
    std::set<std::string> matched;
    for (const ExpectedFile& e : expected.files) {
      if (e.system != system) continue;
      const std::string key = Lower(e.name);
      const auto it = std::find_if(seen.begin(), seen.end(), [&](const ObservedFile& f) { return Lower(f.name) == key; });
      if (it == seen.end()) {
        out.push_back({"missing", e.name, e.name + ": not installed in the " + where + " directory"});
        continue;
      }
      matched.insert(key);
      const PackageFile& m = package.files[e.member];
      if (!m.problem.empty()) continue;
      if (it->size != m.size || it->sha256 != m.sha256) {
        out.push_back({"content", e.name,
                       e.name + ": " + std::to_string(it->size) + " bytes (SHA-256 " + it->sha256.substr(0, 12) +
                           "...), the package holds " + std::to_string(m.size) + " bytes (SHA-256 " +
                           m.sha256.substr(0, 12) + "...)"});
      }
      if (m.fileTime != 0 && it->fileTime / kTicksPerSecond != m.fileTime / kTicksPerSecond) {
        out.push_back({"time", e.name, e.name + ": last written " + Time(it->fileTime) + ", the package says " +
                                           Time(m.fileTime)});
      }
    }
    for (const ObservedFile& f : seen) {
      const std::string key = Lower(f.name);
      if (matched.count(key)) continue;
      if (!system && observed.installBefore.count(key)) continue;
      out.push_back({"unexpected", f.name, f.name + ": " + (system ? "created or changed in the system" : "found in the install") +
                                               " directory; the package does not install it"});
    }
  };
  compareFiles(false, observed.installAfter, "install");
  compareFiles(true, observed.systemChanged, "system");
  for (const std::string& name : observed.systemRemoved)
    out.push_back({"removed", name, name + ": removed from the system directory"});

  std::set<std::string> linksMatched;
  for (const ExpectedLink& e : expected.links) {
    const auto it = std::find_if(observed.links.begin(), observed.links.end(),
                                 [&](const ObservedLink& l) { return Lower(l.name) == Lower(e.name); });
    if (it == observed.links.end()) {
      out.push_back({"shortcut", e.name, e.name + ": not created"});
      continue;
    }
    linksMatched.insert(Lower(e.name));
    if (!it->problem.empty()) {
      out.push_back({"shortcut", e.name, e.name + ": " + it->problem});
      continue;
    }
    auto check = [&](const char* what, const std::optional<std::string>& seen, const std::optional<std::string>& want) {
      if (Lower(seen.value_or("")) == Lower(want.value_or(""))) return;
      out.push_back({"shortcut", e.name, e.name + ": " + what + " \"" + seen.value_or("") + "\", expected \"" +
                                             want.value_or("") + "\""});
    };
    check("target", it->target, e.target);
    check("working directory", it->workingDirectory, e.workingDirectory);
    if (it->arguments.value_or("") != e.arguments.value_or(""))
      out.push_back({"shortcut", e.name, e.name + ": arguments \"" + it->arguments.value_or("") + "\", expected \"" +
                                             e.arguments.value_or("") + "\""});
  }
  for (const ObservedLink& l : observed.links) {
    if (!linksMatched.count(Lower(l.name)))
      out.push_back({"shortcut", l.name, l.name + ": created, but the package has no such shortcut"});
  }

  const std::string key = UninstallKeyPath();
  if (expected.uninstall && !observed.uninstall) {
    out.push_back({"uninstall", key, key + ": not registered"});
  } else if (!expected.uninstall && observed.uninstall) {
    out.push_back({"uninstall", key, key + ": registered, but the package has no uninstall entry"});
  } else if (expected.uninstall) {
    for (const auto& [name, value] : *expected.uninstall) {
      const auto it = observed.uninstall->find(name);
      if (it == observed.uninstall->end())
        out.push_back({"uninstall", key, key + ": no value " + name + ", expected \"" + value + "\""});
      else if (it->second != value)
        out.push_back({"uninstall", key, key + ": " + name + " is \"" + it->second + "\", expected \"" + value + "\""});
    }
    for (const auto& [name, value] : *observed.uninstall) {
      if (!expected.uninstall->count(name))
        out.push_back({"uninstall", key, key + ": value " + name + " = \"" + value + "\" is not the package's"});
    }
  }
  return out;
}
