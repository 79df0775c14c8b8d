// The implode encoder: every stream it writes decodes with the
// setup program's own decoder to the bytes it was given, keeps the rules of
// the format (distances inside the window and the data, length-2 matches at
// most 256 back, an end code at the end).
#include "explode/implode.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "explode/explode.hpp"
#include "explode/memory_codec.hpp"
#include "setuppack/host/file_io.hpp"
#include "support/sample_data.hpp"

namespace {

struct StreamCheck {
  bool ok = false;              // reached the end code without any rule broken
  std::vector<std::uint8_t> output;
  unsigned literalMode = 0;
  unsigned dictionaryBits = 0;
  unsigned maxDistance = 0;     // largest distance of a match longer than 2
  unsigned maxShortDistance = 0;  // largest distance of a length-2 match
  std::vector<unsigned> shortDistances;  // of every length-2 match, in stream order
  std::size_t matches = 0;
  std::size_t bytesAfterEnd = 0;  // whole bytes behind the byte holding the end code
  const char* problem = "";
};

namespace reference {

struct Code {
  unsigned bits;
  unsigned value;
};

// Prefix-code lookup by (bit count, value read LSB-first).
template <std::size_t N>
struct CodeTable {
  std::array<std::array<std::int16_t, 1 << 13>, 14> symbol{};
  explicit CodeTable(const std::array<Code, N>& codes) {
    for (auto& row : symbol) row.fill(-1);
    for (std::size_t s = 0; s < N; ++s) symbol[codes[s].bits][codes[s].value] = static_cast<std::int16_t>(s);
  }
};

class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}
  bool Bit(unsigned& bit) {
    if (position_ >= data_.size() * 8) return false;
    bit = (data_[position_ / 8] >> (position_ % 8)) & 1;
    ++position_;
    return true;
  }
  bool Bits(unsigned count, unsigned& value) {
    value = 0;
    for (unsigned i = 0; i < count; ++i) {
      unsigned bit;
      if (!Bit(bit)) return false;
      value |= bit << i;
    }
    return true;
  }
  template <std::size_t N>
  bool Symbol(const CodeTable<N>& table, unsigned& symbol) {
    unsigned value = 0;
    for (unsigned count = 1; count <= 13; ++count) {
      unsigned bit;
      if (!Bit(bit)) return false;
      value |= bit << (count - 1);
      if (table.symbol[count][value] >= 0) {
        symbol = static_cast<unsigned>(table.symbol[count][value]);
        return true;
      }
    }
    return false;
  }
  std::size_t BytesLeftAfterCurrent() const { return data_.size() - (position_ + 7) / 8; }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
};

}  // namespace reference

namespace reference {

constexpr std::array<Code, 16> kLengthCodes = {{{3, 0x05}, {2, 0x03}, {3, 0x01}, {3, 0x06}, {4, 0x0A}, {4, 0x02},
                                                {4, 0x0C}, {5, 0x14}, {5, 0x04}, {5, 0x18}, {5, 0x08}, {6, 0x30},
                                                {6, 0x10}, {6, 0x20}, {7, 0x40}, {7, 0x00}}};
constexpr std::array<unsigned, 16> kExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr std::array<unsigned, 16> kBase = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 14, 22, 38, 70, 134, 262};

