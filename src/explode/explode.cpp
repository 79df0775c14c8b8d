#include "explode/explode.hpp"

#include "explode/code_tables.hpp"

#include <cstring>

// How the decoder is organised. Every token is decoded in one of two ways:
// - field by field (DecodeToken), each consume keeping 8 bits of look-ahead
//   and calling the read callback when it needs a byte and inputBuffer is
//   used up, exactly as a byte-at-a-time decoder does; this path also decides
//   where the input ends (result 4, or the end code in the very last bits);
// - whole while inputBuffer holds every byte the token can take: no consume
//   can then need input, so fields are dropped together through combined
//   constant tables, and bytes of inputBuffer are loads of a whole register,
//   without a test. Matches are copied 8 bytes at a time.
// Either way the callbacks see the same calls in the same order: reads happen
// only inside the field-by-field path, writes only between tokens.
//
// The bit buffer is as wide as a register: 64 bits where pointers are, 32
// bits on 32-bit targets, where a 64-bit shift takes several instructions and
// two of the few registers. The two widths have fast paths of their own:
// - 64 bits (DecodeTokens, DecodeLiteralFast, DecodeMatchFast) keep the bit
//   buffer between tokens, and one refill serves several of them; runs of
//   literals are decoded in a loop of their own.
// - 32 bits (DecodeTokensNarrow) keep only the position of the next bit in
//   inputBuffer and load each token's bits from there, a match's distance
//   with a second load. A bit buffer with its count and input pointers would
//   take four of the seven registers i686 leaves the loop; a position takes
//   one, and consuming a field is one add.
// Both widths are built and tested on the host.

