// Packages built to hurt the packager: names Windows refuses, file times at
// the ends of their range, code-page texts in the JSON listing, and extracts
// that fail late and must leave their target as it was.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "explode/implode.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/file_time.hpp"
#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/reader/extract.hpp"
#include "setuppack/reader/list.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "support/damaged_archive.hpp"
#include "support/pe_image.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Json = nlohmann::json;

Json JsonListing(const ArchiveListing& l) {
  std::ostringstream out;
  PrintListingJson(l, out);
  return Json::parse(out.str());  // throws on invalid UTF-8 or syntax
}

// ------------------------------------------------------------------ times

TEST(HostileTimes, EveryFileTimeListsAsADateOrOutOfRange) {
  struct Case {
    std::uint64_t fileTime;
    const char* text;  // the text listing; the JSON has "T" and "Z" around the time, null out of range
  };
  const Case cases[] = {
      {1, "1601-01-01 00:00:00"},
      {0x01BF08B1F1492700ull, "1999-09-27 06:31:34"},
      {kLastListedFileTime, "9999-12-31 23:59:59"},
      {kLastListedFileTime + 1, "out of range"},
      {0x7FFFFFFFFFFFFFFFull, "out of range"},
      {0x8000000000000000ull, "out of range"},
      {0xFFFFFFFFFFFFFFFFull, "out of range"},
  };
  PackageBuilder p = MinimalPackage();
  for (const Case& c : cases) p.AddFile("t" + std::to_string(c.fileTime), "x").lastWriteTime = c.fileTime;
  p.trailing = TrailingBlock{};
  p.trailing->typeTag = "QZ";
  p.AddTrailingFile("last.ini", BytesOf("y"), 0xFFFFFFFFFFFFFFFFull);
  const ArchiveListing l = ReadArchive(ComposeSetupProgram(FakeStub(), p.ArchiveBytes()));
  ASSERT_EQ(l.error, kArchiveOk) << DescribeArchiveError(l);

  std::ostringstream text;
  PrintListing(l, "s.exe", text);
  const Json json = JsonListing(l);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = "t" + std::to_string(cases[i].fileTime);
    EXPECT_EQ(FormatFileTimeUtc(cases[i].fileTime), cases[i].text);
    EXPECT_NE(text.str().find(std::string(cases[i].text) + "  " + std::string(15, ' ')), std::string::npos) << name;
    // Beyond the year 9999 the JSON time is null; fileTime keeps the value.
    std::string expected = cases[i].text;
    if (expected[0] != 'o') EXPECT_EQ(json["files"][i]["time"], expected.substr(0, 10) + "T" + expected.substr(11) + "Z") << name;
    else EXPECT_TRUE(json["files"][i]["time"].is_null()) << name;
    EXPECT_EQ(json["files"][i]["fileTime"].get<std::uint64_t>(), cases[i].fileTime) << name;
  }
  EXPECT_TRUE(json["trailing"]["files"][0]["time"].is_null());
  EXPECT_NE(text.str().find("out of range         last.ini"), std::string::npos) << text.str();
}

// ------------------------------------------------------------------- JSON

TEST(HostileJson, CodePageTextsOfADamagedPackageAreConvertedToUtf8) {
  PackageBuilder p = MinimalPackage();
  p.settings.configName = "Caf\xE9";
  p.AddFile("na\xEFve\x80.txt", "abc");
  p.AddIcon("\xC9l\xE8ve", std::string("-\xFF"), std::string("t\x9C.exe"));
  DamagedProgram damaged(ComposeSetupProgram(FakeStub(), p.ArchiveBytes()));
  damaged.SetEntryStoredLength(0, 100000);  // error 4 names the member in its detail
  const ArchiveListing l = ReadArchive(damaged.Bytes());
  ASSERT_EQ(l.error, kArchiveBadLength);

  const Json json = JsonListing(l);
  EXPECT_EQ(json["settings"]["configName"], "Caf\u00E9");
  EXPECT_NE(json["error"]["detail"].get<std::string>().find("(na\u00EFve\u20AC.txt)"), std::string::npos)
      << json["error"]["detail"];
  EXPECT_NE(DescribeArchiveError(l).find("na\u00EFve\u20AC.txt"), std::string::npos);

  const ArchiveListing whole = ReadArchive(ComposeSetupProgram(FakeStub(), p.ArchiveBytes()));
  const Json icons = JsonListing(whole)["icons"];
  EXPECT_EQ(icons[0]["name"], "\u00C9l\u00E8ve");
  EXPECT_EQ(icons[0]["arguments"], "-\u00FF");
  EXPECT_EQ(icons[0]["target"], "t\u0153.exe");
}

// ---------------------------------------------------------------- extract

// Every file below `dir` with its content.
std::map<std::string, std::string> Tree(const fs::path& dir) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(dir)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(entry.path(), dir).string();
    tree[name] = entry.is_regular_file() ? ReadText(entry.path()) : "<dir>";
  }
  return tree;
}

struct LateFault {
  const char* what;
  std::function<void(PackageBuilder&)> add;  // members behind two good ones
  std::function<void(const fs::path& program)> damage = [](const fs::path&) {};
};

class ExtractFailingLate : public testing::TestWithParam<LateFault> {};

