// `setuppack try` without Wine: what a package should install under
// setup.exe's rules, the differences from an observed installation, and
// shell links read from their bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "setuppack/host/errors.hpp"
#include "setuppack/trial/install_check.hpp"
#include "setuppack/host/sha256.hpp"
#include "setuppack/trial/shell_link.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kTime = 133590276000000000ull;      // 2024-05-01 09:00:00 UTC
constexpr std::uint64_t kLaterTime = 133591266000000000ull;  // 2024-05-02 12:30:00 UTC

PackageFile Member(std::string name, std::string text, std::uint8_t flags = 0, bool trailing = false) {
  PackageFile f;
  f.name = std::move(name);
  f.flags = flags;
  f.trailing = trailing;
  f.fileTime = trailing ? kLaterTime : kTime;
  f.size = text.size();
  f.sha256 = Sha256OfBytes(Bytes(text.begin(), text.end()));
  return f;
}

// A package of every kind of member, a shortcut and an uninstall entry.
PackageContents Package() {
  PackageContents p;
  p.files.push_back(Member("README.TXT", "read me"));
  p.files.push_back(Member("Docs\\Manual.txt", "manual"));
  p.files.push_back(Member("CONFIG.DAT", "config"));
  PackageFile sys = Member("kvshell.dll", "library", kMemberSys);
  sys.version = {0x00020000, 0};
  p.files.push_back(sys);
  p.files.push_back(Member("legacy.dll", "old", kMemberDlr));
  p.files.push_back(Member("account.ini", "account", 0, true));
  p.icons = {{"App", "-start", "App.exe"}, {"*Product", "Uninstall.exe", std::nullopt}};
  p.iconGroup = "Group";
  p.iniFile = "account.ini";
  p.iconsRead = true;
  return p;
}

InstallRules Rules() {
  InstallRules r;
  r.installDir = "C:\\Apps\\Product";
  r.installDlr = false;  // Windows NT
  return r;
}

// What a faithful run of the package leaves.
ObservedInstall Faithful(const PackageContents& p, const InstallRules& rules, ObservedInstall before = {}) {
  ObservedInstall o = before;
  const ExpectedInstall e = ExpectInstall(p, rules, o);
  for (const ExpectedFile& f : e.files) {
    const PackageFile& m = p.files[f.member];
    (f.system ? o.systemChanged : o.installAfter).push_back({f.name, m.size, m.fileTime + 1234, m.sha256});
  }
  for (const ExpectedLink& l : e.links) o.links.push_back({l.name, l.target, l.arguments, l.workingDirectory, ""});
  o.uninstall = e.uninstall;
  return o;
}

std::vector<std::string> Kinds(const std::vector<Difference>& differences) {
  std::vector<std::string> kinds;
  for (const Difference& d : differences) kinds.push_back(d.kind);
  return kinds;
}

std::vector<std::string> ExpectedNames(const PackageContents& p, const InstallRules& r, const ObservedInstall& o) {
  std::vector<std::string> names;
  for (const ExpectedFile& f : ExpectInstall(p, r, o).files) names.push_back((f.system ? "sys:" : "") + f.name);
  return names;
}

TEST(TrialExpect, AFreshNtInstallationSkipsDlrMembersOnly) {
  EXPECT_EQ(ExpectedNames(Package(), Rules(), {}),
            (std::vector<std::string>{"README.TXT", "Docs\\Manual.txt", "CONFIG.DAT", "sys:kvshell.dll", "account.ini"}));
  InstallRules win95 = Rules();
  win95.installDlr = true;
  EXPECT_EQ(ExpectInstall(Package(), win95, {}).files.size(), 6u);
}

struct RuleCase {
  const char* test;
  std::function<void(InstallRules&, ObservedInstall&)> setUp;
  std::vector<std::string> expected;
};

class TrialRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(TrialRules, LeaveOutWhatSetupLeavesOut) {
  InstallRules rules = Rules();
  ObservedInstall before;
  GetParam().setUp(rules, before);
  EXPECT_EQ(ExpectedNames(Package(), rules, before), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrialRules,
    ::testing::Values(
        RuleCase{"NoConfig", [](InstallRules& r, ObservedInstall&) { r.skipConfig = true; },
                 {"README.TXT", "Docs\\Manual.txt", "sys:kvshell.dll", "account.ini"}},
        RuleCase{"ConfigPresent", [](InstallRules&, ObservedInstall& o) { o.installBefore.insert("config.dat"); },
                 {"README.TXT", "Docs\\Manual.txt", "sys:kvshell.dll", "account.ini"}},
        RuleCase{"ConfigOverwritten",
                 [](InstallRules& r, ObservedInstall& o) {
                   r.keepExistingConfig = false;
                   o.installBefore.insert("config.dat");
                 },
                 {"README.TXT", "Docs\\Manual.txt", "CONFIG.DAT", "sys:kvshell.dll", "account.ini"}},
        RuleCase{"SystemFileAsNew",
                 [](InstallRules&, ObservedInstall& o) { o.systemBefore["kvshell.dll"] = MemberVersion{0x00020000, 0}; },
                 {"README.TXT", "Docs\\Manual.txt", "CONFIG.DAT", "account.ini"}},
        RuleCase{"SystemFileOlder",
                 [](InstallRules&, ObservedInstall& o) { o.systemBefore["kvshell.dll"] = MemberVersion{0x00010009, 9}; },
                 {"README.TXT", "Docs\\Manual.txt", "CONFIG.DAT", "sys:kvshell.dll", "account.ini"}},
        RuleCase{"SystemFileWithoutVersion",
                 [](InstallRules&, ObservedInstall& o) { o.systemBefore["kvshell.dll"] = std::nullopt; },
                 {"README.TXT", "Docs\\Manual.txt", "CONFIG.DAT", "sys:kvshell.dll", "account.ini"}},
        RuleCase{"AccountPresent", [](InstallRules&, ObservedInstall& o) { o.installBefore.insert("account.ini"); },
                 {"README.TXT", "Docs\\Manual.txt", "CONFIG.DAT", "sys:kvshell.dll"}}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.test); });

TEST(TrialCompare, AFaithfulInstallationHasNoDifference) {
  const PackageContents p = Package();
  const ObservedInstall o = Faithful(p, Rules());
  EXPECT_TRUE(CompareInstall(p, ExpectInstall(p, Rules(), o), o).empty());
}

struct DifferenceCase {
  const char* test;
  std::function<void(PackageContents&, ObservedInstall&)> change;
  std::vector<std::string> kinds;
};

class TrialDifferences : public ::testing::TestWithParam<DifferenceCase> {};

