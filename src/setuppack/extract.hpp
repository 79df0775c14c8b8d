// `setuppack extract`: unpacks a setup program on the host, the way setup.exe
// would install it into an empty directory: the main table into DIR, SYS
// members into DIR/system, EXT members from their external member files
// beside the setup program, the trailing block into DIR; CMP members go
// through `explode`; stored times become the files' modification times.
#pragma once

#include <cstdint>
#include <filesystem>

struct ExtractSummary {
  std::size_t files = 0;
  std::uint64_t bytes = 0;
};

// Throws InputError for a damaged archive (nothing is written then), a member
// name that would leave DIR, a missing or short external member file, a
// stream that does not decompress, and write failures.
ExtractSummary ExtractSetupProgram(const std::filesystem::path& program,
                                   const std::filesystem::path& directory);
