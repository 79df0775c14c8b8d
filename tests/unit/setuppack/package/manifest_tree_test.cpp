// Manifests for real packages: whole trees with include and exclude lists,
// [defaults], single files replacing a tree's member, and the names checked
// against each other and against setup.exe's path buffer.
#include "setuppack/package/manifest.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setuppack/host/errors.hpp"
#include "setuppack/package/source_tree.hpp"
#include "support/temp_dir.hpp"

namespace {

const std::string kHead =
    "[settings]\nrun_command = \"Prog.exe\"\ndefault_path = 'C:\\Korvane'\n"
    "[header]\nipc_prefix = \"KO\"\n";

// A client directory as a release build leaves it.
class TreeManifest : public testing::Test {
protected:
  void SetUp() override {
    for (const char* file : {"client/Prog.exe", "client/README.TXT", "client/b.txt",
                             "client/Docs/Manual.txt", "client/Docs/img/logo.bmp",
                             "client/Lang/de.txt", "client/Lang/en.txt", "client/Prog.pdb",
                             "client/Lang/old/fr.txt"})
      dir_.Write(file, file);
  }

  Manifest Load(const std::string& body) {
    return LoadManifest(dir_.Write("package.toml", kHead + body));
  }
  std::string ErrorOf(const std::string& body) {
    try {
      Load(body);
    } catch (const InputError& e) {
      return e.what();
    }
    return "(accepted)";
  }
  static std::vector<std::string> Names(const Manifest& m) {
    std::vector<std::string> names;
    for (const ManifestFile& f : m.files) names.push_back(f.name);
    return names;
  }

