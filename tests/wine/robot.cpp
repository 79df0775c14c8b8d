#include "robot.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>

namespace winetest {

namespace {

using Clock = std::chrono::steady_clock;

// A robot wait is cut into slices so that the test notices a program that
// ended without showing the window.
constexpr Milliseconds kWaitSlice(250);
constexpr Milliseconds kReplySlack(5000);
constexpr Milliseconds kStartTimeout(30000);

// key=value pairs of one reply line; values are bare words or quoted texts.
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::size_t i = line.find(' ');
  while (i != std::string::npos && i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    std::size_t eq = line.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = line.substr(i, eq - i);
    std::size_t j = eq + 1;
    std::string value;
    if (j < line.size() && line[j] == '"') {
      ++j;
      while (j < line.size() && line[j] != '"') {
        if (line[j] == '\\' && j + 1 < line.size()) value += line[j++];
        value += line[j++];
      }
      ++j;
      value = UnescapeRobotText(value);
    } else {
      std::size_t end = line.find(' ', j);
      value = line.substr(j, end == std::string::npos ? std::string::npos : end - j);
      j = end == std::string::npos ? line.size() : end;
    }
    fields[key] = value;
    i = j;
  }
  return fields;
}

Rect ParseRect(const std::string& text) {
  Rect r;
  std::sscanf(text.c_str(), "%ld,%ld,%ld,%ld", &r.left, &r.top, &r.right, &r.bottom);
  return r;
}

std::string QuoteArgument(const std::string& text) {
  // The last argument of a command takes the rest of the line; escaping keeps
  // it on that line.
  return EscapeRobotText(text);
}

}  // namespace


