#include "setuppack/file_time.hpp"

std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(kFileTimeUnixEpoch) +
                                    seconds * 10000000 + nanoseconds / 100);
}

UnixTime UnixFromFileTime(std::uint64_t fileTime) {
  const std::int64_t ticks = static_cast<std::int64_t>(fileTime) -
                             static_cast<std::int64_t>(kFileTimeUnixEpoch);
  std::int64_t seconds = ticks / 10000000;
  std::int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  return UnixTime{seconds, static_cast<std::uint32_t>(rest * 100)};
}
