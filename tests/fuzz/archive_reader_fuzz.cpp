// libFuzzer target: setuppack's archive reader, its listings and extract, on
// an arbitrary archive behind a setup program's image.
//
// The input is the archive: the program is 61440 zero bytes followed by it.
// Checks, for every input:
// - the text and the JSON listing are written; the JSON parses back (every
//   text in it is UTF-8) and its "error" agrees with the reader;
// - extract into a scratch directory either succeeds, and then every file it
//   made lies below its target and nothing else appeared in the scratch
//   directory, or it fails with InputError, and then the scratch directory
//   is as it was: no target, no staging directory, nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "format/layout.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/reader/extract.hpp"
#include "setuppack/reader/list.hpp"

namespace fs = std::filesystem;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// One scratch directory per process: the program and the target inside it.
const fs::path& Scratch() {
  static const fs::path path = [] {
    std::string pattern = (fs::temp_directory_path() / "archive_reader_fuzz-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(Scratch(), ec);
    });
    return fs::path(pattern);
  }();
  return path;
}

std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> entries;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    entries.insert(fs::relative(it->path(), dir).string());
    // Links are never made by extract; do not follow one if it were.
    if (it->is_symlink()) it.disable_recursion_pending();
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> program(kArchiveOffset, 0);
  program.insert(program.end(), data, data + size);

  const ArchiveListing listing = ReadArchive(program);
  std::ostringstream text, json;
  PrintListing(listing, "fuzz.exe", text);
  PrintListingJson(listing, json);
  const nlohmann::json parsed = nlohmann::json::parse(json.str());
  Check(parsed["error"].is_null() == (listing.error == kArchiveOk));

  const fs::path& scratch = Scratch();
  const fs::path programPath = scratch / "fuzz.exe";
  {
    std::ofstream out(programPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
    Check(out.good());
  }
  const fs::path target = scratch / "target";
  const std::set<std::string> before = Entries(scratch);
  bool extracted = false;
  try {
    ExtractSetupProgram(programPath, target);
    extracted = true;
  } catch (const InputError&) {
  }
  const std::set<std::string> after = Entries(scratch);
  if (!extracted) {
    Check(after == before);
  } else {
    for (const std::string& entry : after) {
      if (before.count(entry) != 0) continue;
      Check(entry == "target" || entry.rfind("target/", 0) == 0);
    }
    for (const std::string& entry : before) Check(after.count(entry) != 0);
    std::error_code ec;
    fs::remove_all(target, ec);
  }
  return 0;
}
