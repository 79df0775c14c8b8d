// Fixture for the tests that run setup.exe: builds a package (setup.exe padded
// to the archive offset, plus an archive) in the test's directory, starts it
// under Wine and checks its message boxes and exit code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "robot.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "support/damaged_archive.hpp"
#include "support/sample_data.hpp"
#include "wine_fixture.hpp"

namespace winetest {

// Caption of every message box: the first 31 characters of string 2.
inline const std::string kBoxCaption = "Korvane Online Backup Installat";
// Caption of the progress dialog: string 2 whole.
inline const std::string kDialogCaption = "Korvane Online Backup Installation";
// The package's file name. Never SETUP.EXE: that name is what the program
// hands over to on Win32s.
inline const std::string kPackageName = "KorvaneTest.exe";
inline const std::string kRunCommand = "Korvane.exe";

inline constexpr Milliseconds kBoxTimeout(20000);
inline constexpr Milliseconds kRunTimeout(60000);

std::string ArchiveErrorBoxText(const std::string& errorText);

class SetupTest : public WineTest {
protected:
  void SetUp() override;
  void TearDown() override;

  // A package that installs nothing yet: runCommand Korvane.exe, defaultPath
  // the test's Default directory, no icons, no trailing block.
  PackageBuilder NewPackage() const;
  // setup.exe + archive written as the package (and its external files).
  void WritePackage(const PackageBuilder& package, const std::string& name = kPackageName);
  // The package written as above, then patched by `damage` (the external
  // member files stay as written).
  void WriteDamagedPackage(const PackageBuilder& package, void (*damage)(DamagedProgram&),
                           const std::string& name = kPackageName);
  // A case of the table of damaged archives, built on NewPackage(); returns
  // the package before the damage.
  PackageBuilder WriteDamagedPackage(const DamagedArchive& damaged);

  // The default install directory of the tests, C:\t\<test>\Install.
  std::string InstallDir() const { return WinFile("Install"); }
  std::filesystem::path Installed(std::string_view relative) const {
    return DirFile("Install\\" + std::string(relative));
  }
  // Arguments for a silent installation into InstallDir().
  std::vector<std::string> SilentArgs() const { return {"/S", "/D", InstallDir()}; }

  Process StartSetup(const std::vector<std::string>& arguments, const std::string& name = kPackageName);
  // Runs the package to its end; empty when it did not end in time (for
  // instance because it waits on a message box).
  std::optional<int> RunSetup(const std::vector<std::string>& arguments,
                              const std::string& name = kPackageName);

  Robot& Bot();
  // Waits for a message box of `process` under the installation caption,
  // checks its text and presses OK. The box as it was, or empty when none came.
  std::optional<WindowInfo> ExpectMessageBox(Process& process, const std::string& text);
  // The same, and then the process's exit code.
  std::optional<int> ExpectMessageBoxAndExit(Process& process, const std::string& text);
  // The finish dialog of an interactive run (the package's dialog with a Run
  // button), or empty when none came.
  std::optional<WindowInfo> WaitFinishDialog(Process& process);
  // Ends an interactive installation at its finish dialog with Exit Setup;
  // the exit code.
  std::optional<int> ExitAtFinishDialog(Process& process);

  // A file of the system directory for this test only, removed afterwards.
  std::string SystemFileName(const std::string& suffix);
  std::filesystem::path SystemFile(const std::string& name) const;

private:
  std::unique_ptr<Robot> robot_;
  std::vector<std::filesystem::path> systemFiles_;
  std::vector<std::uint8_t> stub_;
};

}  // namespace winetest
