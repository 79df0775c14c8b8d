// Member names as host paths.
#pragma once

#include <filesystem>
#include <string>

#include "setuppack/host/code_page.hpp"

// The host path of a stored member name below `directory`: the name is
// converted from its code page (1252 unless named) to UTF-8 and its
// backslashes become "/".
// Only for names that pass IsSafeMemberName.
std::filesystem::path HostPath(const std::filesystem::path& directory, const std::string& memberName,
                               unsigned codePage = kDefaultCodePage);
