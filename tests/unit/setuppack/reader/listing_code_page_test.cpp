// --codepage: list, extract and verify read the archive's texts in the code
// page the package was built with, which the archive itself does not record.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "setuppack/writer/archive_builder.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/reader/extract.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/reader/list.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "setuppack/reader/verify.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"

namespace {

const std::string kName = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.txt";  // "テスト.txt"

TEST(ListingCodePage, NamesOfAPackageBuiltWith932ReadBackIn932) {
  PackageBuilder p = MinimalPackage();
  p.AddFile(*Utf8ToAnsi(kName, 932), "text");
  p.settings.iconGroup = *Utf8ToAnsi("\xE3\x82\xB0\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\x97", 932);  // "グループ"
  TempDir dir;
  const auto program = dir.Write("s.exe", ComposeSetupProgram(FakeStub(), p.ArchiveBytes()));
  const ArchiveListing l = ReadSetupProgram(program);
  ASSERT_EQ(l.error, kArchiveOk);

  struct Case {
    unsigned codePage;
    bool readable;
  };
  for (const Case c : {Case{932, true}, Case{1252, false}}) {
    std::ostringstream text, json;
    PrintListing(l, "s.exe", text, c.codePage);
    PrintListingJson(l, json, c.codePage);
    const auto document = nlohmann::json::parse(json.str());
    EXPECT_EQ(document["codePage"], c.codePage);
    EXPECT_NE(text.str().find("texts read as code page " + std::to_string(c.codePage)), std::string::npos);
    EXPECT_EQ(document["files"].back()["name"] == kName, c.readable) << c.codePage;
    EXPECT_EQ(text.str().find(kName) != std::string::npos, c.readable) << c.codePage;
  }

  ExtractSetupProgram(program, dir / "out", 932);
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / kName));
  VerifyOptions options;
  options.codePage = 932;
  EXPECT_TRUE(VerifySetupProgram(program, options).Sound());
}

}  // namespace
