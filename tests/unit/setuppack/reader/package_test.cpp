// Packages end to end on the host: manifest -> setup program -> listing and
// extraction, and the archive reader's verdict on damaged archives.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "explode/implode.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/file_time.hpp"
#include "setuppack/package/manifest.hpp"
#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/reader/extract.hpp"
#include "setuppack/reader/list.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "setuppack/writer/package_writer.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "support/damaged_archive.hpp"
#include "support/pe_image.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"
#include "support/test_certificate.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kSeptember1999 = 0x01BF08B1F1492700ull;  // 1999-09-27 06:31:34 UTC

// A package directory with sources, a manifest and a stub.
class PackageFixture : public testing::Test {
protected:
  void SetUp() override {
    dir_.Write("src/KorvaneBackup.txt", "run command stand-in\r\n");
    dir_.Write("src/readme.txt", std::string(3000, 'r') + "\r\nend\r\n");
    dir_.Write("src/data/big.bin", SampleBytes(70000, 1));
    dir_.Write("src/empty.txt", "");
    dir_.Write("src/kvshell.dll", "system library");
    dir_.Write("src/Agent.dat", "external agent data");
    dir_.Write("src/account.ini", "[account]\r\nuser=demo\r\n");
    dir_.Write("stub.exe", FakeStub());
  }

  std::filesystem::path WriteManifest(const std::string& extra = "") {
    return dir_.Write("package.toml",
                      "[settings]\n"
                      "run_command = \"KorvaneBackup.exe\"\n"
                      "default_path = 'C:\\Program Files\\Korvane'\n"
                      "readme_file = \"readme.txt\"\n"
                      "ini_file = \"account.ini\"\n"
                      "config_name = \"Base\"\n"
                      "[header]\n"
                      "ipc_prefix = \"KO\"\n"
                      "help_context = 12\n"
                      "platform = \"nt4\"\n"
                      "[[files]]\nsource = \"src/KorvaneBackup.txt\"\nname = \"KorvaneBackup.exe\"\n"
                      "time = 1999-09-27T06:31:34Z\n"
                      "[[files]]\nsource = \"src/readme.txt\"\ncompress = true\n"
                      "time = 2001-02-03T04:05:06Z\n"
                      "[[files]]\nsource = \"src/data/big.bin\"\nname = \"data/big.bin\"\ncompress = true\n"
                      "literals = \"binary\"\ndictionary = 1024\ntime = 2002-01-01T00:00:00Z\n"
                      "[[files]]\nsource = \"src/empty.txt\"\ntime = 0\n"
                      "[[files]]\nsource = \"src/kvshell.dll\"\nsystem = true\nversion = \"2.0.1.7\"\n"
                      "time = 2003-01-01T00:00:00Z\n"
                      "[[files]]\nsource = \"src/Agent.dat\"\nexternal = true\ndlr = true\n"
                      "time = 2004-01-01T00:00:00Z\n"
                      "[[icons]]\nname = \"Korvane Backup\"\ntarget = \"KorvaneBackup.exe\"\n"
                      "[[icons]]\nuninstall = true\nname = \"Korvane Online Backup\"\nprogram = \"Uninst.exe\"\n"
                      "[trailing]\ntype = \"QZ\"\nconfig_name = \"Acme\"\n"
                      "[[trailing.files]]\nsource = \"src/account.ini\"\ntime = 2005-01-01T00:00:00Z\n" +
                          extra);
  }

  PackageSummary Build(const std::string& extra = "") {
    return WritePackage(LoadManifest(WriteManifest(extra)), dir_ / "out/KorvaneSetup.exe",
                        dir_ / "stub.exe", PackageOptions{});
  }

  void SetUpOut() { std::filesystem::create_directories(dir_ / "out"); }

  TempDir dir_;
};