// The target holds a file that a member would replace and one of its own;
// after the failure both are as they were and nothing else is there, beside
// the target neither.
TEST_P(ExtractFailingLate, LeavesTheTargetAsItWas) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("good.txt", "new content");
  p.AddFile("sub\\good2.txt", "more");
  GetParam().add(p);
  p.WriteTo(dir / "s.exe", FakeStub());
  GetParam().damage(dir / "s.exe");

  TempDir parent;
  const fs::path target = parent / "target";
  parent.Write("target/good.txt", "old content");
  parent.Write("target/mine.txt", "kept");
  const auto before = Tree(parent.Path());
  EXPECT_THROW(ExtractSetupProgram(dir / "s.exe", target), InputError);
  EXPECT_EQ(Tree(parent.Path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ExtractFailingLate,
    testing::Values(
        LateFault{"DamagedStream",
                  [](PackageBuilder& p) {
                    Bytes stream = Implode(SampleBytes(5000, 3), {});
                    stream.resize(stream.size() / 2);
                    p.AddFile("late.bin", stream, kMemberCmp);
                  }},
        LateFault{"NameTooLongForTheHost",
                  // 250 characters of code page 1252 grow to 500 bytes of
                  // UTF-8, beyond the 255 a Linux file name holds.
                  [](PackageBuilder& p) { p.AddFile(std::string(250, '\xE9'), "x"); }},
        LateFault{"MissingExternalFile",
                  [](PackageBuilder& p) { p.AddFile("Agent.exe", "abc", kMemberExt); },
                  [](const fs::path& program) { fs::remove(program.parent_path() / "_gent.exe"); }},
        LateFault{"ShortExternalFile",
                  [](PackageBuilder& p) { p.AddFile("Agent.exe", "abcdef", kMemberExt); },
                  [](const fs::path& program) {
                    fs::resize_file(program.parent_path() / "_gent.exe", 2);
                  }},
        LateFault{"MemberOverADirectory",
                  [](PackageBuilder& p) { p.AddFile("sub", "a file where a directory stands"); }},
        LateFault{"DeviceNameInTheTrailingBlock",
                  [](PackageBuilder& p) {
                    p.trailing = TrailingBlock{};
                    p.trailing->typeTag = "DS";
                    p.AddTrailingFile("sub\\nul.ini", BytesOf("z"));
                  }},
        LateFault{"DotName", [](PackageBuilder& p) { p.AddFile(".", "x"); }},
        LateFault{"TrailingDot", [](PackageBuilder& p) { p.AddFile("readme.", "x"); }}),
    [](const testing::TestParamInfo<LateFault>& info) { return std::string(info.param.what); });

TEST(HostileExtract, KeepsThePresentFilesAndReplacesTheMembers) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("good.txt", "new content");
  p.AddFile("sub\\deep.txt", "deep");
  p.WriteTo(dir / "s.exe", FakeStub());
  TempDir parent;
  parent.Write("target/good.txt", "old content");
  parent.Write("target/sub/mine.txt", "kept");
  const ExtractSummary summary = ExtractSetupProgram(dir / "s.exe", parent / "target");
  EXPECT_EQ(summary.files, 2u);
  EXPECT_EQ(Tree(parent.Path()), (std::map<std::string, std::string>{
                                     {"target", "<dir>"},
                                     {"target/good.txt", "new content"},
                                     {"target/sub", "<dir>"},
                                     {"target/sub/deep.txt", "deep"},
                                     {"target/sub/mine.txt", "kept"},
                                 }));
}

TEST(HostileExtract, MakesMissingParentsAndTakesThemBackOnFailure) {
  TempDir dir;
  PackageBuilder good = MinimalPackage();
  good.AddFile("a.txt", "a");
  good.WriteTo(dir / "good.exe", FakeStub());
  PackageBuilder bad = MinimalPackage();
  bad.AddFile("a.txt", "a");
  bad.AddFile("Agent.exe", "abc", kMemberExt);
  bad.WriteTo(dir / "bad.exe", FakeStub());
  fs::remove(dir / "_gent.exe");

  TempDir parent;
  EXPECT_THROW(ExtractSetupProgram(dir / "bad.exe", parent / "x/y/target"), InputError);
  EXPECT_TRUE(fs::is_empty(parent.Path()));
  ExtractSetupProgram(dir / "good.exe", parent / "x/y/target/");
  EXPECT_EQ(Tree(parent / "x"), (std::map<std::string, std::string>{
                                    {"y", "<dir>"}, {"y/target", "<dir>"}, {"y/target/a.txt", "a"}}));
}

TEST(HostileExtract, DoesNotWriteThroughALinkOfTheTarget) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("link\\planted.txt", "x");
  p.WriteTo(dir / "s.exe", FakeStub());
  TempDir parent;
  TempDir elsewhere;
  fs::create_directories(parent / "target");
  fs::create_directory_symlink(elsewhere.Path(), parent / "target/link");
  EXPECT_THROW(ExtractSetupProgram(dir / "s.exe", parent / "target"), InputError);
  EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
}

// A time the file system cannot hold is set as near as it can, and said.
TEST(HostileExtract, SaysWhenTheFileSystemCannotHoldATime) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("far.txt", "x").lastWriteTime = 0xFFFFFFFFFFFFFFFFull;
  p.AddFile("old.txt", "x").lastWriteTime = 1;
  p.WriteTo(dir / "s.exe", FakeStub());
  TempDir target;
  const ExtractSummary summary = ExtractSetupProgram(dir / "s.exe", target.Path());
  EXPECT_EQ(summary.files, 2u);
  for (const char* name : {"far.txt", "old.txt"}) {
    const std::uint64_t wanted = name[0] == 'f' ? 0xFFFFFFFFFFFFFFFFull : 1;
    struct stat info {};
    ASSERT_EQ(::stat((target / name).c_str(), &info), 0);
    const bool held = info.st_mtim.tv_sec == UnixFromFileTime(wanted).seconds;
    bool said = false;
    for (const std::string& note : summary.notes) {
      if (note.find(name) != std::string::npos && note.find("cannot hold the time") != std::string::npos)
        said = true;
    }
    EXPECT_NE(held, said) << name << ": the time is either held or the note says it is not";
  }
}

}  // namespace