namespace {


// The fast path's view of a coded literal: one lookup, chosen by the low 4
// bits of the code. Every code longer than 8 bits has 4 zero bits at its
// bottom, so the 9 bits after them, up to bit 12, tell it apart: `zeroLow4`
// is indexed by those 9 bits for every code whose low 4 bits are zero, and
// `other`, indexed by the 8 bits after the flag bit, serves the rest. Both
// give the byte and the token's whole length in bits, flag bit included
// (value | bits << 8). Both lookups can start as soon as the bits are there.
struct LiteralTables {
  std::uint16_t other[256];
  std::uint16_t zeroLow4[512];
};

constexpr LiteralTables MakeLiteralTables() {
  LiteralTables tables{};
  for (unsigned s = 0; s < 256; ++s) {
    const unsigned bits = kLiteralBits[s];
    const unsigned code = kLiteralCodes[s];
    const auto entry = static_cast<std::uint16_t>((1 + bits) | s << 8);
    if ((code & 0x0F) == 0) {
      for (unsigned k = code >> 4; k < 512; k += 1u << (bits - 4)) tables.zeroLow4[k] = entry;
    } else {
      for (unsigned k = code; k < 256; k += 1u << bits) tables.other[k] = entry;
    }
  }
  return tables;
}

constexpr LiteralTables kLiteralTables = MakeLiteralTables();

// Every index of either table that a bit sequence can select holds a code.
constexpr bool LiteralTablesAreComplete() {
  for (unsigned k = 0; k < 256; ++k) {
    if ((k & 0x0F) != 0 && kLiteralTables.other[k] == 0) return false;
  }
  for (unsigned k = 0; k < 512; ++k) {
    if (kLiteralTables.zeroLow4[k] == 0) return false;
  }
  for (unsigned s = 0; s < 256; ++s) {
    if (kLiteralBits[s] > 8 && (kLiteralCodes[s] & 0x0F) != 0) return false;
  }
  return true;
}
static_assert(LiteralTablesAreComplete(), "the coded-literal tables cover every bit sequence");

// The fast paths' view of a distance, for the 8 bits at its start: the bit
// length of the prefix code (bits 0-5) and the prefix (bits 6-11).
constexpr void FillDistanceTable(std::uint16_t (&distance)[256]) {
  for (unsigned p = 0; p < 64; ++p) {
    for (unsigned k = kDistanceCodes[p]; k < 256; k += 1u << kDistanceBits[p]) {
      distance[k] = static_cast<std::uint16_t>(kDistanceBits[p] | p << 6);
    }
  }
}

// The 64-bit fast path's view of a match. `length`, indexed by the flag bit
// (1) and the 7 bits after it: the bits that flag, length code and extra bits
// take (bits 0-5, first so that a shift can use the entry as it is), where
// the extra bits start counted from the flag bit (bits 6-9), the length
// code's base (bits 10-18) and the mask of the extra bits (bits 19-26);
// entries of even index are unused. `distance` as FillDistanceTable makes it.
struct MatchTables {
  std::uint32_t length[256];
  std::uint16_t distance[256];
};

constexpr MatchTables MakeMatchTables() {
  MatchTables tables{};
  for (unsigned c = 0; c < 16; ++c) {
    const unsigned extraStart = 1 + kLengthBits[c];
    const unsigned extraMask = (1u << kLengthExtraBits[c]) - 1;
    for (unsigned k = kLengthCodes[c] << 1 | 1; k < 256; k += 2u << kLengthBits[c]) {
      tables.length[k] = (extraStart + kLengthExtraBits[c]) | extraStart << 6 |
                         kLengthBase[c] << 10 | extraMask << 19;
    }
  }
  FillDistanceTable(tables.distance);
  return tables;
}

constexpr MatchTables kMatchTables = MakeMatchTables();

// The 32-bit fast path's view of a match length, one field per byte or word
// so that each takes one load on i686 rather than a shift and a mask: the
// bits that flag, length code and extra bits take; where the extra bits
// start, counted from the flag bit; the length code's base; the mask of the
// extra bits.
struct NarrowLength {
  std::uint8_t bits;
  std::uint8_t extraStart;
  std::uint16_t base;
  std::uint32_t extraMask;
};

// `length` is indexed by the 7 bits after the flag bit (1); `distance` as
// FillDistanceTable makes it.
struct NarrowMatchTables {
  NarrowLength length[128];
  std::uint16_t distance[256];
};

constexpr NarrowMatchTables MakeNarrowMatchTables() {
  NarrowMatchTables tables{};
  for (unsigned c = 0; c < 16; ++c) {
    const unsigned extraStart = 1 + kLengthBits[c];
    for (unsigned k = kLengthCodes[c]; k < 128; k += 1u << kLengthBits[c]) {
      tables.length[k] = {static_cast<std::uint8_t>(extraStart + kLengthExtraBits[c]),
                          static_cast<std::uint8_t>(extraStart), kLengthBase[c],
                          (1u << kLengthExtraBits[c]) - 1};
    }
  }
  FillDistanceTable(tables.distance);
  return tables;
}

constexpr NarrowMatchTables kNarrowMatchTables = MakeNarrowMatchTables();

// Both match tables give the same fields for every flag and length code.
constexpr bool MatchTablesAgree() {
  for (unsigned k = 0; k < 128; ++k) {
    const std::uint32_t wide = kMatchTables.length[k << 1 | 1];
    const NarrowLength& narrow = kNarrowMatchTables.length[k];
    if ((wide & 0x3F) != narrow.bits || ((wide >> 6) & 0x0F) != narrow.extraStart ||
        ((wide >> 10) & 0x1FF) != narrow.base || (wide >> 19) != narrow.extraMask) {
      return false;
    }
  }
  return true;
}
static_assert(MatchTablesAgree(), "the 32-bit and 64-bit match tables decode alike");

// Token values inside the decoder: 0-255 literal bytes, 256 + (length - 2)
// for matches, kEndToken for the end code, kErrorToken when input ran out.
constexpr unsigned kMatchToken = 256;
constexpr unsigned kEndToken = 773;
constexpr unsigned kErrorToken = 774;
// Length code 15 with all 8 extra bits set: the end code.
constexpr unsigned kEndCodePlusExtra = 15 + 255;

constexpr unsigned kFlushPosition = 2 * kExplodeBlockSize;
// The most bits one token takes (flag 1, length code 7, extra 8, distance
// prefix 8, low distance bits 6) plus the 8 bits of look-ahead.
constexpr unsigned kTokenBitsWithLookAhead = 1 + 7 + 8 + 8 + 6 + 8;
// The most bits a coded literal takes (flag and code) and the most that a
// match's flag, length code and extra bits take, and its distance.
constexpr unsigned kLiteralBitsMost = 1 + 13;
constexpr unsigned kLengthBitsMost = 1 + 7 + 8;
constexpr unsigned kDistanceBitsMost = 8 + 6;
// What the 64-bit fast path keeps between tokens: enough for a coded literal
// or a match's flag, length code and extra bits, with their look-ahead; a
// match refills before its distance.
constexpr unsigned kFastBits = kLengthBitsMost + 8;
// A 64-bit refill leaves at least 56 bits. What it leaves after two coded
// literals, three plain ones, or a match's length code, extra bits and
// distance:
static_assert(56 - 2 * kLiteralBitsMost >= kFastBits && 56 - 3 * 9 >= kFastBits &&
                  56 - kLengthBitsMost - kDistanceBitsMost >= kFastBits,
              "the 64-bit fast path keeps kFastBits between tokens");
// The 32-bit fast path starts a token only while the kNarrowBytes bytes from
// the one that holds its first bit have been delivered. The token and its
// look-ahead lie within them; so do its loads of 4 bytes, the second (a
// match's distance) starting at most 2 bytes after the first; and the 2 bytes
// from where it ends, which the bit buffer takes over when the fast path
// stops. A load shifted to a bit position gives at least 25 bits: enough for
// a coded literal, two plain literals, a match's flag, length code and extra
// bits, or its distance.
constexpr unsigned kNarrowBytes = 6;
static_assert(8 * kNarrowBytes - 7 >= kTokenBitsWithLookAhead &&
                  (7 + kLengthBitsMost) / 8 + 4 <= kNarrowBytes &&
                  (7 + kTokenBitsWithLookAhead - 8) / 8 + 2 <= kNarrowBytes,
              "a 32-bit fast token and the bytes it loads lie within those checked before it");
static_assert(25 >= kLiteralBitsMost && 25 >= 2 * 9 && 25 >= kLengthBitsMost &&
                  25 >= kDistanceBitsMost,
              "one load serves a literal, two plain literals or a match's length; a second "
              "one a match's distance");

// Stores `value` at every index of `table` (of `size` entries) whose low
// `bits` bits equal `code`.
inline void StoreCode(std::uint8_t* table, unsigned size, unsigned code, unsigned bits,
                      std::uint8_t value) {
  for (unsigned k = code; k < size; k += 1u << bits) table[k] = value;
}

// One lookup of 8 bits gives the code they begin with; the codes are complete
// and prefix-free, so every index is filled exactly once.
void BuildDecodeTable(const std::uint8_t* bits, const std::uint8_t* codes, unsigned count,
                      std::uint8_t* table) {
  for (unsigned i = count; i-- > 0;) StoreCode(table, 256, codes[i], bits[i], static_cast<std::uint8_t>(i));
}

// Coded literals are up to 13 bits long. Codes of up to 8 bits resolve in
// literalDecode; a longer code marks its low 8 bits there with 0xFF (0xFF
// itself has a code with 8 low zero bits, so it never appears there) and is
// finished by a second lookup after dropping 4 or 6 of its bits, or, when its
// low 8 bits are zero, after dropping those 8. literalBits then holds what is
// left to consume after that drop.
void BuildLiteralTables(ExplodeWork* w) {
  std::memcpy(w->literalBits, kLiteralBits, sizeof w->literalBits);
  // Entries no code reaches are never looked up; clearing them keeps the work
  // area's contents a function of the stream alone.
  std::memset(w->literalDecode, 0, sizeof w->literalDecode);
  std::memset(w->literalDecodeAfter4, 0, sizeof w->literalDecodeAfter4);
  std::memset(w->literalDecodeAfter6, 0, sizeof w->literalDecodeAfter6);
  std::memset(w->literalDecodeAfter8, 0, sizeof w->literalDecodeAfter8);
  for (unsigned s = 256; s-- > 0;) {
    const unsigned code = kLiteralCodes[s];
    unsigned bits = w->literalBits[s];
    const auto value = static_cast<std::uint8_t>(s);
    if (bits <= 8) {
      StoreCode(w->literalDecode, 256, code, bits, value);
    } else if ((code & 0xFF) != 0) {
      w->literalDecode[code & 0xFF] = 0xFF;
      if ((code & 0x3F) != 0) {
        bits -= 4;
        w->literalBits[s] = static_cast<std::uint8_t>(bits);
        StoreCode(w->literalDecodeAfter4, 256, code >> 4, bits, value);
      } else {
        bits -= 6;
        w->literalBits[s] = static_cast<std::uint8_t>(bits);
        StoreCode(w->literalDecodeAfter6, 128, code >> 6, bits, value);
      }
    } else {
      bits -= 8;
      w->literalBits[s] = static_cast<std::uint8_t>(bits);
      StoreCode(w->literalDecodeAfter8, 256, code >> 8, bits, value);
    }
  }
}


// A little-endian load of a whole Word (4 or 8 bytes) from any address.
template <typename Word>
inline Word LoadLe(const std::uint8_t* p) {
  Word v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  if constexpr (sizeof v == 8) {
    v = __builtin_bswap64(v);
  } else {
    v = __builtin_bswap32(v);
  }
#endif
  return v;
}

// The bit buffer, `BitWord` (32 or 64 bits) wide. It behaves as the
// byte-at-a-time buffer of the format's decoder: the low 8 bits are always
// the next 8 stream bits, consuming n bits needs n + 8 bits to exist, and the
// read callback is called exactly when a consume needs more bits and every
// byte of inputBuffer has been taken. On top of that it takes bytes that are
// already in inputBuffer early, a register at a time, which no callback can
// observe. The valid bits end where `next` begins; bits above them are zero
// or already the bits of `next`, so a refill may or them in again.
template <typename BitWord>
struct BitReader {
  static constexpr unsigned kWidth = 8 * sizeof(BitWord);
  // 32 bits: the fast path keeps a bit position instead (DecodeTokensNarrow).
  static constexpr bool kNarrow = kWidth < 64;

