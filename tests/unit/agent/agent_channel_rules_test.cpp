// Object names, the command word, the ring reservation and wrap, and the
// reading of untrusted answers of the agent channel. Blocks are heap vectors
// of their exact size, so AddressSanitizer catches any access outside them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/agent_channel_rules.hpp"
#include "base/le.hpp"

namespace {

// A shared block as the agent programs would leave it: every slot free,
// slots 0..2 present.
class Block {
public:
  explicit Block(std::size_t size = kAgentBlockSize) : bytes_(size, 0) {
    if (size < kAgentBlockSize) return;
    for (int slot = 0; slot < 3; ++slot) {
      Set(8 + 12 * slot, 1);
      Set(12 + 12 * slot, static_cast<std::uint32_t>(kSlotFree));
    }
  }
  AgentBlock View() { return {bytes_.data(), bytes_.size()}; }
  std::uint32_t Get(std::size_t offset) const { return LoadLe32(bytes_.data() + offset); }
  void Set(std::size_t offset, std::uint32_t value) { StoreLe32(bytes_.data() + offset, value); }
  std::uint32_t Ring(std::uint32_t k) const { return Get(44 + 4 * k); }
  void SetRing(std::uint32_t k, std::uint32_t value) { Set(44 + 4 * k, value); }
  std::uint32_t RingWritePos() const { return Get(40); }
  void SetRingWritePos(std::uint32_t value) { Set(40, value); }
  std::uint32_t Pending(int slot) const { return Get(12 + 12 * slot); }
  void SetPending(int slot, std::uint32_t value) { Set(12 + 12 * slot, value); }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
  std::vector<std::uint8_t> bytes_;
};

TEST(AgentChannelNames, TemplatesTakeThePrefixInPlace) {
  char name[kAgentNameSize];
  BuildAgentBlockName(name, "PQ");
  EXPECT_STREQ(name, "/FILE_MAP/PQBACKUP_IPC");
  BuildAgentMutexName(name, "PQ");
  EXPECT_STREQ(name, "/MUTEX/PQBACKUP_IPC");
  BuildAgentAckEventName(name, "PQ");
  EXPECT_STREQ(name, "/EVENT/PQBACKUP_IPC/MISC/ACK");
  // Only the first two characters of the prefix count.
  BuildAgentBlockName(name, "KTX");
  EXPECT_STREQ(name, "/FILE_MAP/KTBACKUP_IPC");
}

TEST(AgentChannelNames, EverySlotEventCarriesItsSuffix) {
  const char* expected[] = {
      "/EVENT/PQBACKUP_IPC/BACKUP",     "/EVENT/PQBACKUP_IPC/SYSTRAY",
      "/EVENT/PQBACKUP_IPC/LAUNCHER",   "/EVENT/PQBACKUP_IPC/2NDBACKUP",
      "/EVENT/PQBACKUP_IPC/2NDSYSTRAY", "/EVENT/PQBACKUP_IPC/2NDLAUNCHER",
      "/EVENT/PQBACKUP_IPC/MISC",
  };
  for (int slot = 0; slot < kAgentSlotCount; ++slot) {
    char name[kAgentNameSize];
    BuildAgentSlotEventName(name, "PQ", slot);
    EXPECT_STREQ(name, expected[slot]) << "slot " << slot;
  }
}

TEST(AgentChannelCommandWord, SenderCommandCountAndFlag) {
  struct Case {
    int command;
    bool hasArguments;
    std::uint32_t words;
    std::uint32_t word;
  };
  const Case cases[] = {
      {0, false, 0, 0x06000000},  {5, false, 0, 0x06000500},   {14, false, 0, 0x06000E00},
      {15, false, 0, 0x06000F00}, {15, true, 0, 0x06000F10},   {15, true, 2, 0x06020F10},
      {0x1FF, true, 3, 0x0603FF10}, {1, true, 0x102, 0x06020110},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AgentCommandWord(c.command, c.hasArguments, c.words), c.word)
        << c.command << " " << c.hasArguments << " " << c.words;
  }
}

