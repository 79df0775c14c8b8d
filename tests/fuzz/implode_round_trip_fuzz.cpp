// libFuzzer target: whatever the packager's encoder writes, the decoder gives
// back. The first input byte chooses the encoder options (literal mode,
// window size, search effort); the rest is the data.
#include "explode/explode.hpp"
#include "setuppack/implode.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace {

struct Run {
  std::span<const std::uint8_t> input;
  std::size_t at = 0;
  std::vector<std::uint8_t> output;
};

unsigned Read(char* buffer, unsigned* size, void* userParameter) {
  Run* run = static_cast<Run*>(userParameter);
  std::size_t n = run->input.size() - run->at;
  if (n > *size) n = *size;
  std::memcpy(buffer, run->input.data() + run->at, n);
  run->at += n;
  return static_cast<unsigned>(n);
}

void Write(char* buffer, unsigned* size, void* userParameter) {
  Run* run = static_cast<Run*>(userParameter);
  run->output.insert(run->output.end(), buffer, buffer + *size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  const std::span<const std::uint8_t> plain(data + 1, size - 1);

  ImplodeOptions options;
  static constexpr LiteralMode kModes[] = {LiteralMode::Binary, LiteralMode::Ascii,
                                           LiteralMode::Auto, LiteralMode::Auto};
  static constexpr unsigned kSizes[] = {0, 1024, 2048, 4096};
  options.literals = kModes[choice & 3];
  options.dictionarySize = kSizes[(choice >> 2) & 3];
  options.best = (choice & 0x10) != 0;
  const std::vector<std::uint8_t> stream = Implode(plain, options);

  static std::unique_ptr<ExplodeWork> work(new ExplodeWork);
  Run run;
  run.input = stream;
  if (explode(Read, Write, work.get(), &run) != kExplodeOk) std::abort();
  if (run.output.size() != plain.size()) std::abort();
  if (!std::equal(plain.begin(), plain.end(), run.output.begin())) std::abort();
  return 0;
}
