// The explode decoder against streams written bit by bit in the tests, so
// that every expected byte can be checked by hand against the format's code
// tables.
#include "explode/explode.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Writes a stream: the two header bytes, then fields least significant bit
// first, as the format stores them. Prefix codes are given as the code value
// of the format's tables and its bit length.
class StreamWriter {
 public:
  StreamWriter(std::uint8_t literalMode, std::uint8_t dictionaryCode)
      : bytes_{literalMode, dictionaryCode} {}

  StreamWriter& Bits(unsigned value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      if (bitCount_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<std::uint8_t>(((value >> i) & 1) << (bitCount_ % 8));
      ++bitCount_;
    }
    return *this;
  }
  // Flag 0 and the 8 bits of the byte.
  StreamWriter& Literal(std::uint8_t value) { return Bits(0, 1).Bits(value, 8); }
  // Flag 0 and a code of the coded-literal table.
  StreamWriter& CodedLiteral(unsigned code, unsigned bits) { return Bits(0, 1).Bits(code, bits); }
  // Flag 1, length code 15 (7 bits, value 00), extra bits 0xFF.
  StreamWriter& EndCode() { return Bits(1, 1).Bits(0x00, 7).Bits(0xFF, 8); }
  // Zero bits up to the next byte boundary, then `count` zero bytes.
  StreamWriter& ZeroBytes(unsigned count) {
    while (bitCount_ % 8 != 0) Bits(0, 1);
    for (unsigned i = 0; i < count; ++i) Bits(0, 8);
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  unsigned bitCount_ = 0;
};

// Serves a stream in reads of at most `chunk` bytes (the first read always
// takes as much as the decoder asks for, to get past the header) and records
// every callback as "R<count>" or "W<size>".
struct Session {
  std::vector<std::uint8_t> input;
  std::size_t readAt = 0;
  unsigned chunk = kExplodeInputSize;
  bool firstReadWhole = true;
  std::vector<std::uint8_t> output;
  std::vector<unsigned> writeSizes;
  std::vector<unsigned> readSizesAsked;
  std::string trace;
};

unsigned ReadChunk(char* buffer, unsigned* size, void* userParameter) {
  auto* s = static_cast<Session*>(userParameter);
  s->readSizesAsked.push_back(*size);
  std::size_t n = s->input.size() - s->readAt;
  if (n > *size) n = *size;
  if (n > s->chunk && !(s->firstReadWhole && s->readAt == 0)) n = s->chunk;
  if (n != 0) std::memcpy(buffer, s->input.data() + s->readAt, n);
  s->readAt += n;
  *size = 0;  // the decoder must not rely on what the callback leaves here
  s->trace += (s->trace.empty() ? "R" : " R") + std::to_string(n);
  return static_cast<unsigned>(n);
}

void WriteBlock(char* buffer, unsigned* size, void* userParameter) {
  auto* s = static_cast<Session*>(userParameter);
  s->output.insert(s->output.end(), buffer, buffer + *size);
  s->writeSizes.push_back(*size);
  s->trace += " W" + std::to_string(*size);
  *size = 1;  // ignored by the decoder
}

struct Decoded {
  std::uint32_t result;
  std::vector<std::uint8_t> output;
  std::vector<unsigned> writeSizes;
  std::vector<unsigned> readSizesAsked;
  std::string trace;
};

typedef std::uint32_t (*ExplodeFunction)(ExplodeReadCallback, ExplodeWriteCallback, void*, void*);

Decoded ExplodeWith(ExplodeFunction decoder, const std::vector<std::uint8_t>& stream,
                    unsigned chunk, bool firstReadWhole) {
  Session session;
  session.input = stream;
  session.chunk = chunk;
  session.firstReadWhole = firstReadWhole;
  auto work = std::make_unique<ExplodeWork>();
  std::memset(work.get(), 0xA5, sizeof(ExplodeWork));  // it need not be initialised
  const std::uint32_t result = decoder(ReadChunk, WriteBlock, work.get(), &session);
  return {result, session.output, session.writeSizes, session.readSizesAsked, session.trace};
}

// Decodes with the 64-bit bit buffer (explode's on this host) and with the
// 32-bit one (setup.exe's), which must agree in result, output and every
// callback call; gives the 64-bit decoder's view.
Decoded Explode(const std::vector<std::uint8_t>& stream, unsigned chunk = kExplodeInputSize,
                bool firstReadWhole = true) {
  const Decoded wide = ExplodeWith(ExplodeWithBitBuffer<std::uint64_t>, stream, chunk, firstReadWhole);
  const Decoded narrow = ExplodeWith(ExplodeWithBitBuffer<std::uint32_t>, stream, chunk, firstReadWhole);
  EXPECT_EQ(narrow.result, wide.result) << "the 32-bit bit buffer, reads of " << chunk;
  EXPECT_EQ(narrow.output, wide.output) << "the 32-bit bit buffer, reads of " << chunk;
  EXPECT_EQ(narrow.trace, wide.trace) << "the 32-bit bit buffer, reads of " << chunk;
  EXPECT_EQ(narrow.readSizesAsked, wide.readSizesAsked) << "the 32-bit bit buffer, reads of " << chunk;
  return wide;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> v;
  for (int x : values) v.push_back(static_cast<std::uint8_t>(x));
  return v;
}

std::vector<std::uint8_t> Repeat(std::uint8_t value, std::size_t count) {
  return std::vector<std::uint8_t>(count, value);
}

// `count` plain literals i * 7 (mod 256), then the end code and, unless
// told otherwise, a spare zero byte.
std::vector<std::uint8_t> PlainLiterals(std::size_t count, bool spareByte = true) {
  StreamWriter w(0, 6);
  for (std::size_t i = 0; i < count; ++i) w.Literal(static_cast<std::uint8_t>(i * 7));
  w.EndCode();
  if (spareByte) w.ZeroBytes(1);
  return w.bytes();
}

// The length codes of the format: bit length, code value, extra bits, base.
struct LengthCode {
  unsigned bits, code, extra, base;
};
constexpr LengthCode kLengthCodeTable[16] = {
    {3, 0x05, 0, 0},  {2, 0x03, 0, 1},  {3, 0x01, 0, 2},  {3, 0x06, 0, 3},
    {4, 0x0A, 0, 4},  {4, 0x02, 0, 5},  {4, 0x0C, 0, 6},  {5, 0x14, 0, 7},
    {5, 0x04, 1, 8},  {5, 0x18, 2, 10}, {5, 0x08, 3, 14}, {6, 0x30, 4, 22},
    {6, 0x10, 5, 38}, {6, 0x20, 6, 70}, {7, 0x40, 7, 134}, {7, 0x00, 8, 262}};

// Writes a match of `length` (3 to 518) at `distance` with 6 low distance
// bits, for distance prefixes 0, 1 and 63 (distances 1-128 and 4033-4096).
void WriteMatch(StreamWriter& w, unsigned length, unsigned distance) {
  unsigned c = 15;
  while (kLengthCodeTable[c].base + 2 > length) --c;
  const LengthCode& code = kLengthCodeTable[c];
  w.Bits(1, 1).Bits(code.code, code.bits).Bits(length - 2 - code.base, code.extra);
  const unsigned prefix = (distance - 1) >> 6;
  if (prefix == 0) {
    w.Bits(0x03, 2);
  } else if (prefix == 1) {
    w.Bits(0x0D, 4);
  } else {
    ASSERT_EQ(prefix, 63u);
    w.Bits(0x00, 8);
  }
  w.Bits((distance - 1) & 0x3F, 6);
}

// The output of `literals` followed by a match, copied byte after byte from
// a history of zeros.
std::vector<std::uint8_t> ExpectedAfterMatch(const std::vector<std::uint8_t>& literals,
                                             unsigned length, unsigned distance) {
  std::vector<std::uint8_t> all(4096, 0);
  all.insert(all.end(), literals.begin(), literals.end());
  for (unsigned i = 0; i < length; ++i) all.push_back(all[all.size() - distance]);
  return std::vector<std::uint8_t>(all.begin() + 4096, all.end());
}

// ---- Known answers

TEST(ExplodeKnownAnswer, SevenByteStreamGivesElevenLettersA) {
  // 00 04        plain literals, dictionary code 4
  // 82           0 (literal) 1000001 ... : 0x41 begins, least significant bit first
  // 12           0 (last bit of 0x41) 1 (match) 00100 (length code 8 = 04) 0 (extra: length 10)
  // 43           11 (distance prefix 0 = 03) 0000 (4 low bits: distance 1) 1 (match) 0
  // C0           000000 (length code 15 = 00, 7 bits in all) 11
  // 3F           111111 (extra bits 0xFF: the end code) 00
  const Decoded d = Explode(Bytes({0x00, 0x04, 0x82, 0x12, 0x43, 0xC0, 0x3F}));
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.output, Repeat('A', 11));
  EXPECT_EQ(d.trace, "R7 R0 W11");
}

