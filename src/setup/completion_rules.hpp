// The self-removal batch file's content, as a pure function of the setup
// program's file name.
#pragma once

#include <cstddef>

// Where the batch file is written; its last line deletes it.
inline constexpr const char kSelfRemovalBatchPath[] = "C:\\DEL_SETUP32.BAT";

// Room for the content with a setup path of kPathSize characters whose every
// character is a "%".
constexpr std::size_t kSelfRemovalBatchSize = 1152;

// Writes the four lines, each ended by CR LF, that delete `setupPath` as long
// as it exists and then the batch file itself:
//   :Repeat
//   del "<setupPath>"
//   if exist "<setupPath>" goto Repeat
//   del "C:\DEL_SETUP32.BAT"
// A "%" of the path is written as "%%", so that the command interpreter reads
// the path back instead of expanding a variable. Returns the number of
// characters written (no terminator counted), or 0, with nothing usable in
// `out`, when `setupPath` is empty, has no backslash after its first
// character, or the content does not fit `outSize` characters with a
// terminator.
std::size_t BuildSelfRemovalBatch(char* out, std::size_t outSize, const char* setupPath);
