// Test-side wrapper of robot.exe (tests/helpers/robot.cpp): starts it under
// Wine with pipes, sends one command per line and parses the replies into
// window and control records with their texts unescaped.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/robot_text.hpp"

#include "wine_fixture.hpp"

namespace winetest {

struct Rect {
  long left = 0, top = 0, right = 0, bottom = 0;
  long Width() const { return right - left; }
  long Height() const { return bottom - top; }
};

struct ControlInfo {
  std::string hwnd;
  int id = 0;
  std::string className;
  std::string text;
  bool visible = false;
  Rect rect;
  std::optional<int> position;  // progress bars only, when the owner answered
};

struct WindowInfo {
  std::string hwnd;
  std::string className;
  std::string text;
  bool visible = false;
  Rect rect;
  std::string owner;      // "0x0" when there is none
  std::string ownerText;
  unsigned long pid = 0;
  std::string exe;
  std::vector<ControlInfo> controls;

  const ControlInfo* Control(int id) const;
  // Texts of the static controls that have one, in window order. The text of
  // a message box is one of them (its id is 0xFFFF on Windows and Wine 8, 100
  // on some older Wine versions).
  std::vector<std::string> StaticTexts() const;
  bool HasOwner() const { return owner != "0x0"; }
};

// Dialog command ids.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

class Robot {
public:
  Robot();
  ~Robot();
  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;

  bool Started() const { return started_; }

  // A visible top-level window of class `className` ("*": any) whose caption
  // equals `caption` ("*": any), waited for up to `timeout`. When `watched`
  // ends before the window appears, the wait stops early.
  std::optional<WindowInfo> WaitWindow(const std::string& className, const std::string& caption,
                                       Milliseconds timeout, Process* watched = nullptr);
  // The same with a caption that contains `part`.
  std::optional<WindowInfo> WaitWindowContaining(const std::string& className, const std::string& part,
                                                 Milliseconds timeout, Process* watched = nullptr);
  // A message box (dialog class "#32770") with exactly this caption.
  std::optional<WindowInfo> WaitMessageBox(const std::string& caption, Milliseconds timeout,
                                           Process* watched = nullptr);

  std::optional<WindowInfo> Dump(const std::string& hwnd);
  std::vector<WindowInfo> Windows();
  std::optional<std::vector<std::string>> List(const std::string& hwnd, int id);
  bool Click(const std::string& hwnd, int id);
  // Posts WM_COMMAND with `id` to the window: presses a dialog button.
  bool Press(const std::string& hwnd, int id);
  bool SetText(const std::string& hwnd, int id, const std::string& text);
  bool Close(const std::string& hwnd);
  bool Key(const std::string& hwnd, int virtualKey);
  bool WaitGone(const std::string& hwnd, Milliseconds timeout);

  // The reply lines of one command, without the final "ok"; empty when the
  // robot answered "error ..." or not at all (the reason is in LastError()).
  std::optional<std::vector<std::string>> Command(const std::string& line, Milliseconds replyTimeout);
  const std::string& LastError() const { return lastError_; }

private:
  std::optional<WindowInfo> Wait(const std::string& verb, const std::string& className,
                                 const std::string& caption, Milliseconds timeout, Process* watched);

  Process process_;
  bool started_ = false;
  std::string lastError_;
};

// Parsing of reply lines, exposed for the harness's own tests.
std::optional<WindowInfo> ParseDump(const std::vector<std::string>& lines);

}  // namespace winetest
