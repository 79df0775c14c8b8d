// Hostile packages: member names that Windows reserves for a device, in every
// member kind; program group and shortcut names that would leave the Programs
// folder; lengths at their limits; cut files; and the faults of a full drive,
// a file that cannot be replaced and an installation killed halfway. Each
// case ends with its message and exit code, and nothing appears on drive C:
// outside the install directory, the system directory and the program group.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "explode/implode.hpp"
#include "setuppack/host/file_io.hpp"
#include "shell_support.hpp"
#include "small_drive.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

const std::string kSystemDir = "C:\\windows\\system32\\";

std::string NotCreated(const std::string& path) {
  return "Installation failed because file " + path + " could not be created.";
}
std::string CopyFailed(const std::string& path) {
  return "Installation failed because an error occurred while copying file " + path + ".";
}
std::string DecompressFailed(const std::string& path) {
  return "Installation failed because an error occurred while decompressing file " + path + ".";
}

// Every file and directory of drive C: with its size, apart from the Windows
// directory (where only the system directory could change, and the tests
// check their system members by name) and the directories the tests may fill.
std::map<std::string, std::uintmax_t> DriveTree(const std::set<fs::path>& allowed) {
  std::map<std::string, std::uintmax_t> tree;
  const fs::path root = Wine().DriveC();
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (ec) break;
    const fs::path path = it->path();
    // Wine's own temporary files come and go in the users' Temp folders.
    if (path == root / "windows" || allowed.count(path) != 0 || path.filename() == "Temp") {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink()) it.disable_recursion_pending();
    tree[fs::relative(path, root).string()] = it->is_regular_file(ec) ? it->file_size(ec) : 0;
  }
  return tree;
}

class HostilePackage : public SetupTest {
protected:
  void SetUp() override {
    SetupTest::SetUp();
    if (IsSkipped()) return;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    group_ = std::string("Korvane Hostile ") + info->name();
    std::replace(group_.begin(), group_.end(), '/', ' ');
    std::error_code ec;
    fs::remove_all(ProgramsFolder() / group_, ec);
    DeleteUninstallKey();
  }
  void TearDown() override {
    SetupTest::TearDown();
    std::error_code ec;
    if (!group_.empty()) fs::remove_all(ProgramsFolder() / group_, ec);
    DeleteUninstallKey();
  }

  // The package written, and drive C: as it is then.
  void WriteHostilePackage(const PackageBuilder& package) {
    WritePackage(package);
    before_ = DriveTree(Allowed());
  }

  // The install directory and the test's group folder take what they get;
  // the rest of drive C: stays as it was.
  std::set<fs::path> Allowed() const { return {DirFile("Install"), ProgramsFolder() / group_}; }
  void ExpectNothingElseWritten() {
    const auto after = DriveTree(Allowed());
    for (const auto& [path, size] : after) {
      if (before_.count(path) == 0) ADD_FAILURE() << "written outside its place: C:\\" << path;
    }
  }

  std::string group_;
  std::map<std::string, std::uintmax_t> before_;
};

// ------------------------------------------------------------ device names

enum class Kind { kMain, kSystem, kExternal, kTrailingQz, kTrailingCt, kTrailingDs };

struct DeviceName {
  const char* test;
  Kind kind;
  const char* member;
};

class DeviceNames : public HostilePackage, public ::testing::WithParamInterface<DeviceName> {};