TEST_F(PackageFixture, BuildsAProgramThatListsAsDescribed) {
  SetUpOut();
  const PackageSummary summary = Build();
  EXPECT_EQ(summary.fileCount, 6u);
  const ArchiveListing l = ReadSetupProgram(dir_ / "out/KorvaneSetup.exe");
  ASSERT_EQ(l.error, kArchiveOk) << DescribeArchiveError(l);
  EXPECT_EQ(l.fileSize, summary.programSize);
  EXPECT_EQ(l.header.flags, kHeaderFlagNt4);
  EXPECT_EQ(l.header.fileCount, 6);
  EXPECT_EQ(l.header.iconCount, 2);
  EXPECT_EQ(l.header.helpContext, 12);
  EXPECT_EQ(l.header.externalSize, 19u);
  EXPECT_EQ(l.header.ipcPrefix[0], 'K');
  EXPECT_EQ(l.settings.runCommand, "KorvaneBackup.exe");
  EXPECT_EQ(l.settings.defaultPath, "C:\\Program Files\\Korvane");
  EXPECT_FALSE(l.settings.helpFile);
  EXPECT_EQ(l.EffectiveConfigName(), "Acme");

  ASSERT_EQ(l.members.size(), 6u);
  EXPECT_EQ(l.members[0].name, "KorvaneBackup.exe");
  EXPECT_EQ(l.members[0].entry.lastWriteTimeLow, static_cast<std::uint32_t>(kSeptember1999));
  EXPECT_EQ(l.members[1].entry.flags, kMemberCmp);
  EXPECT_EQ(l.members[1].entry.originalSize, 3007u);
  EXPECT_LT(l.members[1].entry.storedLength, 200u);
  EXPECT_EQ(l.members[2].name, "data\\big.bin");
  EXPECT_EQ(l.members[4].entry.flags, kMemberSys);
  EXPECT_EQ(l.members[4].version.ms, 0x00020000u);
  EXPECT_EQ(l.members[4].version.ls, 0x00010007u);
  EXPECT_EQ(l.members[5].entry.flags, kMemberExt | kMemberDlr);

  // requiredSpace defaults to what the members install.
  EXPECT_EQ(l.header.requiredSpace, 22u + 3007u + 70000u + 0u + 14u + 19u + 22u);

  ASSERT_EQ(l.icons.size(), 2u);
  EXPECT_EQ(l.icons[1].name, "*Korvane Online Backup");
  ASSERT_TRUE(l.trailing);
  EXPECT_EQ(l.trailing->typeTag, "QZ");
  ASSERT_EQ(l.trailing->members.size(), 1u);
  EXPECT_EQ(l.trailing->members[0].name, "account.ini");
}

TEST_F(PackageFixture, ListsHeaderFlagsMembersAndTrailingBlockAsText) {
  SetUpOut();
  Build();
  std::ostringstream text;
  PrintListing(ReadSetupProgram(dir_ / "out/KorvaneSetup.exe"), "KorvaneSetup.exe", text);
  const std::string listing = text.str();
  for (const char* expected :
       {"flags          0x08 (nt4)", "ipcPrefix      KO", "runCommand       KorvaneBackup.exe",
        "helpFile         (absent)", "1999-09-27 06:31:34", "SYS", "2.0.1.7", "data\\big.bin",
        "DLR EXT", "uninstall entry \"Korvane Online Backup\", program Uninst.exe",
        "Trailing block QZ, 1 entry, configuration name Acme", "2005-01-01 00:00:00  account.ini"})
    EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
}

TEST_F(PackageFixture, ListsAsJson) {
  SetUpOut();
  Build();
  std::ostringstream out;
  PrintListingJson(ReadSetupProgram(dir_ / "out/KorvaneSetup.exe"), out);
  const nlohmann::json json = nlohmann::json::parse(out.str());
  EXPECT_EQ(json["settings"]["runCommand"], "KorvaneBackup.exe");
  EXPECT_TRUE(json["settings"]["helpFile"].is_null());
  EXPECT_EQ(json["header"]["flagNames"], nlohmann::json::array({"nt4"}));
  EXPECT_EQ(json["files"][4]["name"], "kvshell.dll");
  EXPECT_EQ(json["files"][4]["flags"], nlohmann::json::array({"SYS"}));
  EXPECT_EQ(json["files"][4]["version"], "2.0.1.7");
  EXPECT_EQ(json["files"][0]["time"], "1999-09-27T06:31:34Z");
  EXPECT_TRUE(json["files"][3]["time"].is_null()) << "time = 0 lists as no time";
  EXPECT_EQ(json["trailing"]["type"], "QZ");
  EXPECT_TRUE(json["error"].is_null());
}


TEST_F(PackageFixture, WritesTheExternalMemberFileBesideTheProgram) {
  SetUpOut();
  Build();
  EXPECT_EQ(ReadText(dir_ / "out/_gent.dat"), "external agent data");
}

