// Bounded text: every copy into a fixed buffer goes through these, and none
// writes past the buffer's end. Portable; the setup program has no C runtime.
#pragma once

#include <cstddef>
#include <cstdint>

// Every path buffer of the setup program holds this many characters, the
// terminator included (the Windows path limit).
constexpr int kPathSize = 260;

// Copies at most outSize - 1 characters of `text` and terminates; returns the
// number of characters copied.
std::size_t CopyBounded(char* out, std::size_t outSize, const char* text);

// Writes `format` into `out` (of `outSize` characters, terminator included)
// with every "%s" replaced by `argument` and "%%" by "%". The result is cut
// at the buffer's end; nothing is written past it. Other "%" sequences are
// copied as they stand.
void FormatWithArgument(char* out, std::size_t outSize, const char* format, const char* argument);

// Writes the decimal text of `value` (at most 10 digits, terminated) into `out`
// (at least 11 characters).
void FormatUnsigned(char* out, std::uint32_t value);
