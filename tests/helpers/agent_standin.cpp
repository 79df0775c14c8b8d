// Stands in for the running backup agent programs: creates the shared block,
// the channel mutex and the slot events for a given prefix, answers each
// command as told, optionally owns top-level windows of given classes, and
// logs every command and every WM_COMMAND it receives, one line each.
//
// It reads the block with its own offsets, independent of the setup
// program's code:
//   8 + 12*i present, 12 + 12*i pendingIndex (slots 0..2), 40 ringWritePos,
//   44 + 4*k ring word k (0..62).
//
//   agent_standin PREFIX LOG [options]
//     --slot N PLAN      slot N runs; PLAN says how it answers its commands:
//                        answers separated by ",", one per command in turn,
//                        the last one repeated. An answer is tokens joined by
//                        "+":
//                          set | clear           reply bit set or left clear
//                          never                 no acknowledgement, reply bit
//                                                clear unless "set" follows
//                          results               each argument word += 0x100
//                          pending=V             after answering, pendingIndex
//                                                of the slot := V
//                          ringpos=V             after answering, ringWritePos
//                                                := V
//                          vanish                after answering, the slot
//                                                event is closed
//     --closed N         slot N runs but its pendingIndex is -2
//     --stuck N          slot N runs and its pendingIndex stays 5
//     --noevent N        slot N runs but has no slot event
//     --ringpos V        initial ringWritePos (default 0)
//     --size BYTES       size of the block (default 4096)
//     --window CLASS     a hidden top-level window of that class
//     --lifetime MS      ends by itself after MS (default 120000)
//   Numbers are decimal or 0x hexadecimal, negative allowed.
//
// Log lines:
//   slot S command C index P word 0xWWWWWWWW args A,B,...   (args only when
//                                                             the word has any)
//   slot S index P outside the ring                           (hostile state)
//   window CLASS command ID lparam L
// When everything exists, LOG.ready holds "ready\n".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "append_line.hpp"

namespace {

const char* const kSuffixes[7] = {"/BACKUP",     "/SYSTRAY",     "/LAUNCHER", "/2NDBACKUP",
                                  "/2NDSYSTRAY", "/2NDLAUNCHER", "/MISC"};

struct Answer {
  bool reply = true;
  bool never = false;
  bool results = false;
  bool vanish = false;
  bool setPending = false;
  long pending = 0;
  bool setRingPos = false;
  long ringPos = 0;
};

struct Slot {
  bool running = false;
  bool closed = false;
  bool stuck = false;
  bool noEvent = false;
  std::vector<Answer> plan;
  size_t next = 0;
  HANDLE event = nullptr;
};

std::string logPath;
std::string prefix;
Slot slots[3];
unsigned char* block = nullptr;
DWORD blockSize = 4096;

long ParseNumber(const char* text) { return static_cast<long>(std::strtoll(text, nullptr, 0)); }

std::vector<Answer> ParsePlan(const std::string& text) {
  std::vector<Answer> plan;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    Answer answer;
    std::string item = text.substr(start, end - start);
    size_t tokenStart = 0;
    while (tokenStart <= item.size()) {
      size_t tokenEnd = item.find('+', tokenStart);
      if (tokenEnd == std::string::npos) tokenEnd = item.size();
      std::string token = item.substr(tokenStart, tokenEnd - tokenStart);
      if (token == "set") answer.reply = true;
      if (token == "clear") answer.reply = false;
      if (token == "never") {
        answer.never = true;
        answer.reply = false;
      }
      if (token == "results") answer.results = true;
      if (token == "vanish") answer.vanish = true;
      if (token.rfind("pending=", 0) == 0) {
        answer.setPending = true;
        answer.pending = ParseNumber(token.c_str() + 8);
      }
      if (token.rfind("ringpos=", 0) == 0) {
        answer.setRingPos = true;
        answer.ringPos = ParseNumber(token.c_str() + 8);
      }
      tokenStart = tokenEnd + 1;
    }
    plan.push_back(answer);
    start = end + 1;
  }
  return plan;
}

unsigned long Word(size_t offset) {
  return static_cast<unsigned long>(block[offset]) | static_cast<unsigned long>(block[offset + 1]) << 8 |
         static_cast<unsigned long>(block[offset + 2]) << 16 |
         static_cast<unsigned long>(block[offset + 3]) << 24;
}

