// `setuppack extract`: unpacks a setup program on the host, the way setup.exe
// would install it into an empty directory: the main table into DIR, SYS
// members into DIR/system, EXT members from their external member files
// beside the setup program, the trailing block into DIR; CMP members go
// through `explode`; stored times become the files' modification times.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "setuppack/host/code_page.hpp"

struct ExtractSummary {
  std::size_t files = 0;
  std::uint64_t bytes = 0;
  // Times that the file system could not hold, one line per file.
  std::vector<std::string> notes;
};

// The members are written into a staging directory beside DIR (made with its
// missing parents), which takes DIR's place once every member is written;
// the files already in DIR stay unless a member replaces them. On any
// failure DIR is as it was and nothing else is left behind.
//
// Throws InputError for a damaged archive, a member name that Windows
// refuses (format/member_name.hpp; checked before anything is written), a
// missing or short external member file, a stream that does not decompress,
// and write failures.
// Names are read in `codePage` (the archive does not say which).
ExtractSummary ExtractSetupProgram(const std::filesystem::path& program,
                                   const std::filesystem::path& directory,
                                   unsigned codePage = kDefaultCodePage);