TEST_P(TrialDifferences, AreListedByKind) {
  PackageContents p = Package();
  ObservedInstall o = Faithful(p, Rules());
  GetParam().change(p, o);
  EXPECT_EQ(Kinds(CompareInstall(p, ExpectInstall(p, Rules(), o), o)), GetParam().kinds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrialDifferences,
    ::testing::Values(
        DifferenceCase{"MissingFile", [](PackageContents&, ObservedInstall& o) { o.installAfter.erase(o.installAfter.begin()); },
                       {"missing"}},
        DifferenceCase{"OtherContent", [](PackageContents&, ObservedInstall& o) { o.installAfter[0].sha256 = "00"; },
                       {"content"}},
        DifferenceCase{"OtherTime", [](PackageContents&, ObservedInstall& o) { o.installAfter[1].fileTime += 20000000; },
                       {"time"}},
        DifferenceCase{"NameInOtherCase", [](PackageContents&, ObservedInstall& o) { o.installAfter[0].name = "readme.txt"; },
                       {}},
        DifferenceCase{"ExtraFile",
                       [](PackageContents&, ObservedInstall& o) { o.installAfter.push_back({"extra.txt", 1, kTime, "ab"}); },
                       {"unexpected"}},
        DifferenceCase{"ExtraFileFromBefore",
                       [](PackageContents&, ObservedInstall& o) {
                         o.installAfter.push_back({"Extra.txt", 1, kTime, "ab"});
                         o.installBefore.insert("extra.txt");
                       },
                       {}},
        DifferenceCase{"SystemFileNotInstalled", [](PackageContents&, ObservedInstall& o) { o.systemChanged.clear(); },
                       {"missing"}},
        DifferenceCase{"SystemFileRemoved",
                       [](PackageContents&, ObservedInstall& o) { o.systemRemoved.push_back("ole32.dll"); }, {"removed"}},
        DifferenceCase{"LinkMissing", [](PackageContents&, ObservedInstall& o) { o.links.clear(); }, {"shortcut"}},
        DifferenceCase{"LinkArguments", [](PackageContents&, ObservedInstall& o) { o.links[0].arguments = "-other"; },
                       {"shortcut"}},
        DifferenceCase{"LinkUnreadable", [](PackageContents&, ObservedInstall& o) { o.links[0].problem = "damaged"; },
                       {"shortcut"}},
        DifferenceCase{"NoUninstallEntry", [](PackageContents&, ObservedInstall& o) { o.uninstall.reset(); },
                       {"uninstall"}},
        DifferenceCase{"UninstallValue",
                       [](PackageContents&, ObservedInstall& o) { (*o.uninstall)["DisplayName"] = "Other"; },
                       {"uninstall"}},
        DifferenceCase{"DamagedArchive",
                       [](PackageContents& p, ObservedInstall&) { p.archiveError = "archive error 10"; }, {"package"}},
        DifferenceCase{"UndecodableMember",
                       [](PackageContents& p, ObservedInstall&) { p.files[0].problem = "does not decompress"; },
                       {"package"}}),
    [](const ::testing::TestParamInfo<DifferenceCase>& info) { return std::string(info.param.test); });

TEST(TrialExpect, ShortcutsAndUninstallEntryFollowTheIconTable) {
  const ExpectedInstall e = ExpectInstall(Package(), Rules(), {});
  ASSERT_EQ(e.links.size(), 1u);
  EXPECT_EQ(e.links[0].name, "Group\\App.lnk");
  EXPECT_EQ(e.links[0].target, "C:\\Apps\\Product\\App.exe");
  EXPECT_EQ(e.links[0].workingDirectory, "C:\\Apps\\Product");
  EXPECT_EQ(e.links[0].arguments, "-start");
  ASSERT_TRUE(e.uninstall);
  EXPECT_EQ(*e.uninstall, (std::map<std::string, std::string>{{"DisplayName", "Product"},
                                                              {"StartMenuGroup", "Group"},
                                                              {"UninstallString", "C:\\Apps\\Product\\Uninstall.exe"}}));
  // A refused shortcut name ends the table: the uninstall entry behind it is
  // never registered.
  PackageContents refused = Package();
  refused.icons[0].name = "..\\Away";
  const ExpectedInstall r = ExpectInstall(refused, Rules(), {});
  EXPECT_TRUE(r.links.empty());
  EXPECT_FALSE(r.uninstall);
}

// ------------------------------------------------------------ shell links

void Put16(Bytes& b, std::size_t value) {
  b.push_back(static_cast<std::uint8_t>(value));
  b.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Put32(Bytes& b, std::size_t value) {
  Put16(b, value & 0xFFFF);
  Put16(b, value >> 16);
}

struct LinkParts {
  std::optional<std::string> basePath;       // LinkInfo with an ANSI local base path
  bool wideInfo = false;                     // LinkInfo header of 0x24 bytes with UTF-16 paths
  bool unicode = true;
  bool countZero = false;                    // counts include a terminating zero, as Wine writes them
  std::optional<std::string> relative, workingDir, arguments;
};

Bytes LinkBytes(const LinkParts& parts) {
  std::uint32_t flags = 0x01;  // an (empty) item id list
  if (parts.basePath) flags |= 0x02;
  if (parts.relative) flags |= 0x08;
  if (parts.workingDir) flags |= 0x10;
  if (parts.arguments) flags |= 0x20;
  if (parts.unicode) flags |= 0x80;
  Bytes b{0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  Put32(b, flags);
  b.resize(0x4C, 0);
  Put16(b, 2);
  Put16(b, 0);  // the id list's terminator
  if (parts.basePath) {
    const std::string& path = *parts.basePath;
    Bytes info;
    const std::size_t header = parts.wideInfo ? 0x24 : 0x1C;
    const std::size_t pathOffset = header, suffixOffset = header + (parts.wideInfo ? 2 * path.size() + 2 : path.size() + 1);
    const std::size_t size = suffixOffset + (parts.wideInfo ? 2 : 1);
    Put32(info, size);
    Put32(info, header);
    Put32(info, 1);
    Put32(info, 0);
    Put32(info, parts.wideInfo ? 0 : pathOffset);
    Put32(info, 0);
    Put32(info, parts.wideInfo ? 0 : suffixOffset);
    if (parts.wideInfo) {
      Put32(info, pathOffset);
      Put32(info, suffixOffset);
      for (char c : path) Put16(info, static_cast<unsigned char>(c));
      Put16(info, 0);
      Put16(info, 0);
    } else {
      info.insert(info.end(), path.begin(), path.end());
      info.push_back(0);
      info.push_back(0);
    }
    b.insert(b.end(), info.begin(), info.end());
  }
  for (const auto& text : {parts.relative, parts.workingDir, parts.arguments}) {
    if (!text) continue;
    Put16(b, text->size() + (parts.countZero ? 1 : 0));
    for (char c : *text) {
      if (parts.unicode) Put16(b, static_cast<unsigned char>(c));
      else b.push_back(static_cast<std::uint8_t>(c));
    }
    if (parts.countZero) {
      if (parts.unicode) Put16(b, 0);
      else b.push_back(0);
    }
  }
  return b;
}

struct LinkCase {
  const char* test;
  LinkParts parts;
  std::optional<std::string> target, workingDir, arguments;
};

class TrialShellLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(TrialShellLink, ReadsTargetArgumentsAndWorkingDirectory) {
  const LinkCase& c = GetParam();
  const ShellLinkInfo link = ParseShellLink(LinkBytes(c.parts));
  EXPECT_EQ(link.target, c.target);
  EXPECT_EQ(link.workingDirectory, c.workingDir);
  EXPECT_EQ(link.arguments, c.arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrialShellLink,
    ::testing::Values(
        LinkCase{"AsWineWritesIt", {"C:\\A\\app.exe", false, true, true, std::nullopt, "C:\\A", "-x"},
                 "C:\\A\\app.exe", "C:\\A", "-x"},
        LinkCase{"AnsiStrings", {"C:\\A\\app.exe", false, false, false, std::nullopt, "C:\\A", std::nullopt},
                 "C:\\A\\app.exe", "C:\\A", std::nullopt},
        LinkCase{"UnicodeLinkInfo", {"C:\\A\\app.exe", true, true, false, std::nullopt, std::nullopt, std::nullopt},
                 "C:\\A\\app.exe", std::nullopt, std::nullopt},
        LinkCase{"RelativePathOnly", {std::nullopt, false, true, false, ".\\app.exe", "C:\\A", std::nullopt},
                 ".\\app.exe", "C:\\A", std::nullopt},
        LinkCase{"CodePageText", {"C:\\\xC4pfel\\app.exe", false, false, false, std::nullopt, std::nullopt, std::nullopt},
                 "C:\\\xC3\x84pfel\\app.exe", std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.test); });

TEST(TrialShellLink, RefusesWhatIsNoLinkAndWhatEndsEarly) {
  EXPECT_THROW(ParseShellLink(Bytes(100, 0)), InputError);
  const Bytes whole = LinkBytes({"C:\\A\\app.exe", false, true, false, std::nullopt, "C:\\A", "-x"});
  for (std::size_t cut : {std::size_t{10}, std::size_t{0x4E}, std::size_t{0x60}, whole.size() - 3}) {
    EXPECT_THROW(ParseShellLink(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut))), InputError)
        << "cut at " << cut;
  }
}

TEST(TrialSha256, KnownDigests) {
  EXPECT_EQ(Sha256OfBytes({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string abc = "abc";
  EXPECT_EQ(Sha256OfBytes(Bytes(abc.begin(), abc.end())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