std::array<Code, 64> DistanceCodes() {
  const unsigned bits[64] = {2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                             7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
  const unsigned values[64] = {
      0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E, 0x36, 0x16, 0x26, 0x06, 0x3A,
      0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22, 0x42, 0x02, 0x7C, 0x3C, 0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C,
      0x74, 0x34, 0x54, 0x14, 0x64, 0x24, 0x44, 0x04, 0x78, 0x38, 0x58, 0x18, 0x68, 0x28, 0x48, 0x08,
      0xF0, 0x70, 0xB0, 0x30, 0xD0, 0x50, 0x90, 0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00};
  std::array<Code, 64> codes{};
  for (int i = 0; i < 64; ++i) codes[i] = {bits[i], values[i]};
  return codes;
}

std::array<Code, 256> LiteralCodes() {
  const unsigned bits[256] = {
      11, 12, 12, 12, 12, 12, 12, 12, 12, 8,  7,  12, 12, 7,  12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 13, 12, 12, 12, 12, 12,
      4,  10, 8,  12, 10, 12, 10, 8,  7,  7,  8,  9,  7,  6,  7,  8,  7,  6,  7,  7,  7,  7,  8,  7,  7,  8,  8,  12, 11, 7,  9,  11,
      12, 6,  7,  6,  6,  5,  7,  8,  8,  6,  11, 9,  6,  7,  6,  6,  7,  11, 6,  6,  6,  7,  9,  8,  9,  9,  11, 8,  11, 9,  12, 8,
      12, 5,  6,  6,  6,  5,  6,  6,  6,  5,  11, 7,  5,  6,  5,  5,  6,  10, 5,  5,  5,  5,  8,  7,  8,  8,  10, 11, 11, 12, 12, 12,
      13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,
      13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
      12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
      13, 12, 13, 13, 13, 12, 13, 13, 13, 12, 13, 13, 13, 13, 12, 13, 13, 13, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13};
  const unsigned values[256] = {
      0x0490, 0x0FE0, 0x07E0, 0x0BE0, 0x03E0, 0x0DE0, 0x05E0, 0x09E0, 0x01E0, 0x00B8, 0x0062, 0x0EE0, 0x06E0, 0x0022, 0x0AE0, 0x02E0,
      0x0CE0, 0x04E0, 0x08E0, 0x00E0, 0x0F60, 0x0760, 0x0B60, 0x0360, 0x0D60, 0x0560, 0x1240, 0x0960, 0x0160, 0x0E60, 0x0660, 0x0A60,
      0x000F, 0x0250, 0x0038, 0x0260, 0x0050, 0x0C60, 0x0390, 0x00D8, 0x0042, 0x0002, 0x0058, 0x01B0, 0x007C, 0x0029, 0x003C, 0x0098,
      0x005C, 0x0009, 0x001C, 0x006C, 0x002C, 0x004C, 0x0018, 0x000C, 0x0074, 0x00E8, 0x0068, 0x0460, 0x0090, 0x0034, 0x00B0, 0x0710,
      0x0860, 0x0031, 0x0054, 0x0011, 0x0021, 0x0017, 0x0014, 0x00A8, 0x0028, 0x0001, 0x0310, 0x0130, 0x003E, 0x0064, 0x001E, 0x002E,
      0x0024, 0x0510, 0x000E, 0x0036, 0x0016, 0x0044, 0x0030, 0x00C8, 0x01D0, 0x00D0, 0x0110, 0x0048, 0x0610, 0x0150, 0x0060, 0x0088,
      0x0FA0, 0x0007, 0x0026, 0x0006, 0x003A, 0x001B, 0x001A, 0x002A, 0x000A, 0x000B, 0x0210, 0x0004, 0x0013, 0x0032, 0x0003, 0x001D,
      0x0012, 0x0190, 0x000D, 0x0015, 0x0005, 0x0019, 0x0008, 0x0078, 0x00F0, 0x0070, 0x0290, 0x0410, 0x0010, 0x07A0, 0x0BA0, 0x03A0,
      0x0240, 0x1C40, 0x0C40, 0x1440, 0x0440, 0x1840, 0x0840, 0x1040, 0x0040, 0x1F80, 0x0F80, 0x1780, 0x0780, 0x1B80, 0x0B80, 0x1380,
      0x0380, 0x1D80, 0x0D80, 0x1580, 0x0580, 0x1980, 0x0980, 0x1180, 0x0180, 0x1E80, 0x0E80, 0x1680, 0x0680, 0x1A80, 0x0A80, 0x1280,
      0x0280, 0x1C80, 0x0C80, 0x1480, 0x0480, 0x1880, 0x0880, 0x1080, 0x0080, 0x1F00, 0x0F00, 0x1700, 0x0700, 0x1B00, 0x0B00, 0x1300,
      0x0DA0, 0x05A0, 0x09A0, 0x01A0, 0x0EA0, 0x06A0, 0x0AA0, 0x02A0, 0x0CA0, 0x04A0, 0x08A0, 0x00A0, 0x0F20, 0x0720, 0x0B20, 0x0320,
      0x0D20, 0x0520, 0x0920, 0x0120, 0x0E20, 0x0620, 0x0A20, 0x0220, 0x0C20, 0x0420, 0x0820, 0x0020, 0x0FC0, 0x07C0, 0x0BC0, 0x03C0,
      0x0DC0, 0x05C0, 0x09C0, 0x01C0, 0x0EC0, 0x06C0, 0x0AC0, 0x02C0, 0x0CC0, 0x04C0, 0x08C0, 0x00C0, 0x0F40, 0x0740, 0x0B40, 0x0340,
      0x0300, 0x0D40, 0x1D00, 0x0D00, 0x1500, 0x0540, 0x0500, 0x1900, 0x0900, 0x0940, 0x1100, 0x0100, 0x1E00, 0x0E00, 0x0140, 0x1600,
      0x0600, 0x1A00, 0x0E40, 0x0640, 0x0A40, 0x0A00, 0x1200, 0x0200, 0x1C00, 0x0C00, 0x1400, 0x0400, 0x1800, 0x0800, 0x1000, 0x0000};
  std::array<Code, 256> codes{};
  for (int i = 0; i < 256; ++i) codes[i] = {bits[i], values[i]};
  return codes;
}

}  // namespace reference

