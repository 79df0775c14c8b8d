#include "support/sample_data.hpp"

#include <iterator>
#include <string>

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

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& byte : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x >> 24);
  }
  return data;
}

std::vector<std::uint8_t> SampleText(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"the",     "setup",   "program", "installs", "backup",  "client", "archive",
                                       "member",  "window",  "of",      "and",      "a",       "to",     "directory",
                                       "Korvane", "Online",  "file",    "is",       "with",    "for",    "version",
                                       "data",    "stream",  "bytes",   "each",     "message", "shell",  "registry"};
  std::vector<std::uint8_t> data;
  data.reserve(size + 16);
  std::uint32_t x = seed * 2654435761u + 7;
  unsigned column = 0;
  while (data.size() < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    const std::string word = kWords[x % std::size(kWords)];
    data.insert(data.end(), word.begin(), word.end());
    column += static_cast<unsigned>(word.size()) + 1;
    if ((x >> 8) % 11 == 0) data.push_back(',');
    if (column > 70) {
      data.push_back('.');
      data.push_back('\n');
      column = 0;
    } else {
      data.push_back(' ');
    }
  }
  data.resize(size);
  return data;
}

std::vector<std::uint8_t> SampleBinary(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> data;
  data.reserve(size + 16);
  std::uint32_t x = seed + 1;
  for (std::uint32_t i = 0; data.size() < size; ++i) {
    x = x * 1103515245u + 12345u;
    const std::uint8_t record[] = {0x8B, 0x45, static_cast<std::uint8_t>(i & 0xFC), 0xE8,
                                   static_cast<std::uint8_t>(x >> 16), static_cast<std::uint8_t>(x >> 24), 0x00, 0x00,
                                   static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0x00, 0x00};
    data.insert(data.end(), record, record + ((x >> 20) % 12 + 1));
  }
  data.resize(size);
  return data;
}

std::vector<std::uint8_t> RepetitiveBytes(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>("abcab"[i % 5] + (i / 100000) % 3);
  return data;
}

PackageBuilder MinimalPackage() {
  PackageBuilder p;
  p.header.ipcPrefix[0] = 'K';
  p.header.ipcPrefix[1] = 'O';
  p.settings.runCommand = "a.exe";
  p.settings.defaultPath = "C:\\K";
  return p;
}
