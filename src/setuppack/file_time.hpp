// Win32 FILETIME (100-nanosecond intervals since 1 January 1601, UTC), as the
// archive stores member times, and Unix time, as the host's files carry it.
#pragma once

#include <cstdint>

#include "archive/layout.hpp"  // kFileTimeUnixEpoch

// Seconds and nanoseconds since 1970; nanoseconds always 0 to 999999999,
// also before 1970.
struct UnixTime {
  std::int64_t seconds;
  std::uint32_t nanoseconds;
};

// The FILETIME of a Unix time; nanoseconds are cut to whole 100 ns.
std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds = 0);
UnixTime UnixFromFileTime(std::uint64_t fileTime);