  ExplodeWork* work;
  BitWord bits;                // valid bits from bit 0 upwards
  unsigned count;              // number of valid bits, at least 8 between tokens
  const std::uint8_t* next;    // next byte of inputBuffer to take
  const std::uint8_t* end;     // end of the bytes the last read delivered

  unsigned Peek8() const { return static_cast<unsigned>(bits) & 0xFF; }

  // Room for the 64-bit fast path's refill, or two 32-bit ones.
  bool CanRefillWide() const { return end - next >= 8; }

  // Takes sizeof(BitWord) bytes of inputBuffer and keeps the whole bytes
  // that fit, leaving at least kWidth - 8 valid bits; needs that many bytes
  // left and count < kWidth. Changes nothing but the bits above count when
  // count is already kWidth - 8 or more.
  void RefillWide() {
    bits |= LoadLe<BitWord>(next) << count;
    next += (kWidth - 1 - count) >> 3;
    count |= kWidth - 8;
  }

  // Makes at least `needed` bits (at most kWidth - 8) valid, reading when
  // inputBuffer is used up. False when the read callback delivered nothing.
  // Kept out of line: it runs near the end of each input block only, and
  // each consume of the field-by-field path would otherwise carry a copy.
  [[gnu::noinline]] bool Fill(unsigned needed) {
    while (count < needed) {
      if (next == end) {
        unsigned size = kExplodeInputSize;
        unsigned got = work->readCallback(reinterpret_cast<char*>(work->inputBuffer), &size,
                                          work->userParameter);
        if (got == 0) return false;
        // A callback must not deliver more than it was asked for; should one
        // claim to, only the buffer's bytes are used.
        next = work->inputBuffer;
        end = next + (got < kExplodeInputSize ? got : static_cast<unsigned>(kExplodeInputSize));
      }
      if (CanRefillWide()) {
        RefillWide();
      } else {
        bits |= static_cast<BitWord>(*next++) << count;
        count += 8;
      }
    }
    return true;
  }

