// Member names that would leave the install directory, or that do not fit a
// path buffer, are refused with string 5 naming the path; nothing is written
// outside, and the members before them stay installed.
#include <gtest/gtest.h>

#include "setup_fixture.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

struct UnsafeName {
  const char* test;
  const char* member;
};

class PathSafety : public SetupTest, public ::testing::WithParamInterface<UnsafeName> {
protected:
  std::optional<WindowInfo> RunAndExpectRefusal(const std::string& member, const std::string& text) {
    PackageBuilder package = NewPackage();
    package.AddFile("first.txt", "first");
    package.AddFile(member, "escaped");
    package.AddFile("after.txt", "after");
    WritePackage(package);
    Process setup = StartSetup(SilentArgs());
    auto box = ExpectMessageBox(setup, text);
    EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
    EXPECT_EQ(ReadText(Installed("first.txt")), "first");
    EXPECT_FALSE(fs::exists(Installed("after.txt")));
    return box;
  }
};

TEST_P(PathSafety, NameLeavingTheInstallDirectoryIsRefused) {
  const std::string member = GetParam().member;
  auto box = RunAndExpectRefusal(
      member, "Installation failed because file " + InstallDir() + "\\" + member + " could not be created.");
  if (box) {
    EXPECT_EQ(box->ownerText, kDialogCaption);
  }
  EXPECT_FALSE(fs::exists(DirFile("evil.txt")));
  EXPECT_FALSE(fs::exists(UnixPath("C:\\evil.txt")));
  EXPECT_FALSE(fs::exists(UnixPath("C:\\t\\evil.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    MemberNames, PathSafety,
    ::testing::Values(UnsafeName{"ParentDirectory", "..\\evil.txt"},
                      UnsafeName{"ParentInsideName", "sub\\..\\..\\evil.txt"},
                      UnsafeName{"ParentWithTrailingDot", "...\\evil.txt"},
                      UnsafeName{"LeadingBackslash", "\\evil.txt"},
                      UnsafeName{"DriveLetter", "C:\\evil.txt"},
                      UnsafeName{"DriveRelative", "C:evil.txt"},
                      UnsafeName{"AlternateStream", "first.txt:stream"},
                      UnsafeName{"UncPath", "\\\\server\\share\\evil.txt"}),
    [](const ::testing::TestParamInfo<UnsafeName>& info) { return std::string(info.param.test); });

class LongNames : public SetupTest {};

TEST_F(LongNames, MemberNameBeyondThePathBufferIsRefused) {
  // The install directory plus this name exceed 259 characters.
  std::string member = "d\\" + std::string(240, 'n') + ".txt";
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile(member, "long");
  WritePackage(package);
  Process setup = StartSetup(SilentArgs());
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(box) << Bot().LastError();
  ASSERT_EQ(box->StaticTexts().size(), 1u);
  const std::string text = box->StaticTexts()[0];
  EXPECT_EQ(text.rfind("Installation failed because file " + InstallDir(), 0), 0u) << text;
  EXPECT_NE(text.find("could not be created."), std::string::npos) << text;
  Bot().Press(box->hwnd, kIdOk);
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  EXPECT_FALSE(fs::exists(Installed("d")));
}

}  // namespace
}  // namespace winetest
