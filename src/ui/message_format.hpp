// Portable arithmetic of the progress display and window placement.
#pragma once

#include <cstdint>

// The progress bar position: done x 100 / total, from the exact 64-bit product,
// truncated; 0 when total is 0.
std::uint32_t ProgressPercent(std::uint32_t done, std::uint32_t total);

// Left or top edge that centres a window of `windowExtent` on a screen of
// `screenExtent`: each half truncated toward zero separately.
int CenteredOrigin(int screenExtent, int windowExtent);
