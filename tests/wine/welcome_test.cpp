// The welcome dialog of an interactive run: the decompressed welcome picture
// painted from the CMPBMP resource, the install directory, Install, Exit
// Setup, and the directory chooser behind Browse...
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "base/le.hpp"
#include "resources/resource.h"
#include "setup_fixture.hpp"
#include "setuppack/host/file_io.hpp"
#include "small_drive.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

// The directory chooser's edit for a typed directory: a literal id of its
// dialog template, not in resource.h.
constexpr int kIdTypedDirectory = 1088;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The welcome picture as the build stores it: a 4-bit BMP, bottom-up.
class WelcomePicture {
public:
  WelcomePicture() {
    const fs::path source = fs::path(__FILE__).parent_path().parent_path().parent_path() /
                            "src/resources/welcome.bmp";
    file_ = ReadWholeFile(source);
  }
  int Width() const { return static_cast<int>(LoadLe32(file_.data() + 18)); }
  int Height() const { return static_cast<int>(LoadLe32(file_.data() + 22)); }
  // "RRGGBB" of pixel (x, y), y counted from the top.
  std::string Colour(int x, int y) const {
    const std::size_t stride = ((static_cast<std::size_t>(Width()) * 4 + 31) / 32) * 4;
    const std::size_t row = static_cast<std::size_t>(Height() - 1 - y);
    const std::uint8_t byte = file_[LoadLe32(file_.data() + 10) + row * stride + x / 2];
    const int index = (x % 2 == 0) ? byte >> 4 : byte & 0x0F;
    const std::uint8_t* entry = file_.data() + 14 + 40 + 4 * index;  // blue, green, red, 0
    char text[7];
    std::snprintf(text, sizeof text, "%02X%02X%02X", entry[2], entry[1], entry[0]);
    return text;
  }

private:
  std::vector<std::uint8_t> file_;
};

class Welcome : public SetupTest {
protected:
  std::optional<WindowInfo> StartInteractive(std::uint32_t requiredSpace = 0) {
    PackageBuilder package = NewPackage();
    package.header.requiredSpace = requiredSpace;
    package.AddFile("readme.txt", "installed");
    WritePackage(package);
    setup_ = StartSetup({"/D", InstallDir()});
    auto dialog = Bot().WaitWindow("#32770", kDialogCaption, kBoxTimeout, &setup_);
    if (!dialog) ADD_FAILURE() << "no welcome dialog (" << Bot().LastError() << ")";
    return dialog;
  }
  std::optional<std::string> Pixel(const std::string& hwnd, int x, int y) {
    auto reply = Bot().Command("pixel " + hwnd + " " + std::to_string(x) + " " + std::to_string(y),
                               Milliseconds(5000));
    if (!reply || reply->empty() || reply->front().rfind("pixel ", 0) != 0) return std::nullopt;
    return reply->front().substr(6);
  }
  // The directory chooser: the second dialog of the setup program.
  std::optional<WindowInfo> WaitChooser(const std::string& welcome) {
    std::optional<WindowInfo> chooser;
    WaitUntil(
        [&] {
          for (const WindowInfo& window : Bot().Windows()) {
            if (window.className != "#32770" || window.hwnd == welcome || window.exe != kPackageName) continue;
            chooser = Bot().Dump(window.hwnd);
            if (chooser && chooser->Control(kIdTypedDirectory) != nullptr) return true;
          }
          chooser.reset();
          return false;
        },
        Milliseconds(10000));
    if (!chooser) ADD_FAILURE() << "no directory chooser";
    return chooser;
  }

  Process setup_;
};

TEST_F(Welcome, ShowsTheInstallDirectoryAndTheTexts) {
  auto dialog = StartInteractive();
  ASSERT_TRUE(dialog);
  ASSERT_NE(dialog->Control(IDC_TARGET_DIRECTORY), nullptr);
  EXPECT_EQ(dialog->Control(IDC_TARGET_DIRECTORY)->text, InstallDir());
  EXPECT_EQ(dialog->Control(kIdOk)->text, "&Install");
  EXPECT_EQ(dialog->Control(IDC_BROWSE)->text, "&Browse...");
  EXPECT_EQ(dialog->Control(kIdCancel)->text, "&Exit Setup");
  const std::vector<std::string> texts = dialog->StaticTexts();
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "Welcome to Korvane Online Backup from Korvane Corporation, the fully automated, "
                      "online file backup and disaster recovery service."),
            texts.end());
  Bot().Press(dialog->hwnd, kIdCancel);
  EXPECT_EQ(setup_.Wait(kRunTimeout), 0);
}