TEST_F(PackageFixture, ExtractsEveryMemberByteForByteWithItsTime) {
  SetUpOut();
  Build();
  TempDir target;
  const ExtractSummary summary = ExtractSetupProgram(dir_ / "out/KorvaneSetup.exe", target.Path());
  EXPECT_EQ(summary.files, 7u);
  EXPECT_EQ(target.Files(),
            (std::vector<std::string>{"Agent.dat", "KorvaneBackup.exe", "account.ini", "data/big.bin",
                                      "empty.txt", "readme.txt", "system/kvshell.dll"}));
  EXPECT_EQ(ReadBytes(target / "data/big.bin"), ReadBytes(dir_ / "src/data/big.bin"));
  EXPECT_EQ(ReadText(target / "readme.txt"), ReadText(dir_ / "src/readme.txt"));
  EXPECT_EQ(ReadText(target / "Agent.dat"), "external agent data");
  EXPECT_EQ(ReadText(target / "system/kvshell.dll"), "system library");
  EXPECT_EQ(ReadText(target / "empty.txt"), "");
  EXPECT_EQ(ReadText(target / "account.ini"), "[account]\r\nuser=demo\r\n");

  struct stat info {};
  ASSERT_EQ(::stat((target / "KorvaneBackup.exe").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 938413894);
  ASSERT_EQ(::stat((target / "account.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1104537600);
}

TEST_F(PackageFixture, TakesTheSourceModificationTimeWhenTheManifestGivesNone) {
  SetUpOut();
  dir_.Write("package.toml",
             "[settings]\nrun_command = \"a.exe\"\ndefault_path = \"C:\\\\K\"\n[header]\nipc_prefix = \"KO\"\n"
             "[[files]]\nsource = \"src/empty.txt\"\n");
  struct timespec times[2] = {{1234567890, 500}, {1234567890, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "src/empty.txt").c_str(), times, 0), 0);
  WritePackage(LoadManifest(dir_ / "package.toml"), dir_ / "out/s.exe", dir_ / "stub.exe", {});
  const ArchiveListing l = ReadSetupProgram(dir_ / "out/s.exe");
  ASSERT_EQ(l.members.size(), 1u);
  const std::uint64_t time = std::uint64_t{l.members[0].entry.lastWriteTimeHigh} << 32 | l.members[0].entry.lastWriteTimeLow;
  EXPECT_EQ(time, FileTimeFromUnix(1234567890, 500));
}

TEST_F(PackageFixture, NamesTheManifestLineOfAMissingSource) {
  SetUpOut();
  std::filesystem::remove(dir_ / "src/kvshell.dll");
  try {
    Build();
    FAIL() << "built without a source";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("package.toml:30: files[4].source: file \"src/kvshell.dll\" not found"),
              std::string::npos) << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "out"));
}

TEST_F(PackageFixture, LeavesNoOutputWhenTheStubIsTooLarge) {
  SetUpOut();
  dir_.Write("stub.exe", Bytes(kArchiveOffset + 1, 0x90));
  try {
    Build();
    FAIL() << "accepted a stub of 61441 bytes";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("the stub is 61441 bytes long"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "out"));
}

TEST_F(PackageFixture, LeavesNoOutputWhenTheTargetDirectoryIsMissing) {
  EXPECT_THROW(Build(), InputError);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
}

TEST_F(PackageFixture, ReplacesAnEarlierProgramOnlyWhenTheBuildSucceeds) {
  SetUpOut();
  dir_.Write("out/KorvaneSetup.exe", "old");
  std::filesystem::remove(dir_ / "src/account.ini");
  EXPECT_THROW(Build(), InputError);
  EXPECT_EQ(ReadText(dir_ / "out/KorvaneSetup.exe"), "old");
  for (const std::string& name : dir_.Files()) EXPECT_EQ(name.find("tmp"), std::string::npos) << name;
}

TEST_F(PackageFixture, TakesASystemMembersVersionFromItsVersionResource) {
  SetUpOut();
  dir_.Write("src/kvhook.dll", PeImageWithVersion(0x00030001, 0x00000002));
  dir_.Write("package.toml",
             "[settings]\nrun_command = \"a.exe\"\ndefault_path = \"C:\\\\K\"\n[header]\nipc_prefix = \"KO\"\n"
             "[[files]]\nsource = \"src/kvhook.dll\"\nsystem = true\n");
  WritePackage(LoadManifest(dir_ / "package.toml"), dir_ / "out/s.exe", dir_ / "stub.exe", {});
  const ArchiveListing l = ReadSetupProgram(dir_ / "out/s.exe");
  ASSERT_EQ(l.members.size(), 1u);
  EXPECT_EQ(l.members[0].version.ms, 0x00030001u);
  EXPECT_EQ(l.members[0].version.ls, 0x00000002u);
}

TEST_F(PackageFixture, AsksForTheVersionOfASystemMemberWithoutVersionResource) {
  SetUpOut();
  dir_.Write("package.toml",
             "[settings]\nrun_command = \"a.exe\"\ndefault_path = \"C:\\\\K\"\n[header]\nipc_prefix = \"KO\"\n"
             "[[files]]\nsource = \"src/kvshell.dll\"\nsystem = true\n");
  try {
    WritePackage(LoadManifest(dir_ / "package.toml"), dir_ / "out/s.exe", dir_ / "stub.exe", {});
    FAIL() << "packed a system member without a version";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("package.toml:6: files[0]: system member \"src/kvshell.dll\" has no "
                                         "version resource; give its version"),
              std::string::npos) << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "out"));
}

