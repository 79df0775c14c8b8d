// A setup program on disk: setup.exe (the stub), zeros up to kArchiveOffset,
// the archive; and beside it the external member files of EXT members.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "setuppack/host/file_io.hpp"
#include "setuppack/package/package.hpp"

// The setup program's bytes: `stub`, zeros up to kArchiveOffset, `archive`.
// Throws std::length_error when the stub is larger than kArchiveOffset.
std::vector<std::uint8_t> ComposeSetupProgram(std::span<const std::uint8_t> stub,
                                              std::span<const std::uint8_t> archive);

// Writes the setup program and its external member files. Each file is first
// written to a temporary name beside its target and renamed only after all of
// them were written, so that a failure leaves nothing behind. Throws
// std::system_error (a FileError) on I/O failures and std::length_error on an
// oversized stub.
void WriteSetupProgram(const std::filesystem::path& path, std::span<const std::uint8_t> stub,
                       std::span<const std::uint8_t> archive,
                       const std::vector<ExternalFile>& externals);
