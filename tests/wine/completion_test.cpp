// Completion: the finish dialog of an interactive run, the start of the
// installed program after a silent run, and the self-removal batch file that
// Wine's command interpreter runs once the setup program has ended. The
// installed program and the read-me are start markers: each start appends its
// command line and working directory to STARTED.TXT in the install directory.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "setup_fixture.hpp"
#include "setuppack/host/file_io.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr int kIdRun = 1010;
constexpr int kIdReadMe = 1011;
constexpr int kIdOverview = 1012;
constexpr int kIdOverviewText = 1016;
constexpr int kIdReadMeText = 1017;
constexpr int kVkEscape = 0x1B;

const std::string kBatchFile = "C:\\DEL_SETUP32.BAT";
const std::string kProgram = "Korvane.exe";
const std::string kReadMe = "ReadMe.exe";

class Completion : public SetupTest {
protected:
  // Every test starts without a batch file, whatever an earlier one left.
  void SetUp() override {
    SetupTest::SetUp();
    std::error_code ec;
    if (!IsSkipped()) fs::remove(UnixPath(kBatchFile), ec);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(DirFile(kPackageName), fs::perms::owner_write, fs::perm_options::add, ec);
    SetupTest::TearDown();
  }

  // Run command "Korvane.exe -x"; the program and the read-me are start
  // markers.
  PackageBuilder MarkerPackage() const {
    PackageBuilder package = NewPackage();
    package.settings.runCommand = kProgram + " -x";
    const std::vector<std::uint8_t> marker = ReadWholeFile(HelperFile("start_marker.exe"));
    package.AddFile(kProgram, marker);
    package.AddFile(kReadMe, marker);
    return package;
  }

