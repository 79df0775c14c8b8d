#include "support/reference_codec.hpp"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path kOracleDir = fs::path(TESTS_DIR) / "oracle";

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool ReferenceCodecAvailable(std::string& why) {
  if (std::system("node --version > /dev/null 2>&1") != 0) {
    why = "node is not installed";
    return false;
  }
  if (!fs::exists(kOracleDir / "node_modules" / "node-pkware")) {
    why = "node-pkware is not installed (run npm install in tests/oracle)";
    return false;
  }
  return true;
}

ReferenceRun RunReferenceCodec(const std::string& arguments, std::span<const std::uint8_t> input, bool timed) {
  TempDir scratch;
  const fs::path in = scratch.Write("in", input);
  const fs::path out = scratch / "out";
  const fs::path report = scratch / "report";
  const std::string command = "node " + Quote((kOracleDir / "pkware.js").string()) + " " + arguments +
                              (timed ? " --time" : "") + " < " + Quote(in.string()) + " > " + Quote(out.string()) +
                              " 2> " + Quote(report.string());
  ReferenceRun run;
  const int status = std::system(command.c_str());
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.output = ReadBytes(out);
  std::ifstream lines(report);
  std::string word;
  while (lines >> word) {
    if (word == "elapsed-ms" && lines >> run.seconds) run.seconds /= 1000.0;
  }
  return run;
}
