// Member names as host paths.
#pragma once

#include <filesystem>
#include <string>

// The host path of a stored member name below `directory`: the name is
// converted from code page 1252 to UTF-8 and its backslashes become "/".
// Only for names that pass IsSafeMemberName.
std::filesystem::path HostPath(const std::filesystem::path& directory, const std::string& memberName);