// Decodes a whole stream and checks the rules of the format on the way.
StreamCheck CheckStream(std::span<const std::uint8_t> stream) {
  using namespace reference;
  static const CodeTable<16> lengthTable(kLengthCodes);
  static const CodeTable<64> distanceTable(DistanceCodes());
  static const CodeTable<256> literalTable(LiteralCodes());
  StreamCheck check;
  if (stream.size() < 5) {
    check.problem = "shorter than 5 bytes";
    return check;
  }
  check.literalMode = stream[0];
  check.dictionaryBits = stream[1];
  if (check.literalMode > 1 || check.dictionaryBits < 4 || check.dictionaryBits > 6) {
    check.problem = "bad header";
    return check;
  }
  const unsigned window = 1u << (check.dictionaryBits + 6);
  BitReader in(stream.subspan(2));
  for (;;) {
    unsigned flag;
    if (!in.Bit(flag)) break;
    if (flag == 0) {
      unsigned byte;
      bool read = check.literalMode == 0 ? in.Bits(8, byte) : in.Symbol(literalTable, byte);
      if (!read) break;
      check.output.push_back(static_cast<std::uint8_t>(byte));
      continue;
    }
    unsigned c, extra;
    if (!in.Symbol(lengthTable, c) || !in.Bits(kExtraBits[c], extra)) break;
    const unsigned length = kBase[c] + extra + 2;
    if (length == 519) {
      check.bytesAfterEnd = in.BytesLeftAfterCurrent();
      check.ok = true;
      return check;
    }
    unsigned prefix, low;
    const unsigned lowBits = length == 2 ? 2 : check.dictionaryBits;
    if (!in.Symbol(distanceTable, prefix) || !in.Bits(lowBits, low)) break;
    const unsigned distance = ((prefix << lowBits) | low) + 1;
    if (length == 2) {
      check.maxShortDistance = std::max(check.maxShortDistance, distance);
      check.shortDistances.push_back(distance);
    } else {
      check.maxDistance = std::max(check.maxDistance, distance);
    }
    if (distance > window) {
      check.problem = "distance beyond the window";
      return check;
    }
    if (distance > check.output.size()) {
      check.problem = "distance before the start of the data";
      return check;
    }
    ++check.matches;
    for (unsigned i = 0; i < length; ++i) check.output.push_back(check.output[check.output.size() - distance]);
  }
  check.problem = "input ended before the end code";
  return check;
}

// ---------------------------------------------------------------------------
// Helpers

struct Decoded {
  std::uint32_t result = 0;
  std::vector<std::uint8_t> output;
};

// Decodes with the setup program's decoder, through the codec's memory
// adapter.
Decoded Explode(std::span<const std::uint8_t> stream) {
  Decoded decoded;
  ExplodeBytes(stream, decoded.output, decoded.result);
  return decoded;
}

// Decodes with setup.exe's 32-bit bit buffer, which the host's explode does
// not use, from one buffer into another.
struct MemoryStreams {
  std::span<const std::uint8_t> input;
  std::size_t at = 0;
  std::vector<std::uint8_t> output;
};

Decoded ExplodeWith32BitBuffer(std::span<const std::uint8_t> stream) {
  MemoryStreams streams{stream};
  auto work = std::make_unique<ExplodeWork>();
  const auto read = [](char* buffer, unsigned* size, void* user) -> unsigned {
    auto* s = static_cast<MemoryStreams*>(user);
    const std::size_t n = std::min<std::size_t>(*size, s->input.size() - s->at);
    if (n != 0) std::memcpy(buffer, s->input.data() + s->at, n);
    s->at += n;
    return static_cast<unsigned>(n);
  };
  const auto write = [](char* buffer, unsigned* size, void* user) {
    auto* s = static_cast<MemoryStreams*>(user);
    s->output.insert(s->output.end(), buffer, buffer + *size);
  };
  Decoded decoded;
  decoded.result = ExplodeWithBitBuffer<std::uint32_t>(read, write, work.get(), &streams);
  decoded.output = std::move(streams.output);
  return decoded;
}

