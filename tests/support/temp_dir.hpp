// Test helpers shared by the host tests: a temporary directory removed at the
// end of the test, small file helpers, and the path of a minimal stub.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(std::string_view relative) const { return path_ / relative; }

  // Writes a file below the directory, creating its parent directories.
  std::filesystem::path Write(std::string_view relative, std::string_view content) const;
  std::filesystem::path Write(std::string_view relative, const std::vector<std::uint8_t>& content) const;

  // Relative names of every regular file below the directory, sorted.
  std::vector<std::string> Files() const;

private:
  std::filesystem::path path_;
};

std::string ReadText(const std::filesystem::path& path);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);

// A stand-in stub: "MZ" and a few bytes, far below the 61440-byte limit. Host
// tests never run it.
std::vector<std::uint8_t> FakeStub();

// Bytes of a pseudo-random but repeatable test file of `size` bytes whose
// content compresses somewhat (text-like runs).
std::vector<std::uint8_t> SampleBytes(std::size_t size, std::uint32_t seed);
