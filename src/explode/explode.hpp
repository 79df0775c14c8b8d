// The explode decoder: decompresses one stream in the implode format of the
// PKWARE Data Compression Library (streams as its version 1.11 writes them).
// Portable: no Win32 calls, no allocation, no global state, nothing from the
// C library but memcpy, memmove and memset. Built into setup.exe (C++17, no
// exceptions, no RTTI) and into the host tools and tests.
//
// Format facts the decoder relies on:
//   byte 0   literal mode: 0 = plain 8-bit literals, 1 = coded literals
//   byte 1   dictionary size code 4, 5 or 6 (window of 1024, 2048, 4096 bytes)
//   byte 2.. the bit stream, up to and including the end code; the bits after
//            the end code in its last byte are ignored. There is no length
//            field, trailer or checksum.
// - Bits are taken from each byte least significant bit first; a field of n
//   bits has its first bit as its least significant bit. Prefix codes are
//   therefore matched against the low bits of the bit buffer.
// - A token is a flag bit (0 literal, 1 match), then a literal (8 plain bits,
//   or a coded literal of 4 to 13 bits), or a length code with its extra bits
//   (length 2 to 518; the value 519 is the end code) followed by a distance
//   prefix code and 2 low bits (length 2) or dictionaryBits low bits.
// - A match copies `length` bytes from `distance` bytes back, one byte after
//   the other in ascending order: a distance shorter than the length repeats
//   the last `distance` bytes.
// - The decoder keeps 8 bits of look-ahead: consuming n bits succeeds only
//   while n + 8 further bits exist, so a stream must carry at least 8 bits
//   after every field. The one exception is the end code, whose extra bits may
//   be the very last bits of the input.
// - Until 4096 bytes of a stream have been produced, a distance reaching
//   before the first output byte reads a window that was cleared to zero at
//   start: such a copy yields zero bytes. Valid streams never do this.
//
// Callbacks, in this order within one call: one read of size 2048; for a
// stream whose header passes, further reads (each of size 2048, only when a
// bit is needed and every byte read so far has been taken) and writes of 4096
// bytes, interleaved; then exactly one final write of 0 to 4095 bytes.
// Results 1, 2 and 3 come after the single first read, with no write.
#pragma once

#include <cstddef>
#include <cstdint>

// Puts at most *size (always 2048) bytes into buffer and returns how many; 0
// means the input has ended. Whatever it leaves in *size is ignored.
typedef unsigned int (*ExplodeReadCallback)(char* buffer, unsigned int* size, void* userParameter);

// Takes *size bytes from buffer: 4096 for every full block, 0 to 4095 for the
// final one. Changes to *size are ignored; the decoder cannot learn of a failed
// write, so a caller that cares records it in its user parameter.
typedef void (*ExplodeWriteCallback)(char* buffer, unsigned int* size, void* userParameter);

// Result codes of explode: a contract with every caller.
enum ExplodeResult : std::uint32_t {
  kExplodeOk = 0,             // the end code was reached; all output was written
  kExplodeBadDictionary = 1,  // stream byte 1 is not 4, 5 or 6
  kExplodeBadLiteralMode = 2, // stream byte 0 is not 0 or 1 (checked after byte 1)
  kExplodeShortHeader = 3,    // the first read delivered 4 bytes or fewer
  kExplodeTruncated = 4,      // the input ran out before the end code; the
                              // output up to that point was written
};

constexpr std::uint32_t kExplodeInputSize = 2048;
constexpr std::uint32_t kExplodeBlockSize = 4096;
// 4096 bytes of history, 4096 bytes of new output, and room for the longest
// copy (518 bytes) that can begin at position 8191.
constexpr std::uint32_t kExplodeWindowSize = 8709;

