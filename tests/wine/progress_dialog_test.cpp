// The progress dialog: caption, centring, status line and ownership of the
// message boxes raised during extraction.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "setup_fixture.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;


class ProgressDialog : public SetupTest {
protected:
  // A package whose second member cannot be created (a directory has its
  // name): the program stops with a message box while the progress dialog is
  // up.
  Process StartStoppedInstallation() {
    PackageBuilder package = NewPackage();
    package.AddFile("first.txt", std::vector<std::uint8_t>(20000, 'f'));
    package.AddFile("taken.dat", "data");
    WritePackage(package);
    fs::create_directories(Installed("taken.dat"));
    return StartSetup(SilentArgs());
  }
};

TEST_F(ProgressDialog, OwnsTheMessageBoxesRaisedDuringExtraction) {
  Process setup = StartStoppedInstallation();
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(box) << Bot().LastError();
  EXPECT_TRUE(box->HasOwner());
  EXPECT_EQ(box->ownerText, kDialogCaption);
  Bot().Press(box->hwnd, kIdOk);
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
}

TEST_F(ProgressDialog, ShowsTheWholeCaptionCentredOnTheScreen) {
  Process setup = StartStoppedInstallation();
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(box) << Bot().LastError();
  auto dialog = Bot().Dump(box->owner);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->text, kDialogCaption);
  EXPECT_EQ(dialog->className, "#32770");
  EXPECT_TRUE(dialog->visible);
  EXPECT_EQ(dialog->exe, kPackageName);
  // The fixture's X server is 1024 x 768.
  EXPECT_EQ(dialog->rect.left, 1024 / 2 - dialog->rect.Width() / 2);
  EXPECT_EQ(dialog->rect.top, 768 / 2 - dialog->rect.Height() / 2);
  Bot().Press(box->hwnd, kIdOk);
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
}

TEST_F(ProgressDialog, StatusLineNamesTheMemberBeingInstalled) {
  Process setup = StartStoppedInstallation();
  auto box = Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup);
  ASSERT_TRUE(box) << Bot().LastError();
  auto dialog = Bot().Dump(box->owner);
  ASSERT_TRUE(dialog);
  const ControlInfo* status = dialog->Control(IDC_STATUS_TEXT);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text, InstallDir() + "\\taken.dat");
  const ControlInfo* label = dialog->Control(IDC_INSTALLING_LABEL);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text, "Installing File:");
  EXPECT_TRUE(label->visible);
  const ControlInfo* progressLabel = dialog->Control(IDC_PROGRESS_LABEL);
  ASSERT_NE(progressLabel, nullptr);
  EXPECT_EQ(progressLabel->text, "Installation Progress");
  const ControlInfo* bar = dialog->Control(IDC_PROGRESS_BAR);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->className, "msctls_progress32");
  EXPECT_TRUE(bar->visible);
  // The bar stands past the first member's 20000 bytes, short of the end.
  ASSERT_TRUE(bar->position.has_value());
  EXPECT_GT(*bar->position, 50);
  EXPECT_LT(*bar->position, 100);
  Bot().Press(box->hwnd, kIdOk);
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
}

TEST_F(ProgressDialog, IsVisibleWhileALargeMemberIsExtracted) {
  PackageBuilder package = NewPackage();
  package.AddFile("small.txt", "small");
  package.AddFile("large.bin", std::vector<std::uint8_t>(96u << 20, 0x42));
  WritePackage(package);
  Process setup = StartSetup(SilentArgs());
  auto dialog = Bot().WaitWindow("#32770", kDialogCaption, kRunTimeout, &setup);
  ASSERT_TRUE(dialog) << "the progress dialog was not seen";
  EXPECT_EQ(dialog->exe, kPackageName);
  const ControlInfo* status = dialog->Control(IDC_STATUS_TEXT);
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->text == "Checking for existing files..." ||
              status->text.rfind(InstallDir() + "\\", 0) == 0)
      << status->text;
  EXPECT_EQ(setup.Wait(kRunTimeout), 0);
  EXPECT_EQ(fs::file_size(Installed("large.bin")), 96u << 20);
  // The dialog is destroyed before the program ends.
  EXPECT_TRUE(Bot().WaitGone(dialog->hwnd, Milliseconds(1000)));
}

}  // namespace
}  // namespace winetest
