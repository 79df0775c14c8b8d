// What a silent installation of a package should leave behind, and the
// differences between that and what a run left: the rules of setup.exe's
// extraction (the DLR and SYS rules, CONFIG.DAT, the account file of the
// trailing block), its program group and its uninstall entry, applied to the
// package's members. Pure: no files, no Wine; `setuppack try` feeds it with
// the package as `extract` reads it and with the tree it observed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "format/layout.hpp"

// One member of the package, decoded. Texts are UTF-8; names keep the
// archive's backslashes.
struct PackageFile {
  std::string name;
  std::uint8_t flags = 0;           // member flags; 0 for trailing members
  MemberVersion version{0, 0};      // SYS members
  std::uint64_t fileTime = 0;       // 0: no time (CT and DS trailing members)
  bool trailing = false;
  std::uint64_t size = 0;           // decoded size
  std::string sha256;               // of the decoded bytes; empty when `problem` is set
  std::string problem;              // why the member could not be decoded, if so
};

struct PackageIconEntry {
  std::string name;                 // "*..." for the uninstall entry
  std::optional<std::string> arguments;
  std::optional<std::string> target;
};

struct PackageContents {
  std::vector<PackageFile> files;   // the main table, then the trailing block, in archive order
  std::vector<PackageIconEntry> icons;
  std::optional<std::string> iconGroup;
  std::optional<std::string> iniFile;
  // The archive error at which reading stopped; setup.exe stops there too.
  std::optional<std::string> archiveError;
  bool iconsRead = false;           // the icon table was read (no error before it)
};

// The command line's rules and the platform's.
struct InstallRules {
  std::string installDir;           // as given to /D, without the backslash setup.exe appends
  bool skipConfig = false;          // /N
  bool keepExistingConfig = true;   // /CO turns it off
  bool installDlr = true;           // off on Windows NT and with header flag 0x20
};

struct ObservedFile {
  std::string name;                 // relative, backslash-separated, UTF-8
  std::uint64_t size = 0;
  std::uint64_t fileTime = 0;       // last write, FILETIME
  std::string sha256;
};

struct ObservedLink {
  std::string name;                 // below the Programs folder, with ".lnk"
  std::optional<std::string> target, arguments, workingDirectory;
  std::string problem;              // the file could not be read as a link
};

struct ObservedInstall {
  std::set<std::string> installBefore;    // lower-case names present before the run
  // System files named like a SYS member that existed before the run, by
  // lower-case name, with their version (nullopt: no version resource).
  std::map<std::string, std::optional<MemberVersion>> systemBefore;
  std::vector<ObservedFile> installAfter;   // every file of the install directory afterwards
  std::vector<ObservedFile> systemChanged;  // created or changed in the system directory
  std::vector<std::string> systemRemoved;
  std::vector<ObservedLink> links;          // every link below the Programs folder
  std::optional<std::map<std::string, std::string>> uninstall;  // the product key's values; nullopt: no key
};

// One file the package should leave, and why one was left out.
struct ExpectedFile {
  std::string name;
  bool system = false;
  std::size_t member = 0;           // index into PackageContents::files
};

struct ExpectedLink {
  std::string name;                 // "<group>\<name>.lnk"
  std::string target, workingDirectory;
  std::optional<std::string> arguments;
};

struct ExpectedInstall {
  std::vector<ExpectedFile> files;
  std::vector<std::string> notes;   // members left out by a rule, one line each
  std::vector<ExpectedLink> links;
  std::optional<std::map<std::string, std::string>> uninstall;
};

struct Difference {
  std::string kind;                 // package, missing, content, time, unexpected, removed, shortcut, uninstall
  std::string path;                 // the file, link or key concerned
  std::string message;              // one line
};

ExpectedInstall ExpectInstall(const PackageContents& package, const InstallRules& rules,
                              const ObservedInstall& observed);

// Every difference between the expected and the observed installation;
// empty when they match.
std::vector<Difference> CompareInstall(const PackageContents& package, const ExpectedInstall& expected,
                                       const ObservedInstall& observed);

// The uninstall product key's name under
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall.
std::string UninstallKeyPath();
