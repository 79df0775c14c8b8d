// Faults the packager reports to its user. main() catches them once, prints the
// message and exits with code 1 ("bad input"); usage errors are CLI11's and
// exit with code 2.
#pragma once

#include <stdexcept>
#include <string>

// A fault in what the user gave us: the manifest, a source file, a stub, a
// setup program to list or extract. The message is complete: it names the file
// (and line, for the manifest) and says what is wrong and what to do.
class InputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