  // Drops n bits that the caller has already looked at, and takes in whole
  // bytes of inputBuffer at the same time, so that at least kWidth - 8 - n
  // bits stay valid; needs sizeof(BitWord) bytes left and n + 8 valid bits.
  // The new bytes go in above the valid bits, so the lookups that gave n
  // need not wait for them.
  void ConsumeRefilled(unsigned n) {
    bits = (bits | LoadLe<BitWord>(next) << count) >> n;
    next += (kWidth - 1 - count) >> 3;
    count = (count | (kWidth - 8)) - n;
  }

  // Drops n bits. Checked (n from 1 to 8): keeps 8 bits of look-ahead,
  // reading if it must, and fails when the input cannot supply them.
  // Unchecked: the caller made sure that n bits and the look-ahead are held.
  template <bool kChecked>
  bool Consume(unsigned n) {
    if (kChecked && count < n + 8 && !Fill(n + 8)) return false;
    bits >>= n;
    count -= n;
    return true;
  }
};

// Finishes a coded literal whose flag bit has been consumed: one lookup on
// the next 8 bits, and for codes longer than 8 bits a second one after
// dropping 4, 6 or 8 of them. Returns the byte, or kErrorToken.
template <typename BitWord>
inline unsigned DecodeCodedLiteral(BitReader<BitWord>& in, const ExplodeWork* w) {
  unsigned value;
  if (in.Peek8() != 0) {
    value = w->literalDecode[in.Peek8()];
    if (value == 0xFF) {
      if ((in.bits & 0x3F) != 0) {
        if (!in.template Consume<true>(4)) return kErrorToken;
        value = w->literalDecodeAfter4[in.Peek8()];
      } else {
        if (!in.template Consume<true>(6)) return kErrorToken;
        value = w->literalDecodeAfter6[in.Peek8() & 0x7F];
      }
    }
  } else {
    if (!in.template Consume<true>(8)) return kErrorToken;
    value = w->literalDecodeAfter8[in.Peek8()];
  }
  if (!in.template Consume<true>(w->literalBits[value])) return kErrorToken;
  return value;
}

// Decodes one token field by field, each consume keeping its 8 bits of
// look-ahead and reading when it must. Gives a literal byte (0-255), a match
// (kMatchToken + length - 2, with its distance in *distance), kEndToken, or
// kErrorToken when the input ran out.
template <typename BitWord>
unsigned DecodeToken(BitReader<BitWord>& in, const ExplodeWork* w, unsigned* distance) {
  if ((in.bits & 1) != 0) {
    if (!in.template Consume<true>(1)) return kErrorToken;
    const unsigned code = w->lengthDecode[in.Peek8()];
    if (!in.template Consume<true>(w->lengthBits[code])) return kErrorToken;
    unsigned length = code;
    if (const unsigned extra = w->lengthExtraBits[code]; extra != 0) {
      const unsigned x = static_cast<unsigned>(in.bits) & ((1u << extra) - 1);
      // The end code's extra bits may be the last bits of the input.
      if (!in.template Consume<true>(extra) && code + x != kEndCodePlusExtra) return kErrorToken;
      length = w->lengthBase[code] + x;
    }
    const unsigned token = kMatchToken + length;
    if (token >= kEndToken) return kEndToken;

    const unsigned prefix = w->distanceDecode[in.Peek8()];
    if (!in.template Consume<true>(w->distanceBits[prefix])) return kErrorToken;
    unsigned d;
    if (length == 0) {  // a match of length 2
      d = (prefix << 2) | (static_cast<unsigned>(in.bits) & 3);
      if (!in.template Consume<true>(2)) return kErrorToken;
    } else {
      d = (prefix << w->dictionaryBits) | (static_cast<unsigned>(in.bits) & w->distanceMask);
      if (!in.template Consume<true>(w->dictionaryBits)) return kErrorToken;
    }
    *distance = d + 1;
    return token;
  }

  if (!in.template Consume<true>(1)) return kErrorToken;
  if (w->literalMode == 0) {
    const unsigned value = in.Peek8();
    if (!in.template Consume<true>(8)) return kErrorToken;
    return value;
  }
  return DecodeCodedLiteral(in, w);
}

// The same for a match when the 64-bit bit buffer already holds the flag
// (known to be 1), the length code and the extra bits with their look-ahead,
// so that no consume can need input: whole fields are dropped at once,
// through the combined tables. With kRefill (needs CanRefillWide()) bytes of
// inputBuffer are taken in after the length, for the distance, which leaves
// at least kFastBits after it. Without kRefill, the bit buffer must hold the
// whole token and its look-ahead (kTokenBitsWithLookAhead bits).
template <bool kRefill, typename BitWord>
inline unsigned DecodeMatchFast(BitReader<BitWord>& in, unsigned dictionaryBits,
                                unsigned* distance) {
  const unsigned low = static_cast<unsigned>(in.bits);
  const unsigned entry = kMatchTables.length[low & 0xFF];
  const unsigned length = ((entry >> 10) & 0x1FF) + ((low >> ((entry >> 6) & 0x0F)) & (entry >> 19));
  if (kRefill) {
    in.ConsumeRefilled(entry & 0x3F);
  } else {
    in.template Consume<false>(entry & 0x3F);
  }
  const unsigned token = kMatchToken + length;
  if (token >= kEndToken) return kEndToken;

  // The distance takes at most 14 bits, all within the low 32.
  const unsigned rest = static_cast<unsigned>(in.bits);
  const unsigned prefixEntry = kMatchTables.distance[rest & 0xFF];
  const unsigned prefixBits = prefixEntry & 0x3F;
  const unsigned lowBits = length == 0 ? 2 : dictionaryBits;
  *distance = (((prefixEntry >> 6) << lowBits) |
               ((rest >> prefixBits) & ((1u << lowBits) - 1))) + 1;
  in.template Consume<false>(prefixBits + lowBits);
  return token;
}

// A coded literal token, flag bit (known to be 0) included, from the low 14
// bits of `low`: the byte and the token's bits, as kLiteralTables give them
// (value | bits << 8).
inline unsigned LookUpCodedLiteral(unsigned low) {
  // other[(low >> 1) & 0xFF], addressed by byte so that one `and` makes the
  // offset.
  std::uint16_t other;
  std::memcpy(&other, reinterpret_cast<const char*>(kLiteralTables.other) + (low & 0x1FE),
              sizeof other);
  const unsigned zeroLow4 = kLiteralTables.zeroLow4[(low >> 5) & 0x1FF];
  // zeroLow4 when the code's low 4 bits are zero, else other: a choice the
  // compiler can make without a branch, which would be hard to predict.
  return (low & 0x1E) == 0 ? zeroLow4 : other;
}

// A literal token, flag bit (known to be 0) included, when the bit buffer
// holds its bits and their look-ahead: 1 + 13 + 8 in coded mode, 1 + 8 + 8
// in plain mode. With kRefill (needs sizeof(BitWord) bytes left) bytes of
// inputBuffer are taken in at the same time, which leaves at least
// kWidth - 8 - 14 bits (kWidth - 8 - 9 in plain mode).
template <bool kCoded, bool kRefill, typename BitWord>
inline unsigned DecodeLiteralFast(BitReader<BitWord>& in) {
  const unsigned low = static_cast<unsigned>(in.bits);
  unsigned bits;
  unsigned value;
  if (!kCoded) {
    bits = 9;
    value = (low >> 1) & 0xFF;
  } else {
    const unsigned entry = LookUpCodedLiteral(low);
    bits = entry & 0x3F;
    value = entry >> 8;
  }
  if (kRefill) {
    in.ConsumeRefilled(bits);
  } else {
    in.template Consume<false>(bits);
  }
  return value;
}

inline void Copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }

inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  std::memcpy(p, &v, sizeof v);
}

// Copies `length` bytes from `distance` bytes back to `to` (inside window),
// byte after byte in ascending order as far as anyone can tell, in steps of
// 8 bytes that may write up to 7 bytes past the match, above the output
// position, where nothing is read before it is written again. A match
// begins below kFlushPosition, so four steps always fit; further ones only
// where the window has 7 bytes to spare past the match, else the rest goes
// byte by byte.
// - Distance 8 or more: each step reads only bytes already final.
// - Distance below 8: the last `distance` bytes repeat. They are spread over
//   8 bytes in a register, which is stored every `distance` * n bytes (the
//   largest such step up to 8), so that no step reads what another wrote.
inline void CopyMatch(std::uint8_t* window, std::uint8_t* to, unsigned distance,
                      unsigned length) {
  static_assert(kFlushPosition + 32 <= kExplodeWindowSize, "four steps fit past any match start");
  const std::uint8_t* from = to - distance;
  std::uint8_t* const stop = to + length;
  const bool stepsFit = stop + 7 <= window + kExplodeWindowSize;
  if (distance < 8) {
    if (!stepsFit) {
      while (to < stop) *to++ = *from++;
      return;
    }
    // The last `distance` bytes, from the 8 bytes before `to` (all of them
    // history or output already), spread over the whole register.
    std::uint64_t pattern = LoadLe<std::uint64_t>(to - 8) >> (64 - 8 * distance);
    for (unsigned n = distance; n < 8; n *= 2) pattern |= pattern << (8 * n);
    // 8 - 8 % distance for distances 1 to 7, four bits each.
    const unsigned step = (0x76586880u >> (4 * distance)) & 0x0F;
    do {
      StoreLe64(to, pattern);
      to += step;
    } while (to < stop);
    return;
  }
  Copy8(to, from);
  Copy8(to + 8, from + 8);
  Copy8(to + 16, from + 16);
  Copy8(to + 24, from + 24);
  if (to + 32 >= stop) return;
  to += 32;
  from += 32;
  if (stepsFit) {
    do {
      Copy8(to, from);
      to += 8;
      from += 8;
    } while (to < stop);
  } else {
    while (to < stop) *to++ = *from++;
  }
}