ImplodeChoice Choice(LiteralMode mode, unsigned dictionarySize) { return ImplodeChoice{mode, dictionarySize}; }

// Checks one stream against both decoders and the rules of the format.
void ExpectValidRoundTrip(const std::vector<std::uint8_t>& input, const std::vector<std::uint8_t>& stream,
                          const ImplodeChoice& choice) {
  ASSERT_GE(stream.size(), 5u);
  EXPECT_EQ(stream[0], choice.literals == LiteralMode::Ascii ? 1 : 0);
  EXPECT_EQ(1u << (stream[1] + 6), choice.dictionarySize);
  const StreamCheck check = CheckStream(stream);
  ASSERT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.bytesAfterEnd, input.empty() ? 1u : 0u) << "the stream ends with the byte holding the end code";
  EXPECT_LE(check.maxDistance, choice.dictionarySize);
  EXPECT_LE(check.maxShortDistance, 256u);
  EXPECT_TRUE(check.output == input) << "reference decoder output differs";
  const Decoded decoded = Explode(stream);
  EXPECT_EQ(decoded.result, 0u);
  EXPECT_TRUE(decoded.output == input) << "explode output differs, " << decoded.output.size() << " bytes of "
                                       << input.size();
  const Decoded narrow = ExplodeWith32BitBuffer(stream);
  EXPECT_EQ(narrow.result, 0u);
  EXPECT_TRUE(narrow.output == input) << "the 32-bit bit buffer's output differs, " << narrow.output.size()
                                      << " bytes of " << input.size();
}

constexpr std::array<LiteralMode, 2> kModes = {LiteralMode::Binary, LiteralMode::Ascii};
constexpr std::array<unsigned, 3> kDictionarySizes = {1024, 2048, 4096};

// ---------------------------------------------------------------------------
// Known answers

TEST(ImplodeKnownAnswer, EmptyInputIsHeaderEndCodeAndOnePaddingByte) {
  const std::vector<std::uint8_t> expected = {0x00, 0x06, 0x01, 0xFF, 0x00};
  EXPECT_EQ(ImplodeWith({}, Choice(LiteralMode::Binary, 4096), false), expected);
}

TEST(ImplodeKnownAnswer, EmptyInputStreamIsAcceptedByTheDecoder) {
  const Decoded decoded = Explode(ImplodeWith({}, Choice(LiteralMode::Ascii, 1024), false));
  EXPECT_EQ(decoded.result, 0u);
  EXPECT_TRUE(decoded.output.empty());
}

TEST(ImplodeKnownAnswer, SinglePlainLiteralThenEndCode) {
  // Flag 0, 0x41 from its lowest bit, flag 1, seven 0 bits, eight 1 bits.
  const std::vector<std::uint8_t> expected = {0x00, 0x04, 0x82, 0x02, 0xFE, 0x01};
  EXPECT_EQ(ImplodeWith(BytesOf("A"), Choice(LiteralMode::Binary, 1024), false), expected);
}

TEST(ImplodeKnownAnswer, SingleCodedSpaceUsesItsFourBitCode) {
  // Flag 0, code 0x0F (4 bits), then the end code: 1, 0000000, 11111111.
  const std::vector<std::uint8_t> expected = {0x01, 0x05, 0x3E, 0xE0, 0x1F};
  EXPECT_EQ(ImplodeWith(BytesOf(" "), Choice(LiteralMode::Ascii, 2048), false), expected);
}

TEST(ImplodeKnownAnswer, RunBecomesOneLiteralAndOneMatchAtDistanceOne) {
  const auto stream = ImplodeWith(BytesOf("AAAAAAAAAAA"), Choice(LiteralMode::Binary, 4096), false);
  const StreamCheck check = CheckStream(stream);
  ASSERT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.matches, 1u);
  EXPECT_EQ(check.maxDistance, 1u);
  // Literal 0x41 (9 bits), match: flag, code 8 + 1 extra bit (0), prefix 0 (2
  // bits), six low bits 0; end code.
  const std::vector<std::uint8_t> expected = {0x00, 0x06, 0x82, 0x12, 0x03, 0x01, 0xFF};
  EXPECT_EQ(stream, expected);
}

