// Which folders of a member name setup.exe still creates once earlier members
// have been written: the folders known from the last member, and that a walk
// from there creates the same folders as a walk over every level.
#include "format/member_directories.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

KnownDirectories After(const char* name) {
  KnownDirectories known;
  ForgetDirectories(known);
  RememberDirectories(known, name);
  return known;
}

struct StartCase {
  const char* created;  // the last member created; "" for none
  const char* name;     // the next member
  std::size_t first;    // where its folders' creation begins
};

TEST(MemberDirectories, FolderCreationBeginsBehindTheKnownFolders) {
  const StartCase cases[] = {
      // Nothing known: every level, from the start.
      {"", "a\\b\\c.txt", 0},
      {"top.txt", "a\\b.txt", 0},
      // The same folders: nothing left to create.
      {"a\\b\\c.txt", "a\\b\\d.txt", 4},
      {"a\\x.txt", "a\\y.txt", 2},
      // Deeper than the known folders: the levels below them.
      {"a\\x.txt", "a\\b\\c\\d.txt", 2},
      // Shallower, or back in the install directory.
      {"a\\b\\c\\x.txt", "a\\y.txt", 2},
      {"a\\b\\x.txt", "y.txt", 0},
      // A sibling: only the common parent is known.
      {"a\\b\\x.txt", "a\\c\\y.txt", 2},
      // Names that share bytes but not folders.
      {"a\\b\\x.txt", "a\\bc\\y.txt", 2},
      {"ab\\x.txt", "a\\y.txt", 0},
      {"a\\x.txt", "ab\\y.txt", 0},
      {"a\\b\\x.txt", "a\\b", 2},
      // Another case or "/" is another folder name to the comparison: it is
      // created again, which does no harm.
      {"A\\x.txt", "a\\y.txt", 0},
      {"a/b\\x.txt", "a\\b\\y.txt", 0},
      {"a/b\\x.txt", "a/b\\y.txt", 4},
  };
  for (const StartCase& c : cases) {
    EXPECT_EQ(FirstUnknownDirectory(After(c.created), c.name), c.first) << c.created << " then " << c.name;
  }
}

TEST(MemberDirectories, ForgottenFoldersAreCreatedAgain) {
  KnownDirectories known = After("a\\b\\x.txt");
  ForgetDirectories(known);
  EXPECT_EQ(FirstUnknownDirectory(known, "a\\b\\y.txt"), 0u);
}

TEST(MemberDirectories, TheLongestNameIsRememberedWhole) {
  const std::string folder(250, 'f');
  const std::string name = folder + "\\x.tx";
  ASSERT_EQ(name.size(), 255u);
  const KnownDirectories known = After(name.c_str());
  EXPECT_EQ(known.length, 250u);
  EXPECT_EQ(FirstUnknownDirectory(known, (folder + "\\y.t").c_str()), 251u);
  EXPECT_EQ(FirstUnknownDirectory(known, (folder + "g\\y").c_str()), 0u);
}

// An installation of members in archive order, in a file system of folders
// whose names compare as bytes: every level creates each folder of the name,
// the known walk only those behind FirstUnknownDirectory.
struct Installation {
  std::set<std::string> folders;
  int creations = 0;

  void CreateFolders(const std::string& name, std::size_t from) {
    for (std::size_t i = from; i < name.size(); ++i) {
      if (name[i] != '\\') continue;
      ++creations;
      folders.insert(name.substr(0, i));
    }
  }
};

TEST(MemberDirectories, KnownWalkLeavesTheFoldersOfAWalkOverEveryLevel) {
  const std::vector<std::vector<std::string>> archives = {
      {"docs\\a.txt", "member.txt", "program\\a.exe", "program\\data\\b.dat", "program\\data\\sets\\c.dat",
       "program\\data\\sets\\d.dat", "program\\e.dll"},
      {"a\\b\\c\\d\\e.txt", "a\\b\\x.txt", "a\\b\\c\\d\\f.txt", "a\\bb\\g.txt", "a\\b\\c\\h.txt", "z.txt",
       "a\\b\\c\\d\\i.txt"},
      {"x\\1", "x\\2", "x\\3", "xy\\4", "x\\y\\5", "X\\6", "x/y\\7", "x\\8"},
  };
  for (const std::vector<std::string>& archive : archives) {
    Installation everyLevel;
    Installation knownWalk;
    KnownDirectories known;
    ForgetDirectories(known);
    for (const std::string& name : archive) {
      everyLevel.CreateFolders(name, 0);
      knownWalk.CreateFolders(name, FirstUnknownDirectory(known, name.c_str()));
      // Each member's own folders exist before its file is created.
      for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\') EXPECT_EQ(knownWalk.folders.count(name.substr(0, i)), 1u) << name;
      }
      RememberDirectories(known, name.c_str());
    }
    EXPECT_EQ(knownWalk.folders, everyLevel.folders) << archive.front();
    EXPECT_LT(knownWalk.creations, everyLevel.creations) << archive.front();
  }
}

}  // namespace
