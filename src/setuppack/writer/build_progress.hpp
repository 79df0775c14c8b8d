// The progress of `setuppack build`: how far the members are read and
// compressed, and the line a terminal shows of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct BuildProgress {
  std::size_t filesDone = 0;
  std::size_t fileCount = 0;
  std::uint64_t bytesDone = 0;   // of the sources, uncompressed
  std::uint64_t byteCount = 0;
  double seconds = 0;            // since the members' work began
};

// "12/300 files, 34.5/64.0 MiB, 12.3 MiB/s, 3 s left"; rate and time left
// read "--" until a byte is done.
std::string FormatProgressLine(const BuildProgress& progress);
