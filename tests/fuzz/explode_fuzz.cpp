// libFuzzer target: the explode decoder on arbitrary input.
//
// Checks, for every input: the result is one of 0 to 4; the header results
// (1, 2, 3) come after one read and no write; otherwise every write but the
// last takes 4096 bytes and the last 0 to 4095; every read is asked for 2048
// bytes. And the decoder's view of the stream does not depend on how the read
// callback splits it: serving the same bytes in reads of 1 byte after the
// first gives the same result, the same output and the same writes, while
// that path decodes every token field by field instead of from a full buffer.
// The 32-bit bit buffer that setup.exe uses gives the same as the host's.
#include "explode/explode.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Run {
  const std::uint8_t* input;
  std::size_t size;
  std::size_t at;
  std::size_t chunk;
  unsigned reads;
  std::vector<std::uint8_t> output;
  std::vector<unsigned> writes;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

unsigned Read(char* buffer, unsigned* size, void* userParameter) {
  Run* run = static_cast<Run*>(userParameter);
  Check(*size == kExplodeInputSize);
  std::size_t n = run->size - run->at;
  if (n > *size) n = *size;
  if (run->reads > 0 && n > run->chunk) n = run->chunk;
  if (n != 0) std::memcpy(buffer, run->input + run->at, n);
  run->at += n;
  ++run->reads;
  return static_cast<unsigned>(n);
}

void Write(char* buffer, unsigned* size, void* userParameter) {
  Run* run = static_cast<Run*>(userParameter);
  Check(*size <= kExplodeBlockSize);
  run->output.insert(run->output.end(), buffer, buffer + *size);
  run->writes.push_back(*size);
}

typedef std::uint32_t (*ExplodeFunction)(ExplodeReadCallback, ExplodeWriteCallback, void*, void*);

std::uint32_t Decode(const std::uint8_t* data, std::size_t size, std::size_t chunk, Run& run,
                     ExplodeFunction decoder = explode) {
  static std::unique_ptr<ExplodeWork> work(new ExplodeWork);
  run = Run{data, size, 0, chunk, 0, {}, {}};
  return decoder(Read, Write, work.get(), &run);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Run whole;
  const std::uint32_t result = Decode(data, size, kExplodeInputSize, whole);
  Check(result <= kExplodeTruncated);
  if (result == kExplodeBadDictionary || result == kExplodeBadLiteralMode ||
      result == kExplodeShortHeader) {
    Check(whole.reads == 1 && whole.writes.empty());
    return 0;
  }
  Check(!whole.writes.empty());
  for (std::size_t i = 0; i + 1 < whole.writes.size(); ++i) Check(whole.writes[i] == kExplodeBlockSize);
  Check(whole.writes.back() < kExplodeBlockSize);

  Run bytewise;
  Check(Decode(data, size, 1, bytewise) == result);
  Check(bytewise.output == whole.output);
  Check(bytewise.writes == whole.writes);

  // setup.exe's 32-bit bit buffer sees the same stream, in the same reads.
  Run narrow;
  Check(Decode(data, size, kExplodeInputSize, narrow, ExplodeWithBitBuffer<std::uint32_t>) == result);
  Check(narrow.output == whole.output && narrow.writes == whole.writes && narrow.reads == whole.reads);
  return 0;
}