// ---------------------------------------------------------------- extraction

TEST(Extraction, RefusesAMemberNameThatLeavesTheDirectoryAndWritesNothing) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("good.txt", "fine");
  p.AddFile("..\\evil.txt", "bad");
  p.WriteTo(dir / "s.exe", FakeStub());
  TempDir target;
  EXPECT_THROW(ExtractSetupProgram(dir / "s.exe", target.Path()), InputError);
  EXPECT_TRUE(target.Files().empty());
}


TEST(Extraction, DecompressesMembersOfEveryLiteralModeAndWindow) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  const Bytes input = SampleBytes(20000, 7);
  int index = 0;
  for (LiteralMode mode : {LiteralMode::Binary, LiteralMode::Ascii}) {
    for (unsigned window : {1024u, 2048u, 4096u}) {
      PackageMember& m = p.AddFile("f" + std::to_string(index++), Implode(input, {mode, window, false}), kMemberCmp);
      m.originalSize = static_cast<std::uint32_t>(input.size());
    }
  }
  p.WriteTo(dir / "s.exe", FakeStub());
  TempDir target;
  ExtractSetupProgram(dir / "s.exe", target.Path());
  for (int i = 0; i < index; ++i) EXPECT_EQ(ReadBytes(target / ("f" + std::to_string(i))), input) << i;
}

TEST(Extraction, ReportsAMissingExternalMemberFile) {
  TempDir dir;
  PackageBuilder p = MinimalPackage();
  p.AddFile("Agent.exe", "abc", kMemberExt);
  p.WriteTo(dir / "s.exe", FakeStub());
  std::filesystem::remove(dir / "_gent.exe");
  TempDir target;
  EXPECT_THROW(ExtractSetupProgram(dir / "s.exe", target.Path()), InputError);
}

// ------------------------------------------------------------ damaged archives

Bytes Program(const PackageBuilder& p) { return ComposeSetupProgram(FakeStub(), p.ArchiveBytes()); }


class DamagedArchiveReading : public testing::TestWithParam<DamagedArchive> {};

// The reader stops where setup.exe stops, with its code and text.
TEST_P(DamagedArchiveReading, ReadsWithTheArchiveErrorOfSetupExe) {
  const ArchiveListing l = ReadArchive(BuildDamagedProgram(GetParam(), MinimalPackage(), FakeStub()));
  EXPECT_EQ(l.error, GetParam().error) << DescribeArchiveError(l);
  EXPECT_NE(DescribeArchiveError(l).find(std::string("(") + GetParam().errorText + ")"), std::string::npos)
      << DescribeArchiveError(l);
}