// ---------------------------------------------------------------------------
// Round trips

TEST(ImplodeRoundTrip, TinyInputsInEveryModeAndWindow) {
  for (std::size_t size : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 64, 255, 256, 257, 1000}) {
    for (LiteralMode mode : kModes) {
      for (unsigned window : kDictionarySizes) {
        SCOPED_TRACE(testing::Message() << "size " << size << " mode " << int(mode) << " window " << window);
        auto input = SampleText(size, static_cast<std::uint32_t>(size));
        ExpectValidRoundTrip(input, ImplodeWith(input, Choice(mode, window), false), Choice(mode, window));
      }
    }
  }
}

TEST(ImplodeRoundTrip, SizesAroundTheDecoderBlockInEveryModeAndWindow) {
  for (std::size_t size : {4095, 4096, 4097, 8191, 8192, 8193, 12289}) {
    for (LiteralMode mode : kModes) {
      for (unsigned window : kDictionarySizes) {
        SCOPED_TRACE(testing::Message() << "size " << size << " mode " << int(mode) << " window " << window);
        auto input = SampleBinary(size, 3);
        ExpectValidRoundTrip(input, ImplodeWith(input, Choice(mode, window), false), Choice(mode, window));
      }
    }
  }
}

TEST(ImplodeRoundTrip, TextBinaryRandomAndRepetitiveDataInEveryModeAndWindow) {
  const std::vector<std::vector<std::uint8_t>> inputs = {SampleText(150000, 1), SampleBinary(150000, 2),
                                                         RandomBytes(40000, 3), RepetitiveBytes(150000)};
  for (const auto& input : inputs) {
    for (LiteralMode mode : kModes) {
      for (unsigned window : kDictionarySizes) {
        SCOPED_TRACE(testing::Message() << "input " << (&input - inputs.data()) << " mode " << int(mode)
                                        << " window " << window);
        ExpectValidRoundTrip(input, ImplodeWith(input, Choice(mode, window), false), Choice(mode, window));
      }
    }
  }
}

TEST(ImplodeRoundTrip, BestLevelStreamsDecode) {
  const std::vector<std::vector<std::uint8_t>> inputs = {SampleText(100000, 4), SampleBinary(100000, 5),
                                                         RepetitiveBytes(50000)};
  for (const auto& input : inputs) {
    for (unsigned window : kDictionarySizes) {
      ExpectValidRoundTrip(input, ImplodeWith(input, Choice(LiteralMode::Ascii, window), true),
                           Choice(LiteralMode::Ascii, window));
    }
  }
}

TEST(ImplodeRoundTrip, SeveralMebibytesOfMixedData) {
  std::vector<std::uint8_t> input = SampleText(1 << 20, 6);
  for (const auto& part : {SampleBinary(1 << 20, 7), RepetitiveBytes(1 << 20), RandomBytes(256 << 10, 8)})
    input.insert(input.end(), part.begin(), part.end());
  ExpectValidRoundTrip(input, ImplodeWith(input, Choice(LiteralMode::Binary, 4096), false),
                       Choice(LiteralMode::Binary, 4096));
}

TEST(ImplodeRoundTrip, AutomaticChoiceRoundTripsAndReportsWhatItUsed) {
  for (const auto& input : {SampleText(70000, 9), RandomBytes(70000, 10)}) {
    ImplodeChoice chosen;
    const auto stream = Implode(input, ImplodeOptions{}, chosen);
    ExpectValidRoundTrip(input, stream, chosen);
  }
}

// ---------------------------------------------------------------------------
// Rules of the format

TEST(ImplodeRules, MatchesNeverReachBeyondTheWindow) {
  // A block of random bytes repeated 4096 bytes later: the repeat is in reach
  // of the 4096 window only.
  auto block = RandomBytes(4096, 11);
  std::vector<std::uint8_t> input = block;
  input.insert(input.end(), block.begin(), block.end());
  for (unsigned window : kDictionarySizes) {
    const auto stream = ImplodeWith(input, Choice(LiteralMode::Binary, window), false);
    const StreamCheck check = CheckStream(stream);
    ASSERT_TRUE(check.ok) << check.problem;
    EXPECT_LE(check.maxDistance, window);
    if (window == 4096) {
      EXPECT_EQ(check.maxDistance, 4096u);
      EXPECT_LT(stream.size(), 4096u + 4096u / 8 + 64);
    } else {
      EXPECT_GT(stream.size(), 8192u);
    }
  }
}

