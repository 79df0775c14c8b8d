// The package manifest: what it accepts, and the message for what it refuses.
#include "setuppack/package/manifest.hpp"

#include <gtest/gtest.h>

#include <string>

#include "setuppack/host/errors.hpp"

namespace {

const std::string kMinimal =
    "[settings]\n"
    "run_command = \"Prog.exe\"\n"
    "default_path = 'C:\\Korvane'\n"
    "[header]\n"
    "ipc_prefix = \"KO\"\n";

Manifest Parse(const std::string& text) { return ParseManifest(text, "pkg/package.toml"); }

std::string ErrorOf(const std::string& text) {
  try {
    Parse(text);
  } catch (const InputError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(Manifest, ReadsTheMinimalManifest) {
  const Manifest m = Parse(kMinimal);
  EXPECT_EQ(m.settings.runCommand, "Prog.exe");
  EXPECT_EQ(m.settings.defaultPath, "C:\\Korvane");
  EXPECT_FALSE(m.settings.helpFile);
  EXPECT_EQ(m.ipcPrefix[0], 'K');
  EXPECT_EQ(m.ipcPrefix[1], 'O');
  EXPECT_FALSE(m.requiredSpace);
  EXPECT_EQ(m.headerFlags, kHeaderFlagNoTrailing);  // no [trailing]: no trailing block
  EXPECT_EQ(m.baseDirectory, "pkg");
}

TEST(Manifest, ReadsEverySettingsString) {
  const Manifest m = Parse(
      "[settings]\nrun_command = \"r\"\nhelp_file = \"h\"\nreadme_file = \"m\"\nini_file = \"i\"\n"
      "launcher_classes = [\"A\", \"B\"]\nicon_group = \"g\"\ndefault_path = \"d\"\n"
      "config_name = \"c\"\nlauncher_file = \"l\"\ntray_file = \"t\"\nreserved_1 = \"x\"\n"
      "reserved_2 = \"y\"\n[header]\nipc_prefix = \"KO\"\n");
  const char* expected[] = {"r", "h", "m", "i", "A,B", "g", "d", "c", "l", "t", "x", "y"};
  for (std::size_t i = 0; i < kSettingsStringCount; ++i) EXPECT_EQ(m.settings[i], expected[i]) << i;
}

TEST(Manifest, ConvertsTextToCodePage1252) {
  const Manifest m = Parse(
      "[settings]\nrun_command = \"Prog.exe\"\ndefault_path = \"C:\\\\Programme\\\\Müller €\"\n"
      "[header]\nipc_prefix = \"KO\"\n");
  EXPECT_EQ(m.settings.defaultPath, "C:\\Programme\\M\xFCller \x80");
}

TEST(Manifest, ReadsHeaderFieldsAndFlags) {
  const Manifest m = Parse(kMinimal +
                           "required_space = \"3 MiB\"\nhelp_context = 500\nplatform = \"nt4\"\n"
                           "no_dlr = true\nflag_01 = true\n");
  EXPECT_EQ(m.requiredSpace, 3145728u);
  EXPECT_EQ(m.helpContext, 500);
  EXPECT_EQ(m.headerFlags, 0x29 | kHeaderFlagNoTrailing);
}

TEST(Manifest, ReadsFilesWithTheirOptions) {
  const Manifest m = Parse(kMinimal +
                           "[[files]]\nsource = \"bin/Agent.exe\"\ncompress = true\n"
                           "literals = \"ascii\"\ndictionary = 2048\ntime = 1999-09-27T06:31:34Z\n"
                           "[[files]]\nsource = \"x.dll\"\nname = \"sub/y.dll\"\nsystem = true\n"
                           "version = \"2.10.3.4\"\ndlr = true\ntime = 0\n"
                           "[[files]]\nsource = \"big.dat\"\nexternal = true\n"
                           "time = \"1999-09-27T08:31:34+02:00\"\n");
  ASSERT_EQ(m.files.size(), 3u);
  EXPECT_EQ(m.files[0].name, "Agent.exe");
  EXPECT_EQ(m.files[0].source, std::filesystem::path("pkg/bin/Agent.exe"));
  EXPECT_EQ(m.files[0].flags, kMemberCmp);
  EXPECT_EQ(m.files[0].implode.literals, LiteralMode::Ascii);
  EXPECT_EQ(m.files[0].implode.dictionarySize, 2048u);
  EXPECT_EQ(m.files[0].time, 0x01BF08B1F1492700ull);
  EXPECT_EQ(m.files[1].name, "sub\\y.dll");
  EXPECT_EQ(m.files[1].flags, kMemberSys | kMemberDlr);
  ASSERT_TRUE(m.files[1].version);
  EXPECT_EQ(m.files[1].version->ms, 0x0002000Au);
  EXPECT_EQ(m.files[1].version->ls, 0x00030004u);
  EXPECT_EQ(m.files[1].time, 0u);
  EXPECT_EQ(m.files[2].flags, kMemberExt);
  EXPECT_EQ(m.files[2].time, 0x01BF08B1F1492700ull);
}

TEST(Manifest, LeavesTheTimeToTheSourceWhenNotGiven) {
  const Manifest m = Parse(kMinimal + "[[files]]\nsource = \"a.txt\"\n");
  EXPECT_FALSE(m.files[0].time);
}

TEST(Manifest, ReadsIconsAndTheUninstallEntry) {
  const Manifest m = Parse(kMinimal +
                           "[[icons]]\nname = \"Korvane\"\ntarget = \"K.exe\"\narguments = \"/x\"\n"
                           "[[icons]]\nuninstall = true\nname = \"Korvane Backup\"\nprogram = \"Un.exe\"\n");
  ASSERT_EQ(m.icons.size(), 2u);
  EXPECT_EQ(m.icons[0].name, "Korvane");
  EXPECT_EQ(m.icons[0].target, "K.exe");
  EXPECT_EQ(m.icons[0].arguments, "/x");
  EXPECT_EQ(m.icons[1].name, "*Korvane Backup");
  EXPECT_EQ(m.icons[1].arguments, "Un.exe");
  EXPECT_FALSE(m.icons[1].target);
}

TEST(Manifest, ReadsTheTrailingBlockAndClearsNoTrailing) {
  const Manifest m = Parse(kMinimal +
                           "[trailing]\ntype = \"QZ\"\nconfig_name = \"Acme\"\n"
                           "[[trailing.files]]\nsource = \"acct.ini\"\ntime = 2001-01-01T00:00:00Z\n");
  ASSERT_TRUE(m.trailing);
  EXPECT_EQ(m.trailing->typeTag, "QZ");
  EXPECT_EQ(m.trailing->configName, "Acme");
  ASSERT_EQ(m.trailing->files.size(), 1u);
  EXPECT_EQ(m.trailing->files[0].name, "acct.ini");
  EXPECT_EQ(m.headerFlags & kHeaderFlagNoTrailing, 0);
}

struct BadManifest {
  const char* what;
  std::string text;
  std::string message;  // expected part of the error message
};

void PrintTo(const BadManifest& bad, std::ostream* os) { *os << bad.what; }

class ManifestErrors : public testing::TestWithParam<BadManifest> {};

TEST_P(ManifestErrors, NameFileLineAndField) {
  const std::string error = ErrorOf(GetParam().text);
  EXPECT_NE(error.find(GetParam().message), std::string::npos)
      << "message: " << error << "\nexpected: " << GetParam().message;
}

const std::string kSettingsNoRun = "[settings]\ndefault_path = \"C:\\\\K\"\n[header]\nipc_prefix = \"KO\"\n";

INSTANTIATE_TEST_SUITE_P(
    Refused, ManifestErrors,
    testing::Values(
        BadManifest{"syntax", "[settings\n", "pkg/package.toml:1:"},
        BadManifest{"no settings", "[header]\nipc_prefix = \"KO\"\n",
                    "pkg/package.toml: settings: missing; add a [settings] table with at least "
                    "run_command and default_path"},
        BadManifest{"no run command", kSettingsNoRun,
                    "pkg/package.toml:1: settings.run_command: missing; setup.exe refuses a package "
                    "without it. Name the program that the finish dialog starts, e.g. run_command = "
                    "\"Program.exe\""},
        BadManifest{"no default path",
                    "[settings]\nrun_command = \"a.exe\"\n[header]\nipc_prefix = \"KO\"\n",
                    "pkg/package.toml:1: settings.default_path: missing; setup.exe refuses a package "
                    "without it. Give the default install directory, e.g. default_path = "
                    "'C:\\Program Files\\Product'"},
        BadManifest{"unknown settings key", "[settings]\nrun_command = \"a\"\nrun = \"b\"\n",
                    "pkg/package.toml:3: settings.run: unknown field; the fields here are run_command, "
                    "help_file, readme_file, ini_file, launcher_classes, icon_group, default_path, "
                    "config_name, launcher_file, tray_file, reserved_1, reserved_2"},
        BadManifest{"launcher class that is no text",
                    "[settings]\nrun_command = \"a\"\ndefault_path = \"d\"\nlauncher_classes = [\"A\", 3]\n",
                    "pkg/package.toml:4: settings.launcher_classes[1]: must be a text, not an integer"},
        BadManifest{"unknown field", kMinimal + "colour = \"red\"\n",
                    "pkg/package.toml:6: header.colour: unknown field"},
        BadManifest{"unknown top-level table", kMinimal + "[extras]\n",
                    "pkg/package.toml:6: extras: unknown field"},
        BadManifest{"settings string of wrong type",
                    "[settings]\nrun_command = 5\ndefault_path = \"d\"\n",
                    "pkg/package.toml:2: settings.run_command: must be a text in double quotes, not an integer"},
        BadManifest{"string too long",
                    "[settings]\nrun_command = \"a.exe\"\ndefault_path = \"" + std::string(256, 'd') + "\"\n",
                    "pkg/package.toml:3: settings.default_path: is 256 bytes long; the archive stores at most 255"},
        BadManifest{"empty string", "[settings]\nrun_command = \"\"\ndefault_path = \"d\"\n",
                    "settings.run_command: is empty"},
        BadManifest{"character outside code page 1252",
                    "[settings]\nrun_command = \"\xE2\x86\x92.exe\"\ndefault_path = \"d\"\n",
                    "settings.run_command: holds characters that the Windows code page 1252 cannot show"},
        BadManifest{"no ipc prefix", "[settings]\nrun_command = \"a\"\ndefault_path = \"d\"\n[header]\n",
                    "pkg/package.toml:4: header.ipc_prefix: missing"},
        BadManifest{"ipc prefix of three characters", "[settings]\nrun_command = \"a\"\ndefault_path = \"d\"\n"
                    "[header]\nipc_prefix = \"KOR\"\n",
                    "pkg/package.toml:5: header.ipc_prefix: must be exactly two characters"},
        BadManifest{"size with unknown unit", kMinimal + "required_space = \"3 MB2\"\n",
                    "pkg/package.toml:6: header.required_space: \"3 MB2\" is not a size"},
        BadManifest{"size above 4 GiB", kMinimal + "required_space = \"4 GiB\"\n",
                    "header.required_space: \"4 GiB\" is not a size below 4 GiB"},
        BadManifest{"negative size", kMinimal + "required_space = -1\n",
                    "header.required_space: must be 0 to 4294967295 bytes"},
        BadManifest{"size as float", kMinimal + "required_space = 1.5\n",
                    "header.required_space: must be a number of bytes or a text such as \"3 MiB\", not a floating-point number"},
        BadManifest{"help context too large", kMinimal + "help_context = 70000\n",
                    "header.help_context: 70000 is out of range; give 0 to 65535"},
        BadManifest{"unknown platform", kMinimal + "platform = \"os2\"\n",
                    "header.platform: \"os2\" is unknown"},
        BadManifest{"platform and flag", kMinimal + "platform = \"any\"\nnt4 = true\n",
                    "header.platform: is given together with header.nt4"},
        BadManifest{"flag of wrong type", kMinimal + "no_dlr = \"yes\"\n",
                    "pkg/package.toml:6: header.no_dlr: must be true or false, not a text"},
        BadManifest{"no_trailing with a trailing block",
                    kMinimal + "no_trailing = true\n[trailing]\ntype = \"QZ\"\n",
                    "header.no_trailing: is true, but the manifest has a [trailing] block"},
        BadManifest{"file without source", kMinimal + "[[files]]\nname = \"a\"\n",
                    "pkg/package.toml:6: files[0].source: missing"},
        BadManifest{"files not an array of tables", kMinimal.substr(0, 0) + "files = 3\n" + kMinimal,
                    "pkg/package.toml:1: files: must be an array of tables"},
        BadManifest{"unknown file field", kMinimal + "[[files]]\nsource = \"a\"\nsize = 3\n",
                    "pkg/package.toml:8: files[0].size: unknown field"},
        BadManifest{"parent directory", kMinimal + "[[files]]\nsource = \"a\"\nname = \"../a.txt\"\n",
                    "pkg/package.toml:8: files[0].name: \"..\\a.txt\" would leave the install directory"},
        BadManifest{"leading backslash", kMinimal + "[[files]]\nsource = \"a\"\nname = '\\a.txt'\n",
                    "files[0].name: \"\\a.txt\" would leave the install directory"},
        BadManifest{"drive letter", kMinimal + "[[files]]\nsource = \"a\"\nname = 'C:a.txt'\n",
                    "files[0].name: \"C:a.txt\" would leave the install directory"},
        BadManifest{"UNC prefix", kMinimal + "[[files]]\nsource = \"a\"\nname = '\\\\srv\\share\\a'\n",
                    "would leave the install directory"},
        BadManifest{"name too long", kMinimal + "[[files]]\nsource = \"a\"\nname = \"" + std::string(256, 'n') + "\"\n",
                    "files[0].name: is 256 bytes long; a member name holds at most 255"},
        BadManifest{"wildcard in name", kMinimal + "[[files]]\nsource = \"a\"\nname = \"a*.txt\"\n",
                    "files[0].name: \"a*.txt\" holds a character that Windows refuses"},
        BadManifest{"device name", kMinimal + "[[files]]\nsource = \"a\"\nname = 'sub\\nul.txt'\n",
                    "files[0].name: \"sub\\nul.txt\" has a part that Windows reserves for a device"},
        BadManifest{"shortcut leaving its group", kMinimal + "[[icons]]\nname = '..\\..\\Startup\\x'\n",
                    "icons[0].name: \"..\\..\\Startup\\x\" would place the shortcut outside the program group"},
        BadManifest{"shortcut named as a device", kMinimal + "[[icons]]\nname = \"CON\"\n",
                    "icons[0].name: \"CON\" would place the shortcut outside the program group or name a device"},
        BadManifest{"external with directory", kMinimal + "[[files]]\nsource = \"a\"\nname = 'sub\\a.dll'\nexternal = true\n",
                    "files[0].name: \"sub\\a.dll\" has a directory part, but an external member file"},
        BadManifest{"version with three parts", kMinimal + "[[files]]\nsource = \"a.dll\"\nsystem = true\nversion = \"2.0.0\"\n",
                    "pkg/package.toml:9: files[0].version: \"2.0.0\" is not a version"},
        BadManifest{"version part too large", kMinimal + "[[files]]\nsource = \"a.dll\"\nsystem = true\nversion = \"1.65536.0.0\"\n",
                    "files[0].version: \"1.65536.0.0\" is not a version"},
        BadManifest{"version without system", kMinimal + "[[files]]\nsource = \"a.dll\"\nversion = \"1.0.0.0\"\n",
                    "files[0].version: only system members carry a version"},
        BadManifest{"literals without compress", kMinimal + "[[files]]\nsource = \"a\"\nliterals = \"ascii\"\n",
                    "files[0].literals: only applies with compress = true"},
        BadManifest{"bad dictionary", kMinimal + "[[files]]\nsource = \"a\"\ncompress = true\ndictionary = 8192\n",
                    "files[0].dictionary: must be 1024, 2048, 4096 or \"auto\""},
        BadManifest{"bad literals", kMinimal + "[[files]]\nsource = \"a\"\ncompress = true\nliterals = \"text\"\n",
                    "files[0].literals: must be \"binary\", \"ascii\" or \"auto\""},
        BadManifest{"time without zone", kMinimal + "[[files]]\nsource = \"a\"\ntime = 1999-09-27T06:31:34\n",
                    "files[0].time: has no time zone"},
        BadManifest{"time as bad text", kMinimal + "[[files]]\nsource = \"a\"\ntime = \"yesterday\"\n",
                    "files[0].time: \"yesterday\" is not an RFC 3339 date-time"},
        BadManifest{"time as number", kMinimal + "[[files]]\nsource = \"a\"\ntime = 12\n",
                    "files[0].time: must be a date-time"},
        BadManifest{"duplicate name", kMinimal + "[[files]]\nsource = \"a/x.txt\"\n[[files]]\nsource = \"b/X.TXT\"\n",
                    "pkg/package.toml:9: files[1].name: \"X.TXT\" is already the name of files[0]"},
        BadManifest{"external files colliding", kMinimal + "[[files]]\nsource = \"Agent.exe\"\nexternal = true\n"
                    "[[files]]\nsource = \"Bgent.exe\"\nexternal = true\n",
                    "pkg/package.toml:10: files[1].name: the external member file \"_gent.exe\" is already that of files[0]"},
        BadManifest{"icon without name", kMinimal + "[[icons]]\ntarget = \"a.exe\"\n",
                    "pkg/package.toml:6: icons[0].name: missing"},
        BadManifest{"icon named with a star", kMinimal + "[[icons]]\nname = \"*Un\"\n",
                    "icons[0].name: a name beginning with \"*\" is the uninstall entry"},
        BadManifest{"uninstall without program", kMinimal + "[[icons]]\nuninstall = true\nname = \"K\"\n",
                    "icons[0].program: missing"},
        BadManifest{"uninstall with target", kMinimal + "[[icons]]\nuninstall = true\nname = \"K\"\nprogram = \"u\"\ntarget = \"t\"\n",
                    "icons[0].target: unknown field"},
        BadManifest{"unknown trailing type", kMinimal + "[trailing]\ntype = \"ZZ\"\n",
                    "trailing.type: \"ZZ\" is unknown"},
        BadManifest{"DS with configuration name", kMinimal + "[trailing]\ntype = \"DS\"\nconfig_name = \"x\"\n",
                    "trailing.config_name: a trailing block of type \"DS\" has no configuration name"},
        BadManifest{"CT member with time", kMinimal + "[trailing]\ntype = \"CT\"\n[[trailing.files]]\nsource = \"a\"\ntime = 0\n",
                    "trailing.files[0].time: members of a \"CT\" trailing block carry no time"},
        BadManifest{"unknown code page", "codepage = 437\n" + kMinimal,
                    "pkg/package.toml:1: codepage: 437 is not a Windows ANSI code page; use 874, 932"},
        BadManifest{"name outside the chosen code page",
                    "codepage = 1251\n" + kMinimal + "[[files]]\nsource = \"a\"\nname = \"M\u00FCller.txt\"\n",
                    "pkg/package.toml:9: files[0].name: holds characters that the Windows code page 1251 cannot show"},
        BadManifest{"double-byte character ending in a backslash",
                    "codepage = 932\n" + kMinimal + "[[files]]\nsource = \"a\"\nname = \"\u8868.txt\"\n",
                    "files[0].name: holds a character whose second byte in the Windows code page 932 is 0x5C"},
        BadManifest{"text that does not come back the same",
                    "codepage = 932\n" + kMinimal + "[[icons]]\nname = \"\u301C\"\n",
                    "icons[0].name: holds a character that the Windows code page 932 stores as the bytes of another"},
        BadManifest{"install path over 259 characters",
                    "[settings]\nrun_command = \"a\"\ndefault_path = 'C:\\" + std::string(100, 'd') +
                        "'\n[header]\nipc_prefix = \"KO\"\n[[files]]\nsource = \"a\"\nname = \"" +
                        std::string(100, 'n') + "/" + std::string(55, 'n') + "\"\n",
                    "pkg/package.toml:8: files[0].name: \"" + std::string(100, 'n') + "\\" +
                        std::string(55, 'n') + "\" makes the install path 260 characters long"},
        BadManifest{"file named like a directory",
                    kMinimal + "[[files]]\nsource = \"a\"\nname = \"Docs\"\n"
                    "[[files]]\nsource = \"b\"\nname = \"docs/b.txt\"\n",
                    "pkg/package.toml:8: files[0].name: \"Docs\" is the name of a directory of files[1], \"docs\\b.txt\""},
        BadManifest{"trailing name unsafe", kMinimal + "[trailing]\n[[trailing.files]]\nsource = \"a\"\nname = \"../x\"\n",
                    "trailing.files[0].name: \"..\\x\" would leave the install directory"}),
    [](const testing::TestParamInfo<BadManifest>& info) {
      std::string name;
      for (const char* p = info.param.what; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(Manifest, ASystemMemberMayShareTheNameOfADirectory) {
  EXPECT_EQ(ErrorOf(kMinimal + "[[files]]\nsource = \"a\"\nname = \"Docs\"\nsystem = true\n"
                               "version = \"1.0.0.0\"\n[[files]]\nsource = \"b\"\nname = \"Docs/b.txt\"\n"),
            "(accepted)");
}

TEST(Manifest, WarnsWithin40CharactersOfThePathBuffer) {
  const std::string head = "[settings]\nrun_command = \"a\"\ndefault_path = 'C:\\" +
                           std::string(100, 'd') + "\\'\n[header]\nipc_prefix = \"KO\"\n";
  // 104 characters of directory: names up to 115 fit without a warning.
  EXPECT_TRUE(Parse(head + "[[files]]\nsource = \"a\"\nname = \"" + std::string(115, 'n') + "\"\n")
                  .warnings.empty());
  const Manifest m =
      Parse(head + "[[files]]\nsource = \"a\"\nname = \"" + std::string(116, 'n') + "\"\n");
  ASSERT_EQ(m.warnings.size(), 1u);
  EXPECT_NE(m.warnings[0].find("pkg/package.toml:8: files[0].name: \"" + std::string(116, 'n') +
                               "\" makes the install path 220 characters long"),
            std::string::npos)
      << m.warnings[0];
}

TEST(Manifest, ReadsNamesAndTextsInTheChosenCodePage) {
  const Manifest m = Parse("codepage = 932\n" + kMinimal +
                           "[[files]]\nsource = \"a\"\nname = \"\u65E5\u672C/\u8A9E.txt\"\n"
                           "[[icons]]\nname = \"\u30D8\u30EB\u30D7\"\n");
  EXPECT_EQ(m.codePage, 932u);
  EXPECT_EQ(m.files[0].name, "\x93\xFA\x96\x7B\\\x8C\xEA.txt");
  EXPECT_EQ(m.icons[0].name, "\x83\x77\x83\x8B\x83\x76");
}

// The device names are refused by the shared member-name rule
// (format/member_name.hpp).
TEST(Manifest, RefusesADeviceNameInAnyPart) {
  const std::string error = ErrorOf(kMinimal + "[[files]]\nsource = \"a\"\nname = 'Docs\\CON.txt'\n");
  EXPECT_NE(error.find("pkg/package.toml:8: files[0].name: \"Docs\\CON.txt\""), std::string::npos)
      << error;
}

TEST(Manifest, RefusesMoreThan100TrailingFiles) {
  std::string text = kMinimal + "[trailing]\n";
  for (int i = 0; i < 101; ++i) text += "[[trailing.files]]\nsource = \"f" + std::to_string(i) + "\"\n";
  EXPECT_NE(ErrorOf(text).find("trailing.files: has 101 entries; setup.exe accepts at most 100"),
            std::string::npos);
}

TEST(Manifest, ReportsAMissingManifestFile) {
  EXPECT_THROW(LoadManifest("/nonexistent/package.toml"), InputError);
}

// The manifest key column names the key that fills the string at its place.
TEST(ArchiveLayout, EachSettingsStringHasItsManifestKey) {
  std::string text = "[header]\nipc_prefix = \"KO\"\n[settings]\n";
  for (const SettingsStringInfo& info : kSettingsStrings)
    text += std::string(info.manifestKey) + " = \"" + info.field + "\"\n";
  const Manifest m = ParseManifest(text, "package.toml");
  for (const SettingsStringInfo& info : kSettingsStrings) EXPECT_EQ(m.settings[info.index], info.field);
}

}  // namespace