TEST(AgentChannelBlock, OnlySlotsZeroToTwoOfAFullBlockArePresent) {
  Block block;
  for (int slot = 0; slot < 3; ++slot) EXPECT_TRUE(IsAgentSlotPresent(block.View(), slot));
  // Slots 3..6 have no record; slot 3's would be ring word 0.
  block.SetRing(0, 1);
  for (int slot : {-1, 3, 4, 5, 6, 7}) EXPECT_FALSE(IsAgentSlotPresent(block.View(), slot)) << slot;
  block.Set(8 + 12 * 1, 0);
  EXPECT_FALSE(IsAgentSlotPresent(block.View(), 1));

  Block small(kAgentBlockSize - 1);
  small.Set(8, 1);
  EXPECT_FALSE(IsAgentSlotPresent(small.View(), 0)) << "a block shorter than 296 bytes is not used";
}

// The ring reservation for one command: where it goes, what the ring holds
// afterwards and where ringWritePos ends.
struct Reservation {
  std::uint32_t ringWritePos;
  bool hasArguments;
  std::uint32_t argumentBytes;
  std::uint32_t index;         // of the command word
  std::uint32_t words;         // argument words written behind it
  std::uint32_t nextWritePos;
};

class AgentRingReservation : public ::testing::TestWithParam<Reservation> {};

TEST_P(AgentRingReservation, WritesCommandAndArgumentsAndAdvances) {
  const Reservation r = GetParam();
  Block block;
  block.SetRingWritePos(r.ringWritePos);
  std::uint32_t arguments[3] = {0xA1, 0xA2, 0xA3};
  const AgentCommandRequest request{kSlotLauncher, kCommandExit, r.hasArguments ? arguments : nullptr,
                                    r.argumentBytes};
  ASSERT_TRUE(ReserveAgentCommand(block.View(), request));

  EXPECT_EQ(block.Pending(kSlotLauncher), r.index);
  EXPECT_EQ(block.Ring(r.index), AgentCommandWord(kCommandExit, r.hasArguments, r.words));
  for (std::uint32_t i = 0; i < r.words; ++i) EXPECT_EQ(block.Ring(r.index + 1 + i), arguments[i]);
  EXPECT_EQ(block.RingWritePos(), r.nextWritePos);
  // Nothing else of the ring is touched.
  std::uint32_t written = 0;
  for (std::uint32_t k = 0; k < kAgentRingWords; ++k) written += block.Ring(k) != 0;
  EXPECT_EQ(written, 1 + r.words);
  EXPECT_EQ(block.Pending(kSlotEngine), static_cast<std::uint32_t>(kSlotFree));
  EXPECT_EQ(block.Pending(kSlotTray), static_cast<std::uint32_t>(kSlotFree));
}

INSTANTIATE_TEST_SUITE_P(
    Positions, AgentRingReservation,
    ::testing::Values(
        Reservation{0, false, 0, 0, 0, 1},
        Reservation{62, false, 0, 62, 0, 63},      // last index of the ring
        Reservation{63, false, 0, 0, 0, 1},        // 63 + 1 >= 64: wraps
        Reservation{60, true, 12, 0, 3, 4},        // needs 4 words: 64 >= 64
        Reservation{59, true, 12, 59, 3, 63},      // 63 < 64 still fits
        Reservation{5, true, 10, 5, 2, 8},         // 10 bytes are two words
        Reservation{7, true, 0, 7, 0, 8},          // an empty array still sets the flag
        Reservation{7, false, 12, 7, 0, 8},        // bytes without an array are no arguments
        // Positions outside the ring, as another process may leave them: every
        // one wraps to 0 instead of overflowing the comparison.
        Reservation{64, false, 0, 0, 0, 1},
        Reservation{0x7FFFFFFF, true, 8, 0, 2, 3},
        Reservation{0x80000000, false, 0, 0, 0, 1},
        Reservation{0xFFFFFFFE, false, 0, 0, 0, 1},
        Reservation{0xFFFFFFFF, false, 0, 0, 0, 1},
        Reservation{0xFFFFFFFF, true, 12, 0, 3, 4}));

