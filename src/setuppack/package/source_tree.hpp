// The files of a tree entry ([[files]] with tree = "DIR"): the regular files
// below a directory, and the glob patterns of its include and exclude lists.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// True when `path` ("Docs/Manual.txt", "/" between parts) matches `pattern`
// as a whole. "?" is one character and "*" any run of characters, neither
// crossing a "/"; "**" is any run including "/", and "**/" zero or more whole
// directories ("**/*.txt" matches "a.txt" and "x/y/a.txt"). Other characters
// match themselves, case counting.
bool MatchesGlob(std::string_view pattern, std::string_view path);

// Paths of the regular files below `directory` (symbolic links to regular
// files count as files; directories behind links are not entered), relative
// to it with "/" between parts, in no particular order. Throws
// std::filesystem::filesystem_error when the directory cannot be read.
std::vector<std::string> ListTree(const std::filesystem::path& directory);

// Whether `path` is taken: it matches one of `include` (or `include` is
// empty) and none of `exclude`.
bool IsTreeFileTaken(std::string_view path, const std::vector<std::string>& include,
                     const std::vector<std::string>& exclude);