TEST_P(DamagedArchiveReading, ExtractsNothing) {
  TempDir dir;
  dir.Write("s.exe", BuildDamagedProgram(GetParam(), MinimalPackage(), FakeStub()));
  TempDir target;
  try {
    ExtractSetupProgram(dir / "s.exe", target.Path());
    ADD_FAILURE() << "extracted a damaged archive";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("archive error " + std::to_string(GetParam().error) + " ("),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(target.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedArchiveReading, testing::ValuesIn(DamagedArchives()),
                         [](const testing::TestParamInfo<DamagedArchive>& info) {
                           return std::string(info.param.name);
                         });

TEST(ArchiveReader, AcceptsTrailingCount100) {
  PackageBuilder p = MinimalPackage();
  for (int i = 0; i < 100; ++i) p.AddTrailingFile("t" + std::to_string(i), BytesOf("x"));
  const ArchiveListing l = ReadArchive(Program(p));
  EXPECT_EQ(l.error, kArchiveOk);
  EXPECT_EQ(l.trailing->members.size(), 100u);
}

TEST(ArchiveReader, IgnoresWhateverFollowsTheIconsWhenNoTrailingIsSet) {
  PackageBuilder p = MinimalPackage();
  p.header.flags = kHeaderFlagNoTrailing;
  DamagedProgram program(Program(p));
  program.Append(BytesOf("garbage"));
  const ArchiveListing l = ReadArchive(program.Bytes());
  EXPECT_EQ(l.error, kArchiveOk);
  EXPECT_FALSE(l.trailing);
}

TEST(ArchiveReader, KeepsTheSettingsConfigNameForDsAndDropsItForAnEmptyQzName) {
  PackageBuilder ds = MinimalPackage();
  ds.settings.configName = "Base";
  ds.trailing.emplace().typeTag = "DS";
  EXPECT_EQ(ReadArchive(Program(ds)).EffectiveConfigName(), "Base");
  PackageBuilder qz = MinimalPackage();
  qz.settings.configName = "Base";
  qz.trailing.emplace();
  EXPECT_FALSE(ReadArchive(Program(qz)).EffectiveConfigName());
}

TEST(ArchiveReader, SkipsExternalDataAndCountsItInTheTotal) {
  PackageBuilder p = MinimalPackage();
  p.AddFile("Agent.exe", std::string(5000, 'a'), kMemberExt);
  p.AddFile("b.txt", "b");
  const ArchiveListing l = ReadArchive(Program(p));
  ASSERT_EQ(l.error, kArchiveOk) << DescribeArchiveError(l);
  EXPECT_EQ(l.members.size(), 2u);
}

TEST(ArchiveReader, KeepsWhatItReadBeforeAnError) {
  const ArchiveListing l =
      ReadArchive(BuildDamagedProgram(FindDamagedArchive("EntryTagOtherThanF"), MinimalPackage(), FakeStub()));
  EXPECT_EQ(l.error, kArchiveFileHeaderInvalid);
  ASSERT_EQ(l.members.size(), 1u);
  EXPECT_EQ(l.members[0].name, "first.txt");
}

// ------------------------------------------------------------- the command

#ifdef PRODUCT_DIR
int RunSetuppack(const std::string& arguments) {
  const std::string tool = std::string(PRODUCT_DIR) + "/setuppack";
  const int status = std::system((tool + " " + arguments + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SetuppackCommand, ExitsWith2OnUsageAnd1OnBadInput) {
  if (!std::filesystem::exists(std::string(PRODUCT_DIR) + "/setuppack")) GTEST_SKIP() << "setuppack not built";
  TempDir dir;
  dir.Write("bad.toml", "[settings]\n");
  EXPECT_EQ(RunSetuppack("build"), 2);
  EXPECT_EQ(RunSetuppack("frobnicate"), 2);
  EXPECT_EQ(RunSetuppack("build " + (dir / "bad.toml").string() + " -o " + (dir / "o.exe").string()), 1);
  dir.Write("short.exe", "MZ");
  EXPECT_EQ(RunSetuppack("list " + (dir / "short.exe").string()), 1);
}

TEST(SetuppackCommand, LeavesNoExternalFileWhenSigningTheBuildFails) {
  if (!std::filesystem::exists(std::string(PRODUCT_DIR) + "/setup.exe")) GTEST_SKIP() << "setup.exe not built";
  std::string why;
  if (!SigningToolsAvailable(why)) GTEST_SKIP() << why;
  TempDir dir;
  ASSERT_TRUE(MakeTestCertificate(dir.Path()));
  dir.Write("pkg/Manual.txt", "the manual");
  dir.Write("pkg/package.toml",
            "[settings]\nrun_command = \"a.exe\"\ndefault_path = 'C:\\K'\n"
            "[header]\nipc_prefix = \"KV\"\n"
            "[[files]]\nsource = \"Manual.txt\"\nexternal = true\n");
  std::filesystem::create_directory(dir / "out");
  // cert.p12 without its password: osslsigncode refuses it.
  ::unsetenv(kSignPasswordVariable);
  EXPECT_EQ(RunSetuppack("build " + (dir / "pkg/package.toml").string() + " -o " +
                         (dir / "out/S.exe").string() + " --pkcs12 " + (dir / "cert.p12").string()),
            1);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}
#endif

}  // namespace
