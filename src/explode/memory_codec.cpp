#include "explode/memory_codec.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct MemoryInput {
  std::span<const std::uint8_t> bytes;
  std::size_t position = 0;

  unsigned int Take(char* buffer, unsigned int size) {
    const std::size_t n = std::min<std::size_t>(size, bytes.size() - position);
    if (n != 0) std::memcpy(buffer, bytes.data() + position, n);
    position += n;
    return static_cast<unsigned int>(n);
  }
};

struct GrowingOutput {
  MemoryInput input;
  std::vector<std::uint8_t>* output;
};

struct FixedOutput {
  MemoryInput input;
  std::span<std::uint8_t> output;
  std::size_t produced = 0;
};

unsigned int ReadGrowing(char* buffer, unsigned int* size, void* userParameter) {
  return static_cast<GrowingOutput*>(userParameter)->input.Take(buffer, *size);
}

void WriteGrowing(char* buffer, unsigned int* size, void* userParameter) {
  std::vector<std::uint8_t>& output = *static_cast<GrowingOutput*>(userParameter)->output;
  output.insert(output.end(), buffer, buffer + *size);
}

unsigned int ReadFixed(char* buffer, unsigned int* size, void* userParameter) {
  return static_cast<FixedOutput*>(userParameter)->input.Take(buffer, *size);
}

void WriteFixed(char* buffer, unsigned int* size, void* userParameter) {
  auto* sink = static_cast<FixedOutput*>(userParameter);
  if (sink->produced < sink->output.size()) {
    const std::size_t n = std::min<std::size_t>(*size, sink->output.size() - sink->produced);
    std::memcpy(sink->output.data() + sink->produced, buffer, n);
  }
  sink->produced += *size;
}

}  // namespace

bool ExplodeBytes(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& output,
                  std::uint32_t& result) {
  auto work = std::make_unique<ExplodeWork>();
  GrowingOutput streams{MemoryInput{stream}, &output};
  result = explode(ReadGrowing, WriteGrowing, work.get(), &streams);
  return result == kExplodeOk;
}

std::uint32_t ExplodeInto(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                          std::size_t& produced, ExplodeWork& work) {
  FixedOutput streams{MemoryInput{stream}, output};
  const std::uint32_t result = explode(ReadFixed, WriteFixed, &work, &streams);
  produced = streams.produced;
  return result;
}
