#include "setuppack/host/host_path.hpp"

#include "setuppack/host/code_page.hpp"

std::filesystem::path HostPath(const std::filesystem::path& directory, const std::string& memberName, unsigned codePage) {
  std::string relative = AnsiToUtf8(memberName, codePage);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return directory / relative;
}
