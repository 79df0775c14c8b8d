// The raw stream commands: `setuppack implode` writes the encoder's stream,
// `setuppack explode` gives the file back, and both report bad input without
// leaving output behind.
#include "setuppack/streams/raw_streams.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"

namespace {

TEST(RawStreamCommand, ImplodeThenExplodeGivesTheFileBack) {
  TempDir dir;
  const auto input = SampleBinary(30000, 1);
  const auto in = dir.Write("in.bin", input);
  ASSERT_EQ(RunImplodeCommand(ImplodeOptions{}, in.string(), (dir / "packed").string()), 0);
  ASSERT_EQ(RunExplodeCommand((dir / "packed").string(), (dir / "out.bin").string()), 0);
  EXPECT_TRUE(ReadBytes(dir / "out.bin") == input);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"in.bin", "out.bin", "packed"}));
}

TEST(RawStreamCommand, ImplodeWritesTheStreamOfTheEncoder) {
  TempDir dir;
  const auto input = SampleText(20000, 2);
  const auto in = dir.Write("in.txt", input);
  const ImplodeOptions options{LiteralMode::Ascii, 2048, false};
  ASSERT_EQ(RunImplodeCommand(options, in.string(), (dir / "packed").string()), 0);
  EXPECT_TRUE(ReadBytes(dir / "packed") == Implode(input, options));
}

TEST(RawStreamCommand, MissingInputFailsWithoutOutput) {
  TempDir dir;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunImplodeCommand(ImplodeOptions{}, (dir / "absent").string(), (dir / "out").string()), 1);
  EXPECT_EQ(RunExplodeCommand((dir / "absent").string(), (dir / "out").string()), 1);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("absent"), std::string::npos) << messages;
  EXPECT_TRUE(dir.Files().empty());
}

TEST(RawStreamCommand, OutputInAMissingDirectoryIsReported) {
  TempDir dir;
  const auto in = dir.Write("in.bin", Implode(SampleText(1000, 4), ImplodeOptions{}));
  const std::string out = (dir / "absent/out").string();
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunImplodeCommand(ImplodeOptions{}, in.string(), out), 1);
  EXPECT_EQ(RunExplodeCommand(in.string(), out), 1);
  const std::string messages = testing::internal::GetCapturedStderr();
  const std::string expected = "setuppack: " + out + ": cannot create: No such file or directory\n";
  EXPECT_EQ(messages, expected + expected);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"in.bin"});
}

struct DamagedStream {
  const char* name;
  std::vector<std::uint8_t> bytes;
  const char* message;
};

TEST(RawStreamCommand, DamagedStreamsAreReportedAndLeaveNoOutputFile) {
  const auto full = Implode(SampleText(10000, 3), ImplodeOptions{LiteralMode::Ascii, 4096});
  std::vector<std::uint8_t> cut(full.begin(), full.begin() + full.size() / 2);
  const std::vector<DamagedStream> cases = {
      {"empty", {}, "not an implode stream: 0 bytes, the shortest stream has 5"},
      {"four bytes", {0x00, 0x06, 0x01, 0xFF}, "not an implode stream: 4 bytes, the shortest stream has 5"},
      {"dictionary 7", {0x00, 0x07, 0x01, 0xFF, 0x00}, "dictionary size code 7 (byte 1) is not 4, 5 or 6"},
      {"dictionary 7 and mode 2", {0x02, 0x07, 0x01, 0xFF, 0x00}, "dictionary size code 7"},
      {"literal mode 2", {0x02, 0x06, 0x01, 0xFF, 0x00}, "literal mode 2 (byte 0) is not 0 or 1"},
      {"no end code", {0x00, 0x06, 0x82, 0x00, 0x00}, "input ended before the end code after"},
      {"cut in half", cut, "damaged implode stream: input ended before the end code after"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto in = dir.Write("in.imp", c.bytes);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunExplodeCommand(in.string(), (dir / "out").string()), 1);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("setuppack: " + in.string() + ": "), std::string::npos) << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"in.imp"});
  }
}

TEST(RawStreamCommand, TruncatedStreamMessageCountsTheBytesDecoded) {
  TempDir dir;
  // 'A', 'B', then the stream stops before the end code.
  const auto in = dir.Write("in.imp", std::vector<std::uint8_t>{0x00, 0x04, 0x82, 0x08, 0x01, 0x00});
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunExplodeCommand(in.string(), (dir / "out").string()), 1);
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("input ended before the end code after 2 bytes of output"), std::string::npos) << message;
}

TEST(RawStreamCommand, FailedExplodeKeepsAnExistingTarget) {
  TempDir dir;
  const auto target = dir.Write("out", std::string_view("previous"));
  const auto in = dir.Write("in.imp", std::vector<std::uint8_t>{0x00, 0x06, 0x82});
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunExplodeCommand(in.string(), target.string()), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadText(target), "previous");
}

}  // namespace
