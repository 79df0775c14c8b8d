// Sample data shared by the unit and the Wine tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// 2000-01-02 13:04:05 UTC as a FILETIME.
inline constexpr std::uint64_t kSampleTime = 125912918450000000ull;

// A stand-in stub: "MZ" and a few bytes, far below the 61440-byte limit. Host
// tests never run it.
std::vector<std::uint8_t> FakeStub();

// Bytes of a pseudo-random but repeatable test file of `size` bytes whose
// content compresses somewhat (text-like runs).
std::vector<std::uint8_t> SampleBytes(std::size_t size, std::uint32_t seed);
