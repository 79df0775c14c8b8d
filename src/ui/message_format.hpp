// Portable arithmetic of the progress display and window placement.
#pragma once

#include <cstdint>

// The progress bar position: done x 100 / total, from the exact 64-bit product,
// truncated; 0 when total is 0.
std::uint32_t ProgressPercent(std::uint32_t done, std::uint32_t total);

// What the progress bar shows and what it is to show. Every move of the bar
// repaints it at once, which costs milliseconds under some systems (Wine:
// about 2.5 ms, a quarter second for the hundred steps of an installation
// that copies 64 MiB in a tenth of one), so a new percentage reaches the bar
// at most every kProgressRedrawInterval milliseconds; the first one, 100 and
// a catch-up before a message box reach it at once. The eye sees no
// difference: the bar still moves twenty times a second while it moves.
constexpr std::uint32_t kProgressRedrawInterval = 50;
constexpr std::uint32_t kNoPercent = ~std::uint32_t{0};
struct ProgressDisplay {
  std::uint32_t shown = kNoPercent;  // on the bar; kNoPercent before the first
  std::uint32_t latest = kNoPercent;  // the last percentage given
  std::uint32_t shownAt = 0;  // millisecond tick of the last move (wraps)
};

// Takes the percentage at tick `now`; true when the bar is to show it now
// (`shown` and `shownAt` then hold it).
bool TakeProgress(ProgressDisplay& display, std::uint32_t percent, std::uint32_t now);

// True when the bar lags behind the latest percentage: `shown` then holds it.
bool CatchUpProgress(ProgressDisplay& display, std::uint32_t now);

// Left or top edge that centres a window of `windowExtent` on a screen of
// `screenExtent`: each half truncated toward zero separately.
int CenteredOrigin(int screenExtent, int windowExtent);
