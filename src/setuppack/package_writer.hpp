// From manifest to setup program: reads the member sources, compresses the
// members marked for it, fills a PackageBuilder and writes the setup program
// with its external member files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "setuppack/archive_builder.hpp"
#include "setuppack/manifest.hpp"

struct PackageOptions {
  bool best = false;  // the encoder's thorough search for compressed members
};

// What was written, for the summary line of `setuppack build`.
struct PackageSummary {
  std::uint64_t programSize = 0;   // the setup program's file size
  std::uint64_t externalSize = 0;  // bytes in external member files
  std::size_t fileCount = 0;
  std::size_t iconCount = 0;
  std::size_t trailingCount = 0;
};

// The archive records for a manifest: every source read (relative to the
// manifest's directory), CMP members compressed, times taken from the manifest
// or the sources' modification times, requiredSpace computed when the
// manifest leaves it out (the installed size of all members). Throws
// InputError naming the manifest line of a missing or unreadable source and
// for sizes that the 32-bit fields cannot hold.
PackageBuilder BuildPackage(const Manifest& manifest, const PackageOptions& options);

// BuildPackage, then writes `output` (stub padded to kArchiveOffset + archive)
// and the external member files beside it; nothing is left behind on failure.
// Throws InputError for a missing or oversized stub and for write failures.
PackageSummary WritePackage(const Manifest& manifest, const std::filesystem::path& output,
                            const std::filesystem::path& stubPath, const PackageOptions& options);

// The default stub: setup.exe beside the running executable, else
// ../lib/setuppack/setup.exe from it (where the Debian package puts it).
std::filesystem::path DefaultStubPath();

// Reads and checks a stub: it must exist and end at or before kArchiveOffset.
std::vector<std::uint8_t> ReadStub(const std::filesystem::path& stubPath);
