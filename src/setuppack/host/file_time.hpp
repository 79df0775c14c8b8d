// Win32 FILETIME (100-nanosecond intervals since 1 January 1601, UTC), as the
// archive stores member times, and Unix time, as the host's files carry it.
// A FILETIME is unsigned: every value from 0 to 2^64-1 (about the year 60056)
// is a time; 0 is "no time" in the archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "format/layout.hpp"  // kFileTimeUnixEpoch

// Seconds and nanoseconds since 1970; nanoseconds always 0 to 999999999,
// also before 1970.
struct UnixTime {
  std::int64_t seconds;
  std::uint32_t nanoseconds;
};

// The FILETIME of a Unix time; nanoseconds are cut to whole 100 ns. Times
// before 1601 give 0, times beyond 2^64-1 give 2^64-1.
std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds = 0);
// Exact for every FILETIME.
UnixTime UnixFromFileTime(std::uint64_t fileTime);

// The last FILETIME of the year 9999 (9999-12-31 23:59:59.9999999): the
// listings show dates of four-digit years only.
constexpr std::uint64_t kLastListedFileTime = 2650467743999999999ull;

// The calendar time of a FILETIME, for the listings; nullopt beyond
// kLastListedFileTime.
struct CalendarTime {
  int year;
  unsigned month, day, hour, minute, second;
};
std::optional<CalendarTime> CalendarOfFileTime(std::uint64_t fileTime);

// The listings' word for a time beyond the year 9999.
constexpr const char kTimeOutOfRange[] = "out of range";