// A device name is refused like a name that leaves its directory: string 5
// naming the path, exit code 1, the members before it kept, none after it
// read. A system member named COM1 no longer has its version read from the
// serial port, so the run ends instead of hanging.
TEST_P(DeviceNames, AreRefusedWithString5AndExitCode1) {
  const DeviceName& c = GetParam();
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  std::string directory = InstallDir() + "\\";
  switch (c.kind) {
    case Kind::kMain: package.AddFile(c.member, "device"); break;
    case Kind::kSystem:
      package.AddSystemFile(c.member, BytesOf("device"), MemberVersion{0x00090000, 0});
      directory = kSystemDir;
      break;
    case Kind::kExternal: package.AddFile(c.member, "device", kMemberExt); break;
    case Kind::kTrailingQz:
    case Kind::kTrailingCt:
    case Kind::kTrailingDs:
      package.header.flags = 0;  // the trailing block is read
      package.trailing = TrailingBlock{};
      package.trailing->typeTag = c.kind == Kind::kTrailingQz ? "QZ" : c.kind == Kind::kTrailingCt ? "CT" : "DS";
      package.AddTrailingFile("trailing-first.txt", BytesOf("trailing first"));
      package.AddTrailingFile(c.member, BytesOf("device"));
      package.AddTrailingFile("trailing-after.txt", BytesOf("trailing after"));
      break;
  }
  const bool trailing = package.trailing.has_value();
  if (!trailing) package.AddFile("after.txt", "after");
  WriteHostilePackage(package);

  Process setup = StartSetup(SilentArgs());
  auto box = ExpectMessageBox(setup, NotCreated(directory + c.member));
  if (box) {
    EXPECT_EQ(box->ownerText, kDialogCaption);
  }
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  if (trailing) {
    EXPECT_EQ(ReadText(Installed("trailing-first.txt")), "trailing first");
    EXPECT_FALSE(fs::exists(Installed("trailing-after.txt")));
  } else {
    EXPECT_FALSE(fs::exists(Installed("after.txt")));
  }
  ExpectNothingElseWritten();
}

INSTANTIATE_TEST_SUITE_P(
    MemberKinds, DeviceNames,
    ::testing::Values(DeviceName{"SerialPort", Kind::kMain, "COM1"},
                      DeviceName{"NullWithExtension", Kind::kMain, "NUL.txt"},
                      DeviceName{"LowerCaseInDirectory", Kind::kMain, "sub\\aux"},
                      DeviceName{"PrinterWithBlankBeforeDot", Kind::kMain, "LPT1 .log"},
                      DeviceName{"ConsoleOutput", Kind::kMain, "conout$"},
                      DeviceName{"SystemSerialPort", Kind::kSystem, "COM1"},
                      DeviceName{"SystemNull", Kind::kSystem, "nul.dll"},
                      DeviceName{"External", Kind::kExternal, "NUL.txt"},
                      DeviceName{"TrailingQz", Kind::kTrailingQz, "COM2"},
                      DeviceName{"TrailingCt", Kind::kTrailingCt, "prn.ini"},
                      DeviceName{"TrailingDs", Kind::kTrailingDs, "sub\\NUL"}),
    [](const ::testing::TestParamInfo<DeviceName>& info) { return std::string(info.param.test); });

// Names that only resemble devices install as before.
TEST_F(HostilePackage, NamesThatResembleDevicesInstall) {
  PackageBuilder package = NewPackage();
  for (const char* name : {"CONFIG.DAT", "console.exe", "COM10", "NULL.txt", "LPT.txt"}) package.AddFile(name, name);
  WriteHostilePackage(package);
  EXPECT_EQ(RunSetup({"/S", "/CO", "/D", InstallDir()}), 0);
  for (const char* name : {"CONFIG.DAT", "console.exe", "COM10", "NULL.txt", "LPT.txt"})
    EXPECT_EQ(ReadText(Installed(name)), name);
  ExpectNothingElseWritten();
}

// --------------------------------------------------------- shortcut names

struct ShortcutNames {
  const char* test;
  const char* group;              // nullptr: the test's own group
  std::vector<const char*> icons; // "*..." is the uninstall entry
  std::vector<const char*> links; // the links in the test's group afterwards
  bool uninstallRegistered;
};

const std::string kLongIconName(250, 'i');

class HostileShortcuts : public HostilePackage, public ::testing::WithParamInterface<ShortcutNames> {};