// Writes the full block at window + kExplodeBlockSize and keeps it below
// kExplodeBlockSize as history; gives the output position moved down with it.
inline std::uint8_t* FlushBlock(ExplodeWork* w, std::uint8_t* out) {
  std::uint8_t* const window = w->window;
  unsigned blockSize = kExplodeBlockSize;
  w->writeCallback(reinterpret_cast<char*>(window + kExplodeBlockSize), &blockSize,
                   w->userParameter);
  const unsigned position = static_cast<unsigned>(out - window);
  std::memmove(window, window + kExplodeBlockSize, position - kExplodeBlockSize);
  return out - kExplodeBlockSize;
}

// The main loop with a 64-bit bit buffer: decodes tokens into the window and
// writes full blocks until the end code or the end of input. Returns
// kEndToken or kErrorToken and leaves the output position in *outputPosition.
// One token through the field-by-field path, which asks for input as it
// needs it (through `reader`, the caller's reader for the callbacks; `in`
// follows it): a literal or a match written at `out`, which moves behind it.
// Rare in the fast loops (near the end of each input block), so a match is
// copied byte by byte. Returns the token; at kEndToken or above nothing is
// written.
template <typename BitWord>
inline unsigned DecodeTokenSlowly(BitReader<BitWord>& in, BitReader<BitWord>& reader,
                                  ExplodeWork* w, std::uint8_t*& out) {
  unsigned distance = 0;
  reader = in;
  const unsigned token = DecodeToken(reader, w, &distance);
  in = reader;
  if (token < kMatchToken) {
    *out++ = static_cast<std::uint8_t>(token);
  } else if (token < kEndToken) {
    const unsigned length = token - kMatchToken + 2;
    for (unsigned i = 0; i < length; ++i, ++out) *out = out[-static_cast<std::ptrdiff_t>(distance)];
  }
  return token;
}

