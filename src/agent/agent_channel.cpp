// Opening, mapping, waiting and signalling of the agent channel. What is read
// from and written to the shared block is decided in agent_channel_rules.
//
// Order of one exchange, and why:
//   - present test and the polls of a pending slot without the mutex;
//   - the decision, reservation and writing under the mutex;
//   - the slot event set and the acknowledgement awaited with the mutex
//     released, so that the receiver can take it to answer;
//   - the answer read without the mutex, the slot freed under it.
#include "agent/agent_channel.hpp"

#include <windows.h>

#include "agent/agent_channel_rules.hpp"
#include "state/steps.hpp"

namespace {

constexpr int kFreeSlotPolls = 25;
constexpr DWORD kFreeSlotPollPause = 200;
constexpr DWORD kAcknowledgementWait = 5000;

char agentPrefix[3];

// Held only during one operation.
HANDLE blockMapping;
void* blockView;
std::size_t blockSize;
HANDLE channelMutex;
HANDLE ackEvent;

// Built once per process, on Windows NT only: a null DACL, so that the agent
// programs of any user may set the acknowledgement event.
SECURITY_DESCRIPTOR openDescriptor;
SECURITY_ATTRIBUTES openAttributes;
bool openAttributesBuilt;

typedef BOOL(WINAPI* InitializeSecurityDescriptorFunction)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI* SetSecurityDescriptorDaclFunction)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);

AgentBlock Block() { return {static_cast<std::uint8_t*>(blockView), blockSize}; }

// An abandoned mutex counts as taken.
void TakeMutex() { WaitForSingleObject(channelMutex, INFINITE); }

void CloseAgentChannel() {
  if (ackEvent != nullptr) CloseHandle(ackEvent);
  ackEvent = nullptr;
  if (channelMutex != nullptr) CloseHandle(channelMutex);
  channelMutex = nullptr;
  if (blockView != nullptr) UnmapViewOfFile(blockView);
  blockView = nullptr;
  blockSize = 0;
  if (blockMapping != nullptr) CloseHandle(blockMapping);
  blockMapping = nullptr;
}

bool OpenAgentChannel() {
  char name[kAgentNameSize];
  BuildAgentBlockName(name, agentPrefix);
  blockMapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (blockMapping == nullptr) return false;
  blockView = MapViewOfFile(blockMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (blockView == nullptr) {
    CloseAgentChannel();
    return false;
  }
  // The view's size bounds every access to the block: its words come from
  // other processes.
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(blockView, &region, sizeof region) == sizeof region) blockSize = region.RegionSize;
  Sleep(0);
  BuildAgentMutexName(name, agentPrefix);
  channelMutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
  if (channelMutex == nullptr) {
    CloseAgentChannel();
    return false;
  }
  return true;
}

bool BuildOpenSecurityAttributes() {
  if (openAttributesBuilt) return true;
  HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
  if (advapi == nullptr) return false;
  const auto initialize = reinterpret_cast<InitializeSecurityDescriptorFunction>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "InitializeSecurityDescriptor")));
  const auto setDacl = reinterpret_cast<SetSecurityDescriptorDaclFunction>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "SetSecurityDescriptorDacl")));
  const bool built = (initialize == nullptr || initialize(&openDescriptor, SECURITY_DESCRIPTOR_REVISION)) &&
                     (setDacl == nullptr || setDacl(&openDescriptor, TRUE, nullptr, FALSE));
  FreeLibrary(advapi);
  if (!built) return false;
  openAttributes.nLength = sizeof openAttributes;
  openAttributes.lpSecurityDescriptor = &openDescriptor;
  openAttributes.bInheritHandle = TRUE;
  openAttributesBuilt = true;
  return true;
}

// Waits up to 25 polls of 200 ms for the slot to leave its pending state,
// then takes the mutex. True, with the mutex held, when the slot is free or
// closed.
bool WaitForFreeSlot(int slot) {
  if (blockView == nullptr) return false;
  for (int poll = 0; poll < kFreeSlotPolls; ++poll) {
    if (AgentSlotPending(Block(), slot) < 0) break;
    Sleep(kFreeSlotPollPause);
  }
  TakeMutex();
  if (AgentSlotPending(Block(), slot) < 0) return true;
  ReleaseMutex(channelMutex);
  return false;
}

bool ExchangeAgentCommand(const AgentCommandRequest& request, int* reply) {
  *reply = 0;
  if (blockView == nullptr || !IsAgentSlotPresent(Block(), request.slot)) return false;
  char name[kAgentNameSize];
  if (ackEvent == nullptr) {
    SECURITY_ATTRIBUTES* attributes = nullptr;
    if (IsWindowsNt()) {
      if (!BuildOpenSecurityAttributes()) return false;
      attributes = &openAttributes;
    }
    BuildAgentAckEventName(name, agentPrefix);
    // A failed creation makes the wait below fail.
    ackEvent = CreateEventA(attributes, FALSE, FALSE, name);
  }
  if (!WaitForFreeSlot(request.slot)) return false;
  if (AgentSlotPending(Block(), request.slot) == kSlotClosed ||
      !ReserveAgentCommand(Block(), request)) {
    ReleaseMutex(channelMutex);
    return false;
  }
  ReleaseMutex(channelMutex);

  bool acknowledged = false;
  BuildAgentSlotEventName(name, agentPrefix, request.slot);
  HANDLE slotEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
  if (slotEvent != nullptr) {
    SetEvent(slotEvent);
    CloseHandle(slotEvent);
    acknowledged = WaitForSingleObject(ackEvent, kAcknowledgementWait) == WAIT_OBJECT_0;
  }

  *reply = ReadAgentAnswer(Block(), request);
  TakeMutex();
  FreeAgentSlot(Block(), request.slot);
  ReleaseMutex(channelMutex);
  return acknowledged;
}

}  // namespace

void SetAgentPrefix(const char* ipcPrefix) {
  agentPrefix[0] = ipcPrefix[0];
  agentPrefix[1] = ipcPrefix[1];
  agentPrefix[2] = '\0';
}

bool IsAgentRunning(int slot) {
  if (!OpenAgentChannel()) return false;
  int reply = 0;
  const bool answered = ExchangeAgentCommand({slot, kCommandPresence, nullptr, 0}, &reply);
  CloseAgentChannel();
  return answered && reply != 0;
}

bool SendAgentCommand(int slot, int command, int* reply, std::uint32_t* arguments,
                      std::uint32_t argumentBytes) {
  if (reply == nullptr) return false;
  *reply = 0;
  if (!OpenAgentChannel()) return false;
  const bool answered = ExchangeAgentCommand({slot, command, arguments, argumentBytes}, reply);
  CloseAgentChannel();
  return answered;
}
