// progman_standin.exe: a stand-in Program Manager for the end-to-end tests of
// setup.exe's Program Manager path. It owns a hidden top-level window of class
// "PROGMAN" and serves the DDE conversation that setup.exe starts:
//
//   WM_DDE_INITIATE  for application and topic "PROGMAN" (any case): answered
//                    with WM_DDE_ACK, sent, carrying two new atoms
//   WM_DDE_EXECUTE   the command text is appended as one line to the log file
//                    and acknowledged with a posted WM_DDE_ACK, positively
//                    (fAck 0x8000) or, when the text contains the refusal
//                    substring, negatively (status 0)
//   WM_DDE_TERMINATE answered with WM_DDE_TERMINATE
//
// It ends after acknowledging "[exitprogman(1)]", or when the test kills it.
//
// Command line: <log file> [refuse=<substring>] [delay=<ms>] [mute]
//   refuse  commands containing the substring are refused
//   delay   each acknowledgement is held back this long
//   mute    the initiation is not answered
//
// Beside the log, <log file>.times holds the same lines behind the tick count
// at which each command arrived, for finding slow answers.
//
// Once its window exists it creates the file <log file>.ready holding "ready",
// or "not-first" when FindWindowA("PROGMAN") finds another window first (class
// names are compared without regard to case, so a window of class "Progman"
// would do). In a fresh Wine 8 prefix no such window exists, and the test
// waits for "ready" before it starts setup.exe.
#include <windows.h>
#include <dde.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "../append_line.hpp"

namespace {

std::string logFile;
std::string refusal;
DWORD ackDelay = 0;
bool mute = false;

bool IsProgmanAtom(ATOM atom) {
  char name[64] = {};
  if (atom == 0 || GlobalGetAtomNameA(atom, name, sizeof name) == 0) return false;
  return lstrcmpiA(name, "PROGMAN") == 0;
}

LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND client = reinterpret_cast<HWND>(wParam);
  switch (message) {
    case WM_DDE_INITIATE: {
      if (mute || !IsProgmanAtom(LOWORD(lParam)) || !IsProgmanAtom(HIWORD(lParam))) return 0;
      const ATOM application = GlobalAddAtomA("PROGMAN");
      const ATOM topic = GlobalAddAtomA("PROGMAN");
      SendMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(application, topic));
      return 0;
    }
    case WM_DDE_EXECUTE: {
      const HGLOBAL commands = reinterpret_cast<HGLOBAL>(lParam);
      std::string command;
      if (const char* text = static_cast<const char*>(GlobalLock(commands))) {
        command = text;
        GlobalUnlock(commands);
      }
      AppendLine(logFile, command);
      AppendLine(logFile + ".times", std::to_string(GetTickCount()) + " " + command);
      const bool refused = !refusal.empty() && command.find(refusal) != std::string::npos;
      if (ackDelay != 0) Sleep(ackDelay);
      PostMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                   PackDDElParam(WM_DDE_ACK, refused ? 0 : 0x8000, reinterpret_cast<UINT_PTR>(commands)));
      if (command == "[exitprogman(1)]") PostQuitMessage(0);
      return 0;
    }
    case WM_DDE_TERMINATE:
      PostMessageA(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// The arguments of the command line, split at blanks; a quoted argument may
// hold blanks.
std::string NextArgument(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  std::string argument;
  bool quoted = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && (*p == ' ' || *p == '\t')) break;
    argument += *p;
  }
  return argument;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  const char* p = commandLine;
  logFile = NextArgument(p);
  if (logFile.empty()) return 2;
  for (std::string option = NextArgument(p); !option.empty(); option = NextArgument(p)) {
    if (option.rfind("refuse=", 0) == 0) refusal = option.substr(7);
    if (option.rfind("delay=", 0) == 0) ackDelay = static_cast<DWORD>(std::strtoul(option.c_str() + 6, nullptr, 10));
    if (option == "mute") mute = true;
  }

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = StandInProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "PROGMAN";
  if (!RegisterClassA(&windowClass)) return 3;
  HWND window = CreateWindowA("PROGMAN", "Program Manager", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, instance, nullptr);
  if (window == nullptr) return 4;
  const bool first = FindWindowA("PROGMAN", nullptr) == window;
  const std::string ready = logFile + ".ready";
  AppendLine(ready, first ? "ready" : "not-first");

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  DestroyWindow(window);
  return 0;
}
