#include "agent/agent_channel_rules.hpp"

#include "base/bounded_text.hpp"
#include "base/le.hpp"

namespace {

constexpr const char* kSlotSuffixes[kAgentSlotCount] = {
    "/BACKUP", "/SYSTRAY", "/LAUNCHER", "/2NDBACKUP", "/2NDSYSTRAY", "/2NDLAUNCHER", "/MISC",
};

constexpr std::size_t kPresentOffset = 8;
constexpr std::size_t kPendingOffset = 12;
constexpr std::size_t kSlotStride = 12;
constexpr std::size_t kRingWritePosOffset = 40;
constexpr std::size_t kRingOffset = 44;
// Slots with a record below ringWritePos.
constexpr int kSlotsWithRecord = 3;

static_assert(kRingOffset + 4 * kAgentRingWords == kAgentBlockSize);
static_assert(kPendingOffset + kSlotStride * (kSlotsWithRecord - 1) + 4 <= kRingWritePosOffset);

// Copies `text` behind the `used` characters of a kAgentNameSize buffer.
std::size_t Append(char* out, std::size_t used, const char* text) {
  return used + CopyBounded(out + used, kAgentNameSize - used, text);
}

// Writes `name` and puts the two prefix characters at `at` and `at` + 1.
std::size_t TemplateName(char* out, const char* name, std::size_t at, const char* prefix) {
  const std::size_t used = CopyBounded(out, kAgentNameSize, name);
  out[at] = prefix[0];
  out[at + 1] = prefix[1];
  return used;
}

std::uint32_t LoadWord(AgentBlock block, std::size_t offset) { return LoadLe32(block.bytes + offset); }

void StoreWord(AgentBlock block, std::size_t offset, std::uint32_t value) {
  StoreLe32(block.bytes + offset, value);
}

std::size_t RingOffset(std::uint32_t index) { return kRingOffset + 4 * static_cast<std::size_t>(index); }

}  // namespace

const char* AgentSlotSuffix(int slot) {
  return slot >= 0 && slot < kAgentSlotCount ? kSlotSuffixes[slot] : "";
}

void BuildAgentBlockName(char* out, const char* prefix) {
  TemplateName(out, "/FILE_MAP/XXBACKUP_IPC", 10, prefix);
}

void BuildAgentMutexName(char* out, const char* prefix) {
  TemplateName(out, "/MUTEX/XXBACKUP_IPC", 7, prefix);
}

void BuildAgentSlotEventName(char* out, const char* prefix, int slot) {
  const std::size_t used = TemplateName(out, "/EVENT/XXBACKUP_IPC", 7, prefix);
  Append(out, used, AgentSlotSuffix(slot));
}

// "/EVENT/%sBACKUP_IPC%s/ACK" with the prefix string and the sender's suffix.
void BuildAgentAckEventName(char* out, const char* prefix) {
  char prefixText[3] = {prefix[0], prefix[0] != '\0' ? prefix[1] : '\0', '\0'};
  std::size_t used = CopyBounded(out, kAgentNameSize, "/EVENT/");
  used = Append(out, used, prefixText);
  used = Append(out, used, "BACKUP_IPC");
  used = Append(out, used, AgentSlotSuffix(kSetupSenderSlot));
  Append(out, used, "/ACK");
}

std::uint32_t AgentCommandWord(int command, bool hasArguments, std::uint32_t argumentWords) {
  return static_cast<std::uint32_t>(kSetupSenderSlot) << 24 | (argumentWords & 0xFF) << 16 |
         (static_cast<std::uint32_t>(command) & 0xFF) << 8 | (hasArguments ? 0x10u : 0u);
}

bool IsAgentSlotPresent(AgentBlock block, int slot) {
  if (block.bytes == nullptr || block.size < kAgentBlockSize) return false;
  if (slot < 0 || slot >= kSlotsWithRecord) return false;
  return LoadWord(block, kPresentOffset + kSlotStride * slot) != 0;
}

std::int32_t AgentSlotPending(AgentBlock block, int slot) {
  return static_cast<std::int32_t>(LoadWord(block, kPendingOffset + kSlotStride * slot));
}

void FreeAgentSlot(AgentBlock block, int slot) {
  StoreWord(block, kPendingOffset + kSlotStride * slot, static_cast<std::uint32_t>(kSlotFree));
}

std::uint32_t AgentArgumentWords(const AgentCommandRequest& request) {
  return request.arguments != nullptr ? request.argumentBytes / 4 : 0;
}

bool ReserveAgentCommand(AgentBlock block, const AgentCommandRequest& request) {
  const std::uint32_t words = AgentArgumentWords(request);
  if (words >= kAgentRingWords) return false;
  const std::uint32_t needed = words + 1;
  std::uint32_t position = LoadWord(block, kRingWritePosOffset);
  // position + needed >= 64, written so that no position can overflow it.
  if (position >= kAgentRingWrapLimit || needed >= kAgentRingWrapLimit - position) position = 0;

  StoreWord(block, kPendingOffset + kSlotStride * request.slot, position);
  StoreWord(block, RingOffset(position),
            AgentCommandWord(request.command, request.arguments != nullptr, words));
  for (std::uint32_t i = 0; i < words; ++i) {
    StoreWord(block, RingOffset(position + 1 + i), request.arguments[i]);
  }
  StoreWord(block, kRingWritePosOffset, position + needed);
  return true;
}

int ReadAgentAnswer(AgentBlock block, const AgentCommandRequest& request) {
  const std::uint32_t index = LoadWord(block, kPendingOffset + kSlotStride * request.slot);
  const std::uint32_t words = AgentArgumentWords(request);
  // index + words <= 62, written so that no index can overflow it.
  if (index >= kAgentRingWords || words >= kAgentRingWords - index) return 0;
  if ((LoadWord(block, RingOffset(index)) & 1) == 0) return 0;
  for (std::uint32_t i = 0; i < words; ++i) {
    request.arguments[i] = LoadWord(block, RingOffset(index + 1 + i));
  }
  return 1;
}
