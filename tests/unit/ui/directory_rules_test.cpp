// The welcome dialog's rules for a typed install directory.
#include "ui/directory_rules.hpp"

#include <gtest/gtest.h>

namespace {

TEST(DirectoryRules, TrailingBackslashesAreRemoved) {
  char path[] = "C:\\Backup\\\\\\";
  RemoveTrailingBackslashes(path);
  EXPECT_STREQ(path, "C:\\Backup");
  char root[] = "\\\\";
  RemoveTrailingBackslashes(root);
  EXPECT_STREQ(root, "");
}

TEST(DirectoryRules, DriveAndDirectory) {
  for (const char* good : {"C:\\Backup", "z:\\a", "C:\\New\\Sub"}) EXPECT_TRUE(HasDriveAndDirectory(good)) << good;
  for (const char* bad : {"C:\\", "D:", "1:\\dir", "C;\\dir", "C:dir", "", "\\\\srv\\share", "\xC4:\\dir"}) {
    EXPECT_FALSE(HasDriveAndDirectory(bad)) << bad;
  }
}

}  // namespace
