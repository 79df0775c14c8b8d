// The codec's memory adapters: whole streams decoded into a growing vector
// or a fixed buffer, with explode's result passed through.
#include "explode/memory_codec.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "explode/implode.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Plain literals, window 1024: 'A', then a match of length 10 at distance 1,
// then the end code (decoded by hand in explode_test.cpp).
const Bytes kElevenA = {0x00, 0x04, 0x82, 0x12, 0x43, 0xC0, 0x3F};

TEST(ExplodeBytes, AppendsTheDecodedStream) {
  Bytes output = {'x'};
  std::uint32_t result = 99;
  EXPECT_TRUE(ExplodeBytes(kElevenA, output, result));
  EXPECT_EQ(result, kExplodeOk);
  Bytes expected(12, 'A');
  expected[0] = 'x';
  EXPECT_EQ(output, expected);
}

TEST(ExplodeBytes, KeepsWhatWasDecodedBeforeTheStreamEnded) {
  // 'A', 'B', then the stream stops before the end code.
  Bytes output;
  std::uint32_t result = 0;
  EXPECT_FALSE(ExplodeBytes(Bytes{0x00, 0x04, 0x82, 0x08, 0x01, 0x00}, output, result));
  EXPECT_EQ(result, kExplodeTruncated);
  EXPECT_EQ(output, (Bytes{'A', 'B'}));
}

TEST(ExplodeInto, StoresWhatFitsAndCountsEverything) {
  Bytes text(20000);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>("abcabd"[i % 6] + i / 4096);
  const Bytes stream = Implode(text, ImplodeOptions{});
  auto work = std::make_unique<ExplodeWork>();
  for (std::size_t capacity : {std::size_t{0}, std::size_t{5}, std::size_t{4096}, text.size(), text.size() + 7}) {
    Bytes output(capacity, 0xEE);
    std::size_t produced = 0;
    EXPECT_EQ(ExplodeInto(stream, output, produced, *work), kExplodeOk) << capacity;
    EXPECT_EQ(produced, text.size()) << capacity;
    const std::size_t stored = std::min(capacity, text.size());
    EXPECT_TRUE(std::equal(output.begin(), output.begin() + stored, text.begin())) << capacity;
    EXPECT_TRUE(std::all_of(output.begin() + stored, output.end(), [](std::uint8_t b) { return b == 0xEE; }))
        << capacity;
  }
}

}  // namespace
