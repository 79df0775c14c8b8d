// robot.exe: finds and drives the windows of other programs for the end-to-end
// tests. It runs in the same Wine prefix as the program under test and reads
// one command per line from stdin; every reply is a few lines on stdout ended
// by "ok" or by "error <reason>".
//
// Commands (hwnd in hex as printed by the robot, id in decimal, timeouts in
// milliseconds, the last argument takes the rest of the line and may use the
// escapes below):
//   wait-window <timeout> <class|*> <caption|*>       exact caption
//   wait-window-part <timeout> <class|*> <substring>  caption contains text
//       visible top-level window -> its dump
//   dump <hwnd>                 the window and every child control
//   windows                     one line per visible top-level window
//   list <hwnd> <id>            the lines of a list box
//   click <hwnd> <id>           BM_CLICK on the control
//   command <hwnd> <id>         posts WM_COMMAND(id, BN_CLICKED) to the window
//   set-text <hwnd> <id> <text> WM_SETTEXT on the control
//   close <hwnd>                posts WM_CLOSE
//   key <hwnd> <vk>             posts WM_KEYDOWN and WM_KEYUP
//   pixel <hwnd> <x> <y>        colour of a client pixel: "pixel RRGGBB"
//   wait-gone <hwnd> <timeout>  waits until the window no longer exists
//   quit
//
// Dump lines:
//   window hwnd=0x.. class="" text="" visible=1 rect=l,t,r,b owner=0x..
//          owner-text="" pid=N exe=""                    (one line)
//   control hwnd=0x.. id=N class="" text="" visible=1 rect=l,t,r,b [pos=N]
// Quoted texts escape backslash, double quote, \t, \n, \r and every other byte
// below 0x20 or above 0x7e as \xNN, so that tests can compare exact texts.
// Texts are read with InternalGetWindowText, which needs no message from the
// target; list boxes and progress bars are asked with SendMessageTimeout, so
// a busy target yields pos=? instead of a hang.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/robot_text.hpp"

namespace {

constexpr UINT kSendTimeoutMs = 2000;
constexpr DWORD kPollMs = 15;

std::string Quote(const std::string& text) { return "\"" + EscapeRobotText(text) + "\""; }

std::string TextOf(HWND window) {
  WCHAR wide[4096];
  int n = InternalGetWindowText(window, wide, 4096);
  if (n <= 0) return {};
  char narrow[8192];
  int m = WideCharToMultiByte(CP_ACP, 0, wide, n, narrow, sizeof narrow, nullptr, nullptr);
  return std::string(narrow, m > 0 ? m : 0);
}

std::string ClassOf(HWND window) {
  char name[256];
  int n = GetClassNameA(window, name, sizeof name);
  return std::string(name, n > 0 ? n : 0);
}

std::string Hex(HWND window) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)));
  return text;
}

std::string RectOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  char text[64];
  std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
  return text;
}

std::string ExeOf(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return {};
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::string name;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == pid) {
      name = entry.szExeFile;
      break;
    }
  }
  CloseHandle(snapshot);
  return name;
}

void PrintWindowLine(HWND window) {
  HWND owner = GetWindow(window, GW_OWNER);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::printf("window hwnd=%s class=%s text=%s visible=%d rect=%s owner=%s owner-text=%s pid=%lu exe=%s\n",
              Hex(window).c_str(), Quote(ClassOf(window)).c_str(), Quote(TextOf(window)).c_str(),
              IsWindowVisible(window) ? 1 : 0, RectOf(window).c_str(), Hex(owner).c_str(),
              Quote(owner ? TextOf(owner) : std::string()).c_str(), static_cast<unsigned long>(pid),
              Quote(ExeOf(pid)).c_str());
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  std::string cls = ClassOf(child);
  std::printf("control hwnd=%s id=%d class=%s text=%s visible=%d rect=%s", Hex(child).c_str(),
              GetDlgCtrlID(child), Quote(cls).c_str(), Quote(TextOf(child)).c_str(),
              IsWindowVisible(child) ? 1 : 0, RectOf(child).c_str());
  if (lstrcmpiA(cls.c_str(), PROGRESS_CLASSA) == 0) {
    DWORD_PTR pos = 0;
    if (SendMessageTimeoutA(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &pos))
      std::printf(" pos=%lu", static_cast<unsigned long>(pos));
    else
      std::printf(" pos=?");
  }
  std::printf("\n");
  return TRUE;
}

void Dump(HWND window) {
  PrintWindowLine(window);
  EnumChildWindows(window, PrintChild, 0);
}

struct Search {
  std::string cls;      // "*" = any
  std::string caption;  // "*" = any
  bool part = false;
  HWND found = nullptr;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(window)) return TRUE;
  if (search->cls != "*" && ClassOf(window) != search->cls) return TRUE;
  if (search->caption != "*") {
    std::string text = TextOf(window);
    bool ok = search->part ? text.find(search->caption) != std::string::npos
                           : text == search->caption;
    if (!ok) return TRUE;
  }
  search->found = window;
  return FALSE;
}