TEST_F(Welcome, PaintsTheDecompressedPictureAtEightEight) {
  auto dialog = StartInteractive();
  ASSERT_TRUE(dialog);
  const WelcomePicture picture;
  ASSERT_EQ(picture.Width(), 122);
  ASSERT_EQ(picture.Height(), 229);
  // Rows near the bottom may lie below the client area: Wine's dialog font is
  // a little smaller than the one the dialog units were laid out for.
  const std::pair<int, int> samples[] = {{0, 0}, {121, 0}, {61, 114}, {30, 200}, {100, 60}, {5, 150}, {121, 190}};
  for (const auto& [x, y] : samples) {
    std::optional<std::string> shown;
    // The dialog may not have painted yet when it first appears.
    WaitUntil(
        [&] {
          shown = Pixel(dialog->hwnd, 8 + x, 8 + y);
          return shown == picture.Colour(x, y);
        },
        Milliseconds(5000));
    EXPECT_EQ(shown, picture.Colour(x, y)) << "pixel " << x << "," << y;
  }
  Bot().Press(dialog->hwnd, kIdCancel);
  EXPECT_EQ(setup_.Wait(kRunTimeout), 0);
}

TEST_F(Welcome, ExitSetupEndsWithoutCreatingTheDirectory) {
  auto dialog = StartInteractive();
  ASSERT_TRUE(dialog);
  Bot().Press(dialog->hwnd, kIdCancel);
  EXPECT_EQ(setup_.Wait(kRunTimeout), 0);
  EXPECT_FALSE(fs::exists(DirFile("Install")));
}

TEST_F(Welcome, InstallCreatesTheDirectoryAndInstalls) {
  auto dialog = StartInteractive();
  ASSERT_TRUE(dialog);
  Bot().Press(dialog->hwnd, kIdOk);
  EXPECT_EQ(ExitAtFinishDialog(setup_), 0);
  EXPECT_EQ(ReadText(Installed("readme.txt")), "installed");
}

struct SpaceCase {
  const char* windowsVersion;  // nt351: root query only; win10: extended query first
  std::uint32_t requiredSpace;
  const char* megabytes;       // shown in the message, or nullptr when there is room
};

class WelcomeSpace : public Welcome, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(WelcomeSpace, InstallChecksTheFreeSpaceOfTheChosenDrive) {
  const SpaceCase& c = GetParam();
  SmallDrive drive(Dir() / "small");
  if (!drive.Mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  ScopedWindowsVersion version(c.windowsVersion, kPackageName);
  ASSERT_TRUE(version.Applied());

  PackageBuilder package = NewPackage();
  package.header.requiredSpace = c.requiredSpace;
  package.AddFile("readme.txt", "installed");
  WritePackage(package);
  setup_ = StartSetup({"/D", "R:\\Korvane"});
  auto dialog = Bot().WaitWindow("#32770", kDialogCaption, kBoxTimeout, &setup_);
  ASSERT_TRUE(dialog);
  Bot().Press(dialog->hwnd, kIdOk);
  if (c.megabytes == nullptr) {
    EXPECT_EQ(ExitAtFinishDialog(setup_), 0);
    EXPECT_EQ(ReadText(Dir() / "small/Korvane/readme.txt"), "installed");
    return;
  }
  auto box = ExpectMessageBox(setup_, std::string("The drive you chose does not have enough free space. "
                                                  "Korvane Online Backup requires a minimum of ") +
                                          c.megabytes + " Megabytes of space to run.");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->ownerText, kDialogCaption);
  // The dialog stays open: the user may choose another directory or leave.
  EXPECT_TRUE(Bot().Dump(dialog->hwnd).has_value());
  Bot().Press(dialog->hwnd, kIdCancel);
  EXPECT_EQ(setup_.Wait(kRunTimeout), 0);
  EXPECT_FALSE(fs::exists(Dir() / "small/Korvane"));
}

INSTANTIATE_TEST_SUITE_P(
    Drives, WelcomeSpace,
    ::testing::Values(SpaceCase{"nt351", 3u << 20, "3"},          // root query, whole megabytes
                      SpaceCase{"nt351", (7u << 19), "3"},        // 3.5 MiB shows 3
                      SpaceCase{"win10", 5767168u, "5"},          // extended query on the root too
                      SpaceCase{"nt351", 1u << 20, nullptr},      // room on the root query
                      SpaceCase{"win10", 1u << 20, nullptr}),     // room on the extended query
    [](const ::testing::TestParamInfo<SpaceCase>& info) {
      return std::string(info.param.windowsVersion) + "_" + std::to_string(info.param.requiredSpace);
    });

