// Opening the archive: a program file that cannot be opened ends the program
// with string 9 and exit code 0, before anything is installed.
#include <gtest/gtest.h>

#include "setup_fixture.hpp"

namespace winetest {
namespace {

// The damaged headers and settings strings are cases of the table of damaged
// archives (damaged_archive_test.cpp).
class ArchiveOpening : public SetupTest {};

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
