// Sample data shared by the unit, Wine and differential tests: repeatable
// generators, each the same bytes for the same size and seed on every run.
// Tests that compare sizes of compressed streams depend on these exact
// bytes; change a generator only together with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "setuppack/writer/archive_builder.hpp"

// 2000-01-02 13:04:05 UTC as a FILETIME.
inline constexpr std::uint64_t kSampleTime = 125912918450000000ull;

// A stand-in stub: "MZ" and a few bytes, far below the 61440-byte limit. Host
// tests never run it.
std::vector<std::uint8_t> FakeStub();

// Bytes of a package member: text-like runs of words with single binary
// bytes between them; compresses somewhat.
std::vector<std::uint8_t> SampleBytes(std::size_t size, std::uint32_t seed);

// English-like text: words from a small vocabulary, spaces, commas and lines
// of about 70 characters ending in ".\n". Compresses well with coded literals.
std::vector<std::uint8_t> SampleText(std::size_t size, std::uint32_t seed);

// Structured binary like a program image: little-endian records of varying
// length with counters, small integers and repeated opcodes.
std::vector<std::uint8_t> SampleBinary(std::size_t size, std::uint32_t seed);

// Pseudo-random bytes (xorshift); next to incompressible.
std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed);

// A five-byte pattern whose bytes shift every 100000 bytes: long matches at
// every distance up to the window.
std::vector<std::uint8_t> RepetitiveBytes(std::size_t size);

// The smallest package setup.exe opens: prefix "KO", run command "a.exe",
// default path "C:\K", nothing else. Tests add what they are about.
PackageBuilder MinimalPackage();
