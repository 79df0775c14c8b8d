// Damaged archives (the table of tests/support/damaged_archive.cpp): every one
// ends in its archive error box, without owner, after the progress dialog is
// gone. A damaged header or settings string stops the program before anything
// is installed, with exit code 0; a fault in a table stops it with exit code 1
// and leaves the members before the fault installed, nothing behind it, and no
// program group or uninstall entry.
#include <gtest/gtest.h>

#include "shell_support.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

class DamagedArchiveRun : public SetupTest, public ::testing::WithParamInterface<DamagedArchive> {
protected:
  void TearDown() override {
    SetupTest::TearDown();
    if (!group_.empty()) {
      std::error_code ec;
      fs::remove_all(ProgramsFolder() / group_, ec);
      DeleteUninstallKey();
    }
  }

  std::string group_;
};

TEST_P(DamagedArchiveRun, StopsWithItsArchiveError) {
  const DamagedArchive& damaged = GetParam();
  const PackageBuilder package = WriteDamagedPackage(damaged);
  if (package.settings.iconGroup) group_ = *package.settings.iconGroup;
  Process setup = StartSetup(SilentArgs());
  auto box = ExpectMessageBox(setup, ArchiveErrorBoxText(damaged.errorText));
  if (box) {
    EXPECT_FALSE(box->HasOwner());
  }
  const bool opening = damaged.stage == ArchiveStage::kOpening;
  EXPECT_EQ(setup.Wait(kBoxTimeout), opening ? 0 : 1);
  if (opening) {
    EXPECT_FALSE(fs::exists(UnixPath(InstallDir())));
    return;
  }
  if (damaged.stage == ArchiveStage::kTrailingBlock) {
    EXPECT_EQ(ReadText(Installed("main.txt")), "main");
  }
  EXPECT_EQ(fs::exists(Installed("first.txt")), damaged.firstInstalled);
  if (damaged.firstInstalled) {
    EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  }
  EXPECT_EQ(fs::exists(Installed("bad.txt")), damaged.faultyInstalled);
  EXPECT_FALSE(fs::exists(Installed("after.txt")));
  if (!group_.empty()) {
    EXPECT_FALSE(fs::exists(ProgramsFolder() / group_));
    EXPECT_FALSE(UninstallValues()) << "no icon step after an archive error";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedArchiveRun, ::testing::ValuesIn(DamagedArchives()),
                         [](const ::testing::TestParamInfo<DamagedArchive>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace winetest
