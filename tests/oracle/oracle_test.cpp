// Differential tests against node-pkware (support/reference_codec.hpp), a second
// implode/explode implementation used only as a black box: our encoder's
// streams must decode with it, and its streams must decode with the setup
// program's decoder, byte for byte, in both literal modes and all three
// window sizes.
//
// The reference is kept to what it does right: its encoder writes broken
// streams for inputs of 1 or 2 bytes (so inputs here have at least 3), may
// add a zero byte after the end code (harmless to a decoder), and starts a
// new dictionary for every 64 KiB chunk it is fed (so its streams are larger
// than they need to be, but valid). Its decoder does not notice distances
// that reach before the start of the output, so the rules of the format are
// checked by the unit tests, not here.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "explode/implode.hpp"
#include "explode/memory_codec.hpp"
#include "support/reference_codec.hpp"
#include "support/sample_data.hpp"

namespace {

struct Decoded {
  std::uint32_t result = 0;
  std::vector<std::uint8_t> output;
};

// Decodes with the setup program's decoder, through the codec's memory
// adapter.
Decoded Explode(std::span<const std::uint8_t> stream) {
  Decoded decoded;
  ExplodeBytes(stream, decoded.output, decoded.result);
  return decoded;
}

struct Setting {
  LiteralMode mode;
  unsigned window;
  std::string Arguments() const {
    return std::string(mode == LiteralMode::Ascii ? "ascii " : "binary ") + std::to_string(window);
  }
};

constexpr std::array<Setting, 6> kSettings = {{{LiteralMode::Binary, 1024},
                                               {LiteralMode::Binary, 2048},
                                               {LiteralMode::Binary, 4096},
                                               {LiteralMode::Ascii, 1024},
                                               {LiteralMode::Ascii, 2048},
                                               {LiteralMode::Ascii, 4096}}};

std::vector<std::vector<std::uint8_t>> Inputs() {
  return {SampleText(3, 1),       SampleText(777, 2),         SampleBinary(4097, 3),
          SampleText(150000, 4),  SampleBinary(140000, 5),     RepetitiveBytes(70000)};
}

class OracleTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!ReferenceCodecAvailable(why)) GTEST_SKIP() << why;
  }
};

TEST_F(OracleTest, OurStreamsDecodeWithTheReference) {
  for (const auto& input : Inputs()) {
    for (const Setting& setting : kSettings) {
      SCOPED_TRACE(testing::Message() << input.size() << " bytes, " << setting.Arguments());
      const auto stream = ImplodeWith(input, ImplodeChoice{setting.mode, setting.window}, false);
      const ReferenceRun run = RunReferenceCodec("explode", stream);
      ASSERT_EQ(run.exitCode, 0);
      EXPECT_TRUE(run.output == input) << "reference gave " << run.output.size() << " bytes";
    }
  }
}

TEST_F(OracleTest, OurBestStreamsDecodeWithTheReference) {
  const auto input = SampleText(120000, 6);
  for (const Setting& setting : kSettings) {
    SCOPED_TRACE(setting.Arguments());
    const ReferenceRun run =
        RunReferenceCodec("explode", ImplodeWith(input, ImplodeChoice{setting.mode, setting.window}, true));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output == input);
  }
}

TEST_F(OracleTest, ReferenceStreamsDecodeWithOurDecoder) {
  for (const auto& input : Inputs()) {
    for (const Setting& setting : kSettings) {
      SCOPED_TRACE(testing::Message() << input.size() << " bytes, " << setting.Arguments());
      const ReferenceRun run = RunReferenceCodec("implode " + setting.Arguments(), input);
      ASSERT_EQ(run.exitCode, 0);
      ASSERT_GE(run.output.size(), 5u);
      EXPECT_EQ(run.output[0], setting.mode == LiteralMode::Ascii ? 1 : 0);
      const Decoded decoded = Explode(run.output);
      EXPECT_EQ(decoded.result, 0u);
      EXPECT_TRUE(decoded.output == input) << "explode gave " << decoded.output.size() << " bytes";
    }
  }
}

TEST_F(OracleTest, OurStreamsAreNoLargerThanTheReferences) {
  for (const auto& input : {SampleText(150000, 7), SampleBinary(140000, 8)}) {
    for (const Setting& setting : kSettings) {
      SCOPED_TRACE(testing::Message() << input.size() << " bytes, " << setting.Arguments());
      const ReferenceRun run = RunReferenceCodec("implode " + setting.Arguments(), input);
      ASSERT_EQ(run.exitCode, 0);
      EXPECT_LE(ImplodeWith(input, ImplodeChoice{setting.mode, setting.window}, false).size(), run.output.size());
    }
  }
}

TEST_F(OracleTest, ReferenceRejectsWhatOurDecoderRejects) {
  // A stream cut before its end code: both decoders refuse it.
  auto stream = ImplodeWith(SampleText(20000, 9), ImplodeChoice{LiteralMode::Ascii, 4096}, false);
  stream.resize(stream.size() / 2);
  EXPECT_EQ(Explode(stream).result, 4u);
  EXPECT_NE(RunReferenceCodec("explode", stream).exitCode, 0);
}

}  // namespace
