// The file version of a Windows program or library, read from its version
// resource on the host: what GetFileVersionInfoA and VerQueryValueA("\")
// would report as dwFileVersionMS and dwFileVersionLS. The packager takes it
// as the member version of a system member whose manifest entry gives none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "format/layout.hpp"

// Format facts relied on (the headers: pe_headers.hpp):
// - Data directory 2 is the resource tree: its RVA is mapped to a file offset
//   through the section that holds it.
// - The tree has three levels (type, name, language) of 16-byte directories
//   followed by 8-byte entries; an entry whose offset has the high bit set
//   points at a subdirectory, relative to the start of the tree; a leaf's
//   data entry holds the RVA and size of the data.
// - The data of type 16 (RT_VERSION) is a VS_VERSIONINFO block whose
//   VS_FIXEDFILEINFO starts on a 32-bit boundary with the signature
//   0xFEEF04BD; dwFileVersionMS and dwFileVersionLS follow 8 bytes after it.
// Returns nullopt for a file that is no PE image or has no version resource.
std::optional<MemberVersion> ReadPeFileVersion(std::span<const std::uint8_t> image);
