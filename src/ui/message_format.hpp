// Bounded text helpers for the message boxes and the progress display.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `format` into `out` (of `outSize` characters, terminator included)
// with every "%s" replaced by `argument` and "%%" by "%". The result is cut
// at the buffer's end; nothing is written past it. Other "%" sequences are
// copied as they stand.
void FormatWithArgument(char* out, std::size_t outSize, const char* format, const char* argument);

// Copies at most outSize - 1 characters of `text` and terminates; returns the
// number of characters copied.
std::size_t CopyBounded(char* out, std::size_t outSize, const char* text);

// Writes the decimal text of `value` (at most 10 digits, terminated) into `out`
// (at least 11 characters).
void FormatUnsigned(char* out, std::uint32_t value);

// The progress bar position: done x 100 / total, from the exact 64-bit product,
// truncated; 0 when total is 0.
std::uint32_t ProgressPercent(std::uint32_t done, std::uint32_t total);

// Left or top edge that centres a window of `windowExtent` on a screen of
// `screenExtent`: each half truncated toward zero separately.
int CenteredOrigin(int screenExtent, int windowExtent);