template <bool kCoded, typename BitWord>
unsigned DecodeTokens(BitReader<BitWord>& reader, ExplodeWork* w, unsigned* outputPosition) {
  static_assert(!BitReader<BitWord>::kNarrow, "32 bits decode in DecodeTokensNarrow");
  std::uint8_t* const window = w->window;
  std::uint8_t* const flushAt = window + kFlushPosition;
  const unsigned dictionaryBits = w->dictionaryBits;
  std::uint8_t* out = window + *outputPosition;
  unsigned token;
  // A copy whose address never leaves this function, so that the bit buffer
  // can stay in registers; `reader` is brought up to date around the
  // field-by-field path.
  BitReader<BitWord> in = reader;
  for (;;) {
    if (in.CanRefillWide()) {
      // Every token decoded here leaves kFastBits for the next one; only the
      // field-by-field path leaves fewer.
      if (in.count < kFastBits) in.RefillWide();
      if ((in.bits & 1) == 0) {
        // A refilled literal leaves at least 42 bits (47 in plain mode), so
        // the next one (two in plain mode) can go without a refill.
        do {
          *out++ = static_cast<std::uint8_t>(DecodeLiteralFast<kCoded, true>(in));
          if ((in.bits & 1) == 0 && out < flushAt) {
            *out++ = static_cast<std::uint8_t>(DecodeLiteralFast<kCoded, false>(in));
            if (!kCoded && (in.bits & 1) == 0 && out < flushAt) {
              *out++ = static_cast<std::uint8_t>(DecodeLiteralFast<kCoded, false>(in));
            }
          }
        } while ((in.bits & 1) == 0 && out < flushAt && in.CanRefillWide());
      } else {
        unsigned distance = 0;
        token = DecodeMatchFast<true>(in, dictionaryBits, &distance);
        if (token >= kEndToken) break;
        const unsigned length = token - kMatchToken + 2;
        CopyMatch(window, out, distance, length);
        out += length;
      }
    } else if (in.count >= kTokenBitsWithLookAhead) {
      // Within the last 7 bytes of inputBuffer, while the bits still hold a
      // whole token.
      if ((in.bits & 1) == 0) {
        *out++ = static_cast<std::uint8_t>(DecodeLiteralFast<kCoded, false>(in));
      } else {
        unsigned distance = 0;
        token = DecodeMatchFast<false>(in, dictionaryBits, &distance);
        if (token >= kEndToken) break;
        const unsigned length = token - kMatchToken + 2;
        CopyMatch(window, out, distance, length);
        out += length;
      }
    } else {
      token = DecodeTokenSlowly(in, reader, w, out);
      if (token >= kEndToken) break;
    }
    if (out >= flushAt) out = FlushBlock(w, out);
  }
  reader = in;
  *outputPosition = static_cast<unsigned>(out - window);
  return token;
}

// The main loop with a 32-bit bit buffer: what DecodeTokens does, with the
// same callback calls. Its fast path holds `position`, the index of the next
// bit in inputBuffer, and nothing else of the input: each token loads the 4
// bytes that hold its first bit and shifts them down to it, and a match loads
// again at its distance. Near the end of each input block, and until the
// bits of the previous read are used up, tokens go through the bit buffer
// field by field (DecodeToken), which alone reads.
template <bool kCoded>
unsigned DecodeTokensNarrow(BitReader<std::uint32_t>& reader, ExplodeWork* w,
                            unsigned* outputPosition) {
  std::uint8_t* const window = w->window;
  std::uint8_t* const flushAt = window + kFlushPosition;
  const std::uint8_t* const input = w->inputBuffer;
  const unsigned dictionaryBits = w->dictionaryBits;
  std::uint8_t* out = window + *outputPosition;
  unsigned token = 0;
  BitReader<std::uint32_t> in = reader;
  for (;;) {
    // A token may start at a bit below `limit`: its byte and the
    // kNarrowBytes - 1 after it have been delivered. The bit buffer's bits
    // must all be in inputBuffer, not partly from the previous read.
    const unsigned delivered = static_cast<unsigned>(in.end - input);
    const unsigned limit = delivered >= kNarrowBytes ? 8 * (delivered - kNarrowBytes + 1) : 0;
    const unsigned taken = 8 * static_cast<unsigned>(in.next - input);
    if (in.count <= taken && taken - in.count < limit) {
      unsigned position = taken - in.count;
      do {
        // A full block is written before the next token, as DecodeTokens
        // writes it after the last one: no callback comes in between.
        if (out >= flushAt) out = FlushBlock(w, out);
        std::uint32_t bits = LoadLe<std::uint32_t>(input + (position >> 3)) >> (position & 7);
        if ((bits & 1) == 0) {
          if (kCoded) {
            const unsigned entry = LookUpCodedLiteral(bits);
            *out++ = static_cast<std::uint8_t>(entry >> 8);
            position += entry & 0x3F;
          } else {
            *out++ = static_cast<std::uint8_t>(bits >> 1);
            position += 9;
            if ((bits & 0x200) == 0 && out < flushAt) {
              *out++ = static_cast<std::uint8_t>(bits >> 10);
              position += 9;
            }
          }
          continue;
        }
        // A match; `length` is its length - 2, as in the token value.
        const NarrowLength& code = kNarrowMatchTables.length[(bits >> 1) & 0x7F];
        const unsigned length = code.base + ((bits >> code.extraStart) & code.extraMask);
        position += code.bits;
        if (kMatchToken + length >= kEndToken) {
          token = kEndToken;
          break;
        }
        bits = LoadLe<std::uint32_t>(input + (position >> 3)) >> (position & 7);
        const unsigned prefix = kNarrowMatchTables.distance[bits & 0xFF];
        const unsigned prefixBits = prefix & 0x3F;
        const unsigned lowBits = length == 0 ? 2 : dictionaryBits;
        const unsigned distance =
            (((prefix >> 6) << lowBits) | ((bits >> prefixBits) & ((1u << lowBits) - 1))) + 1;
        position += prefixBits + lowBits;
        if (distance >= 8 && length + 2 <= 16) {
          // Most matches, copied here rather than through a call, which on
          // a 32-bit target costs as much again; see CopyMatch for why 8-byte
          // steps are safe (a match begins below kFlushPosition).
          Copy8(out, out - distance);
          Copy8(out + 8, out + 8 - distance);
        } else {
          CopyMatch(window, out, distance, length + 2);
        }
        out += length + 2;
      } while (position < limit);
      // Back to the bit buffer, with the rest of the 2 bytes from `position`
      // (at least 9 bits), which the last token left within its kNarrowBytes.
      const std::uint8_t* const at = input + (position >> 3);
      in.bits = (at[0] | static_cast<std::uint32_t>(at[1]) << 8) >> (position & 7);
      in.count = 16 - (position & 7);
      in.next = at + 2;
      if (token == kEndToken) break;
    }
    if (out >= flushAt) out = FlushBlock(w, out);
    token = DecodeTokenSlowly(in, reader, w, out);
    if (token >= kEndToken) break;
  }
  reader = in;
  *outputPosition = static_cast<unsigned>(out - window);
  return token;
}

}  // namespace