TEST_F(Welcome, ChooserRefusesAPathWithoutDriveAndDirectory) {
  auto dialog = StartInteractive();
  ASSERT_TRUE(dialog);
  Bot().Press(dialog->hwnd, IDC_BROWSE);
  auto chooser = WaitChooser(dialog->hwnd);
  ASSERT_TRUE(chooser);
  for (const char* typed : {"C:\\", "D:", "1:\\dir", "C;\\dir", "C:dir"}) {
    SCOPED_TRACE(typed);
    Bot().SetText(chooser->hwnd, kIdTypedDirectory, typed);
    Bot().Press(chooser->hwnd, kIdOk);
    ExpectMessageBox(setup_,
                     "The path you typed is not valid - it must begin with a drive letter and a directory "
                     "name, like " + WinFile("Default") + ".");
  }
  Bot().Press(chooser->hwnd, kIdCancel);
  Bot().WaitGone(chooser->hwnd, Milliseconds(5000));
  EXPECT_EQ(Bot().Dump(dialog->hwnd)->Control(IDC_TARGET_DIRECTORY)->text, InstallDir());
  Bot().Press(dialog->hwnd, kIdCancel);
  EXPECT_EQ(setup_.Wait(kRunTimeout), 0);
}

TEST_F(Welcome, ChooserCreatesAMissingDirectoryWhenAsked) {
  auto dialog = StartInteractive();
  ASSERT_TRUE(dialog);
  Bot().Press(dialog->hwnd, IDC_BROWSE);
  auto chooser = WaitChooser(dialog->hwnd);
  ASSERT_TRUE(chooser);
  const std::string typed = WinFile("New\\Sub");
  Bot().SetText(chooser->hwnd, kIdTypedDirectory, typed + "\\\\");
  Bot().Press(chooser->hwnd, kIdOk);
  // The question box has OK and Cancel; OK creates every missing level.
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup_);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->StaticTexts(),
            std::vector<std::string>{"Directory " + typed + " does not exist.  Would you like to create it?"});
  EXPECT_NE(box->Control(kIdCancel), nullptr);
  Bot().Press(box->hwnd, kIdOk);
  EXPECT_TRUE(Bot().WaitGone(chooser->hwnd, Milliseconds(10000)));
  EXPECT_TRUE(fs::is_directory(DirFile("New/Sub")));
  // The common dialog shows directories in lower case; the path is the same.
  EXPECT_EQ(Lower(Bot().Dump(dialog->hwnd)->Control(IDC_TARGET_DIRECTORY)->text), Lower(typed));
  Bot().Press(dialog->hwnd, kIdOk);
  EXPECT_EQ(ExitAtFinishDialog(setup_), 0);
  EXPECT_EQ(ReadText(DirFile("New/Sub/readme.txt")), "installed");
}

TEST_F(Welcome, DecliningTheCreationKeepsTheChooserOpen) {
  auto dialog = StartInteractive();
  ASSERT_TRUE(dialog);
  Bot().Press(dialog->hwnd, IDC_BROWSE);
  auto chooser = WaitChooser(dialog->hwnd);
  ASSERT_TRUE(chooser);
  Bot().SetText(chooser->hwnd, kIdTypedDirectory, WinFile("Declined"));
  Bot().Press(chooser->hwnd, kIdOk);
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup_);
  ASSERT_TRUE(box);
  Bot().Press(box->hwnd, kIdCancel);
  Bot().WaitGone(box->hwnd, Milliseconds(5000));
  EXPECT_FALSE(fs::exists(DirFile("Declined")));
  EXPECT_TRUE(Bot().Dump(chooser->hwnd).has_value());
  Bot().Press(chooser->hwnd, kIdCancel);
  Bot().WaitGone(chooser->hwnd, Milliseconds(5000));
  // Install takes the directory the welcome dialog shows, not the declined one.
  Bot().Press(dialog->hwnd, kIdOk);
  EXPECT_EQ(ExitAtFinishDialog(setup_), 0);
  EXPECT_EQ(ReadText(Installed("readme.txt")), "installed");
  EXPECT_FALSE(fs::exists(DirFile("Declined")));
}

}  // namespace
}  // namespace winetest