const ControlInfo* WindowInfo::Control(int id) const {
  for (const ControlInfo& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

std::vector<std::string> WindowInfo::StaticTexts() const {
  std::vector<std::string> texts;
  for (const ControlInfo& c : controls)
    if (c.className == "Static" && !c.text.empty()) texts.push_back(c.text);
  return texts;
}

std::optional<WindowInfo> ParseDump(const std::vector<std::string>& lines) {
  std::optional<WindowInfo> window;
  for (const std::string& line : lines) {
    auto f = Fields(line);
    if (line.rfind("window ", 0) == 0) {
      window.emplace();
      window->hwnd = f["hwnd"];
      window->className = f["class"];
      window->text = f["text"];
      window->visible = f["visible"] == "1";
      window->rect = ParseRect(f["rect"]);
      window->owner = f["owner"];
      window->ownerText = f["owner-text"];
      window->pid = std::strtoul(f["pid"].c_str(), nullptr, 10);
      window->exe = f["exe"];
    } else if (line.rfind("control ", 0) == 0 && window) {
      ControlInfo c;
      c.hwnd = f["hwnd"];
      c.id = static_cast<int>(std::strtol(f["id"].c_str(), nullptr, 10));
      c.className = f["class"];
      c.text = f["text"];
      c.visible = f["visible"] == "1";
      c.rect = ParseRect(f["rect"]);
      if (f.count("pos") && f["pos"] != "?") c.position = std::atoi(f["pos"].c_str());
      window->controls.push_back(c);
    }
  }
  return window;
}

Robot::Robot() {
  Process::Options options;
  options.pipeStdin = true;
  options.pipeStdout = true;
  process_ = StartWine(HelperFile("robot.exe").string(), {}, options);
  // The robot says "ready" once it reads commands; a Wine process can take
  // seconds to start, more than a reply is given.
  started_ = process_.Started() && process_.ReadLine(kStartTimeout) == std::optional<std::string>("ready");
  if (!started_) {
    lastError_ = "robot.exe did not start";
    process_.Kill();
  }
}

Robot::~Robot() {
  if (started_ && process_.Running()) {
    process_.Write("quit\n");
    process_.Wait(Milliseconds(3000));
  }
}

std::optional<std::vector<std::string>> Robot::Command(const std::string& line, Milliseconds replyTimeout) {
  if (!started_ || !process_.Write(line + "\n")) {
    if (started_ || lastError_.empty()) lastError_ = "robot not running";
    return std::nullopt;
  }
  lastError_.clear();
  std::vector<std::string> lines;
  auto deadline = Clock::now() + Scaled(replyTimeout);
  for (;;) {
    auto reply = process_.ReadLineUntil(deadline);
    if (!reply) {
      lastError_ = "no reply to: " + line;
      // A robot that did not answer is out of step with its replies.
      process_.Kill();
      started_ = false;
      return std::nullopt;
    }
    if (*reply == "ok") return lines;
    if (reply->rfind("error", 0) == 0) {
      lastError_ = *reply;
      return std::nullopt;
    }
    lines.push_back(*reply);
  }
}

std::optional<WindowInfo> Robot::Wait(const std::string& verb, const std::string& className,
                                      const std::string& caption, Milliseconds timeout, Process* watched) {
  auto deadline = Clock::now() + Scaled(timeout);
  bool lastRound = false;
  for (;;) {
    auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
    Milliseconds slice = lastRound ? Milliseconds(0) : std::clamp(left, Milliseconds(0), kWaitSlice);
    std::string line = verb + " " + std::to_string(slice.count()) + " " + EscapeRobotText(className) +
                       " " + QuoteArgument(caption);
    auto reply = Command(line, slice + kReplySlack);
    if (reply) return ParseDump(*reply);
    if (!started_ || lastRound || Clock::now() >= deadline) return std::nullopt;
    // The watched program has ended: its windows are gone, one more look.
    if (watched && !watched->Running()) lastRound = true;
  }
}

std::optional<WindowInfo> Robot::WaitWindow(const std::string& className, const std::string& caption,
                                            Milliseconds timeout, Process* watched) {
  return Wait("wait-window", className, caption, timeout, watched);
}

std::optional<WindowInfo> Robot::WaitWindowContaining(const std::string& className, const std::string& part,
                                                      Milliseconds timeout, Process* watched) {
  return Wait("wait-window-part", className, part, timeout, watched);
}

std::optional<WindowInfo> Robot::WaitMessageBox(const std::string& caption, Milliseconds timeout,
                                                Process* watched) {
  return WaitWindow("#32770", caption, timeout, watched);
}

std::optional<WindowInfo> Robot::Dump(const std::string& hwnd) {
  auto reply = Command("dump " + hwnd, kReplySlack);
  if (!reply) return std::nullopt;
  return ParseDump(*reply);
}

std::vector<WindowInfo> Robot::Windows() {
  std::vector<WindowInfo> windows;
  auto reply = Command("windows", kReplySlack);
  if (!reply) return windows;
  for (const std::string& line : *reply)
    if (auto w = ParseDump({line})) windows.push_back(*w);
  return windows;
}

std::optional<std::vector<std::string>> Robot::List(const std::string& hwnd, int id) {
  auto reply = Command("list " + hwnd + " " + std::to_string(id), kReplySlack);
  if (!reply) return std::nullopt;
  std::vector<std::string> items;
  for (const std::string& line : *reply) {
    if (line.rfind("line \"", 0) != 0 || line.size() < 7) continue;
    items.push_back(UnescapeRobotText(line.substr(6, line.size() - 7)));
  }
  return items;
}

bool Robot::Click(const std::string& hwnd, int id) {
  return Command("click " + hwnd + " " + std::to_string(id), kReplySlack).has_value();
}

bool Robot::Press(const std::string& hwnd, int id) {
  return Command("command " + hwnd + " " + std::to_string(id), kReplySlack).has_value();
}

bool Robot::SetText(const std::string& hwnd, int id, const std::string& text) {
  return Command("set-text " + hwnd + " " + std::to_string(id) + " " + QuoteArgument(text), kReplySlack)
      .has_value();
}

bool Robot::Close(const std::string& hwnd) { return Command("close " + hwnd, kReplySlack).has_value(); }

bool Robot::Key(const std::string& hwnd, int virtualKey) {
  return Command("key " + hwnd + " " + std::to_string(virtualKey), kReplySlack).has_value();
}

bool Robot::WaitGone(const std::string& hwnd, Milliseconds timeout) {
  return Command("wait-gone " + hwnd + " " + std::to_string(Scaled(timeout).count()), timeout + kReplySlack)
      .has_value();
}

}  // namespace winetest
