// A setup program on disk: setup.exe (the stub), zeros up to kArchiveOffset,
// the archive; and beside it the external member files of EXT members.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "setuppack/host/file_io.hpp"
#include "setuppack/package/package.hpp"

// The setup program's bytes: `stub`, zeros up to kArchiveOffset, `archive`.
// Throws std::length_error when the stub is larger than kArchiveOffset.
std::vector<std::uint8_t> ComposeSetupProgram(std::span<const std::uint8_t> stub,
                                              std::span<const std::uint8_t> archive);

// A setup program written piece by piece as its archive is made: the stub
// and its padding at once, then the archive's bytes in order, and the
// external member files beside it. Every file is written under a temporary
// name beside its target; Commit moves them all into place (the external
// member files first, the program last), and a program never committed
// leaves nothing behind.
class SetupProgramFile {
public:
  // Creates the program's temporary file and writes the stub and the zeros
  // up to kArchiveOffset. Throws std::length_error when the stub is larger
  // than kArchiveOffset, FileError when the file cannot be created.
  SetupProgramFile(const std::filesystem::path& path, std::span<const std::uint8_t> stub);

  // Appends bytes to the archive.
  void Append(std::span<const std::uint8_t> bytes);
  // Writes bytes over archive bytes already appended, from `archiveOffset`
  // (0 is the archive header's first byte) on. Throws std::out_of_range for
  // bytes not appended yet.
  void Rewrite(std::uint64_t archiveOffset, std::span<const std::uint8_t> bytes);
  // Writes and closes the external member file `fileName` (an archive name,
  // turned into a host name beside the program). Throws FileError when it
  // cannot be created; a failed write is reported by Commit.
  void AddExternal(const std::string& fileName, std::span<const std::uint8_t> data);

  // Archive bytes appended so far.
  std::uint64_t ArchiveSize() const { return archiveSize_; }

  // Flushes every file to the disk and moves them into place. Throws
  // FileError for a failed write or rename; nothing is left behind then.
  void Commit();

private:
  std::filesystem::path directory_;
  std::unique_ptr<AtomicFile> program_;
  std::vector<std::unique_ptr<AtomicFile>> externals_;
  std::uint64_t archiveSize_ = 0;
  std::exception_ptr failure_;  // the first failed write of an external member file
};

// Writes the setup program and its external member files at once through a
// SetupProgramFile. Throws std::system_error (a FileError) on I/O failures and
// std::length_error on an oversized stub.
void WriteSetupProgram(const std::filesystem::path& path, std::span<const std::uint8_t> stub,
                       std::span<const std::uint8_t> archive,
                       const std::vector<ExternalFile>& externals);
