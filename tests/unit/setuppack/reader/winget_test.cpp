// winget manifests: written, parsed back as YAML, every field checked; the
// hash is that of the file as published.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cstdio>

#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/reader/winget.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"

namespace {

PackageBuilder Package() {
  PackageBuilder p;
  p.settings.runCommand = "KorvaneBackup.exe";
  p.settings.defaultPath = "C:\\Program Files\\Korvane";
  p.settings.iconGroup = "Korvane's Backup: #1";  // quote, colon and hash must survive
  p.header.flags |= kHeaderFlagNoTrailing;
  p.AddFile("KorvaneBackup.exe", "program");
  p.AddUninstall("Korvane Online Backup", "Uninstall.exe");
  return p;
}

// The SHA-256 as sha256sum prints it, upper-cased.
std::string Sha256SumOf(const std::filesystem::path& path) {
  std::FILE* pipe = ::popen(("sha256sum '" + path.string() + "'").c_str(), "r");
  char hex[65] = {};
  if (!pipe || std::fread(hex, 1, 64, pipe) != 64) ADD_FAILURE() << "sha256sum failed";
  if (pipe) ::pclose(pipe);
  std::string text(hex);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(Winget, WritesTheThreeManifestsWithEveryField) {
  TempDir dir;
  Package().WriteTo(dir / "Setup.exe", FakeStub());
  WingetOptions o;
  o.id = "Korvane.OnlineBackup";
  o.version = "5.2.1";
  o.url = "https://downloads.korvane.example/Setup.exe";
  o.publisher = "Korvane O'Neill Ltd.";
  const auto written = WriteWingetManifests(dir / "Setup.exe", o, dir / "manifests");
  ASSERT_EQ(written.size(), 3u);

  const YAML::Node version = YAML::LoadFile((dir / "manifests/Korvane.OnlineBackup.yaml").string());
  const YAML::Node locale = YAML::LoadFile((dir / "manifests/Korvane.OnlineBackup.locale.en-US.yaml").string());
  const YAML::Node installer = YAML::LoadFile((dir / "manifests/Korvane.OnlineBackup.installer.yaml").string());
  for (const auto& [node, type] : {std::pair{version, "version"}, std::pair{locale, "defaultLocale"},
                                   std::pair{installer, "installer"}}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(node["PackageIdentifier"].as<std::string>(), "Korvane.OnlineBackup");
    EXPECT_EQ(node["PackageVersion"].as<std::string>(), "5.2.1");
    EXPECT_EQ(node["ManifestType"].as<std::string>(), type);
    EXPECT_EQ(node["ManifestVersion"].as<std::string>(), "1.10.0");
  }
  EXPECT_EQ(version["DefaultLocale"].as<std::string>(), "en-US");

  EXPECT_EQ(locale["PackageLocale"].as<std::string>(), "en-US");
  EXPECT_EQ(locale["Publisher"].as<std::string>(), "Korvane O'Neill Ltd.");
  EXPECT_EQ(locale["PackageName"].as<std::string>(), "Korvane's Backup: #1");
  EXPECT_EQ(locale["License"].as<std::string>(), "Proprietary");
  EXPECT_EQ(locale["ShortDescription"].as<std::string>(), "Korvane's Backup: #1");

  EXPECT_EQ(installer["InstallerType"].as<std::string>(), "exe");
  EXPECT_EQ(installer["Scope"].as<std::string>(), "machine");
  EXPECT_EQ(installer["InstallerSwitches"]["Silent"].as<std::string>(), "/S");
  EXPECT_EQ(installer["InstallerSwitches"]["SilentWithProgress"].as<std::string>(), "/S");
  EXPECT_EQ(installer["InstallerSwitches"]["InstallLocation"].as<std::string>(), "/D \"<INSTALLPATH>\"");
  ASSERT_EQ(installer["ExpectedReturnCodes"].size(), 1u);
  EXPECT_EQ(installer["ExpectedReturnCodes"][0]["InstallerReturnCode"].as<int>(), 1);
  EXPECT_EQ(installer["ExpectedReturnCodes"][0]["ReturnResponse"].as<std::string>(), "contactSupport");
  EXPECT_EQ(installer["ProductCode"].as<std::string>(), "Korvane");
  ASSERT_EQ(installer["Installers"].size(), 1u);
  EXPECT_EQ(installer["Installers"][0]["Architecture"].as<std::string>(), "x86");
  EXPECT_EQ(installer["Installers"][0]["InstallerUrl"].as<std::string>(), o.url);
  EXPECT_EQ(installer["Installers"][0]["InstallerSha256"].as<std::string>(), Sha256SumOf(dir / "Setup.exe"));
}

TEST(Winget, DefaultsThePublisherToTheIdentifiersFirstPart) {
  TempDir dir;
  Package().WriteTo(dir / "Setup.exe", FakeStub());
  WingetOptions o{"Korvane.Backup.Client", "1.0", "http://x.example/S.exe", "", "MIT", "Backs up files"};
  WriteWingetManifests(dir / "Setup.exe", o, dir.Path());
  const YAML::Node locale = YAML::LoadFile((dir / "Korvane.Backup.Client.locale.en-US.yaml").string());
  EXPECT_EQ(locale["Publisher"].as<std::string>(), "Korvane");
  EXPECT_EQ(locale["License"].as<std::string>(), "MIT");
  EXPECT_EQ(locale["ShortDescription"].as<std::string>(), "Backs up files");
}

TEST(Winget, RefusesADamagedProgramAndWritesNothing) {
  TempDir dir;
  dir.Write("Setup.exe", "MZ");
  WingetOptions o{"Korvane.Backup", "1.0", "https://x.example/S.exe"};
  EXPECT_THROW(WriteWingetManifests(dir / "Setup.exe", o, dir / "out"), InputError);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST(Winget, NamesThePackageByGroupElseUninstallEntryElseRunCommand) {
  ArchiveListing l;
  l.settings.runCommand = "Run.exe";
  EXPECT_EQ(WingetPackageName(l), "Run.exe");
  l.icons.push_back(PackageIcon{"Shortcut", {}, {}});
  l.icons.push_back(PackageIcon{"*Uninstall Name", "u.exe", {}});
  EXPECT_EQ(WingetPackageName(l), "Uninstall Name");
  l.settings.iconGroup = "Gr\xFC" "ppe";  // code page 1252
  EXPECT_EQ(WingetPackageName(l), "Gr\xC3\xBCppe");
}

TEST(Winget, AcceptsOnlyWingetsIdentifiersVersionsAndUrls) {
  struct Case {
    bool (*accepts)(std::string_view);
    std::string value;
    bool ok;
  };
  const Case cases[] = {
      {IsWingetIdentifier, "Korvane.Backup", true},
      {IsWingetIdentifier, "A.B.C.D.E.F.G.H", true},
      {IsWingetIdentifier, "A.B.C.D.E.F.G.H.I", false},  // nine parts
      {IsWingetIdentifier, "Korvane", false},            // one part
      {IsWingetIdentifier, "Korvane..Backup", false},
      {IsWingetIdentifier, "Korvane.Online Backup", false},
      {IsWingetIdentifier, "Korvane.Back:up", false},
      {IsWingetIdentifier, std::string(32, 'a') + ".b", true},
      {IsWingetIdentifier, std::string(33, 'a') + ".b", false},
      {IsWingetVersion, "5.2.1-beta 2", true},
      {IsWingetVersion, "", false},
      {IsWingetVersion, "1/2", false},
      {IsWingetVersion, std::string(129, '1'), false},
      {IsWingetUrl, "https://k.example/Setup.exe", true},
      {IsWingetUrl, "HTTP://k.example/", true},
      {IsWingetUrl, "ftp://k.example/Setup.exe", false},
      {IsWingetUrl, "https://", false},
      {IsWingetUrl, "k.example/Setup.exe", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.accepts(c.value), c.ok) << c.value;
}

TEST(Winget, QuotesScalarsSoThatYamlReadsThemBack) {
  for (const std::string text : {"plain", "it's", "a: b", "#x", "- y", "\"q\"", "yes", "1.10", "~", "@x"}) {
    EXPECT_EQ(YAML::Load("k: " + YamlQuoted(text))["k"].as<std::string>(), text);
  }
}

TEST(Winget, HashesWithSha256) {
  EXPECT_EQ(Sha256Hex(BytesOf("abc")), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
}

}  // namespace
