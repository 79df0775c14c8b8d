// Drives the setup program's own agent channel code (src/agent/agent_channel)
// from the command line, for the paths that setup.exe never takes itself, such
// as commands with argument words.
//
//   agent_caller PREFIX running SLOT
//   agent_caller PREFIX send SLOT COMMAND [BYTES WORD...]
//
// BYTES is the size of the argument array (an array is passed, also of 0
// bytes, whenever BYTES is given); the words fill it, the rest is 0. Prints:
//   result R reply P [args A,B,...] ms T
//   block pending P0,P1,P2 ringpos R
// The second line is read from the block after the channel was closed, or
// "block none" when it cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/agent_channel.hpp"
#include "state/steps.hpp"

int IsWindowsNt() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

namespace {

long Number(const char* text) { return static_cast<long>(std::strtoll(text, nullptr, 0)); }

void PrintBlock(const std::string& prefix) {
  const std::string name = "/FILE_MAP/" + prefix + "BACKUP_IPC";
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  const unsigned char* view =
      mapping ? static_cast<const unsigned char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (view == nullptr) {
    std::printf("block none\n");
    return;
  }
  auto word = [&](int offset) {
    return static_cast<long>(static_cast<unsigned long>(view[offset]) |
                             static_cast<unsigned long>(view[offset + 1]) << 8 |
                             static_cast<unsigned long>(view[offset + 2]) << 16 |
                             static_cast<unsigned long>(view[offset + 3]) << 24);
  };
  std::printf("block pending %ld,%ld,%ld ringpos %ld\n", word(12), word(24), word(36), word(40));
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string prefix = argv[1];
  const std::string verb = argv[2];
  const int slot = static_cast<int>(Number(argv[3]));
  SetAgentPrefix(prefix.c_str());
  const DWORD start = GetTickCount();
  bool result = false;
  int reply = 0;
  std::vector<std::uint32_t> arguments;
  bool withArray = false;
  std::uint32_t bytes = 0;
  if (verb == "running") {
    result = IsAgentRunning(slot);
    reply = result;
  } else if (verb == "send" && argc >= 5) {
    const int command = static_cast<int>(Number(argv[4]));
    if (argc >= 6) {
      withArray = true;
      bytes = static_cast<std::uint32_t>(Number(argv[5]));
      arguments.assign(bytes / 4 + 1, 0);
      for (int i = 6; i < argc && static_cast<size_t>(i - 6) < arguments.size(); ++i)
        arguments[i - 6] = static_cast<std::uint32_t>(Number(argv[i]));
    }
    result = SendAgentCommand(slot, command, &reply, withArray ? arguments.data() : nullptr, bytes);
  } else {
    return 2;
  }
  const DWORD elapsed = GetTickCount() - start;
  std::printf("result %d reply %d", result ? 1 : 0, reply);
  if (withArray && bytes / 4 != 0) {
    std::printf(" args");
    for (std::uint32_t i = 0; i < bytes / 4; ++i) std::printf("%s0x%lX", i == 0 ? " " : ",",
                                                              static_cast<unsigned long>(arguments[i]));
  }
  std::printf(" ms %lu\n", static_cast<unsigned long>(elapsed));
  PrintBlock(prefix.substr(0, 2));
  return 0;
}
