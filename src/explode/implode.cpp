#include "explode/implode.hpp"

#include "explode/code_tables.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace {

// ---------------------------------------------------------------------------
// The fixed codes of the format (explode/code_tables.hpp). A code of B bits
// with value C is written by putting C's low B bits into the bit stream,
// least significant bit first.

constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 518;
constexpr unsigned kMaxShortDistance = 256;  // length-2 matches: 2 low bits
constexpr unsigned kMaxWindow = 4096;

// Length code index for each length value (length - 2, 0 to 516).
constexpr std::array<std::uint8_t, kMaxMatch - 1> kLengthCodeOf = [] {
  std::array<std::uint8_t, kMaxMatch - 1> table{};
  for (unsigned c = 0; c < 16; ++c) {
    for (unsigned x = 0; x < (1u << kLengthExtraBits[c]); ++x) {
      unsigned value = kLengthBase[c] + x;
      if (value < table.size()) table[value] = static_cast<std::uint8_t>(c);
    }
  }
  return table;
}();

// ---------------------------------------------------------------------------
// Bit output, least significant bit first.

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  // Appends the low `count` bits of `value` (count at most 32). Called a few
  // times per token: kept inline, as a call costs more than the work.
  [[gnu::always_inline]] void Put(std::uint32_t value, unsigned count) {
    buffer_ |= static_cast<std::uint64_t>(value & ((std::uint64_t{1} << count) - 1)) << used_;
    used_ += count;
    if (used_ >= 32) {
      std::uint8_t bytes[4];
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(buffer_ >> (8 * i));
      out_.insert(out_.end(), bytes, bytes + 4);
      buffer_ >>= 32;
      used_ -= 32;
    }
  }

  // Writes the remaining bits, padding the last byte with zero bits.
  void Finish() {
    while (used_ > 0) {
      out_.push_back(static_cast<std::uint8_t>(buffer_));
      buffer_ >>= 8;
      used_ = used_ > 8 ? used_ - 8 : 0;
    }
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint64_t buffer_ = 0;
  unsigned used_ = 0;
};

// ---------------------------------------------------------------------------
// The encoder: a price-driven shortest-path parse over blocks of the input,
// fed by hash chains. Every code of the format is fixed, so the price of each
// token is known exactly before the parse and the cheapest path through a
// block is the smallest encoding of that block for the matches found.

struct SearchLevel {
  unsigned nearDepth;   // 3-byte chain entries examined for the nearest match
  unsigned chainDepth;  // 4-byte and 8-byte chain entries examined for longer matches
  // The positions a match this long covers are not searched: the parse still
  // weighs every way into and out of them, but no match starts inside it.
  // Unlike taking the match at once, the path stays free around it.
  unsigned skipLength;
  unsigned niceLength;  // a match this long ends the parse block and is taken at once
};

// The 3-byte chain holds one entry per position of the window, so a depth of
// kMaxWindow walks it whole. No match is longer than kMaxMatch.
constexpr SearchLevel kDefaultLevel{16, 32, 22, 128};
constexpr SearchLevel kBestLevel{kMaxWindow, 512, kMaxMatch + 1, kMaxMatch};
// For the automatic choices on samples of a large input: a third faster, and
// on the benchmark corpora, whole and in 1 MiB pieces, it picks what the
// default level picks.
constexpr SearchLevel kTrialLevel{8, 8, 12, 32};

// Heads for the 3-, 4- and 8-byte chains: eight buckets per window position,
// so a walk seldom meets a stranger's entry, and on data with few repeats the
// head is nearly always empty or out of the window, which the branch
// predictor learns. The heads are fetched ahead (ParseBlock), so their size
// costs little.
constexpr unsigned kHashBits = 15;
constexpr unsigned kHashSize = 1u << kHashBits;
// Matches of this many bytes or more are looked for on a chain of their own.
constexpr unsigned kLongKey = 8;
// Positions per parse block. Each block boundary forces the path through one
// position and cuts the matches that would cross it: with a boundary every
// 4 KiB that cost about 0.05% on text, with 32 KiB blocks it is negligible.
// Block offsets must fit the 16-bit path entries.
constexpr unsigned kBlockSize = 32768;
static_assert(kBlockSize <= std::numeric_limits<std::uint16_t>::max());
// Above any real price (a block's cheapest path costs under 2^24 bits); a
// token priced kNever never replaces it, even added to a real price. Both stay
// below 2^31, so prices compare alike as signed and unsigned words.
constexpr std::uint32_t kInfinite = 0x3FFFFFFF;
constexpr std::uint32_t kNever = 0x40000000;
// Lengths relaxed together as one vector; the price arrays run this far past
// the block so that the last group stays inside them.
constexpr unsigned kLanes = 4;
using PriceVector = std::int32_t __attribute__((vector_size(4 * kLanes)));
// Prices are set to infinite this many offsets ahead at a time at least, so
// the filling runs as a few long stores.
constexpr unsigned kFillStep = 1024;

inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Number of equal bytes at a and b, at most limit.
inline unsigned MatchLength(const std::uint8_t* a, const std::uint8_t* b, unsigned limit) {
  unsigned n = 0;
  while (n + 8 <= limit) {
    std::uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) return n + static_cast<unsigned>(__builtin_ctzll(diff) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

class Encoder {
 public:
  Encoder(std::span<const std::uint8_t> input, const ImplodeChoice& choice, const SearchLevel& level)
      : in_(input.data()),
        size_(static_cast<std::uint32_t>(input.size())),
        ascii_(choice.literals == LiteralMode::Ascii),
        window_(choice.dictionarySize),
        dictionaryBits_(choice.dictionarySize == 1024 ? 4 : choice.dictionarySize == 2048 ? 5 : 6),
        level_(level) {
    for (unsigned b = 0; b < 256; ++b) literalPrice_[b] = 1 + (ascii_ ? kLiteralBits[b] : 8);
    for (unsigned length = kMinMatch; length <= kMaxMatch; ++length) {
      unsigned c = kLengthCodeOf[length - 2];
      lengthPrice_[length] = 1 + kLengthBits[c] + kLengthExtraBits[c];
    }
    shortDistancePrice_[0] = kNever;
    for (unsigned d = 1; d <= kMaxShortDistance; ++d)
      shortDistancePrice_[d] = kDistanceBits[(d - 1) >> 2] + 2u;
    for (unsigned d = 1; d <= kMaxWindow; ++d) {
      unsigned prefix = (d - 1) >> dictionaryBits_;
      distancePrice_[d] = prefix < 64 ? static_cast<std::uint8_t>(kDistanceBits[prefix] + dictionaryBits_) : 0xFF;
    }
  }

  std::vector<std::uint8_t> Run() {
    // Room for the whole stream at once, so that it is never copied to a
    // larger buffer: with plain literals no stream is longer than the input
    // written as literals of 9 bits (a block's cheapest path costs no more
    // than its literals, a long match taken at once less than its bytes),
    // and data chosen for coded literals is text, which shrinks to less
    // than half.
    std::vector<std::uint8_t> out;
    out.reserve(ascii_ ? size_ / 2 + 16 : size_ + size_ / 8 + 16);
    out.push_back(ascii_ ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(dictionaryBits_));
    BitWriter bits(out);
    bits_ = &bits;

    head_.fill(0);
    quadHead_.fill(0);
    longHead_.fill(0);
    pairLast_.fill(0);
    std::uint32_t start = 0;
    while (start < size_) start = ParseBlock(start);

    // End code: flag 1, length code 15, eight extra bits all set.
    bits.Put(1, 1);
    bits.Put(kLengthCodes[15], kLengthBits[15]);
    bits.Put(0xFF, 8);
    bits.Finish();
    // The decoder refuses a first read of 4 bytes or fewer.
    while (out.size() < 5) out.push_back(0);
    return out;
  }

 private:
  struct Match {
    std::uint16_t length;
    std::uint16_t distance;
  };

  // Multiplicative hashes of the first 3, 4 and kLongKey bytes.
  static std::uint32_t Mix(std::uint32_t v, unsigned bits) { return (v * 0x9E3779B1u) >> (32 - bits); }
  static std::uint32_t MixLong(std::uint64_t v) {
    return static_cast<std::uint32_t>((v * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
  }

  // The chain heads of one position, and its pair of bytes (first byte low)
  // that indexes the last place of each pair; each valid where its bytes
  // exist.
  struct Heads {
    std::uint32_t near, quad, wide, pair;
  };

  Heads HeadsAt(std::uint32_t pos) const {
    Heads h{};
    if (pos + kLongKey <= size_) {
      const std::uint64_t v = Load64(in_ + pos);
      const auto low = static_cast<std::uint32_t>(v);
      return Heads{Mix(low & 0xFFFFFF, kHashBits), Mix(low, kHashBits), MixLong(v), low & 0xFFFF};
    }
    // The last bytes: no load past the end.
    std::uint32_t v = 0;
    for (std::uint32_t i = 0; i < 4 && pos + i < size_; ++i) v |= static_cast<std::uint32_t>(in_[pos + i]) << (8 * i);
    if (pos + 2 <= size_) h.pair = v & 0xFFFF;
    if (pos + 3 <= size_) h.near = Mix(v & 0xFFFFFF, kHashBits);
    if (pos + 4 <= size_) h.quad = Mix(v, kHashBits);
    return h;
  }

  // Adds pos to the hash chains. Positions are stored plus one; 0 is empty.
  // All but the last few positions take the first branch: one test instead
  // of four, worth about 3% on data with few repeats.
  void Insert(std::uint32_t pos, Heads h) {
    if (pos + kLongKey <= size_) {
      prev_[pos & (kMaxWindow - 1)] = head_[h.near];
      head_[h.near] = pos + 1;
      quadPrev_[pos & (kMaxWindow - 1)] = quadHead_[h.quad];
      quadHead_[h.quad] = pos + 1;
      longPrev_[pos & (kMaxWindow - 1)] = longHead_[h.wide];
      longHead_[h.wide] = pos + 1;
      pairLast_[h.pair] = static_cast<std::uint8_t>(pos);
      return;
    }
    // The last bytes: no 8-byte chain.
    if (pos + 2 <= size_) pairLast_[h.pair] = static_cast<std::uint8_t>(pos);
    if (pos + 3 <= size_) {
      prev_[pos & (kMaxWindow - 1)] = head_[h.near];
      head_[h.near] = pos + 1;
    }
    if (pos + 4 <= size_) {
      quadPrev_[pos & (kMaxWindow - 1)] = quadHead_[h.quad];
      quadHead_[h.quad] = pos + 1;
    }
  }

  // Finds, for pos, the nearest match of every length it can reach. Fills
  // matches_ with increasing lengths; each entry's distance serves every
  // length above the previous entry's length. Returns the number of entries.
  // The length-2 match (distance at most 256) is returned in pairDistance.
  unsigned FindMatches(std::uint32_t pos, unsigned limit, Heads heads, unsigned& pairDistance) {
    pairDistance = 0;
    if (limit < kMinMatch) return 0;
    {
      // The low byte of the last place of this pair: the place that many
      // bytes back (256 for 0) is the last one if it holds the pair, as any
      // later one would have replaced it.
      const std::uint32_t distance = ((pos - pairLast_[heads.pair] - 1) & 0xFF) + 1;
      const bool found = distance <= pos &&
                         (in_[pos - distance] | static_cast<std::uint32_t>(in_[pos - distance + 1]) << 8) == heads.pair;
      pairDistance = found ? distance : 0;
    }

    if (limit < 3) return 0;
    unsigned count = 0;
    unsigned bestLength = 2;
    const std::uint8_t* here = in_ + pos;

    // The nearest match of 3 bytes or more from the 3-byte chain: its head is
    // nearly always the answer, so only hash collisions are skipped. Without
    // it no longer match is looked for, so a miss here costs every length.
    std::uint32_t found = 0;  // where the longest match so far starts
    std::uint32_t candidate = head_[heads.near];
    for (unsigned depth = level_.nearDepth; candidate != 0 && depth > 0; --depth) {
      std::uint32_t c = candidate - 1;
      std::uint32_t distance = pos - c;
      if (distance > window_) break;
      candidate = prev_[c & (kMaxWindow - 1)];
      const std::uint8_t* there = in_ + c;
      if (there[0] != here[0] || there[1] != here[1] || there[2] != here[2]) continue;
      bestLength = MatchLength(here, there, limit);
      matches_[count++] = Match{static_cast<std::uint16_t>(bestLength), static_cast<std::uint16_t>(distance)};
      found = c;
      break;
    }
    if (count == 0 || bestLength >= limit || limit < 4) return count;

    // Longer matches from the 4-byte chain, until they reach kLongKey - 1
    // bytes. Every candidate there that shares 4 bytes lies at least as far
    // back as the nearest 3-byte match, so the entries stay ordered by
    // distance and length; when that match shares 4 bytes it is on this
    // chain, and the walk starts behind it.
    unsigned depth = level_.chainDepth;
    std::uint32_t reached = pos - found;  // distance of the last candidate examined
    if (bestLength < kLongKey - 1) {
      candidate = bestLength >= 4 ? quadPrev_[found & (kMaxWindow - 1)] : quadHead_[heads.quad];
      for (; candidate != 0 && depth > 0; --depth) {
        std::uint32_t c = candidate - 1;
        std::uint32_t distance = pos - c;
        if (distance > window_) return count;
        candidate = quadPrev_[c & (kMaxWindow - 1)];
        const std::uint8_t* there = in_ + c;
        reached = distance;
        if (there[bestLength] != here[bestLength] || Load32(there) != Load32(here)) continue;
        unsigned length = MatchLength(here, there, limit);
        if (length > bestLength) {
          bestLength = length;
          matches_[count++] = Match{static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(distance)};
          found = c;
          if (length >= limit || length >= level_.niceLength) return count;
          if (length >= kLongKey - 1) break;
        }
      }
      // The end of this chain is the end of the longer one too; its depth
      // only ends this walk, as matches of common words fill it. Near the
      // end of the input no 8 bytes are left to compare.
      if (candidate == 0 || limit < kLongKey) return count;
    }
    depth = level_.chainDepth;
    // Longer ones still share kLongKey bytes: their chain is far shorter
    // than the 4-byte one for the common words of text. It goes on behind
    // the longest match when that is on it; otherwise its entries up to the
    // distance reached above were seen there already.
    candidate = bestLength >= kLongKey ? longPrev_[found & (kMaxWindow - 1)] : longHead_[heads.wide];
    for (; candidate != 0 && depth > 0; --depth) {
      std::uint32_t c = candidate - 1;
      std::uint32_t distance = pos - c;
      if (distance > window_) break;
      candidate = longPrev_[c & (kMaxWindow - 1)];
      if (distance <= reached) continue;
      const std::uint8_t* there = in_ + c;
      if (there[bestLength] != here[bestLength] || Load64(there) != Load64(here)) continue;
      unsigned length = MatchLength(here, there, limit);
      if (length > bestLength) {
        bestLength = length;
        matches_[count++] = Match{static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(distance)};
        if (length >= limit || length >= level_.niceLength) break;
      }
    }
    return count;
  }

  // Parses from start to the end of a block, writes its tokens, and returns
  // where the next block starts.
  std::uint32_t ParseBlock(std::uint32_t start) {
    const std::uint32_t end = std::min<std::uint32_t>(size_, start + kBlockSize);
    const unsigned span = end - start;
    // Prices are set to infinite (and steps to a literal) only as far as a
    // token from a parsed position reaches: a long match ends the block
    // early, and filling the whole block each time would cost more than the
    // parse. Every price and step the parse reads, the lanes of a vector
    // past its last length included, is set.
    unsigned filled = 0;
    auto fillTo = [&](unsigned k) {
      if (filled >= k) return;
      const unsigned to = std::min(std::max(k, filled + kFillStep), span + kLanes - 1);
      std::fill(price_.begin() + filled + 1, price_.begin() + to + 1, kInfinite);
      std::fill(step_.begin() + filled + 1, step_.begin() + to + 1, 1);
      filled = to;
    };

    // The price of the current offset runs in a register: once the literal
    // from offset k is weighed, nothing reaches k + 1 any more, so its price
    // is final there and need not go through memory.
    std::uint32_t here = 0;
    std::uint32_t next = 0;
    Heads heads = HeadsAt(start);
    std::uint32_t searchFrom = start;  // positions before it lie inside a long match
    for (std::uint32_t pos = start; pos < end; ++pos, here = next) {
      // The next position's chain heads are fetched while this one is
      // searched: on data with few repeats nearly every head is a cache miss.
      const Heads following = HeadsAt(pos + 1);
      __builtin_prefetch(&head_[following.near], 1);
      __builtin_prefetch(&quadHead_[following.quad], 1);
      __builtin_prefetch(&longHead_[following.wide], 1);
      __builtin_prefetch(&pairLast_[following.pair], 1);
      const unsigned k = pos - start;

      // Literal.
      fillTo(k + 1);
      const std::uint32_t literal = here + literalPrice_[in_[pos]];
      const std::uint32_t known = price_[k + 1];
      step_[k + 1] = literal < known ? 1 : step_[k + 1];
      next = std::min(literal, known);

      unsigned limit = std::min<std::uint32_t>(kMaxMatch, size_ - pos);
      unsigned pairDistance = 0;
      unsigned count = pos >= searchFrom ? FindMatches(pos, limit, heads, pairDistance) : 0;
      if (count > 0 && matches_[count - 1].length >= level_.skipLength) searchFrom = pos + matches_[count - 1].length;
      if (count > 0 && matches_[count - 1].length >= level_.niceLength) {
        // A long match: end the block here and take it.
        Match m = matches_[count - 1];
        Insert(pos, heads);
        EmitPath(k);
        EmitMatch(m.length, m.distance);
        for (std::uint32_t q = pos + 1; q < pos + m.length; ++q) Insert(q, HeadsAt(q));
        return pos + m.length;
      }
      Insert(pos, heads);
      heads = following;

      const unsigned room = end - pos;  // matches end inside the block
      if (count > 0) {
        fillTo(k + std::min<unsigned>(matches_[count - 1].length, room));
      } else {
        fillTo(k + 2);
      }
      // Without a pair the price is out of reach; a pair past the block's end
      // lands beyond the offsets the path is read from.
      Relax(k + 2, here + lengthPrice_[2] + shortDistancePrice_[pairDistance], 2 | pairDistance << 16);
      if (count == 0) continue;
      unsigned length = 3;
      for (unsigned j = 0; j < count; ++j) {
        const unsigned top = std::min<unsigned>(matches_[j].length, room);
        const std::uint32_t distance = matches_[j].distance;
        const std::uint32_t base = here + distancePrice_[distance];
        if (length <= top) RelaxRange(k, length, top, base, distance);
        length = std::max(length, top + 1);
      }
    }
    EmitPath(span);
    return end;
  }

  // Keeps the cheaper of the known way to block offset t and a token of
  // `price` that ends there (step: length, and distance in the high half).
  [[gnu::always_inline]] void Relax(unsigned t, std::uint32_t price, std::uint32_t step) {
    // Branch-free: which way wins is data, and a wrong guess costs more
    // than both stores.
    const std::uint32_t keep = price_[t];
    const std::uint32_t take = 0u - static_cast<std::uint32_t>(price < keep);
    price_[t] = (price & take) | (keep & ~take);
    step_[t] = (step & take) | (step_[t] & ~take);
  }

  // Relax for the match of `distance` at every length from `from` to `to`
  // (block offsets k + from to k + to), kLanes lengths at a time and without
  // branches: a match relaxes several lengths, and which of them win is
  // data. Lanes past `to` store back what they loaded.
  [[gnu::always_inline]] void RelaxRange(unsigned k, unsigned from, unsigned to, std::uint32_t base,
                                         std::uint32_t distance) {
    PriceVector lanes;
    for (unsigned i = 0; i < kLanes; ++i) lanes[i] = static_cast<std::int32_t>(i);
    const PriceVector last = PriceVector{} + static_cast<std::int32_t>(to);
    const PriceVector distanceBits = PriceVector{} + static_cast<std::int32_t>(distance << 16);
    for (unsigned length = from; length <= to; length += kLanes) RelaxGroup(k, length, last, distanceBits, base, lanes);
  }

  // One group of kLanes lengths from `length` on.
  [[gnu::always_inline]] void RelaxGroup(unsigned k, unsigned length, PriceVector last, PriceVector distanceBits,
                                         std::uint32_t base, PriceVector lanes) {
    PriceVector price, oldPrice, oldStep;
    std::memcpy(&price, &lengthPrice_[length], sizeof price);
    std::memcpy(&oldPrice, &price_[k + length], sizeof oldPrice);
    std::memcpy(&oldStep, &step_[k + length], sizeof oldStep);
    price += static_cast<std::int32_t>(base);
    const PriceVector lengths = lanes + static_cast<std::int32_t>(length);
    const PriceVector take = (price < oldPrice) & (lengths <= last);
    const PriceVector newPrice = (price & take) | (oldPrice & ~take);
    const PriceVector newStep = ((lengths | distanceBits) & take) | (oldStep & ~take);
    std::memcpy(&price_[k + length], &newPrice, sizeof newPrice);
    std::memcpy(&step_[k + length], &newStep, sizeof newStep);
  }

  // Writes the cheapest path from the block start to block offset k.
  void EmitPath(unsigned k) {
    unsigned steps = 0;
    for (unsigned at = k; at > 0; at -= step_[at] & 0xFFFF) path_[steps++] = static_cast<std::uint16_t>(at);
    while (steps > 0) {
      const unsigned at = path_[--steps];
      const unsigned length = step_[at] & 0xFFFF;
      if (length == 1) {
        EmitLiteral(in_[emitted_]);
      } else {
        EmitMatch(length, step_[at] >> 16);
      }
    }
  }

  void EmitLiteral(std::uint8_t byte) {
    bits_->Put(0, 1);
    if (ascii_) {
      bits_->Put(kLiteralCodes[byte], kLiteralBits[byte]);
    } else {
      bits_->Put(byte, 8);
    }
    ++emitted_;
  }

  void EmitMatch(unsigned length, unsigned distance) {
    const unsigned c = kLengthCodeOf[length - 2];
    bits_->Put(1, 1);
    bits_->Put(kLengthCodes[c], kLengthBits[c]);
    if (kLengthExtraBits[c] != 0) bits_->Put(length - 2 - kLengthBase[c], kLengthExtraBits[c]);
    const unsigned lowBits = length == 2 ? 2 : dictionaryBits_;
    const unsigned prefix = (distance - 1) >> lowBits;
    bits_->Put(kDistanceCodes[prefix], kDistanceBits[prefix]);
    bits_->Put(distance - 1, lowBits);
    emitted_ += length;
  }

  const std::uint8_t* in_;
  std::uint32_t size_;
  bool ascii_;
  unsigned window_;
  unsigned dictionaryBits_;
  SearchLevel level_;
  BitWriter* bits_ = nullptr;
  std::uint32_t emitted_ = 0;

  std::array<std::uint8_t, 256> literalPrice_{};
  std::array<std::uint32_t, kMaxMatch + kLanes> lengthPrice_{};
  std::array<std::uint32_t, kMaxShortDistance + 1> shortDistancePrice_{};
  std::array<std::uint8_t, kMaxWindow + 1> distancePrice_{};

  // Left uninitialised on purpose: the heads are cleared by Run, a chain
  // entry is read only after its position was inserted, and the parser state
  // only where the parse has set it. Clearing all of it cost more than
  // encoding a small member.
  std::array<std::uint32_t, kHashSize> head_;
  std::array<std::uint32_t, kMaxWindow> prev_;
  std::array<std::uint32_t, kHashSize> quadHead_;
  std::array<std::uint32_t, kMaxWindow> quadPrev_;
  std::array<std::uint32_t, kHashSize> longHead_;
  std::array<std::uint32_t, kMaxWindow> longPrev_;
  // Low byte of the last position of each pair of bytes, by the pair: the
  // nearest length-2 match is one lookup, no chain.
  std::array<std::uint8_t, 65536> pairLast_;
  std::array<Match, kMaxMatch> matches_;

  std::array<std::uint32_t, kBlockSize + kLanes> price_;
  std::array<std::uint32_t, kBlockSize + kLanes> step_;  // how each offset is reached best
  std::array<std::uint16_t, kBlockSize + 1> path_;
};

}  // namespace

namespace {

unsigned CheckedDictionarySize(unsigned size) {
  if (size != 0 && size != 1024 && size != 2048 && size != 4096)
    throw std::invalid_argument("dictionary size must be 1024, 2048 or 4096");
  return size;
}

// Encodes with a fixed choice; the encoder's tables are large, so it lives on
// the heap.
const SearchLevel& LevelFor(bool best) { return best ? kBestLevel : kDefaultLevel; }

std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> input, const ImplodeChoice& choice,
                                 const SearchLevel& level) {
  if (input.size() >= std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("input too large for one implode stream");
  auto encoder = std::make_unique<Encoder>(input, choice, level);
  return encoder->Run();
}

// Inputs up to this size are encoded whole with every candidate; larger ones
// are judged on samples spread over the input.
constexpr std::size_t kWholeTrialLimit = 192 * 1024;
constexpr std::size_t kBestWholeTrialLimit = 1024 * 1024;
constexpr std::size_t kSampleSize = 48 * 1024;

// Makes the automatic choices. When the candidates were tried on the whole
// input at the level asked for, the winner's stream is the answer and is
// handed back in `stream`, so Implode need not encode it again; otherwise
// `stream` is left empty.
ImplodeChoice Choose(std::span<const std::uint8_t> input, const ImplodeOptions& options,
                     std::vector<std::uint8_t>* stream) {
  const unsigned fixedSize = CheckedDictionarySize(options.dictionarySize);
  std::vector<LiteralMode> modes;
  if (options.literals == LiteralMode::Auto) {
    modes = {LiteralMode::Binary, LiteralMode::Ascii};
  } else {
    modes = {options.literals};
  }
  std::vector<unsigned> sizes;
  if (fixedSize == 0) {
    sizes = {4096, 2048, 1024};
  } else {
    sizes = {fixedSize};
  }
  if (modes.size() == 1 && sizes.size() == 1) return ImplodeChoice{modes[0], sizes[0]};

  // The pieces of input each candidate is tried on.
  std::vector<std::span<const std::uint8_t>> samples;
  const std::size_t wholeLimit = options.best ? kBestWholeTrialLimit : kWholeTrialLimit;
  if (input.size() <= wholeLimit) {
    samples.push_back(input);
  } else {
    const std::size_t count = options.best ? 12 : 3;
    const std::size_t stride = (input.size() - kSampleSize) / (count - 1);
    for (std::size_t i = 0; i < count; ++i) samples.push_back(input.subspan(i * stride, kSampleSize));
  }
  // Trials run at the default level; on the whole input at that level they
  // are the final streams themselves. Samples of a large input are tried at
  // the trial level unless the best choice is asked for.
  const bool keep = stream != nullptr && samples.size() == 1 && !options.best;
  const SearchLevel& trialLevel = samples.size() > 1 && !options.best ? kTrialLevel : kDefaultLevel;

  // A candidate's total size over the samples, and its stream when kept.
  struct Trial {
    std::size_t size = 0;
    std::vector<std::uint8_t> stream;
  };
  auto run = [&](const ImplodeChoice& candidate) {
    Trial trial;
    for (auto sample : samples) {
      std::vector<std::uint8_t> encoded = Encode(sample, candidate, trialLevel);
      trial.size += encoded.size();
      if (keep) trial.stream = std::move(encoded);
    }
    return trial;
  };
  // The literal mode first, with the largest window asked for; then the
  // smaller windows with that mode.
  ImplodeChoice best{modes[0], sizes[0]};
  Trial bestTrial = run(best);
  auto consider = [&](const ImplodeChoice& candidate) {
    Trial trial = run(candidate);
    if (trial.size < bestTrial.size) {
      bestTrial = std::move(trial);
      best = candidate;
    }
  };
  for (std::size_t i = 1; i < modes.size(); ++i) consider(ImplodeChoice{modes[i], sizes[0]});
  for (std::size_t i = 1; i < sizes.size(); ++i) consider(ImplodeChoice{best.literals, sizes[i]});
  if (keep) *stream = std::move(bestTrial.stream);
  return best;
}

}  // namespace

ImplodeChoice ChooseImplodeSettings(std::span<const std::uint8_t> input, const ImplodeOptions& options) {
  return Choose(input, options, nullptr);
}

std::vector<std::uint8_t> ImplodeWith(std::span<const std::uint8_t> input, const ImplodeChoice& choice, bool best) {
  ImplodeChoice checked = choice;
  if (checked.literals == LiteralMode::Auto) throw std::invalid_argument("literal mode must be binary or ascii");
  if (CheckedDictionarySize(checked.dictionarySize) == 0) throw std::invalid_argument("dictionary size must be fixed");
  return Encode(input, checked, LevelFor(best));
}

std::vector<std::uint8_t> Implode(std::span<const std::uint8_t> input, const ImplodeOptions& options,
                                  ImplodeChoice& chosen) {
  std::vector<std::uint8_t> stream;
  chosen = Choose(input, options, &stream);
  if (!stream.empty()) return stream;
  return Encode(input, chosen, LevelFor(options.best));
}

std::vector<std::uint8_t> Implode(std::span<const std::uint8_t> input, const ImplodeOptions& options) {
  ImplodeChoice chosen;
  return Implode(input, options, chosen);
}