TEST(ExplodeKnownAnswer, TheBitWriterProducesTheSameSevenBytes) {
  StreamWriter w(0, 4);
  w.Literal('A').Bits(1, 1).Bits(0x04, 5).Bits(0, 1).Bits(0x03, 2).Bits(0, 4).EndCode();
  EXPECT_EQ(w.bytes(), Bytes({0x00, 0x04, 0x82, 0x12, 0x43, 0xC0, 0x3F}));
}

// ---- Header

TEST(ExplodeHeader, AFirstReadOfFourBytesIsTooShortEvenForACompleteStream) {
  // Mode 0, dictionary 6, end code 01 FF: complete, but only 4 bytes.
  const Decoded d = Explode(Bytes({0x00, 0x06, 0x01, 0xFF}));
  EXPECT_EQ(d.result, kExplodeShortHeader);
  EXPECT_EQ(d.trace, "R4");
}

TEST(ExplodeHeader, OnlyTheFirstReadCountsForTheHeaderCheck) {
  const std::vector<std::uint8_t> stream = Bytes({0x00, 0x06, 0x01, 0xFF, 0x00, 0x00});
  const Decoded d = Explode(stream, 4, false);
  EXPECT_EQ(d.result, kExplodeShortHeader);
  EXPECT_EQ(d.trace, "R4");
}