template <typename BitWord>
std::uint32_t ExplodeWithBitBuffer(ExplodeReadCallback readCallback,
                                   ExplodeWriteCallback writeCallback, void* work,
                                   void* userParameter) {
  ExplodeWork* const w = static_cast<ExplodeWork*>(work);
  w->readCallback = readCallback;
  w->writeCallback = writeCallback;
  w->userParameter = userParameter;

  unsigned size = kExplodeInputSize;
  unsigned got = readCallback(reinterpret_cast<char*>(w->inputBuffer), &size, userParameter);
  if (got <= 4) return kExplodeShortHeader;
  w->inputCount = got < kExplodeInputSize ? got : static_cast<unsigned>(kExplodeInputSize);
  w->literalMode = w->inputBuffer[0];
  w->dictionaryBits = w->inputBuffer[1];
  w->bitBuffer = w->inputBuffer[2];
  w->extraBits = 0;
  w->inputPosition = 3;

  if (w->dictionaryBits < 4 || w->dictionaryBits > 6) return kExplodeBadDictionary;
  w->distanceMask = 0xFFFFu >> (16 - w->dictionaryBits);
  if (w->literalMode == 1) {
    BuildLiteralTables(w);
  } else if (w->literalMode != 0) {
    return kExplodeBadLiteralMode;
  }
  std::memcpy(w->lengthBits, kLengthBits, sizeof w->lengthBits);
  BuildDecodeTable(w->lengthBits, kLengthCodes, 16, w->lengthDecode);
  std::memcpy(w->lengthExtraBits, kLengthExtraBits, sizeof w->lengthExtraBits);
  std::memcpy(w->lengthBase, kLengthBase, sizeof w->lengthBase);
  std::memcpy(w->distanceBits, kDistanceBits, sizeof w->distanceBits);
  BuildDecodeTable(w->distanceBits, kDistanceCodes, 64, w->distanceDecode);

  // History before the first output byte reads as zeros.
  std::memset(w->window, 0, kExplodeBlockSize);

  BitReader<BitWord> in{w, w->bitBuffer, 8, w->inputBuffer + w->inputPosition,
                        w->inputBuffer + w->inputCount};
  unsigned position = kExplodeBlockSize;
  unsigned token;
  if constexpr (BitReader<BitWord>::kNarrow) {
    token = w->literalMode != 0 ? DecodeTokensNarrow<true>(in, w, &position)
                                : DecodeTokensNarrow<false>(in, w, &position);
  } else {
    token = w->literalMode != 0 ? DecodeTokens<true>(in, w, &position)
                                : DecodeTokens<false>(in, w, &position);
  }

  w->outputPosition = position;
  w->bitBuffer = static_cast<std::uint32_t>(in.bits);
  w->inputPosition = static_cast<std::uint32_t>(in.next - w->inputBuffer);
  w->inputCount = static_cast<std::uint32_t>(in.end - w->inputBuffer);
  unsigned finalSize = position - kExplodeBlockSize;
  writeCallback(reinterpret_cast<char*>(w->window + kExplodeBlockSize), &finalSize, userParameter);
  return token == kEndToken ? kExplodeOk : kExplodeTruncated;
}

template std::uint32_t ExplodeWithBitBuffer<std::uint32_t>(ExplodeReadCallback,
                                                           ExplodeWriteCallback, void*, void*);
template std::uint32_t ExplodeWithBitBuffer<std::uint64_t>(ExplodeReadCallback,
                                                           ExplodeWriteCallback, void*, void*);

std::uint32_t explode(ExplodeReadCallback readCallback, ExplodeWriteCallback writeCallback,
                      void* work, void* userParameter) {
  return ExplodeWithBitBuffer<ExplodeBitWord>(readCallback, writeCallback, work, userParameter);
}
