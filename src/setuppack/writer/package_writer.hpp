// From manifest to setup program: reads the member sources, compresses the
// members marked for it, fills a PackageBuilder and writes the setup program
// with its external member files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "setuppack/package/manifest.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "setuppack/writer/build_progress.hpp"

struct PackageOptions {
  bool best = false;  // the encoder's thorough search for compressed members
  unsigned jobs = 1;  // threads reading and compressing members; the bytes do not depend on it
  // Seconds since 1970 (SOURCE_DATE_EPOCH): a member without a time in the
  // manifest takes its source's modification time, but none later than this.
  std::optional<std::int64_t> sourceDateEpoch;
  // Called now and then on the calling thread while members are read and
  // compressed, and once when all are done.
  std::function<void(const BuildProgress&)> progress;
};

// What was written, for the summary line of `setuppack build`.
struct PackageSummary {
  std::uint64_t programSize = 0;   // the setup program's file size
  std::uint64_t externalSize = 0;  // bytes in external member files
  std::size_t fileCount = 0;
  std::size_t iconCount = 0;
  std::size_t trailingCount = 0;
  std::vector<std::filesystem::path> externalFiles;  // written beside the program
};

// The archive records for a manifest: every source read (relative to the
// manifest's directory), CMP members compressed on `options.jobs` threads,
// times taken from the manifest or the sources' modification times (clamped
// to sourceDateEpoch), requiredSpace computed when the manifest leaves it out
// (the installed size of all members). The sources' sizes are checked before
// any is read. Throws InputError naming the manifest line of a missing or
// unreadable source, the first in manifest order, and for sizes that the
// 32-bit fields cannot hold: a member of 4 GiB or more, installed sizes,
// stored data or external files adding up to 4 GiB or more.
PackageBuilder BuildPackage(const Manifest& manifest, const PackageOptions& options);

// Builds the package as BuildPackage does and writes `output` (stub padded to
// kArchiveOffset + archive) and the external member files beside it, the
// same bytes as the archive built whole. Each member is written as soon as
// it and all members before it are made, so that the writing overlaps the
// compressing of the rest; the files appear under their names only when all
// are complete, and nothing is left behind on failure. Throws InputError for
// a missing or oversized stub, a missing output directory or an external
// member file named like the program (both before any source is read), and
// for write failures.
PackageSummary WritePackage(const Manifest& manifest, const std::filesystem::path& output,
                            const std::filesystem::path& stubPath, const PackageOptions& options);

// The default stub: setup.exe beside the running executable, else
// ../lib/setuppack/setup.exe from it (where the Debian package puts it).
std::filesystem::path DefaultStubPath();

// Reads and checks a stub: it must exist and end at or before kArchiveOffset.
std::vector<std::uint8_t> ReadStub(const std::filesystem::path& stubPath);