TEST(ExplodeHeader, FiveBytesAreTheShortestAcceptedStream) {
  const Decoded d = Explode(Bytes({0x00, 0x06, 0x01, 0xFF, 0x00}));
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_TRUE(d.output.empty());
}

TEST(ExplodeHeader, EmptyInputIsAShortHeader) {
  EXPECT_EQ(Explode({}).result, kExplodeShortHeader);
}

struct HeaderCase {
  int literalMode;
  int dictionaryCode;
  std::uint32_t expected;
};

class ExplodeHeaderBytes : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ExplodeHeaderBytes, AreCheckedDictionaryFirstAfterOneReadAndBeforeAnyWrite) {
  const HeaderCase c = GetParam();
  const Decoded d = Explode(Bytes({c.literalMode, c.dictionaryCode, 0x01, 0xFF, 0x00}));
  EXPECT_EQ(d.result, c.expected);
  if (c.expected == kExplodeOk) {
    EXPECT_EQ(d.trace, "R5 W0");
  } else {
    EXPECT_EQ(d.trace, "R5");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExplodeHeaderBytes,
    ::testing::Values(HeaderCase{2, 7, kExplodeBadDictionary},  // both bad: dictionary wins
                      HeaderCase{0, 3, kExplodeBadDictionary},
                      HeaderCase{1, 7, kExplodeBadDictionary},
                      HeaderCase{0, 0, kExplodeBadDictionary},
                      HeaderCase{0xFF, 0xFF, kExplodeBadDictionary},
                      HeaderCase{2, 4, kExplodeBadLiteralMode},
                      HeaderCase{0xFF, 6, kExplodeBadLiteralMode},
                      HeaderCase{0, 4, kExplodeOk}, HeaderCase{0, 5, kExplodeOk},
                      HeaderCase{0, 6, kExplodeOk}, HeaderCase{1, 4, kExplodeOk},
                      HeaderCase{1, 6, kExplodeOk}));

// ---- Output blocks

TEST(ExplodeOutput, EndCodeAsFirstTokenWritesOnceWithZeroBytes) {
  const Decoded d = Explode(StreamWriter(0, 6).EndCode().ZeroBytes(1).bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.writeSizes, std::vector<unsigned>{0});
}

TEST(ExplodeOutput, ExactlyOneBlockIsFollowedByAFinalWriteOfZeroBytes) {
  const Decoded d = Explode(PlainLiterals(4096));
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.writeSizes, (std::vector<unsigned>{4096, 0}));
}

TEST(ExplodeOutput, TenThousandBytesLeaveInTwoBlocksAndAFinalPart) {
  const Decoded d = Explode(PlainLiterals(10000));
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.writeSizes, (std::vector<unsigned>{4096, 4096, 1808}));
  ASSERT_EQ(d.output.size(), 10000u);
  for (std::size_t i = 0; i < d.output.size(); ++i) {
    ASSERT_EQ(d.output[i], static_cast<std::uint8_t>(i * 7)) << "at " << i;
  }
}

