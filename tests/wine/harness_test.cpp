// The harness itself: the robot reads a known message box exactly, presses OK
// and the program's exit code comes back; paths and registry map both ways.
#include <gtest/gtest.h>

#include "robot.hpp"
#include "wine_fixture.hpp"

namespace winetest {
namespace {

class Harness : public WineTest {};

TEST_F(Harness, RobotReadsMessageBoxAndPressesOk) {
  Process probe = StartWine(HelperFile("probe_message.exe").string(), {});
  Robot robot;
  ASSERT_TRUE(robot.Started());
  auto box = robot.WaitMessageBox("Robot Probe", Milliseconds(20000), &probe);
  ASSERT_TRUE(box) << robot.LastError();
  EXPECT_EQ(box->className, "#32770");
  EXPECT_EQ(box->StaticTexts(), std::vector<std::string>{"Probe message:\tfirst line."});
  EXPECT_EQ(box->exe, "probe_message.exe");
  EXPECT_FALSE(box->HasOwner());
  EXPECT_TRUE(box->visible);
  ASSERT_TRUE(robot.Press(box->hwnd, kIdOk));
  EXPECT_EQ(probe.Wait(Milliseconds(20000)), 7);
}

TEST_F(Harness, WaitForAMissingWindowEndsWhenTheWatchedProgramEnds) {
  Process quick = StartWine(HelperFile("version-none.exe").string(), {});
  Robot robot;
  auto box = robot.WaitMessageBox("Never Shown", Milliseconds(60000), &quick);
  EXPECT_FALSE(box);
  EXPECT_EQ(quick.Wait(Milliseconds(1000)), 0);
}

TEST_F(Harness, DrivePathsMapToThePrefix) {
  EXPECT_EQ(UnixPath("C:\\t\\a b\\c.txt"), Wine().DriveC() / "t" / "a b" / "c.txt");
  EXPECT_EQ(WindowsPath(Wine().DriveC() / "t" / "x"), "C:\\t\\x");
  EXPECT_EQ(WindowsPath(UnixPath(WinDir())), WinDir());
}

TEST_F(Harness, RegistryValuesRoundTrip) {
  const std::string key = "HKCU\\Software\\KorvaneTests";
  ASSERT_TRUE(AddRegistryString(key, "Probe", "two words"));
  EXPECT_EQ(QueryRegistry(key, "Probe"), "two words");
  ASSERT_TRUE(DeleteRegistryValue(key, "Probe"));
  EXPECT_EQ(QueryRegistry(key, "Probe"), std::nullopt);
}

TEST(RobotText, EscapesRoundTripEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(UnescapeRobotText(EscapeRobotText(all)), all);
  EXPECT_EQ(UnescapeRobotText("a\\tb\\x01\\\"\\\\"), std::string("a\tb\x01\"\\"));
}

TEST(RobotText, DumpLinesParseIntoWindowAndControls) {
  auto window = ParseDump({
      "window hwnd=0x10 class=\"#32770\" text=\"Cap \\\"q\\\"\" visible=1 rect=10,20,110,70 "
      "owner=0x20 owner-text=\"Owner\" pid=32 exe=\"a.exe\"",
      "control hwnd=0x11 id=1005 class=\"msctls_progress32\" text=\"\" visible=0 rect=1,2,3,4 pos=42",
      "control hwnd=0x12 id=65535 class=\"Static\" text=\"x\\ty\" visible=1 rect=1,2,3,4",
  });
  ASSERT_TRUE(window);
  EXPECT_EQ(window->text, "Cap \"q\"");
  EXPECT_EQ(window->rect.Width(), 100);
  EXPECT_EQ(window->rect.Height(), 50);
  EXPECT_EQ(window->ownerText, "Owner");
  EXPECT_TRUE(window->HasOwner());
  ASSERT_NE(window->Control(1005), nullptr);
  EXPECT_EQ(window->Control(1005)->position, 42);
  EXPECT_FALSE(window->Control(1005)->visible);
  EXPECT_EQ(window->StaticTexts(), std::vector<std::string>{"x\ty"});
}

}  // namespace
}  // namespace winetest