BOOL CALLBACK PrintTop(HWND window, LPARAM) {
  if (IsWindowVisible(window)) PrintWindowLine(window);
  return TRUE;
}

// Splits off the next blank-separated word of `rest`.
std::string Word(std::string& rest) {
  std::size_t start = rest.find_first_not_of(' ');
  if (start == std::string::npos) {
    rest.clear();
    return {};
  }
  std::size_t end = rest.find(' ', start);
  std::string word = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
  rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
  return word;
}

HWND ParseHwnd(const std::string& word) {
  return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoul(word.c_str(), nullptr, 0)));
}

HWND Control(HWND window, const std::string& id) {
  return GetDlgItem(window, static_cast<int>(std::strtol(id.c_str(), nullptr, 0)));
}

void Error(const char* reason) { std::printf("error %s\n", reason); }

void Run(const std::string& line) {
  std::string rest = line;
  std::string verb = Word(rest);
  if (verb == "wait-window" || verb == "wait-window-part") {
    DWORD timeout = std::strtoul(Word(rest).c_str(), nullptr, 10);
    Search search;
    search.cls = UnescapeRobotText(Word(rest));
    search.caption = UnescapeRobotText(rest);
    search.part = verb == "wait-window-part";
    DWORD start = GetTickCount();
    for (;;) {
      search.found = nullptr;
      EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
      if (search.found) {
        Dump(search.found);
        std::printf("ok\n");
        return;
      }
      if (GetTickCount() - start >= timeout) return Error("timeout");
      Sleep(kPollMs);
    }
  }
  if (verb == "windows") {
    EnumWindows(PrintTop, 0);
    std::printf("ok\n");
    return;
  }
  if (verb == "quit") {
    std::printf("ok\n");
    std::fflush(stdout);
    ExitProcess(0);
  }
  HWND window = ParseHwnd(Word(rest));
  if (verb == "wait-gone") {
    DWORD timeout = std::strtoul(Word(rest).c_str(), nullptr, 10);
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
      if (GetTickCount() - start >= timeout) return Error("timeout");
      Sleep(kPollMs);
    }
    std::printf("ok\n");
    return;
  }
  if (!IsWindow(window)) return Error("no-such-window");
  if (verb == "dump") {
    Dump(window);
    std::printf("ok\n");
    return;
  }
  if (verb == "close") {
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::printf("ok\n");
    return;
  }
  if (verb == "key") {
    WPARAM vk = std::strtoul(Word(rest).c_str(), nullptr, 0);
    PostMessageA(window, WM_KEYDOWN, vk, 1);
    PostMessageA(window, WM_KEYUP, vk, 0xC0000001u);
    std::printf("ok\n");
    return;
  }
  if (verb == "pixel") {
    // Colour of a client pixel as the window shows it: "pixel RRGGBB".
    const int x = static_cast<int>(std::strtol(Word(rest).c_str(), nullptr, 10));
    const int y = static_cast<int>(std::strtol(Word(rest).c_str(), nullptr, 10));
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    if (colour == CLR_INVALID) return Error("no-pixel");
    std::printf("pixel %02X%02X%02X\n", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    std::printf("ok\n");
    return;
  }
  std::string id = Word(rest);
  if (verb == "command") {
    int n = static_cast<int>(std::strtol(id.c_str(), nullptr, 0));
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(n, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, n)));
    std::printf("ok\n");
    return;
  }
  HWND control = Control(window, id);
  if (!control) return Error("no-such-control");
  if (verb == "click") {
    PostMessageA(control, BM_CLICK, 0, 0);
    std::printf("ok\n");
    return;
  }
  if (verb == "set-text") {
    std::string text = UnescapeRobotText(rest);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
      return Error("busy");
    std::printf("ok\n");
    return;
  }
  if (verb == "list") {
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutA(control, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count))
      return Error("busy");
    // Asked in UTF-16: Wine 8 fills the buffer of a cross-process
    // LB_GETTEXT in UTF-16 even for the ANSI call.
    for (DWORD_PTR i = 0; i < count; ++i) {
      DWORD_PTR length = 0;
      if (!SendMessageTimeoutW(control, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length) ||
          length == static_cast<DWORD_PTR>(LB_ERR))
        return Error("busy");
      std::vector<WCHAR> wide(length + 1, 0);
      DWORD_PTR got = 0;
      if (!SendMessageTimeoutW(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()),
                               SMTO_ABORTIFHUNG, kSendTimeoutMs, &got))
        return Error("busy");
      std::vector<char> buffer(2 * wide.size() + 1, '\0');
      WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, buffer.data(), static_cast<int>(buffer.size()),
                          nullptr, nullptr);
      std::printf("line %s\n", Quote(std::string(buffer.data())).c_str());
    }
    std::printf("ok\n");
    return;
  }
  Error("unknown-command");
}

}  // namespace

int main() {
  std::printf("ready\n");
  std::fflush(stdout);
  char buffer[8192];
  while (std::fgets(buffer, sizeof buffer, stdin)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) continue;
    Run(line);
    std::fflush(stdout);
  }
  return 0;
}