TEST(ExplodeOutput, ReadsAndWritesInterleaveInStreamOrder) {
  // 10,000 literals of 9 bits and the end code are 90,016 bits: 11,252 bytes
  // after the header, 11,254 in all. Reading byte 2048k of the stream (bit
  // 16384k - 16) is first needed by literal 1817 (k = 1), 3638, 5458, 7279,
  // 9099; the blocks leave after literals 4095 and 8191. The end code's extra
  // bits end in the last byte, and their look-ahead asks for one more read.
  const std::vector<std::uint8_t> stream = PlainLiterals(10000, false);
  ASSERT_EQ(stream.size(), 11254u);
  const Decoded d = Explode(stream);
  EXPECT_EQ(d.trace, "R2048 R2048 R2048 W4096 R2048 R2048 W4096 R1014 R0 W1808");
}

TEST(ExplodeOutput, EveryReadIsAskedFor2048Bytes) {
  const Decoded d = Explode(PlainLiterals(10000), 100, false);
  EXPECT_EQ(d.result, kExplodeOk);
  ASSERT_FALSE(d.readSizesAsked.empty());
  for (unsigned size : d.readSizesAsked) EXPECT_EQ(size, kExplodeInputSize);
}

TEST(ExplodeOutput, ResultAndOutputDoNotDependOnHowReadsSplitTheInput) {
  const std::vector<std::uint8_t> stream = PlainLiterals(9000);
  const Decoded whole = Explode(stream);
  for (unsigned chunk : {1u, 3u, 7u, 8u, 9u, 1000u}) {
    const Decoded split = Explode(stream, chunk);
    EXPECT_EQ(split.result, whole.result) << "chunk " << chunk;
    EXPECT_EQ(split.output, whole.output) << "chunk " << chunk;
    EXPECT_EQ(split.writeSizes, whole.writeSizes) << "chunk " << chunk;
  }
}

TEST(ExplodeOutput, BufferedAndByteByByteReadsDecodeMixedTokensAlike) {
  // Long enough that most tokens are decoded from a full input buffer, while
  // one-byte reads decode every token field by field.
  StreamWriter w(1, 5);
  std::vector<std::uint8_t> expected;
  for (int round = 0; round < 400; ++round) {
    w.CodedLiteral(0x0490, 11).CodedLiteral(0x0240, 13).CodedLiteral(0x0000, 13);
    w.CodedLiteral(0x01B0, 9).CodedLiteral(0x001B, 5);
    w.Bits(1, 1).Bits(0x0A, 4).Bits(0x0D, 4).Bits(4, 5);  // length 6, prefix 1: distance 37
    w.Bits(1, 1).Bits(0x05, 3).Bits(0x03, 2).Bits(1, 2);  // length 2, distance 2
    for (std::uint8_t b : {0x00, 0x80, 0xFF, 0x2B, 0x65}) expected.push_back(b);
    for (int i = 0; i < 6; ++i) {
      const std::size_t at = expected.size();
      expected.push_back(at >= 37 ? expected[at - 37] : 0);
    }
    for (int i = 0; i < 2; ++i) expected.push_back(expected[expected.size() - 2]);
  }
  const std::vector<std::uint8_t> stream = w.EndCode().ZeroBytes(1).bytes();
  const Decoded whole = Explode(stream);
  const Decoded bytewise = Explode(stream, 1);
  EXPECT_EQ(whole.result, kExplodeOk);
  EXPECT_EQ(whole.output, expected);
  EXPECT_EQ(bytewise.result, kExplodeOk);
  EXPECT_EQ(bytewise.output, expected);
}

TEST(ExplodeOutput, PlainLiteralRunsOfEveryLengthBetweenMatchesDecodeAlikeWhateverTheReads) {
  // Runs of 0 to 5 plain literals between matches of 3 to 518 bytes, over
  // many input blocks: whole, one-byte and seven-byte reads give the same.
  StreamWriter w(0, 6);
  std::vector<std::uint8_t> expected;
  for (unsigned round = 0; round < 3000; ++round) {
    for (unsigned i = 0; i < round % 6; ++i) {
      const auto b = static_cast<std::uint8_t>(round * 31 + i * 7);
      w.Literal(b);
      expected.push_back(b);
    }
    const unsigned length = 3 + (round * 37) % (round % 7 == 0 ? 516 : 20);
    const unsigned distance = 1 + (round * 13) % 128;
    WriteMatch(w, length, distance);
    for (unsigned i = 0; i < length; ++i) {
      const std::size_t at = expected.size();
      expected.push_back(at >= distance ? expected[at - distance] : 0);
    }
  }
  const std::vector<std::uint8_t> stream = w.EndCode().ZeroBytes(1).bytes();
  for (unsigned chunk : {kExplodeInputSize, 1u, 7u}) {
    const Decoded decoded = Explode(stream, chunk);
    EXPECT_EQ(decoded.result, kExplodeOk) << "chunk " << chunk;
    EXPECT_EQ(decoded.output, expected) << "chunk " << chunk;
  }
}