TEST(AgentRingReservationLimits, SixtyTwoArgumentWordsFitAndSixtyThreeDoNot) {
  std::vector<std::uint32_t> arguments(63, 0x5A);
  Block block;
  block.SetRingWritePos(30);
  ASSERT_TRUE(ReserveAgentCommand(block.View(), {kSlotTray, kCommandExit, arguments.data(), 62 * 4}));
  EXPECT_EQ(block.Pending(kSlotTray), 0u);
  EXPECT_EQ(block.Ring(62), 0x5Au);
  EXPECT_EQ(block.RingWritePos(), 63u);

  Block untouched;
  untouched.SetRingWritePos(30);
  const std::vector<std::uint8_t> before = untouched.Bytes();
  EXPECT_FALSE(ReserveAgentCommand(untouched.View(), {kSlotTray, kCommandExit, arguments.data(), 63 * 4}));
  EXPECT_EQ(untouched.Bytes(), before);
}

// What the sender reads back after the wait. The receiver wrote the reply bit
// and result words at ring index 10, then left pendingIndex as given.
struct Answer {
  const char* what;
  std::uint32_t pendingIndex;
  bool replyBit;
  std::uint32_t argumentBytes;
  int reply;
  bool copied;
};

class AgentAnswer : public ::testing::TestWithParam<Answer> {};

TEST_P(AgentAnswer, ReplyAndResultsOnlyFromInsideTheRing) {
  const Answer a = GetParam();
  Block block;
  const std::uint32_t index = a.pendingIndex < kAgentRingWords ? a.pendingIndex : 10;
  block.SetRing(index, AgentCommandWord(kCommandExit, true, a.argumentBytes / 4) | (a.replyBit ? 1 : 0));
  for (std::uint32_t k = index + 1; k < kAgentRingWords; ++k) block.SetRing(k, 0xC0 + k);
  block.SetPending(kSlotLauncher, a.pendingIndex);

  std::uint32_t arguments[3] = {1, 2, 3};
  const AgentCommandRequest request{kSlotLauncher, kCommandExit, arguments, a.argumentBytes};
  EXPECT_EQ(ReadAgentAnswer(block.View(), request), a.reply) << a.what;
  const std::uint32_t words = a.argumentBytes / 4;
  for (std::uint32_t i = 0; i < 3; ++i) {
    const std::uint32_t expected = a.copied && i < words ? 0xC0 + index + 1 + i : i + 1;
    EXPECT_EQ(arguments[i], expected) << a.what << ", word " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AgentAnswer,
    ::testing::Values(
        Answer{"reply set, results copied", 10, true, 12, 1, true},
        Answer{"reply set, ten bytes copy two words", 10, true, 10, 1, true},
        Answer{"reply clear, nothing copied", 10, false, 12, 0, false},
        Answer{"command at the last index, no arguments", 62, true, 0, 1, false},
        Answer{"arguments reaching the last index", 59, true, 12, 1, true},
        Answer{"arguments beyond the ring", 60, true, 12, 0, false},
        Answer{"index just past the ring", 63, true, 0, 0, false},
        Answer{"slot freed by the receiver", 0xFFFFFFFF, true, 12, 0, false},
        Answer{"slot closed", 0xFFFFFFFE, true, 0, 0, false},
        Answer{"index far outside", 0x7FFFFFFF, true, 0, 0, false},
        Answer{"index that overflows with its arguments", 0xFFFFFFFD, true, 12, 0, false}));

TEST(AgentAnswerWithoutArray, ReadsOnlyTheReplyBit) {
  Block block;
  block.SetRing(4, AgentCommandWord(kCommandPresence, false, 0) | 1);
  block.SetRing(5, 0xDEAD);
  block.SetPending(kSlotEngine, 4);
  EXPECT_EQ(ReadAgentAnswer(block.View(), {kSlotEngine, kCommandPresence, nullptr, 8}), 1);
}

TEST(AgentSlotState, PendingIsSignedAndFreeingWritesMinusOne) {
  Block block;
  block.SetPending(kSlotTray, static_cast<std::uint32_t>(kSlotClosed));
  EXPECT_EQ(AgentSlotPending(block.View(), kSlotTray), kSlotClosed);
  block.SetPending(kSlotTray, 17);
  EXPECT_EQ(AgentSlotPending(block.View(), kSlotTray), 17);
  FreeAgentSlot(block.View(), kSlotTray);
  EXPECT_EQ(block.Pending(kSlotTray), 0xFFFFFFFFu);
  EXPECT_EQ(block.Pending(kSlotLauncher), 0xFFFFFFFFu);
  EXPECT_EQ(block.Get(8 + 12), 1u) << "the present word stays";
}

}  // namespace
