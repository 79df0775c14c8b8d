#include "setup/platform_rules.hpp"

#include "format/layout.hpp"

PlatformDecision DecidePlatform(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                                std::uint32_t build, std::uint8_t flags) {
  PlatformDecision decision = {kPlatformAccept, 0, 0, 0, 0};
  if (platformId == kPlatformWin32s) {
    decision.action = kPlatformHandOver;
    return decision;
  }
  if (platformId == kPlatformNt) {
    int refusal = 0;
    if (flags & kHeaderFlagNotNt) {
      refusal = 1;
    } else if ((flags & kHeaderFlagNt4) && major < 4) {
      refusal = 14;
    } else if (major < 3 || (major == 3 && minor < 51)) {
      refusal = 16;
    }
    if (refusal != 0) {
      decision.action = kPlatformRefuse;
      decision.messageId = refusal;
      return decision;
    }
    decision.isNt = 1;
    decision.useDiskFreeSpaceEx = major > 3 ? 1 : 0;
    decision.clearInstallDlr = 1;
    return decision;
  }
  decision.useDiskFreeSpaceEx = build > 1080 ? 1 : 0;
  if (flags & kHeaderFlagNtOnly) {
    decision.action = kPlatformRefuse;
    decision.messageId = 15;
  }
  return decision;
}

bool IsVersionTextRefused(const char* versionText) {
  const signed char first = static_cast<signed char>(versionText[0]);
  signed char third = 0;
  if (versionText[0] != '\0' && versionText[1] != '\0') third = static_cast<signed char>(versionText[2]);
  return first < '2' || (first == '2' && third < '5');
}

bool ExtendedFreeSpaceSuffices(std::uint32_t freeLow, std::uint32_t freeHigh, std::uint32_t requiredSpace) {
  return freeHigh != 0 || freeLow > requiredSpace;
}

bool RootFreeSpaceSuffices(std::uint32_t sectorsPerCluster, std::uint32_t bytesPerSector,
                           std::uint32_t freeClusters, std::uint32_t requiredSpace) {
  // Two factors of up to 32 bits each fit 64 bits; the third may not, so stop
  // as soon as the product passes the requirement.
  const std::uint64_t clusterBytes = static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector;
  if (clusterBytes == 0 || freeClusters == 0) return requiredSpace == 0;
  if (clusterBytes >= requiredSpace) return true;
  return clusterBytes * freeClusters >= requiredSpace;
}