// A group or icon name that would leave the Programs folder, or names a
// device, creates nothing: a refused group ends the step as a group that
// cannot be created (uninstall entries before the first link are still
// registered), a refused icon is a link that fails and stops the loop. The
// run itself completes with exit code 0 and no message.
TEST_P(HostileShortcuts, CreateNothingOutsideTheProgramsFolder) {
  const ShortcutNames& c = GetParam();
  PackageBuilder package = NewPackage();
  package.settings.iconGroup = c.group != nullptr ? std::string(c.group) : group_;
  package.AddFile("prog.exe", "program");
  for (const char* icon : c.icons) {
    if (icon[0] == '*') package.AddUninstall(icon + 1, "prog.exe");
    else package.AddIcon(icon, std::nullopt, std::string("prog.exe"));
  }
  WriteHostilePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed("prog.exe")), "program");
  std::vector<std::string> links;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(ProgramsFolder() / group_, ec))
    links.push_back(entry.path().filename().string());
  std::sort(links.begin(), links.end());
  EXPECT_EQ(links, std::vector<std::string>(c.links.begin(), c.links.end()));
  EXPECT_EQ(UninstallValues().has_value(), c.uninstallRegistered);
  ExpectNothingElseWritten();
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostileShortcuts,
    ::testing::Values(
        ShortcutNames{"GroupLeavingTheProgramsFolder", "..\\..\\..\\..\\..\\..\\Evil",
                      {"*Korvane", "Korvane"}, {}, true},
        ShortcutNames{"GroupWithDriveLetter", "C:\\Evil", {"Korvane", "*Korvane"}, {}, false},
        ShortcutNames{"GroupWithLeadingBackslash", "\\Evil", {"Korvane"}, {}, false},
        ShortcutNames{"GroupNamedAsDevice", "CON", {"Korvane"}, {}, false},
        ShortcutNames{"IconLeavingTheGroup", nullptr, {"Good", "..\\..\\..\\Evil", "*Korvane"},
                      {"Good.lnk"}, false},
        ShortcutNames{"IconNamedAsDevice", nullptr, {"Good", "NUL", "Later"}, {"Good.lnk"}, false},
        ShortcutNames{"IconWithColon", nullptr, {"C:Evil"}, {}, false},
        // 256 bytes hold the folder and the link path: a longer name stops.
        ShortcutNames{"IconLongerThanTheLinkBuffer", nullptr, {"Good", kLongIconName.c_str()},
                      {"Good.lnk"}, false}),
    [](const ::testing::TestParamInfo<ShortcutNames>& info) { return std::string(info.param.test); });

// ---------------------------------------------------- limits and cut files

TEST_F(HostilePackage, MemberNameThatFillsThePathBufferInstalls) {
  // Install directory, backslash and name: 259 characters, the most a path
  // of 260 with its terminator holds.
  const std::size_t room = 259 - (InstallDir().size() + 1);
  const std::string name = "d\\" + std::string(room - 2, 'n');
  PackageBuilder package = NewPackage();
  package.AddFile(name, "at the limit");
  WritePackage(package);
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadText(Installed(name)), "at the limit");
}

TEST_F(HostilePackage, ShortExternalFileFailsItsCopy) {
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile("Agent.exe", "external agent data", kMemberExt);
  package.AddFile("after.txt", "after");
  WriteHostilePackage(package);
  fs::resize_file(DirFile("_gent.exe"), 5);
  Process setup = StartSetup(SilentArgs());
  ExpectMessageBox(setup, CopyFailed(InstallDir() + "\\Agent.exe"));
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  EXPECT_FALSE(fs::exists(Installed("after.txt")));
  ExpectNothingElseWritten();
}

TEST_F(HostilePackage, CutCompressedStreamFailsItsDecompression) {
  std::vector<std::uint8_t> stream = Implode(SampleBytes(20000, 9), {});
  stream.resize(stream.size() / 2);
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile("cut.bin", stream, kMemberCmp).originalSize = 20000;
  package.AddFile("after.txt", "after");
  WritePackage(package);
  Process setup = StartSetup(SilentArgs());
  ExpectMessageBox(setup, DecompressFailed(InstallDir() + "\\cut.bin"));
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  EXPECT_FALSE(fs::exists(Installed("after.txt")));
}

// ------------------------------------------------------------------ faults

