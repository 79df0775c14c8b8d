// `setuppack verify`: a sound package passes; every kind of damage is one
// problem line of its kind; the JSON and the exit codes say the same.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "explode/implode.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/reader/verify.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "support/damaged_archive.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

void AppendTo(const std::filesystem::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

// Every kind of member: stored, compressed, system, external (compressed),
// and a trailing block.
PackageBuilder SoundPackage() {
  PackageBuilder p = MinimalPackage();
  p.AddFile("a.exe", "program");
  const Bytes text = SampleBytes(9000, 3);
  PackageMember& packed = p.AddFile("Docs\\Manual.txt", Implode(text, ImplodeOptions{}), kMemberCmp);
  packed.originalSize = static_cast<std::uint32_t>(text.size());
  p.AddSystemFile("kvshell.dll", BytesOf("library"), MemberVersion{0x00020000, 0});
  PackageMember& external = p.AddFile("Agent.dat", Implode(text, ImplodeOptions{}), kMemberCmp | kMemberExt);
  external.originalSize = static_cast<std::uint32_t>(text.size());
  p.AddTrailingFile("account.ini", BytesOf("[account]\r\n"), kSampleTime);
  return p;
}

std::vector<ProblemKind> Kinds(const VerifyReport& report) {
  std::vector<ProblemKind> kinds;
  for (const VerifyProblem& p : report.problems) kinds.push_back(p.kind);
  return kinds;
}

std::string Text(const VerifyReport& report) {
  std::ostringstream out;
  PrintVerifyReport(report, "S.exe", out);
  return out.str();
}

VerifyOptions NoTool() {
  VerifyOptions options;
  options.checkSignature = false;
  return options;
}

TEST(Verify, FindsASoundPackageSoundAndChecksEveryMember) {
  TempDir dir;
  SoundPackage().WriteTo(dir / "S.exe", FakeStub());
  const VerifyReport report = VerifySetupProgram(dir / "S.exe", NoTool());
  EXPECT_TRUE(report.Sound()) << Text(report);
  EXPECT_EQ(report.membersChecked, 5u);
  EXPECT_FALSE(report.signature.present);
  EXPECT_EQ(Text(report), "S.exe: not signed\nS.exe: sound, 5 members checked\n");
}

// ------------------------------------------------------- archive errors

class VerifyDamagedArchive : public testing::TestWithParam<DamagedArchive> {};

// Each archive setup.exe refuses is one archive problem with setup.exe's code,
// at the offset where reading stopped.
TEST_P(VerifyDamagedArchive, ReportsTheArchiveErrorOfSetupExe) {
  TempDir dir;
  const Bytes program = BuildDamagedProgram(GetParam(), MinimalPackage(), FakeStub());
  dir.Write("S.exe", program);
  const VerifyReport report = VerifySetupProgram(dir / "S.exe", NoTool());
  ASSERT_EQ(Kinds(report), std::vector<ProblemKind>{ProblemKind::kArchive}) << Text(report);
  EXPECT_EQ(report.problems[0].message.rfind("archive error " + std::to_string(GetParam().error) + " (", 0), 0u)
      << report.problems[0].message;
  EXPECT_EQ(report.problems[0].offset, ReadArchive(program).errorOffset);
}

INSTANTIATE_TEST_SUITE_P(Table, VerifyDamagedArchive, testing::ValuesIn(DamagedArchives()),
                         [](const testing::TestParamInfo<DamagedArchive>& info) {
                           return std::string(info.param.name);
                         });

// ------------------------------------------- what only a full check finds

struct VerifyFault {
  const char* name;
  std::function<void(PackageBuilder&)> build;
  std::function<void(const TempDir&)> damage;  // after writing S.exe
  ProblemKind kind;
  const char* text;  // part of the problem's message
};

void Nothing(const TempDir&) {}

const Bytes kText = SampleBytes(5000, 9);

std::vector<VerifyFault> VerifyFaults() {
  return {
      {"StreamCutBeforeItsEndCode",
       [](PackageBuilder& p) {
         Bytes stream = Implode(kText, ImplodeOptions{});
         stream.resize(stream.size() / 2);
         p.AddFile("cut.txt", stream, kMemberCmp).originalSize = 5000;
       },
       Nothing, ProblemKind::kMember, "\"cut.txt\" does not decompress: explode result 4"},
      {"StreamWithABadDictionaryByte",
       [](PackageBuilder& p) {
         Bytes stream = Implode(kText, ImplodeOptions{});
         stream[1] = 7;
         p.AddFile("dict.txt", stream, kMemberCmp).originalSize = 5000;
       },
       Nothing, ProblemKind::kMember, "explode result 1"},
      {"CompressedSizeOtherThanOriginalSize",
       [](PackageBuilder& p) { p.AddFile("long.txt", Implode(kText, ImplodeOptions{}), kMemberCmp).originalSize = 5001; },
       Nothing, ProblemKind::kMember, "decompresses to 5000 bytes, its original size says 5001"},
      {"StoredSizeOtherThanOriginalSize",
       [](PackageBuilder& p) { p.AddFile("stored.txt", "four").originalSize = 3; },
       Nothing, ProblemKind::kMember, "stored with 4 bytes, its original size says 3"},
      {"ExternalFileMissing",
       [](PackageBuilder& p) { p.AddFile("Agent.dat", "external", kMemberExt); },
       [](const TempDir& d) { std::filesystem::remove(d / "_gent.dat"); },
       ProblemKind::kExternal, "_gent.dat cannot be read"},
      {"ExternalFileShort",
       [](PackageBuilder& p) { p.AddFile("Agent.dat", "external", kMemberExt); },
       [](const TempDir& d) { d.Write("_gent.dat", "extern"); },
       ProblemKind::kExternal, "holds 6 bytes, the file table says 8"},
      {"ExternalFileLong",
       [](PackageBuilder& p) { p.AddFile("Agent.dat", "external", kMemberExt); },
       [](const TempDir& d) { d.Write("_gent.dat", "external!"); },
       ProblemKind::kExternal, "holds 9 bytes, the file table says 8"},
      {"NameLeavingTheInstallDirectory",
       [](PackageBuilder& p) { p.AddFile("..\\evil.txt", "x"); },
       Nothing, ProblemKind::kName, "\"..\\evil.txt\" would leave the install directory"},
      {"SystemNameLeavingTheSystemDirectory",
       [](PackageBuilder& p) { p.AddSystemFile("C:evil.dll", BytesOf("x"), MemberVersion{1, 0}); },
       Nothing, ProblemKind::kName, "would leave the system directory"},
      {"TrailingNameLeavingTheInstallDirectory",
       [](PackageBuilder& p) { p.AddTrailingFile("\\root.ini", BytesOf("x")); },
       Nothing, ProblemKind::kName, "\"\\root.ini\" would leave the install directory"},
      {"NameWindowsCannotCreate",
       [](PackageBuilder& p) { p.AddFile("a|b.txt", "x"); },
       Nothing, ProblemKind::kName, "\"a|b.txt\" is a name Windows cannot create"},
      {"BytesBehindAnArchiveWithoutTrailingBlock",
       [](PackageBuilder& p) { p.header.flags |= kHeaderFlagNoTrailing; },
       [](const TempDir& d) { AppendTo(d / "S.exe", "junk"); },
       ProblemKind::kExtraData, "4 bytes behind the archive's end"},
      {"BytesBehindTheTrailingBlock",
       [](PackageBuilder& p) { p.AddTrailingFile("t.ini", BytesOf("x")); },
       [](const TempDir& d) { AppendTo(d / "S.exe", std::string(1, '\0')); },
       ProblemKind::kExtraData, "1 bytes behind"},
  };
}

class VerifyFaultTest : public testing::TestWithParam<VerifyFault> {};

TEST_P(VerifyFaultTest, ReportsOneProblemOfItsKind) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("a.exe", "program");
  GetParam().build(p);
  p.WriteTo(dir / "S.exe", FakeStub());
  GetParam().damage(dir);
  const VerifyReport report = VerifySetupProgram(dir / "S.exe", NoTool());
  ASSERT_EQ(Kinds(report), std::vector<ProblemKind>{GetParam().kind}) << Text(report);
  EXPECT_NE(report.problems[0].message.find(GetParam().text), std::string::npos) << report.problems[0].message;
  EXPECT_NE(Text(report).find("S.exe: 1 problem\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Table, VerifyFaultTest, testing::ValuesIn(VerifyFaults()),
                         [](const testing::TestParamInfo<VerifyFault>& info) { return std::string(info.param.name); });

TEST(Verify, ReportsEveryProblemNotOnlyTheFirst) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("..\\one.txt", "x");
  p.AddFile("two.txt", "x").originalSize = 2;
  p.AddFile("Three.dat", "x", kMemberExt);
  p.WriteTo(dir / "S.exe", FakeStub());
  std::filesystem::remove(dir / "_hree.dat");
  const VerifyReport report = VerifySetupProgram(dir / "S.exe", NoTool());
  EXPECT_EQ(Kinds(report), (std::vector<ProblemKind>{ProblemKind::kName, ProblemKind::kMember, ProblemKind::kExternal}));
}

TEST(Verify, ReadsAStreamOfRandomBytesWithoutCrashingOrHanging) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  for (std::uint32_t seed = 1; seed <= 8; ++seed) {
    Bytes noise = SampleBytes(3000, seed);
    noise[0] = static_cast<std::uint8_t>(seed & 1);
    noise[1] = static_cast<std::uint8_t>(4 + seed % 3);
    p.AddFile("n" + std::to_string(seed), noise, kMemberCmp);
  }
  p.WriteTo(dir / "S.exe", FakeStub());
  const VerifyReport report = VerifySetupProgram(dir / "S.exe", NoTool());
  EXPECT_EQ(report.membersChecked, 8u);
}