TEST(ImplodeRules, TwoByteMatchesStayWithin256Bytes) {
  // Pairs that recur only at distances of 200 and 300 bytes.
  std::vector<std::uint8_t> input = RandomBytes(6000, 12);
  for (std::size_t i = 300; i + 2 < input.size(); i += 97) {
    input[i] = input[i - 300];
    input[i + 1] = input[i - 299];
    input[i - 100] = input[i - 300];
    input[i - 99] = input[i - 299];
  }
  for (unsigned window : kDictionarySizes) {
    const auto stream = ImplodeWith(input, Choice(LiteralMode::Binary, window), true);
    const StreamCheck check = CheckStream(stream);
    ASSERT_TRUE(check.ok) << check.problem;
    EXPECT_LE(check.maxShortDistance, 256u);
    EXPECT_TRUE(check.output == input);
  }
}

TEST(ImplodeRules, NoReadPastTheEndWhenTheLastBytesHaveManyShortMatches) {
  // Sixteen zero bytes, 40 copies of "abcde" each followed by another byte,
  // and "abcde" with a zero byte to end: the 5-byte matches of the last
  // bytes outnumber the chain walk, and eight zeros are what an 8-byte
  // comparison there would meet. The input is exactly as long as its data.
  std::vector<std::uint8_t> input(16, 0);
  for (std::uint8_t i = 1; i <= 40; ++i) input.insert(input.end(), {'a', 'b', 'c', 'd', 'e', i});
  input.insert(input.end(), {'a', 'b', 'c', 'd', 'e', 0});
  input.shrink_to_fit();
  const auto check = CheckStream(ImplodeWith(input, Choice(LiteralMode::Binary, 4096), false));
  ASSERT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.output, input);
}

TEST(ImplodeRules, TwoByteMatchesAtTheEdgesOfTheirReach) {
  // Random bytes below 250 with the pair 251 252 placed twice, `distance`
  // bytes apart: a length-2 match up to 256 back, never further, and a pair
  // seen a multiple of 64 KiB plus a few bytes back must not pass for a near
  // one (the round trip fails if it does).
  struct Case {
    unsigned distance;
    bool pairMatch;  // a length-2 match at that distance is expected
  };
  const Case cases[] = {{3, true},           {255, true},     {256, true},           {257, false},
                        {65536 + 100, false}, {65536, false}, {2 * 65536 + 7, false}};
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << "distance " << test.distance);
    std::vector<std::uint8_t> input = RandomBytes(test.distance + 4000, 31);
    for (auto& byte : input) byte = static_cast<std::uint8_t>(byte % 250);
    const std::size_t first = 2000;
    input[first] = 251;
    input[first + 1] = 252;
    input[first + test.distance] = 251;
    input[first + test.distance + 1] = 252;
    const auto stream = ImplodeWith(input, Choice(LiteralMode::Binary, 4096), false);
    const StreamCheck check = CheckStream(stream);
    ASSERT_TRUE(check.ok) << check.problem;
    EXPECT_TRUE(check.output == input);
    EXPECT_LE(check.maxShortDistance, 256u);
    const bool found = std::find(check.shortDistances.begin(), check.shortDistances.end(), test.distance) !=
                       check.shortDistances.end();
    EXPECT_EQ(found, test.pairMatch);
  }
}

TEST(ImplodeRules, LongRunsUseTheLongestLength) {
  const std::vector<std::uint8_t> input(518 * 40 + 1, 0x5A);
  const auto stream = ImplodeWith(input, Choice(LiteralMode::Binary, 4096), false);
  const StreamCheck check = CheckStream(stream);
  ASSERT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.matches, 40u);
  EXPECT_TRUE(check.output == input);
}

TEST(ImplodeRules, RandomDataGrowsByAtMostTheLiteralFlags) {
  const auto input = RandomBytes(100000, 13);
  const auto stream = ImplodeWith(input, Choice(LiteralMode::Binary, 4096), false);
  EXPECT_LE(stream.size(), input.size() * 9 / 8 + 5);
}

TEST(ImplodeRules, HighlyRepetitiveDataShrinksToAFewBytesPerLongMatch) {
  const auto input = RepetitiveBytes(1 << 20);
  const auto stream = ImplodeWith(input, Choice(LiteralMode::Ascii, 4096), false);
  EXPECT_LT(stream.size(), input.size() / 100);
}

