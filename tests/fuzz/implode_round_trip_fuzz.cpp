// libFuzzer target: whatever the encoder writes, the decoder gives
// back. The first input byte chooses the encoder options (literal mode,
// window size, search effort); the rest is the data.
#include "explode/implode.hpp"
#include "explode/memory_codec.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

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

  std::vector<std::uint8_t> output;
  std::uint32_t result = 0;
  if (!ExplodeBytes(stream, output, result)) std::abort();
  if (output.size() != plain.size()) std::abort();
  if (!std::equal(plain.begin(), plain.end(), output.begin())) std::abort();
  return 0;
}