TEST(Verify, ThrowsOnlyWhenTheProgramCannotBeRead) {
  TempDir dir;
  EXPECT_THROW(VerifySetupProgram(dir / "missing.exe", NoTool()), InputError);
}

// ---------------------------------------------------------------- JSON

TEST(VerifyJson, CarriesTheVerdictTheProblemsAndTheSignature) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("..\\evil.txt", "x");
  p.WriteTo(dir / "S.exe", FakeStub());
  std::ostringstream out;
  PrintVerifyJson(VerifySetupProgram(dir / "S.exe", NoTool()), "S.exe", out);
  const nlohmann::json j = nlohmann::json::parse(out.str());
  EXPECT_EQ(j["program"], "S.exe");
  EXPECT_EQ(j["sound"], false);
  EXPECT_EQ(j["membersChecked"], 1);
  EXPECT_EQ(j["size"], std::filesystem::file_size(dir / "S.exe"));
  ASSERT_EQ(j["problems"].size(), 1u);
  EXPECT_EQ(j["problems"][0]["kind"], "name");
  EXPECT_EQ(j["problems"][0]["member"], "..\\evil.txt");
  EXPECT_EQ(j["problems"][0]["offset"], ReadArchive(ReadBytes(dir / "S.exe")).members[0].entryOffset);
  EXPECT_EQ(j["signature"], nlohmann::json::parse(R"({"present": false, "offset": null, "size": null,
      "intact": null, "trusted": null, "detail": null})"));
}

