// node-pkware, a second implode/explode implementation used only as a black
// box, run through tests/oracle/pkware.js by the differential tests, the Wine
// tests and the benchmark.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ReferenceRun {
  int exitCode = -1;  // pkware.js's exit code; -1 when it did not exit normally
  std::vector<std::uint8_t> output;
  double seconds = -1;  // time inside the transform, when asked for; else -1
};

// True when node and node-pkware (npm install in tests/oracle) are there;
// otherwise `why` says what is missing.
bool ReferenceCodecAvailable(std::string& why);

// Runs pkware.js with `arguments` ("implode ascii 4096", "explode"), `input`
// on its standard input. With `timed`, asks it for the time spent inside the
// transform, without node's start-up.
ReferenceRun RunReferenceCodec(const std::string& arguments, std::span<const std::uint8_t> input,
                               bool timed = false);
