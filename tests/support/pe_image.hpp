// A minimal PE32 image that holds nothing but a version resource: enough for
// GetFileVersionInfoA and for the packager's version reader, not for running.
// Tests use it as a SYS member or as an installed file with a known version.
#pragma once

#include <cstdint>
#include <vector>

// ms = major << 16 | minor, ls = build << 16 | revision (VS_FIXEDFILEINFO).
std::vector<std::uint8_t> PeImageWithVersion(std::uint32_t fileVersionMs, std::uint32_t fileVersionLs);
