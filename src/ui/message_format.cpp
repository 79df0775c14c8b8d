#include "ui/message_format.hpp"

std::uint32_t ProgressPercent(std::uint32_t done, std::uint32_t total) {
  if (total == 0) return 0;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(done) * 100u / total);
}

int CenteredOrigin(int screenExtent, int windowExtent) { return screenExtent / 2 - windowExtent / 2; }