TEST_F(HostilePackage, FullDriveFailsTheCopyOfTheMemberThatDoesNotFit) {
  SmallDrive drive(Dir() / "small");
  if (!drive.Mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  PackageBuilder package = NewPackage();
  package.header.requiredSpace = 0;
  package.AddFile("first.txt", "first");
  package.AddFile("big.bin", SampleBytes(3u << 20, 4));
  package.AddFile("after.txt", "after");
  WritePackage(package);
  Process setup = StartSetup({"/S", "/D", "R:\\Korvane"});
  ExpectMessageBox(setup, CopyFailed("R:\\Korvane\\big.bin"));
  EXPECT_EQ(setup.Wait(kRunTimeout), 1);
  EXPECT_EQ(ReadText(Dir() / "small/Korvane/first.txt"), "first");
  EXPECT_FALSE(fs::exists(Dir() / "small/Korvane/after.txt"));
}

// Holds Install\held.txt open with delete access, as hold_file.exe does, so
// that setup.exe cannot replace it.
class HeldFile {
public:
  explicit HeldFile(const std::string& windowsPath) {
    Process::Options options;
    options.pipeStdin = true;
    options.pipeStdout = true;
    holder_ = StartWine(HelperFile("hold_file.exe").string(), {windowsPath}, options);
    ready_ = holder_.ReadLine(Milliseconds(20000)) == std::optional<std::string>("ready");
  }
  bool Ready() const { return ready_; }
  // Ends the hold: the helper ends with its stdin.
  void Release() { holder_ = Process(); }

private:
  Process holder_;
  bool ready_ = false;
};

TEST_F(HostilePackage, FileThatCannotBeReplacedStopsWithString5) {
  WriteText(Installed("held.txt"), "old");
  HeldFile held(InstallDir() + "\\held.txt");
  ASSERT_TRUE(held.Ready());
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile("held.txt", "new");
  package.AddFile("after.txt", "after");
  WritePackage(package);
  Process setup = StartSetup(SilentArgs());
  ExpectMessageBox(setup, NotCreated(InstallDir() + "\\held.txt"));
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
  EXPECT_EQ(ReadText(Installed("held.txt")), "old");
  EXPECT_FALSE(fs::exists(Installed("after.txt")));
}

// Every file below `dir` with its content and last-write time.
std::map<std::string, std::pair<std::string, std::uint64_t>> InstalledTree(const fs::path& dir) {
  std::map<std::string, std::pair<std::string, std::uint64_t>> tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    tree[fs::relative(entry.path(), dir).string()] = {ReadText(entry.path()),
                                                       LastWriteFileTime(entry.path()).value_or(0)};
  }
  return tree;
}

// An installation killed while it waits on a failure of its second member
// leaves the first installed; run again, it completes and leaves the same
// tree as an installation that was never interrupted.
TEST_F(HostilePackage, KilledInstallationRunAgainEndsLikeAnUninterruptedOne) {
  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first").lastWriteTime = kSampleTime;
  package.AddFile("held.txt", "new").lastWriteTime = kSampleTime;
  package.AddFile("sub\\after.txt", "after").lastWriteTime = kSampleTime;
  package.header.flags = 0;  // the trailing block is read
  package.trailing = TrailingBlock{};
  package.AddTrailingFile("account.ini", BytesOf("account"), kSampleTime);
  WritePackage(package);

  EXPECT_EQ(RunSetup({"/S", "/D", WinFile("Reference")}), 0);

  WriteText(Installed("held.txt"), "old");
  {
    HeldFile held(InstallDir() + "\\held.txt");
    ASSERT_TRUE(held.Ready());
    Process setup = StartSetup(SilentArgs());
    ASSERT_TRUE(Bot().WaitMessageBox(kBoxCaption, kBoxTimeout, &setup)) << Bot().LastError();
    setup.Kill();
    EXPECT_EQ(ReadText(Installed("first.txt")), "first");
    EXPECT_FALSE(fs::exists(Installed("sub")));
    held.Release();
  }
  EXPECT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(InstalledTree(Installed("")), InstalledTree(DirFile("Reference")));
}

}  // namespace
}  // namespace winetest
