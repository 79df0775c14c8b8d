// `setuppack try`: runs a setup program silently under Wine in a fresh 32-bit
// prefix of its own and reports what it did (exit code, message boxes, the
// files it created or changed in the install and system directories, its
// program group, its uninstall entry, what it left beside itself), checked
// against the package it carries.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "setuppack/trial/install_check.hpp"

struct TrialOptions {
  std::filesystem::path program;
  std::optional<std::string> directory;       // --dir: the install directory (C:\...)
  std::string arguments;                      // --args, split on blanks
  std::optional<std::string> windowsVersion;  // --windows
  std::filesystem::path keep;                 // --keep DIR
  std::chrono::seconds timeout{120};          // for the program's run
  bool progress = false;                      // a progress line on standard error
  unsigned codePage = 1252;
};

struct MessageBoxSeen {
  double seconds = 0;       // after the start
  std::string caption, text, program, owner;
};

struct WindowSeen {
  std::string className, caption, program;
};

struct BesideProgram {
  std::optional<std::string> batchFile;   // C:\DEL_SETUP32.BAT's text, if it is there
  bool programPresent = true;             // the program's copy in the prefix
};

struct TrialReport {
  std::string program;                    // as given
  std::string wineVersion;
  std::string windowsVersion;             // as asked, or "Wine's default"
  std::string commandLine;                // behind the program's name
  std::string installDir, systemDir, programsDir;  // Windows paths
  std::optional<int> exitCode;
  bool timedOut = false;
  bool interrupted = false;
  double seconds = 0;
  bool boxesRead = false;
  std::string boxesNote;                  // why boxes were not read
  std::vector<MessageBoxSeen> boxes;
  std::vector<WindowSeen> windowsOpen;    // other windows seen while it ran
  std::vector<std::string> notes;
  BesideProgram beside;
  PackageContents package;
  ExpectedInstall expected;
  ObservedInstall observed;
  std::vector<Difference> differences;

  bool Matched() const { return differences.empty(); }
};

// Throws TrialUnavailable (wine_run.hpp) when it cannot try: no Wine, a
// kernel without i386 support, no X server, not a setup program.
TrialReport RunTrial(const TrialOptions& options);

// A summary line, then the tree.
void PrintTrialReport(const TrialReport& report, std::ostream& out);
void PrintTrialJson(const TrialReport& report, std::ostream& out);
