#include "setuppack/host/file_time.hpp"

#include <chrono>
#include <limits>

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;

}  // namespace

std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
  const std::uint64_t ticks = nanoseconds / 100;
  if (seconds >= 0) {
    const auto s = static_cast<std::uint64_t>(seconds);
    const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - kFileTimeUnixEpoch - ticks;
    if (s > room / kTicksPerSecond) return std::numeric_limits<std::uint64_t>::max();
    return kFileTimeUnixEpoch + s * kTicksPerSecond + ticks;
  }
  // Before 1970: the magnitude, in unsigned arithmetic (also for INT64_MIN).
  const std::uint64_t back = 0 - static_cast<std::uint64_t>(seconds);
  if (back > kFileTimeUnixEpoch / kTicksPerSecond) return 0;
  return kFileTimeUnixEpoch + ticks - back * kTicksPerSecond;
}

UnixTime UnixFromFileTime(std::uint64_t fileTime) {
  if (fileTime >= kFileTimeUnixEpoch) {
    const std::uint64_t ticks = fileTime - kFileTimeUnixEpoch;
    return UnixTime{static_cast<std::int64_t>(ticks / kTicksPerSecond),
                    static_cast<std::uint32_t>(ticks % kTicksPerSecond * 100)};
  }
  const std::uint64_t back = kFileTimeUnixEpoch - fileTime;
  auto seconds = static_cast<std::int64_t>(back / kTicksPerSecond);
  std::uint64_t rest = back % kTicksPerSecond;
  if (rest != 0) {
    ++seconds;
    rest = kTicksPerSecond - rest;
  }
  return UnixTime{-seconds, static_cast<std::uint32_t>(rest * 100)};
}

std::optional<CalendarTime> CalendarOfFileTime(std::uint64_t fileTime) {
  if (fileTime > kLastListedFileTime) return std::nullopt;
  using namespace std::chrono;
  const UnixTime t = UnixFromFileTime(fileTime);
  const sys_seconds instant{std::chrono::seconds{t.seconds}};
  const sys_days day = floor<days>(instant);
  const year_month_day ymd{day};
  const hh_mm_ss<std::chrono::seconds> hms{instant - day};
  return CalendarTime{static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                      static_cast<unsigned>(ymd.day()), static_cast<unsigned>(hms.hours().count()),
                      static_cast<unsigned>(hms.minutes().count()),
                      static_cast<unsigned>(hms.seconds().count())};
}