// ---------------------------------------------------------------------------
// Compression against the smallest stream the format allows

// The size of the smallest stream for this input, mode and window: a
// shortest path over every literal and every match the format can express
// (all lengths at every distance the window allows), priced with the code
// tables above. Slow (window x input), for small inputs only.
std::size_t SmallestStreamSize(const std::vector<std::uint8_t>& input, const ImplodeChoice& choice) {
  using namespace reference;
  static const std::array<Code, 64> distanceCodes = DistanceCodes();
  static const std::array<Code, 256> literalCodes = LiteralCodes();
  const unsigned lowBits = choice.dictionarySize == 1024 ? 4 : choice.dictionarySize == 2048 ? 5 : 6;
  auto lengthPrice = [](unsigned length) {
    unsigned c = 15;
    while (kBase[c] > length - 2) --c;
    return 1 + kLengthCodes[c].bits + kExtraBits[c];
  };
  auto distancePrice = [&](unsigned length, unsigned distance) {
    const unsigned low = length == 2 ? 2 : lowBits;
    return distanceCodes[(distance - 1) >> low].bits + low;
  };
  const std::size_t n = input.size();
  std::vector<std::uint64_t> price(n + 1, UINT64_MAX);
  price[0] = 0;
  for (std::size_t pos = 0; pos < n; ++pos) {
    const std::uint8_t byte = input[pos];
    const unsigned literal = 1 + (choice.literals == LiteralMode::Ascii ? literalCodes[byte].bits : 8);
    price[pos + 1] = std::min(price[pos + 1], price[pos] + literal);
    const std::size_t limit = std::min<std::size_t>(518, n - pos);
    const std::size_t farthest = std::min<std::size_t>(pos, choice.dictionarySize);
    for (std::size_t distance = 1; distance <= farthest; ++distance) {
      std::size_t length = 0;
      while (length < limit && input[pos + length] == input[pos - distance + length]) ++length;
      for (std::size_t l = 2; l <= length; ++l) {
        if (l == 2 && distance > 256) continue;
        const std::uint64_t p = price[pos] + lengthPrice(static_cast<unsigned>(l)) +
                                distancePrice(static_cast<unsigned>(l), static_cast<unsigned>(distance));
        price[pos + l] = std::min(price[pos + l], p);
      }
    }
  }
  const std::uint64_t bits = price[n] + 1 + kLengthCodes[15].bits + 8;  // and the end code
  return std::max<std::size_t>(5, 2 + (bits + 7) / 8);
}

struct OptimalityCase {
  const char* name;
  std::vector<std::uint8_t> input;
  ImplodeChoice choice;
};

std::vector<OptimalityCase> OptimalityCases() {
  auto mixed = SampleText(6000, 40);
  const auto binary = SampleBinary(6000, 41);
  mixed.insert(mixed.end(), binary.begin(), binary.end());
  const auto text = SampleText(6000, 42);
  mixed.insert(mixed.end(), text.begin(), text.end());  // repeats the words across the binary part
  return {{"text, coded", SampleText(12000, 43), Choice(LiteralMode::Ascii, 4096)},
          {"text, small window", SampleText(12000, 44), Choice(LiteralMode::Ascii, 1024)},
          {"binary, plain", SampleBinary(12000, 45), Choice(LiteralMode::Binary, 4096)},
          {"mixed, plain", mixed, Choice(LiteralMode::Binary, 2048)}};
}

TEST(ImplodeOptimality, BestLevelWritesTheSmallestPossibleStream) {
  for (const auto& test : OptimalityCases()) {
    const std::size_t smallest = SmallestStreamSize(test.input, test.choice);
    const auto stream = ImplodeWith(test.input, test.choice, true);
    EXPECT_EQ(stream.size(), smallest) << test.name;
  }
}

TEST(ImplodeOptimality, DefaultLevelStaysWithinHalfAPercentOfTheSmallestStream) {
  for (const auto& test : OptimalityCases()) {
    const std::size_t smallest = SmallestStreamSize(test.input, test.choice);
    const auto stream = ImplodeWith(test.input, test.choice, false);
    EXPECT_LE(stream.size(), smallest + smallest / 200) << test.name << ", smallest " << smallest;
    EXPECT_GE(stream.size(), smallest) << test.name << ": smaller than the smallest possible stream";
  }
}