void SetWord(size_t offset, unsigned long value) {
  for (int i = 0; i < 4; ++i) block[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void Log(const std::string& line) { AppendLine(logPath, line); }

std::string SlotEventName(int slot) { return "/EVENT/" + prefix + "BACKUP_IPC" + kSuffixes[slot]; }

void Acknowledge(unsigned long word) {
  const unsigned sender = word >> 24;
  if (sender > 6) return;
  const std::string name = "/EVENT/" + prefix + "BACKUP_IPC" + kSuffixes[sender] + "/ACK";
  HANDLE ack = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (ack == nullptr) {
    Log("no acknowledgement event " + name);
    return;
  }
  SetEvent(ack);
  CloseHandle(ack);
}

void HandleCommand(int slotIndex) {
  Slot& slot = slots[slotIndex];
  const size_t pendingOffset = 12 + 12 * slotIndex;
  const unsigned long index = Word(pendingOffset);
  char line[512];
  if (index > 62) {
    std::snprintf(line, sizeof line, "slot %d index %ld outside the ring", slotIndex,
                  static_cast<long>(index));
    Log(line);
    return;
  }
  const size_t wordOffset = 44 + 4 * index;
  const unsigned long word = Word(wordOffset);
  const unsigned count = (word >> 16) & 0xFF;
  std::snprintf(line, sizeof line, "slot %d command %lu index %lu word 0x%08lX", slotIndex, (word >> 8) & 0xFF,
                index, word);
  std::string text = line;
  if (count != 0) {
    text += " args ";
    for (unsigned i = 0; i < count && index + 1 + i <= 62; ++i) {
      std::snprintf(line, sizeof line, "%s0x%lX", i == 0 ? "" : ",", Word(wordOffset + 4 + 4 * i));
      text += line;
    }
  }
  Log(text);

  const Answer answer = slot.plan.empty() ? Answer() : slot.plan[std::min(slot.next, slot.plan.size() - 1)];
  ++slot.next;
  if (answer.results) {
    for (unsigned i = 0; i < count && index + 1 + i <= 62; ++i) {
      const size_t offset = wordOffset + 4 + 4 * i;
      SetWord(offset, Word(offset) + 0x100);
    }
  }
  if (answer.reply) SetWord(wordOffset, word | 1);
  if (answer.setPending) SetWord(pendingOffset, static_cast<unsigned long>(answer.pending));
  if (answer.setRingPos) SetWord(40, static_cast<unsigned long>(answer.ringPos));
  if (answer.vanish && slot.event != nullptr) {
    CloseHandle(slot.event);
    slot.event = nullptr;
  }
  if (!answer.never) Acknowledge(word);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    char className[260] = "";
    GetClassNameA(window, className, sizeof className);
    char line[400];
    std::snprintf(line, sizeof line, "window %s command %u lparam %ld", className,
                  static_cast<unsigned>(LOWORD(wParam)), static_cast<long>(lParam));
    Log(line);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  prefix = std::string(argv[1]).substr(0, 2);
  logPath = argv[2];
  long ringPos = 0;
  DWORD lifetime = 120000;
  std::vector<std::string> windowClasses;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--slot" && i + 2 < argc) {
      Slot& slot = slots[ParseNumber(argv[i + 1]) % 3];
      slot.running = true;
      slot.plan = ParsePlan(argv[i + 2]);
      i += 2;
    } else if (option == "--closed" && hasValue) {
      Slot& slot = slots[ParseNumber(argv[++i]) % 3];
      slot.running = slot.closed = true;
    } else if (option == "--stuck" && hasValue) {
      Slot& slot = slots[ParseNumber(argv[++i]) % 3];
      slot.running = slot.stuck = true;
    } else if (option == "--noevent" && hasValue) {
      Slot& slot = slots[ParseNumber(argv[++i]) % 3];
      slot.running = slot.noEvent = true;
    } else if (option == "--ringpos" && hasValue) {
      ringPos = ParseNumber(argv[++i]);
    } else if (option == "--size" && hasValue) {
      blockSize = static_cast<DWORD>(ParseNumber(argv[++i]));
    } else if (option == "--window" && hasValue) {
      windowClasses.push_back(argv[++i]);
    } else if (option == "--lifetime" && hasValue) {
      lifetime = static_cast<DWORD>(ParseNumber(argv[++i]));
    } else {
      return 2;
    }
  }

  const std::string blockName = "/FILE_MAP/" + prefix + "BACKUP_IPC";
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, blockSize, blockName.c_str());
  if (mapping == nullptr) return 3;
  block = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (block == nullptr) return 3;
  for (int i = 0; i < 3; ++i) {
    SetWord(8 + 12 * i, slots[i].running ? 1 : 0);
    SetWord(12 + 12 * i, slots[i].closed ? 0xFFFFFFFEul : slots[i].stuck ? 5ul : 0xFFFFFFFFul);
  }
  SetWord(40, static_cast<unsigned long>(ringPos));
  const std::string mutexName = "/MUTEX/" + prefix + "BACKUP_IPC";
  HANDLE mutex = CreateMutexA(nullptr, FALSE, mutexName.c_str());
  if (mutex == nullptr) return 3;

  for (int i = 0; i < 3; ++i) {
    if (!slots[i].running || slots[i].noEvent) continue;
    slots[i].event = CreateEventA(nullptr, FALSE, FALSE, SlotEventName(i).c_str());
    if (slots[i].event == nullptr) return 3;
  }
  for (const std::string& className : windowClasses) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className.c_str();
    if (!RegisterClassA(&windowClass)) return 3;
    if (!CreateWindowA(className.c_str(), "Agent stand-in", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                       windowClass.hInstance, nullptr)) {
      return 3;
    }
  }

  HANDLE ready = CreateFileA((logPath + ".ready").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(ready, "ready\n", 6, &written, nullptr);
  CloseHandle(ready);

  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE events[3];
    int owners[3];
    DWORD count = 0;
    for (int i = 0; i < 3; ++i) {
      if (slots[i].event == nullptr) continue;
      events[count] = slots[i].event;
      owners[count++] = i;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= lifetime) break;
    const DWORD signalled = MsgWaitForMultipleObjects(count, events, FALSE, lifetime - elapsed, QS_ALLINPUT);
    if (signalled < WAIT_OBJECT_0 + count) {
      HandleCommand(owners[signalled - WAIT_OBJECT_0]);
    } else if (signalled == WAIT_OBJECT_0 + count) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    } else if (signalled == WAIT_TIMEOUT) {
      break;
    }
  }
  return 0;
}
