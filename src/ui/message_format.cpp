#include "ui/message_format.hpp"

std::uint32_t ProgressPercent(std::uint32_t done, std::uint32_t total) {
  if (total == 0) return 0;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(done) * 100u / total);
}

bool TakeProgress(ProgressDisplay& display, std::uint32_t percent, std::uint32_t now) {
  display.latest = percent;
  if (percent == display.shown) return false;
  // Unsigned difference: right across the tick's wrap after 49.7 days.
  if (display.shown != kNoPercent && percent != 100 && now - display.shownAt < kProgressRedrawInterval)
    return false;
  display.shown = percent;
  display.shownAt = now;
  return true;
}

bool CatchUpProgress(ProgressDisplay& display, std::uint32_t now) {
  if (display.latest == display.shown) return false;
  display.shown = display.latest;
  display.shownAt = now;
  return true;
}

int CenteredOrigin(int screenExtent, int windowExtent) { return screenExtent / 2 - windowExtent / 2; }