  TempDir dir_;
};

TEST_F(TreeManifest, TakesEveryFileInTheByteOrderOfTheNames) {
  const Manifest m = Load("[[files]]\ntree = \"client\"\n");
  EXPECT_EQ(Names(m), (std::vector<std::string>{
                          "Docs\\Manual.txt", "Docs\\img\\logo.bmp", "Lang\\de.txt",
                          "Lang\\en.txt", "Lang\\old\\fr.txt", "Prog.exe", "Prog.pdb",
                          "README.TXT", "b.txt"}));
  EXPECT_EQ(m.files[0].source, dir_ / "client/Docs/Manual.txt");
  EXPECT_EQ(m.files[0].sourceText, "client/Docs/Manual.txt");
  EXPECT_EQ(m.files[0].sourcePlace.field, "files[0].tree");
}

TEST_F(TreeManifest, InstallsUnderItsNameWithIncludeAndExclude) {
  const Manifest m = Load(
      "[[files]]\ntree = \"client\"\nname = \"App/\"\ninclude = [\"**/*.txt\", \"Prog.*\"]\n"
      "exclude = [\"Lang/old/**\", \"*.pdb\"]\n");
  EXPECT_EQ(Names(m), (std::vector<std::string>{"App\\Docs\\Manual.txt", "App\\Lang\\de.txt",
                                                "App\\Lang\\en.txt", "App\\Prog.exe",
                                                "App\\b.txt"}));
}

TEST_F(TreeManifest, DefaultsApplyUnlessAnEntryGivesItsOwn) {
  const Manifest m = Load(
      "[defaults]\ncompress = true\nliterals = \"ascii\"\ntime = 2024-05-01T09:00:00Z\ndlr = true\n"
      "[[files]]\ntree = \"client/Lang\"\nname = \"Lang\"\nexclude = [\"old/**\"]\n"
      "dictionary = 1024\n"
      "[[files]]\nsource = \"client/Prog.exe\"\ncompress = false\ntime = 0\n");
  ASSERT_EQ(m.files.size(), 3u);
  const std::uint64_t may2024 = (1714554000ull + 11644473600ull) * 10000000;  // 2024-05-01T09:00:00Z
  EXPECT_EQ(m.files[0].flags, kMemberCmp | kMemberDlr);
  EXPECT_EQ(m.files[0].implode.literals, LiteralMode::Ascii);
  EXPECT_EQ(m.files[0].implode.dictionarySize, 1024u);
  EXPECT_EQ(m.files[0].time, may2024);
  EXPECT_EQ(m.files[2].flags, kMemberDlr);
  EXPECT_FALSE(m.files[2].compress);
  EXPECT_EQ(m.files[2].time, 0u);
}

TEST_F(TreeManifest, ALaterSingleFileReplacesTheTreesMemberInPlace) {
  const Manifest m = Load(
      "[[files]]\ntree = \"client\"\ninclude = [\"*\"]\n"
      "[[files]]\nsource = \"client/README.TXT\"\nname = \"readme.txt\"\ncompress = true\n"
      "[[files]]\nsource = \"client/Prog.pdb\"\nname = \"extra.pdb\"\n");
  EXPECT_EQ(Names(m), (std::vector<std::string>{"Prog.exe", "Prog.pdb", "readme.txt", "b.txt",
                                                "extra.pdb"}));
  EXPECT_EQ(m.files[2].flags, kMemberCmp);
  EXPECT_EQ(m.files[2].place.field, "files[1]");
}

TEST_F(TreeManifest, ASystemOverrideOfATreeMemberReplacesIt) {
  const Manifest m = Load("[[files]]\ntree = \"client\"\ninclude = [\"Prog.*\"]\n"
                          "[[files]]\nsource = \"client/Prog.exe\"\nsystem = true\n");
  EXPECT_EQ(Names(m), (std::vector<std::string>{"Prog.exe", "Prog.pdb"}));
  EXPECT_EQ(m.files[0].flags, kMemberSys);
}

struct BadTree {
  const char* what;
  std::string body;
  std::string message;
};
void PrintTo(const BadTree& bad, std::ostream* os) { *os << bad.what; }

class TreeManifestErrors : public TreeManifest, public testing::WithParamInterface<BadTree> {};

TEST_P(TreeManifestErrors, NameFileLineAndField) {
  const std::string error = ErrorOf(GetParam().body);
  EXPECT_NE(error.find(GetParam().message), std::string::npos)
      << "message: " << error << "\nexpected: " << GetParam().message;
}

INSTANTIATE_TEST_SUITE_P(
    Refused, TreeManifestErrors,
    testing::Values(
        BadTree{"tree that matches nothing", "[[files]]\ntree = \"client\"\ninclude = [\"*.dll\"]\n",
                "package.toml:7: files[0].tree: \"client\" holds no file that include and exclude take"},
        BadTree{"tree that is no directory", "[[files]]\ntree = \"client/b.txt\"\n",
                "package.toml:7: files[0].tree: \"client/b.txt\" is not a directory"},
        BadTree{"tree and source together", "[[files]]\ntree = \"client\"\nsource = \"x\"\n",
                "package.toml:8: files[0].source: is given together with tree"},
        BadTree{"external tree", "[[files]]\ntree = \"client\"\nexternal = true\n",
                "files[0].external: unknown field"},
        BadTree{"pattern that is no text", "[[files]]\ntree = \"client\"\ninclude = [3]\n",
                "package.toml:8: files[0].include[0]: must be a pattern"},
        BadTree{"two trees holding the same name",
                "[[files]]\ntree = \"client\"\ninclude = [\"b.txt\"]\n"
                "[[files]]\ntree = \"client\"\ninclude = [\"B.TXT\", \"b.txt\"]\n",
                "package.toml:10: files[1].tree: \"b.txt\" is already the name of files[0] (client/b.txt)"},
        BadTree{"tree after a single file of the same name",
                "[[files]]\nsource = \"client/b.txt\"\n[[files]]\ntree = \"client\"\n",
                "files[1].tree: \"b.txt\" is already the name of files[0]"},
        BadTree{"two single files replacing one tree member",
                "[[files]]\ntree = \"client\"\n[[files]]\nsource = \"client/b.txt\"\n"
                "[[files]]\nsource = \"client/b.txt\"\n",
                "files[2].name: \"b.txt\" is already the name of files[1]"},
        BadTree{"tree member with a name Windows refuses",
                "[[files]]\ntree = \"client\"\nname = \"a|b\"\n",
                "package.toml:8: files[0].name: \"a|b\" holds a character that Windows refuses"},
        BadTree{"file beside a directory of its name",
                "[[files]]\ntree = \"client\"\n[[files]]\nsource = \"client/b.txt\"\nname = \"Lang\"\n",
                "package.toml:10: files[1].name: \"Lang\" is the name of a directory of"},
        BadTree{"literals in an entry that does not compress",
                "[defaults]\nliterals = \"ascii\"\n[[files]]\ntree = \"client\"\nliterals = \"binary\"\n",
                "files[0].literals: only applies with compress = true"},
        BadTree{"unknown default", "[defaults]\nexternal = true\n",
                "package.toml:7: defaults.external: unknown field"}),
    [](const testing::TestParamInfo<BadTree>& info) {
      std::string name;
      for (const char* p = info.param.what; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(SourceTree, MatchesGlobPatterns) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"*.txt", "a.txt", true},         {"*.txt", "d/a.txt", false},
      {"**/*.txt", "a.txt", true},      {"**/*.txt", "d/e/a.txt", true},
      {"**.txt", "d/a.txt", true},      {"d/**", "d/e/a.txt", true},
      {"d/**", "dd/a.txt", false},      {"d/**/a.txt", "d/a.txt", true},
      {"d/*/a.txt", "d/a.txt", false},  {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},       {"d?a.txt", "d/a.txt", false},
      {"A.TXT", "a.txt", false},        {"a.txt", "a.txt.bak", false},
      {"*", "", true},                  {"**/b/**/c", "a/b/x/y/c", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesGlob(c.pattern, c.path), c.matches) << c.pattern << " " << c.path;
}

}  // namespace
