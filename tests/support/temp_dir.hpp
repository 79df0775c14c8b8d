// Test helpers: a temporary directory removed at the end of the test, and
// small file helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
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
  std::filesystem::path Write(std::string_view relative, std::span<const std::uint8_t> content) const;

  // Relative names of every regular file below the directory, sorted.
  std::vector<std::string> Files() const;

private:
  std::filesystem::path path_;
};

std::string ReadText(const std::filesystem::path& path);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);

