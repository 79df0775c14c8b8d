#include "support/sample_data.hpp"

std::vector<std::uint8_t> FakeStub() {
  std::vector<std::uint8_t> stub(512, 0x90);
  stub[0] = 'M';
  stub[1] = 'Z';
  return stub;
}

std::vector<std::uint8_t> SampleBytes(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"backup ", "korvane ", "agent ", "files\r\n", "0123 ",
                                       "schedule ", "[section]\r\n", "= ", "online "};
  std::vector<std::uint8_t> bytes;
  std::uint32_t state = seed * 2654435761u + 1;
  while (bytes.size() < size) {
    state = state * 1103515245u + 12345u;
    if ((state >> 16) % 7 == 0) {
      bytes.push_back(static_cast<std::uint8_t>(state >> 8));
      continue;
    }
    const char* word = kWords[(state >> 16) % 9];
    for (const char* p = word; *p && bytes.size() < size; ++p) bytes.push_back(static_cast<std::uint8_t>(*p));
  }
  return bytes;
}