// ---------------------------------------------------------------------------
// Options and automatic choices

TEST(ImplodeOptionsTest, FixedOptionsAreUsedAsGiven) {
  const auto input = SampleText(5000, 14);
  for (LiteralMode mode : kModes) {
    for (unsigned window : kDictionarySizes) {
      const ImplodeChoice chosen = ChooseImplodeSettings(input, ImplodeOptions{mode, window, false});
      EXPECT_EQ(chosen.literals, mode);
      EXPECT_EQ(chosen.dictionarySize, window);
    }
  }
}

TEST(ImplodeOptionsTest, AutomaticLiteralsPickCodedLiteralsForText) {
  const ImplodeChoice chosen = ChooseImplodeSettings(SampleText(50000, 15), ImplodeOptions{LiteralMode::Auto, 4096});
  EXPECT_EQ(chosen.literals, LiteralMode::Ascii);
}

TEST(ImplodeOptionsTest, AutomaticLiteralsPickPlainLiteralsForRandomBytes) {
  const ImplodeChoice chosen = ChooseImplodeSettings(RandomBytes(50000, 16), ImplodeOptions{LiteralMode::Auto, 0});
  EXPECT_EQ(chosen.literals, LiteralMode::Binary);
}

TEST(ImplodeOptionsTest, AutomaticChoiceOnSmallInputsBeatsTheOtherLiteralModeAndWindows) {
  const auto input = SampleBinary(30000, 17);
  ImplodeChoice chosen;
  const std::size_t automatic = Implode(input, ImplodeOptions{}, chosen).size();
  for (LiteralMode mode : kModes) EXPECT_LE(automatic, ImplodeWith(input, Choice(mode, 4096), false).size());
  for (unsigned window : kDictionarySizes)
    EXPECT_LE(automatic, ImplodeWith(input, Choice(chosen.literals, window), false).size());
}

TEST(ImplodeOptionsTest, AutomaticWindowPrefersASmallWindowWhenAllMatchesAreNear) {
  // Matches only a few bytes back: the 1024 window spends 2 fewer low bits on
  // each of them.
  std::vector<std::uint8_t> input = RandomBytes(20000, 23);
  for (std::size_t i = 16; i < input.size(); i += 8) std::memcpy(&input[i], &input[i - 16], 4);
  const ImplodeChoice chosen = ChooseImplodeSettings(input, ImplodeOptions{LiteralMode::Binary, 0});
  EXPECT_EQ(chosen.dictionarySize, 1024u);
}

TEST(ImplodeOptionsTest, AutomaticChoiceWritesTheSameStreamAsItsFixedChoice) {
  // Small inputs are tried whole and the winning trial is the stream.
  for (const auto& input : {SampleText(30000, 24), SampleBinary(30000, 25), RandomBytes(3000, 26),
                            std::vector<std::uint8_t>{}}) {
    for (const ImplodeOptions& options : {ImplodeOptions{}, ImplodeOptions{LiteralMode::Auto, 2048},
                                          ImplodeOptions{LiteralMode::Ascii, 0}, ImplodeOptions{LiteralMode::Auto, 0, true}}) {
      ImplodeChoice chosen;
      const auto stream = Implode(input, options, chosen);
      EXPECT_EQ(stream, ImplodeWith(input, chosen, options.best));
    }
  }
}

TEST(ImplodeOptionsTest, LargeInputsAreJudgedOnSamplesAndStillRoundTrip) {
  const auto input = SampleText(600000, 18);
  ImplodeChoice chosen;
  const auto stream = Implode(input, ImplodeOptions{}, chosen);
  EXPECT_EQ(chosen.literals, LiteralMode::Ascii);
  ExpectValidRoundTrip(input, stream, chosen);
}

TEST(ImplodeOptionsTest, BestIsNoLargerThanTheDefault) {
  const auto input = SampleText(200000, 19);
  const auto normal = ImplodeWith(input, Choice(LiteralMode::Ascii, 4096), false);
  const auto best = ImplodeWith(input, Choice(LiteralMode::Ascii, 4096), true);
  EXPECT_LE(best.size(), normal.size());
}

TEST(ImplodeOptionsTest, UnknownDictionarySizeIsRefused) {
  for (unsigned size : {1u, 512u, 1000u, 8192u})
    EXPECT_THROW(Implode(BytesOf("abc"), ImplodeOptions{LiteralMode::Binary, size}), std::invalid_argument);
}

}  // namespace
