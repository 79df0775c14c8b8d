// The packager's implode encoder: writes streams in the PKWARE Data
// Compression Library implode format that `explode` (src/explode) decodes.
//
// Stream layout:
//   byte 0   literal mode: 0 = plain 8-bit literals, 1 = coded literals
//   byte 1   dictionary size code: 4, 5 or 6 (window of 1024, 2048, 4096)
//   byte 2.. bit stream, least significant bit of each byte first, ending
//            with the end code (length value 519); the rest of the last byte
//            is zero bits.
// Every stream is at least 5 bytes long: the decoder refuses a first read of
// 4 bytes or fewer, so the stream of an empty input carries one zero byte
// after its end code.
//
// Rules every stream we write keeps: a match of length 2 has a distance of at
// most 256; a longer match a distance of at most the window size; lengths run
// from 2 to 518; no distance reaches before the first byte of the data.
//
// Working memory is fixed (about 820 KiB of hash chains and parser state),
// whatever the size of the input; the input and the output are held whole.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// How literals are written. Binary = plain 8-bit literals (stream byte 0 is
// 0), Ascii = the fixed prefix code suited to text (stream byte 0 is 1), Auto
// = whichever gives the smaller stream for this input.
enum class LiteralMode { Binary, Ascii, Auto };

struct ImplodeOptions {
  LiteralMode literals = LiteralMode::Auto;
  // Window size in bytes: 1024, 2048 or 4096; 0 chooses per input.
  unsigned dictionarySize = 0;
  // Search harder: longer hash chains, no shortcut for long matches, and for
  // the automatic choices trials on more of the input.
  bool best = false;
};

// The literal mode and window size a stream is written with.
struct ImplodeChoice {
  LiteralMode literals = LiteralMode::Binary;  // Binary or Ascii, never Auto
  unsigned dictionarySize = 4096;              // 1024, 2048 or 4096
};

// Returns the choice Implode makes for this input: the options' own values
// where they are fixed; otherwise the literal mode that gives the smaller
// stream with the largest window allowed, then the window that gives the
// smallest stream with that mode. Candidates are tried by encoding the whole
// input when it is small (up to 192 KiB, 1 MiB with best) and samples spread
// over it when it is larger.
ImplodeChoice ChooseImplodeSettings(std::span<const std::uint8_t> input,
                                    const ImplodeOptions& options);

// Compresses the whole input into one stream. Throws std::invalid_argument for
// a dictionary size other than 0, 1024, 2048 or 4096.
std::vector<std::uint8_t> Implode(std::span<const std::uint8_t> input,
                                  const ImplodeOptions& options);

// As Implode, and reports the literal mode and window size it used.
std::vector<std::uint8_t> Implode(std::span<const std::uint8_t> input,
                                  const ImplodeOptions& options,
                                  ImplodeChoice& chosen);

// Compresses with a fixed choice (no automatic selection).
std::vector<std::uint8_t> ImplodeWith(std::span<const std::uint8_t> input,
                                      const ImplodeChoice& choice, bool best);
