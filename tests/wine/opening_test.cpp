// Opening the archive: a missing or damaged header or settings string ends
// the program with its message box and exit code 0, before anything is
// installed.
#include <gtest/gtest.h>

#include "setup_fixture.hpp"

namespace winetest {
namespace {

class ArchiveOpening : public SetupTest {
protected:
  // Runs the package silently and expects the archive error box for `errorText`.
  void ExpectOpeningError(const std::string& errorText) {
    Process setup = StartSetup(SilentArgs());
    auto box = ExpectMessageBox(setup, ArchiveErrorBoxText(errorText));
    if (box) {
      EXPECT_FALSE(box->HasOwner());
    }
    EXPECT_EQ(setup.Wait(kBoxTimeout), 0);
    EXPECT_FALSE(std::filesystem::exists(UnixPath(InstallDir())));
  }
};

TEST_F(ArchiveOpening, ProgramWithoutArchiveReportsHeaderMissing) {
  WriteRawPackage({});
  ExpectOpeningError("Archive Header missing");
}

TEST_F(ArchiveOpening, ArchiveOfOnlyTheHeaderBytesReportsHeaderMissing) {
  // 61440 + 28 bytes: the header would fit, but the file must be longer.
  ArchiveWriter writer;
  writer.Header(NewPackage().FinalHeader());
  WriteRawPackage(writer.Take());
  ExpectOpeningError("Archive Header missing");
}

TEST_F(ArchiveOpening, SwappedMagicReportsHeaderInvalid) {
  PackageBuilder package = NewPackage();
  package.header.magic[0] = 'Z';
  package.header.magic[1] = 'Q';
  WritePackage(package);
  ExpectOpeningError("Archive Header invalid");
}

TEST_F(ArchiveOpening, HeaderLengthOffByOneReportsLengthWrong) {
  PackageBuilder package = NewPackage();
  package.header = package.FinalHeader();
  package.header.headerLength += 1;
  package.computeHeader = false;
  WritePackage(package);
  ExpectOpeningError("Archive Header length wrong");
}

TEST_F(ArchiveOpening, MissingDefaultPathReported) {
  PackageBuilder package = NewPackage();
  package.settings.defaultPath.reset();
  WritePackage(package);
  ExpectOpeningError("Default Path missing");
}

TEST_F(ArchiveOpening, MissingRunCommandReported) {
  PackageBuilder package = NewPackage();
  package.settings.runCommand.reset();
  WritePackage(package);
  ExpectOpeningError("Run Command missing");
}

TEST_F(ArchiveOpening, MissingDefaultPathIsReportedBeforeMissingRunCommand) {
  PackageBuilder package = NewPackage();
  package.settings.defaultPath.reset();
  package.settings.runCommand.reset();
  WritePackage(package);
  ExpectOpeningError("Default Path missing");
}

// Code 11 ("Read failed") needs a failing read of the program's own file;
// Wine does not enforce byte-range locks on reads, so no test produces it here.

TEST_F(ArchiveOpening, ProgramFileThatCannotBeOpenedShowsString9) {
  PackageBuilder package = NewPackage();
  package.AddFile("a.txt", "a");
  WritePackage(package);
  // Held open with delete access by another program: Windows still starts
  // the program, but its own open for reading (sharing reads only) fails.
  Process::Options options;
  options.pipeStdin = true;
  options.pipeStdout = true;
  Process holder = StartWine(HelperFile("hold_file.exe").string(), {WinFile(kPackageName)}, options);
  ASSERT_EQ(holder.ReadLine(Milliseconds(20000)), "ready");
  Process setup = StartSetup(SilentArgs());
  auto box = ExpectMessageBox(
      setup, "The archive file could not be opened for decompression.  Please try again.");
  if (box) {
    EXPECT_FALSE(box->HasOwner());
  }
  EXPECT_EQ(setup.Wait(kBoxTimeout), 0);
  EXPECT_FALSE(std::filesystem::exists(Installed("a.txt")));
}

}  // namespace
}  // namespace winetest
