#include "setuppack/package/source_tree.hpp"

bool MatchesGlob(std::string_view pattern, std::string_view path) {
  while (!pattern.empty()) {
    if (pattern.starts_with("**")) {
      pattern.remove_prefix(2);
      if (pattern.starts_with('/')) {
        // "**/": the rest matches here or after any "/".
        const std::string_view rest = pattern.substr(1);
        if (MatchesGlob(rest, path)) return true;
        for (std::size_t i = 0; i < path.size(); ++i) {
          if (path[i] == '/' && MatchesGlob(rest, path.substr(i + 1))) return true;
        }
        return false;
      }
      for (std::size_t i = 0; i <= path.size(); ++i) {
        if (MatchesGlob(pattern, path.substr(i))) return true;
      }
      return false;
    }
    if (pattern[0] == '*') {
      pattern.remove_prefix(1);
      for (std::size_t i = 0;; ++i) {
        if (MatchesGlob(pattern, path.substr(i))) return true;
        if (i == path.size() || path[i] == '/') return false;
      }
    }
    if (path.empty()) return false;
    if (pattern[0] == '?' ? path[0] == '/' : pattern[0] != path[0]) return false;
    pattern.remove_prefix(1);
    path.remove_prefix(1);
  }
  return path.empty();
}

std::vector<std::string> ListTree(const std::filesystem::path& directory) {
  std::vector<std::string> files;
  for (const std::filesystem::directory_entry& entry :
       std::filesystem::recursive_directory_iterator(directory)) {
    if (!entry.is_regular_file()) continue;  // follows a link to see its target
    files.push_back(entry.path().lexically_relative(directory).generic_string());
  }
  return files;
}

bool IsTreeFileTaken(std::string_view path, const std::vector<std::string>& include,
                     const std::vector<std::string>& exclude) {
  bool included = include.empty();
  for (const std::string& pattern : include) included = included || MatchesGlob(pattern, path);
  if (!included) return false;
  for (const std::string& pattern : exclude) {
    if (MatchesGlob(pattern, path)) return false;
  }
  return true;
}