// ---- Matches

TEST(ExplodeMatch, DistanceOneRepeatsTheLastByte) {
  for (std::uint8_t dictionaryCode : {4, 5, 6}) {
    StreamWriter w(0, dictionaryCode);
    w.Literal(0x41);
    w.Bits(1, 1).Bits(0x04, 5).Bits(0, 1);     // length code 8, extra 0: length 10
    w.Bits(0x03, 2).Bits(0, dictionaryCode);  // prefix 0, low bits 0: distance 1
    const Decoded d = Explode(w.EndCode().ZeroBytes(1).bytes());
    EXPECT_EQ(d.result, kExplodeOk);
    EXPECT_EQ(d.output, Repeat(0x41, 11)) << "dictionary code " << int{dictionaryCode};
  }
}

TEST(ExplodeMatch, LengthTwoTakesTwoLowDistanceBitsWhateverTheDictionary) {
  StreamWriter w(0, 6);
  for (char c : std::string("ABCDE")) w.Literal(static_cast<std::uint8_t>(c));
  w.Bits(1, 1).Bits(0x05, 3);  // length code 0: length 2
  w.Bits(0x03, 2).Bits(3, 2);  // prefix 0, low bits 3: distance 4
  w.Literal('Z');
  const Decoded d = Explode(w.EndCode().ZeroBytes(1).bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.output, Bytes({'A', 'B', 'C', 'D', 'E', 'B', 'C', 'Z'}));
}