TEST(VerifyJson, GivesNullOffsetsAndMembersOnlyWhereThereAreNone) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.header.flags |= kHeaderFlagNoTrailing;
  p.WriteTo(dir / "S.exe", FakeStub());
  AppendTo(dir / "S.exe", "x");
  std::ostringstream out;
  PrintVerifyJson(VerifySetupProgram(dir / "S.exe", NoTool()), "S.exe", out);
  const nlohmann::json problem = nlohmann::json::parse(out.str())["problems"][0];
  EXPECT_EQ(problem["kind"], "extra-data");
  EXPECT_TRUE(problem["member"].is_null());
  EXPECT_TRUE(problem["offset"].is_number());
}

// ------------------------------------------------------------- the command

#ifdef PRODUCT_DIR
int RunVerify(const std::string& arguments) {
  const std::string tool = std::string(PRODUCT_DIR) + "/setuppack verify ";
  const int status = std::system((tool + arguments + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(VerifyCommand, Exits0WhenSound1OnAProblemAnd2OnUsage) {
  if (!std::filesystem::exists(std::string(PRODUCT_DIR) + "/setuppack")) GTEST_SKIP() << "setuppack not built";
  TempDir dir;
  SoundPackage().WriteTo(dir / "S.exe", FakeStub());
  EXPECT_EQ(RunVerify((dir / "S.exe").string()), 0);
  EXPECT_EQ(RunVerify("--json " + (dir / "S.exe").string()), 0);
  AppendTo(dir / "S.exe", "x");  // read as a trailing block's type tag
  EXPECT_EQ(RunVerify((dir / "S.exe").string()), 1);
  EXPECT_EQ(RunVerify((dir / "missing.exe").string()), 1);
  EXPECT_EQ(RunVerify(""), 2);
  EXPECT_EQ(RunVerify("--frobnicate " + (dir / "S.exe").string()), 2);
}
#endif

}  // namespace