  Lines Started() const {
    Lines lines;
    std::istringstream in(fs::exists(Installed("STARTED.TXT")) ? ReadText(Installed("STARTED.TXT")) : "");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Waits until the start markers have written `count` lines.
  Lines StartedLines(std::size_t count) const {
    WaitUntil([&] { return Started().size() >= count; }, Milliseconds(5000));
    return Started();
  }
  // The start marker's line for `file` of the install directory started with
  // `parameters` and the install directory as working directory.
  std::string StartLine(const std::string& file, const std::string& parameters) const {
    return InstallDir() + "\\" + file + "|" + parameters + "|" + InstallDir();
  }

  // Starts the package interactively, presses Install and returns the finish
  // dialog.
  std::optional<WindowInfo> InstallInteractively(const PackageBuilder& package) {
    WritePackage(package);
    setup_ = StartSetup({"/D", InstallDir()});
    auto welcome = Bot().WaitWindow("#32770", kDialogCaption, kBoxTimeout, &setup_);
    if (!welcome) {
      ADD_FAILURE() << "no welcome dialog";
      return std::nullopt;
    }
    Bot().Press(welcome->hwnd, kIdOk);
    return WaitFinishDialog(setup_);
  }

  // Polls until neither the package nor the batch file exists.
  bool Removed(const fs::path& package) const {
    return WaitUntil([&] { return !fs::exists(package) && !fs::exists(UnixPath(kBatchFile)); },
                     Milliseconds(30000));
  }

  Process setup_;
};

TEST_F(Completion, FinishDialogShowsItsTextsAndStartsWhatIsChosen) {
  PackageBuilder package = MarkerPackage();
  package.settings.readmeFile = kReadMe;
  package.settings.helpFile = "Korvane.hlp";
  package.header.helpContext = 7;
  auto finish = InstallInteractively(package);
  ASSERT_TRUE(finish);
  EXPECT_EQ(finish->text, kDialogCaption);
  EXPECT_FALSE(finish->HasOwner());
  EXPECT_EQ(finish->rect.left, 1024 / 2 - finish->rect.Width() / 2);
  EXPECT_EQ(finish->rect.top, 768 / 2 - finish->rect.Height() / 2);

  struct Expected {
    int id;
    const char* text;
  };
  const Expected controls[] = {
      {kIdRun, "&Run"},
      {kIdReadMe, "Read &Me"},
      {kIdReadMeText, "View the \"Read Me\" file"},
      {kIdOverview, "&Overview"},
      {kIdOverviewText, "View additional information about Korvane Online Backup"},
      {kIdOk, "&Exit Setup"},
  };
  for (const Expected& c : controls) {
    const ControlInfo* control = finish->Control(c.id);
    ASSERT_NE(control, nullptr) << c.id;
    EXPECT_EQ(control->text, c.text);
    EXPECT_TRUE(control->visible) << c.id;
  }
  EXPECT_EQ(finish->StaticTexts(), (Lines{"Korvane Online Backup was successfully installed on your system.",
                                          "What do you want to do next?", "Run Korvane Online Backup",
                                          "View the \"Read Me\" file",
                                          "View additional information about Korvane Online Backup"}));

  // Read Me opens the read-me every time and leaves the dialog open.
  Bot().Press(finish->hwnd, kIdReadMe);
  Bot().Press(finish->hwnd, kIdReadMe);
  EXPECT_EQ(StartedLines(2), (Lines{StartLine(kReadMe, ""), StartLine(kReadMe, "")}));
  EXPECT_TRUE(Bot().Dump(finish->hwnd).has_value());

  // Run starts the program with its parameters and ends the dialog.
  Bot().Press(finish->hwnd, kIdRun);
  EXPECT_EQ(setup_.Wait(kRunTimeout), 0);
  EXPECT_EQ(StartedLines(3), (Lines{StartLine(kReadMe, ""), StartLine(kReadMe, ""), StartLine(kProgram, "-x")}));
}

struct HidingCase {
  const char* name;
  bool readme;
  bool helpFile;
  std::uint16_t helpContext;
  bool readmeShown;
  bool overviewShown;
};

class FinishDialogHiding : public Completion, public ::testing::WithParamInterface<HidingCase> {};

TEST_P(FinishDialogHiding, ReadMeAndOverviewShowOnlyWithTheirFiles) {
  const HidingCase& c = GetParam();
  PackageBuilder package = MarkerPackage();
  if (c.readme) package.settings.readmeFile = kReadMe;
  if (c.helpFile) package.settings.helpFile = "Korvane.hlp";
  package.header.helpContext = c.helpContext;
  auto finish = InstallInteractively(package);
  ASSERT_TRUE(finish);
  const std::pair<int, bool> visibility[] = {
      {kIdRun, true},
      {kIdReadMe, c.readmeShown},
      {kIdReadMeText, c.readmeShown},
      {kIdOverview, c.overviewShown},
      {kIdOverviewText, c.overviewShown},
      {kIdOk, true},
  };
  for (const auto& [id, shown] : visibility) {
    ASSERT_NE(finish->Control(id), nullptr) << id;
    EXPECT_EQ(finish->Control(id)->visible, shown) << id;
  }
  // Escape ends the dialog like Exit Setup; neither starts anything.
  Bot().Key(finish->hwnd, kVkEscape);
  EXPECT_EQ(setup_.Wait(kRunTimeout), 0);
  EXPECT_EQ(Started(), Lines{});
}

INSTANTIATE_TEST_SUITE_P(
    Packages, FinishDialogHiding,
    ::testing::Values(HidingCase{"NoReadMe", false, true, 7, false, true},
                      HidingCase{"HelpContextZero", true, true, 0, true, false},
                      HidingCase{"NoHelpFile", true, false, 7, true, false}),
    [](const ::testing::TestParamInfo<HidingCase>& info) { return std::string(info.param.name); });

struct SilentCase {
  const char* name;
  std::vector<std::string> options;
  const char* parameters;  // of the started program; null: none started
  bool removed;
};

class SilentCompletion : public Completion, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(SilentCompletion, StartsTheProgramAndRemovesTheSetupProgramAsAsked) {
  const SilentCase& c = GetParam();
  WritePackage(MarkerPackage());
  std::vector<std::string> arguments = c.options;
  arguments.insert(arguments.end(), {"/D", InstallDir()});
  EXPECT_EQ(RunSetup(arguments), 0);
  if (c.parameters == nullptr) {
    std::this_thread::sleep_for(Scaled(Milliseconds(500)));
    EXPECT_EQ(Started(), Lines{});
  } else {
    EXPECT_EQ(StartedLines(1), Lines{StartLine(kProgram, c.parameters)});
  }
  if (c.removed) {
    EXPECT_TRUE(Removed(DirFile(kPackageName))) << "the setup program or the batch file is still there";
  } else {
    EXPECT_TRUE(fs::exists(DirFile(kPackageName)));
    EXPECT_FALSE(fs::exists(UnixPath(kBatchFile)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, SilentCompletion,
    ::testing::Values(SilentCase{"S", {"/S"}, nullptr, false}, SilentCase{"R", {"/S", "/R"}, "-x", false},
                      SilentCase{"RS", {"/S", "/RS"}, "-x -BI -S", true},
                      SilentCase{"RSK", {"/S", "/RSK"}, "-x -BI -S", false}),
    [](const ::testing::TestParamInfo<SilentCase>& info) { return std::string(info.param.name); });

TEST_F(Completion, PercentSignsInTheSetupPathAreRemovedLiterally) {
  // Read with single "%" signs, the path would name the expansion of TEMP.
  const std::string name = "a%TEMP%b\\" + kPackageName;
  fs::create_directories(DirFile("a%TEMP%b"));
  WritePackage(MarkerPackage(), name);
  EXPECT_EQ(RunSetup({"/S", "/RS", "/D", InstallDir()}, name), 0);
  EXPECT_TRUE(Removed(DirFile(name)));
}

TEST_F(Completion, ReadOnlySetupProgramWritesNoBatchFile) {
  WritePackage(MarkerPackage());
  fs::permissions(DirFile(kPackageName), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(RunSetup({"/S", "/RS", "/D", InstallDir()}), 0);
  std::this_thread::sleep_for(Scaled(Milliseconds(1000)));
  EXPECT_TRUE(fs::exists(DirFile(kPackageName)));
  EXPECT_FALSE(fs::exists(UnixPath(kBatchFile)));
}

}  // namespace
}  // namespace winetest
