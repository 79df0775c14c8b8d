// Faults the packager reports to its user. main() catches them once, prints the
// message and exits with code 1 ("bad input"); usage errors are CLI11's and
// exit with code 2.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// A fault in what the user gave us: the manifest, a source file, a stub, a
// setup program to list or extract. The message is complete: it names the file
// (and line, for the manifest) and says what is wrong and what to do.
class InputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Where a manifest value came from, for messages: "package.toml:12: files[2].source".
struct ManifestPlace {
  std::string file;   // the manifest's path as given
  std::uint32_t line = 0;
  std::string field;  // dotted path of the value, e.g. "files[2].source"

  // "file:line: field: " followed by `problem`.
  std::string Message(std::string_view problem) const;
};
