// The agent channel's names, command word and shared block, as pure functions
// over the block's bytes. Portable: the Win32 layer (agent_channel.cpp) only
// opens, maps, waits and signals; everything it reads from or writes to the
// block goes through these functions.
//
// The shared block is made by the agent programs: a run of 32-bit
// little-endian signed words. The setup program touches only these, at these
// byte offsets, and needs the block to be at least kAgentBlockSize bytes:
//
//   8 + 12*i   present       non-zero while the participant of slot i runs
//   12 + 12*i  pendingIndex  -1 free, -2 closed, 0..62 ring index of the
//                            command waiting for (or handled by) slot i
//   40         ringWritePos  ring index for the next command word
//   44 + 4*k   ring[k]       command words and their argument words, k 0..62
//
// Only slots 0, 1 and 2 have a record that the setup program uses. The block
// and its answers come from other processes: no function here reads or writes
// outside the block, whatever its words hold.
#pragma once

#include <cstddef>
#include <cstdint>

// Every object name is built in a buffer of this size.
constexpr std::size_t kAgentNameSize = 64;
constexpr std::size_t kAgentBlockSize = 296;
// Ring indices 0 .. kAgentRingWords - 1.
constexpr std::uint32_t kAgentRingWords = 63;
constexpr std::uint32_t kAgentRingWrapLimit = 64;

constexpr std::int32_t kSlotFree = -1;
constexpr std::int32_t kSlotClosed = -2;

enum AgentSlot {
  kSlotEngine = 0,      // "/BACKUP"
  kSlotTray = 1,        // "/SYSTRAY"
  kSlotLauncher = 2,    // "/LAUNCHER"
  kSlotEngine2 = 3,     // "/2NDBACKUP"
  kSlotTray2 = 4,       // "/2NDSYSTRAY"
  kSlotLauncher2 = 5,   // "/2NDLAUNCHER"
  kSlotMisc = 6,        // "/MISC": the setup program sends as this slot
  kAgentSlotCount = 7,
};

// The sender slot of the setup program: the top byte of its command words and
// the suffix of its acknowledgement event name.
constexpr int kSetupSenderSlot = kSlotMisc;

enum AgentCommand {
  kCommandPresence = 0,       // slot 0: reply set while the engine runs
  kCommandRefusal = 5,        // slot 0: the setup program refused to install
  kCommandRestartQuery = 14,  // slot 2: reply set = do not restart on Windows NT
  kCommandExit = 15,          // slots 1, 2: reply set = exiting
};

// The name suffix of `slot` ("/BACKUP" ...), or "" for an unknown slot.
const char* AgentSlotSuffix(int slot);

// Object names for the two prefix characters `prefix` (the first two
// characters are used). Each writes into a kAgentNameSize buffer:
//   "/FILE_MAP/XXBACKUP_IPC"               the shared block
//   "/MUTEX/XXBACKUP_IPC"                  the channel mutex
//   "/EVENT/XXBACKUP_IPC" + suffix         slot event of `slot`
//   "/EVENT/XXBACKUP_IPC" + "/MISC/ACK"    the setup program's acknowledgement
// with XX replaced by the prefix in place.
void BuildAgentBlockName(char* out, const char* prefix);
void BuildAgentMutexName(char* out, const char* prefix);
void BuildAgentSlotEventName(char* out, const char* prefix, int slot);
void BuildAgentAckEventName(char* out, const char* prefix);

// The command word as the setup program writes it:
//   bit 0      reply, 0 when written
//   bit 4      an argument array is passed (also one of 0 bytes)
//   bits 8-15  command (low 8 bits)
//   bits 16-23 argument words (low 8 bits)
//   bits 24-31 sender slot, 6
std::uint32_t AgentCommandWord(int command, bool hasArguments, std::uint32_t argumentWords);

// A mapped block: its first byte and its size in bytes.
struct AgentBlock {
  std::uint8_t* bytes;
  std::size_t size;
};

// True when the block is large enough and `slot` (0..2) has a non-zero
// present word. Every other function below may be called only after this
// answered true for the same slot.
bool IsAgentSlotPresent(AgentBlock block, int slot);
std::int32_t AgentSlotPending(AgentBlock block, int slot);
void FreeAgentSlot(AgentBlock block, int slot);

// A command to be written: `arguments` may be null (no array); otherwise it
// holds argumentBytes / 4 whole words (a remainder is dropped).
struct AgentCommandRequest {
  int slot;
  int command;
  std::uint32_t* arguments;
  std::uint32_t argumentBytes;
};

// Whole argument words of a request: 0 without an array.
std::uint32_t AgentArgumentWords(const AgentCommandRequest& request);

// Reserves ring space and writes the command under the channel mutex: when
// ringWritePos + words + 1 would reach 64, or ringWritePos is outside the ring
// at all (compared without overflow), the command starts at index 0. Sets the
// slot's pendingIndex to the command's index, writes the command word and the
// argument words behind it, and advances ringWritePos past them. Returns false
// without writing anything when the command needs more words than the ring
// holds (more than 62 argument words).
bool ReserveAgentCommand(AgentBlock block, const AgentCommandRequest& request);

// Reads the answer after the wait: the reply bit of the command word at the
// slot's pendingIndex and, when it is set and an argument array was given, the
// argument words behind it copied back into the array. The pendingIndex comes
// from another process: unless it lies inside the ring and the argument words
// behind it do too, the reply is 0 and nothing is copied.
int ReadAgentAnswer(AgentBlock block, const AgentCommandRequest& request);