TEST(ExplodeMatch, LengthTwoReachesAtMost256BytesBack) {
  StreamWriter w(0, 4);
  for (unsigned i = 0; i < 256; ++i) w.Literal(static_cast<std::uint8_t>(i));
  w.Bits(1, 1).Bits(0x05, 3);     // length 2
  w.Bits(0x00, 8).Bits(3, 2);     // prefix 63 (8 bits, 00), low bits 3: 63 * 4 + 3 + 1 = 256
  const Decoded d = Explode(w.EndCode().ZeroBytes(1).bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  ASSERT_EQ(d.output.size(), 258u);
  EXPECT_EQ(d.output[256], 0);
  EXPECT_EQ(d.output[257], 1);
}

TEST(ExplodeMatch, LongestMatchAndLongestDistance) {
  // 4096 literals, then length 518 (code 15, extra 254) from distance 4096
  // (prefix 63, 6 low bits all set).
  StreamWriter w(0, 6);
  for (unsigned i = 0; i < 4096; ++i) w.Literal(static_cast<std::uint8_t>(i / 16));
  w.Bits(1, 1).Bits(0x00, 7).Bits(254, 8);
  w.Bits(0x00, 8).Bits(0x3F, 6);
  const Decoded d = Explode(w.EndCode().ZeroBytes(1).bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  ASSERT_EQ(d.output.size(), 4096u + 518u);
  for (unsigned i = 0; i < 518; ++i) ASSERT_EQ(d.output[4096 + i], d.output[i]) << "at " << i;
  EXPECT_EQ(d.writeSizes, (std::vector<unsigned>{4096, 518}));
}

TEST(ExplodeMatch, OverlappingCopyRepeatsAShortPattern) {
  StreamWriter w(0, 6);
  w.Literal('a').Literal('b').Literal('c');
  w.Bits(1, 1).Bits(0x18, 5).Bits(0, 2);  // length code 9, extra 0: length 12
  w.Bits(0x03, 2).Bits(2, 6);             // distance 3
  const Decoded d = Explode(w.EndCode().ZeroBytes(1).bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  const std::string expected = "abcabcabcabcabc";
  EXPECT_EQ(d.output, std::vector<std::uint8_t>(expected.begin(), expected.end()));
}

TEST(ExplodeMatch, EveryShortDistanceRepeatsItsLastBytesWhateverTheLength) {
  const std::string text = "abcdefghijklmnopqrst";
  const std::vector<std::uint8_t> literals(text.begin(), text.end());
  for (unsigned distance = 1; distance <= 17; ++distance) {
    for (unsigned length : {3u, 4u, 7u, 8u, 9u, 10u, 15u, 16u, 17u, 18u, 24u, 40u, 100u, 518u}) {
      StreamWriter w(0, 6);
      for (std::uint8_t c : literals) w.Literal(c);
      WriteMatch(w, length, distance);
      w.Literal('!');
      // Spare bytes after the end code let whole reads decode every token
      // from a full bit buffer; reads of 1 byte decode them field by field.
      const std::vector<std::uint8_t> stream = w.EndCode().ZeroBytes(16).bytes();
      std::vector<std::uint8_t> expected = ExpectedAfterMatch(literals, length, distance);
      expected.push_back('!');
      for (unsigned chunk : {kExplodeInputSize, 1u}) {
        const Decoded d = Explode(stream, chunk);
        EXPECT_EQ(d.result, kExplodeOk);
        EXPECT_EQ(d.output, expected) << "distance " << distance << ", length " << length
                                      << ", reads of " << chunk;
      }
    }
  }
}

TEST(ExplodeMatch, LongMatchesStartingJustBelowTheBlockEndAreCopiedWhole) {
  for (unsigned lead : {4080u, 4090u, 4095u}) {
    std::vector<std::uint8_t> literals;
    for (unsigned i = 0; i < lead; ++i) literals.push_back(static_cast<std::uint8_t>(i % 251));
    for (unsigned distance : {1u, 3u, 8u, 13u, 100u, 4095u}) {
      StreamWriter w(0, 6);
      for (std::uint8_t c : literals) w.Literal(c);
      WriteMatch(w, 518, distance);
      w.Literal('!');
      std::vector<std::uint8_t> expected = ExpectedAfterMatch(literals, 518, distance);
      expected.push_back('!');
      const Decoded d = Explode(w.EndCode().ZeroBytes(16).bytes());
      EXPECT_EQ(d.result, kExplodeOk);
      EXPECT_EQ(d.output, expected) << lead << " literals, distance " << distance;
      EXPECT_EQ(d.writeSizes, (std::vector<unsigned>{4096, lead + 518 + 1 - 4096}));
    }
  }
}

TEST(ExplodeMatch, HistoryBeforeTheFirstByteReadsAsZeros) {
  StreamWriter w(0, 6);
  w.Literal('A');
  w.Bits(1, 1).Bits(0x03, 2);               // length code 1: length 3
  w.Bits(0x0D, 4).Bits(35, 6);              // prefix 1, low bits 35: distance 100
  const Decoded d = Explode(w.EndCode().ZeroBytes(1).bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.output, Bytes({'A', 0, 0, 0}));
}

// ---- Coded literals

struct CodedLiteralCase {
  std::uint8_t value;
  unsigned code;
  unsigned bits;
};

class ExplodeCodedLiteral : public ::testing::TestWithParam<CodedLiteralCase> {};

TEST_P(ExplodeCodedLiteral, DecodesItsCodeFromTheTable) {
  const CodedLiteralCase c = GetParam();
  StreamWriter w(1, 6);
  w.CodedLiteral(c.code, c.bits).CodedLiteral(0x0F, 4);  // then a space
  const Decoded d = Explode(w.EndCode().ZeroBytes(1).bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.output, Bytes({c.value, 0x20}));
}

TEST_P(ExplodeCodedLiteral, DecodesItsCodeInALongRunOfLiterals) {
  const CodedLiteralCase c = GetParam();
  StreamWriter w(1, 6);
  std::vector<std::uint8_t> expected;
  for (int i = 0; i < 40; ++i) {
    w.CodedLiteral(c.code, c.bits);
    expected.push_back(c.value);
    if (i % 3 == 0) {
      w.CodedLiteral(0x0F, 4);
      expected.push_back(0x20);
    }
  }
  const std::vector<std::uint8_t> stream = w.EndCode().ZeroBytes(16).bytes();
  for (unsigned chunk : {kExplodeInputSize, 7u, 1u}) {
    const Decoded d = Explode(stream, chunk);
    EXPECT_EQ(d.result, kExplodeOk);
    EXPECT_EQ(d.output, expected) << "reads of " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExplodeCodedLiteral,
    ::testing::Values(CodedLiteralCase{0x20, 0x000F, 4},    // shortest code
                      CodedLiteralCase{0x65, 0x001B, 5},    // 'e'
                      CodedLiteralCase{0x0A, 0x0062, 7},    // line feed
                      CodedLiteralCase{0x09, 0x00B8, 8},    // longest code found in one lookup
                      CodedLiteralCase{0x78, 0x00F0, 8},    // 'x': low 4 bits zero, yet short
                      CodedLiteralCase{0x79, 0x0070, 8},    // 'y': low 4 bits zero, yet short
                      CodedLiteralCase{0x7A, 0x0290, 10},   // 'z'
                      CodedLiteralCase{0x2B, 0x01B0, 9},    // '+': low 6 bits set, 4 dropped
                      CodedLiteralCase{0x00, 0x0490, 11},   // low 6 bits set, 4 dropped
                      CodedLiteralCase{0x01, 0x0FE0, 12},   // low 6 bits set, 4 dropped
                      CodedLiteralCase{0x80, 0x0240, 13},   // low 6 bits zero, 6 dropped
                      CodedLiteralCase{0xE0, 0x0300, 13},   // low 8 bits zero, 8 dropped
                      CodedLiteralCase{0xFF, 0x0000, 13})); // low 8 bits zero, 8 dropped

TEST(ExplodeCodedLiteral, ZeroSpaceAndFFTake11And4And13Bits) {
  StreamWriter w(1, 6);
  w.CodedLiteral(0x0490, 11).CodedLiteral(0x000F, 4).CodedLiteral(0x0000, 13).EndCode();
  // 3 flags + 28 code bits + 16 end-code bits = 47 bits: 6 bytes, the end
  // code's extra bits ending one bit before the last byte's top.
  ASSERT_EQ(w.bytes().size(), 2u + 6u);
  const Decoded d = Explode(w.bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.output, Bytes({0x00, 0x20, 0xFF}));
}

// ---- End of input

TEST(ExplodeEnd, EndCodeEndingInTheLastByteSucceeds) {
  // 8 literals (72 bits) and the end code (16 bits): 11 bytes, no bit spare.
  StreamWriter w(0, 6);
  for (std::uint8_t c : {'K', 'o', 'r', 'v', 'a', 'n', 'e', '!'}) w.Literal(c);
  w.EndCode();
  ASSERT_EQ(w.bytes().size(), 2u + 11u);
  const Decoded d = Explode(w.bytes());
  EXPECT_EQ(d.result, kExplodeOk);
  EXPECT_EQ(d.output, Bytes({'K', 'o', 'r', 'v', 'a', 'n', 'e', '!'}));
  EXPECT_EQ(d.trace, "R13 R0 W8");
}

TEST(ExplodeEnd, StreamCutInsideTheEndCodeIsTruncatedWithItsOutputWritten) {
  StreamWriter w(0, 6);
  for (std::uint8_t c : {'K', 'o', 'r', 'v', 'a', 'n', 'e', '!'}) w.Literal(c);
  std::vector<std::uint8_t> stream = w.EndCode().bytes();
  stream.pop_back();
  const Decoded d = Explode(stream);
  EXPECT_EQ(d.result, kExplodeTruncated);
  EXPECT_EQ(d.output, Bytes({'K', 'o', 'r', 'v', 'a', 'n', 'e', '!'}));
  EXPECT_EQ(d.trace, "R12 R0 W8");
}

TEST(ExplodeEnd, ALiteralNeedsEightBitsAfterIt) {
  // Three literals are 27 bits in 4 bytes; the third has only 5 bits after it.
  StreamWriter w(0, 6);
  w.Literal('x').Literal('y').Literal('z');
  const Decoded d = Explode(w.bytes());
  ASSERT_EQ(w.bytes().size(), 6u);
  EXPECT_EQ(d.result, kExplodeTruncated);
  EXPECT_EQ(d.output, Bytes({'x', 'y'}));
}

TEST(ExplodeEnd, StreamCutAfterSeveralBlocksWritesEverythingDecoded) {
  std::vector<std::uint8_t> stream = PlainLiterals(10000);
  stream.resize(2 + 9 * 5000 / 8);  // 5000 literals' worth of bits
  const Decoded d = Explode(stream);
  EXPECT_EQ(d.result, kExplodeTruncated);
  // The last literal that still has 8 bits after it is number 4998.
  ASSERT_EQ(d.output.size(), 4999u);
  EXPECT_EQ(d.writeSizes, (std::vector<unsigned>{4096, 903}));
  EXPECT_EQ(d.output[4998], static_cast<std::uint8_t>(4998 * 7));
}

TEST(ExplodeEnd, EveryCutOfAStreamGivesTruncatedAndAPrefixOfTheOutput) {
  StreamWriter w(1, 5);
  for (char c : std::string("cut me anywhere")) {
    w.CodedLiteral(c == ' ' ? 0x0F : 0x0000, c == ' ' ? 4 : 13);
  }
  w.Bits(1, 1).Bits(0x03, 2).Bits(0x03, 2).Bits(0, 5);  // length 3, distance 1
  const std::vector<std::uint8_t> full = w.EndCode().ZeroBytes(1).bytes();
  const Decoded whole = Explode(full);
  ASSERT_EQ(whole.result, kExplodeOk);
  for (std::size_t size = 5; size + 1 < full.size(); ++size) {
    const Decoded d = Explode(std::vector<std::uint8_t>(full.begin(), full.begin() + size));
    EXPECT_EQ(d.result, kExplodeTruncated) << "size " << size;
    ASSERT_LE(d.output.size(), whole.output.size());
    EXPECT_TRUE(std::equal(d.output.begin(), d.output.end(), whole.output.begin())) << "size " << size;
  }
}

TEST(ExplodeEnd, BytesAfterTheEndCodeAreNeverDecodedWhateverTheReads) {
  // Every kind of token, over several input and output blocks: literals
  // (plain, or coded in 4 to 13 bits), matches of length 2, short matches at
  // distances below and above 8, long ones; then the end code and bytes that
  // would decode as matches. Whether the end code comes within a full input
  // buffer or at its very end, and however the reads split the stream, the
  // decoder stops at it, with the same calls for both bit buffer widths.
  struct Coded {
    std::uint8_t byte;
    unsigned code, bits;
  };
  constexpr Coded kCoded[] = {{0x20, 0x000F, 4}, {0x65, 0x001B, 5}, {0x2B, 0x01B0, 9},
                              {0x00, 0x0490, 11}, {0x01, 0x0FE0, 12}, {0xFF, 0x0000, 13}};
  for (std::uint8_t literalMode : {0, 1}) {
    StreamWriter w(literalMode, 6);
    std::vector<std::uint8_t> history(4096, 0);
    const auto copy = [&history](unsigned length, unsigned distance) {
      for (unsigned i = 0; i < length; ++i) history.push_back(history[history.size() - distance]);
    };
    for (unsigned round = 0; round < 900; ++round) {
      for (unsigned i = 0; i < round % 4; ++i) {
        const Coded& c = kCoded[(round + i) % 6];
        const auto plain = static_cast<std::uint8_t>(round * 29 + i);
        if (literalMode == 1) {
          w.CodedLiteral(c.code, c.bits);
        } else {
          w.Literal(plain);
        }
        history.push_back(literalMode == 1 ? c.byte : plain);
      }
      const unsigned distance2 = 1 + round % 4;  // length 2: prefix 0, 2 low bits
      w.Bits(1, 1).Bits(0x05, 3).Bits(0x03, 2).Bits(distance2 - 1, 2);
      copy(2, distance2);
      const unsigned length = round % 9 == 0 ? 3 + (round * 53) % 516 : 3 + round % 18;
      const unsigned distance = round % 3 == 0 ? 1 + round % 9 : 60 + round % 11;
      WriteMatch(w, length, distance);
      copy(length, distance);
    }
    w.EndCode();
    const std::vector<std::uint8_t> expected(history.begin() + 4096, history.end());
    for (unsigned after : {0u, 1u, 5u, 6u, 9u}) {
      std::vector<std::uint8_t> stream = w.bytes();
      stream.insert(stream.end(), after, 0xFF);
      for (unsigned chunk : {kExplodeInputSize, 1u, 5u, 6u, 7u}) {
        SCOPED_TRACE("literal mode " + std::to_string(literalMode) + ", " + std::to_string(after) +
                     " bytes after, reads of " + std::to_string(chunk));
        const Decoded d = Explode(stream, chunk);
        EXPECT_EQ(d.result, kExplodeOk);
        EXPECT_EQ(d.output, expected);
      }
    }
  }
}

// ---- Work area

TEST(ExplodeWorkArea, ServesStreamAfterStreamAndFitsTheArchiveAllocation) {
  static_assert(kExtractWorkAreaSize >= sizeof(ExplodeWork));
  static_assert(kExtractWorkAreaSize >= 12596);
  auto work = std::make_unique<ExplodeWork>();
  const std::vector<std::uint8_t> coded =
      StreamWriter(1, 4).CodedLiteral(0x0000, 13).EndCode().ZeroBytes(1).bytes();
  const std::vector<std::uint8_t> plain = PlainLiterals(5000);
  for (ExplodeFunction decoder :
       {explode, ExplodeWithBitBuffer<std::uint32_t>, ExplodeWithBitBuffer<std::uint64_t>}) {
    for (int round = 0; round < 2; ++round) {
      for (const auto* stream : {&coded, &plain}) {
        Session s;
        s.input = *stream;
        EXPECT_EQ(decoder(ReadChunk, WriteBlock, work.get(), &s), kExplodeOk);
        EXPECT_EQ(s.output, Explode(*stream).output);
      }
    }
  }
}

}  // namespace