// The work area. The caller owns it; it need not be initialised and means
// nothing after the call. The decode tables are rebuilt inside it for every
// stream from the constant code tables in explode.cpp.
struct ExplodeWork {
  std::uint32_t literalMode;    // stream byte 0 (0 plain, 1 coded)
  std::uint32_t outputPosition; // index in window where the next byte goes
  std::uint32_t dictionaryBits; // stream byte 1: low distance bits of matches longer than 2
  std::uint32_t distanceMask;   // 2^dictionaryBits - 1
  // The bit state at the points where the decoder leaves it (start-up and
  // return). While decoding, the bits live in a register-wide local that
  // holds the same 8-bit look-ahead plus bytes of inputBuffer fetched early,
  // or, in the 32-bit decoder's fast path, as a bit position in inputBuffer.
  std::uint32_t bitBuffer;      // low 8 bits: the next 8 bits of the stream
  std::uint32_t extraBits;      // valid bits of bitBuffer above its low 8
  std::uint32_t inputPosition;  // index of the next unread byte in inputBuffer
  std::uint32_t inputCount;     // bytes the last read put into inputBuffer
  void* userParameter;          // passed unchanged to both callbacks
  ExplodeReadCallback readCallback;
  ExplodeWriteCallback writeCallback;
  std::uint8_t window[kExplodeWindowSize];
  std::uint8_t inputBuffer[kExplodeInputSize];
  std::uint8_t distanceDecode[256];      // distance prefix for the next 8 bits
  std::uint8_t lengthDecode[256];        // length code for the next 8 bits
  std::uint8_t literalDecode[256];       // coded literal for the next 8 bits, 0xFF: longer code
  std::uint8_t literalDecodeAfter4[256]; // next 8 bits after 4 bits were dropped
  std::uint8_t literalDecodeAfter6[128]; // next 7 bits after 6 bits were dropped
  std::uint8_t literalDecodeAfter8[256]; // next 8 bits after 8 zero bits were dropped
  std::uint8_t literalBits[256];         // coded-literal lengths, long codes lowered by 4, 6 or 8
  std::uint8_t distanceBits[64];
  std::uint8_t lengthBits[16];
  std::uint8_t lengthExtraBits[16];
  std::uint16_t lengthBase[16];
};

// The archive extraction allocates this many bytes for the work area (they
// also serve as its copy buffer for stored members); with 64-bit pointers the
// record is a little larger.
constexpr std::size_t kExtractWorkAreaSize =
    sizeof(ExplodeWork) > 12596 ? sizeof(ExplodeWork) : 12596;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ExplodeWork) <= 12596, "the work area must fit the 12596-byte block");
#endif

// Decompresses one whole stream: reads through readCallback, writes through
// writeCallback, works in `work` (at least sizeof(ExplodeWork) bytes, suitably
// aligned for pointers), and passes userParameter to both callbacks. Returns
// an ExplodeResult.
std::uint32_t explode(ExplodeReadCallback readCallback, ExplodeWriteCallback writeCallback,
                      void* work, void* userParameter);

// The width of the decoder's bit buffer: a register's. explode uses this one.
#if UINTPTR_MAX == 0xFFFFFFFFu
typedef std::uint32_t ExplodeBitWord;
#else
typedef std::uint64_t ExplodeBitWord;
#endif

// explode with a bit buffer of BitWord, std::uint32_t or std::uint64_t (both
// are built on every target). The two give the same results and the same
// callback calls for every input; they differ only in speed on a target
// whose registers are narrower or wider. The host tests run both.
template <typename BitWord>
std::uint32_t ExplodeWithBitBuffer(ExplodeReadCallback readCallback,
                                   ExplodeWriteCallback writeCallback, void* work,
                                   void* userParameter);
extern template std::uint32_t ExplodeWithBitBuffer<std::uint32_t>(ExplodeReadCallback,
                                                                  ExplodeWriteCallback, void*,
                                                                  void*);
extern template std::uint32_t ExplodeWithBitBuffer<std::uint64_t>(ExplodeReadCallback,
                                                                  ExplodeWriteCallback, void*,
                                                                  void*);
