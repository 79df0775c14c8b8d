// Compressed members: implode streams from our encoder and from node-pkware
// expand byte for byte in setup.exe; damaged streams stop the installation
// with the decompression message.
#include <gtest/gtest.h>

#include "explode/implode.hpp"
#include "setup_fixture.hpp"
#include "setuppack/host/file_io.hpp"
#include "support/reference_codec.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

std::string DecompressFailed(const std::string& path) {
  return "Installation failed because an error occurred while decompressing file " + path + ".";
}

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data, LiteralMode literals,
                                   unsigned dictionarySize) {
  ImplodeOptions options;
  options.literals = literals;
  options.dictionarySize = dictionarySize;
  return Implode(data, options);
}

class Compressed : public SetupTest {
protected:
  PackageMember& AddCompressed(PackageBuilder& package, const std::string& name,
                               const std::vector<std::uint8_t>& data, std::vector<std::uint8_t> stream,
                               std::uint8_t extraFlags = 0) {
    PackageMember& member = package.AddFile(name, std::move(stream), kMemberCmp | extraFlags);
    member.originalSize = static_cast<std::uint32_t>(data.size());
    return member;
  }

  // node-pkware's stream for `data`, or empty when node or the package is
  // missing.
  std::vector<std::uint8_t> OracleImplode(const std::vector<std::uint8_t>& data, const char* mode,
                                          unsigned dictionarySize) {
    std::string why;
    if (!ReferenceCodecAvailable(why)) return {};
    const ReferenceRun run =
        RunReferenceCodec(std::string("implode ") + mode + " " + std::to_string(dictionarySize), data);
    if (run.exitCode != 0) return {};
    return run.output;
  }

  std::optional<int> ExpectDecompressFailure(const std::string& member) {
    Process setup = StartSetup(SilentArgs());
    auto box = ExpectMessageBox(setup, DecompressFailed(InstallDir() + "\\" + member));
    if (box) {
      EXPECT_EQ(box->ownerText, kDialogCaption);
    }
    return setup.Wait(kBoxTimeout);
  }
};

TEST_F(Compressed, OurStreamsExpandInEveryModeAndWindow) {
  const std::vector<std::uint8_t> text = SampleText(70000, 1);
  const std::vector<std::uint8_t> binary = SampleBinary(50000, 2);
  PackageBuilder package = NewPackage();
  struct Case {
    const char* name;
    LiteralMode literals;
    unsigned dictionary;
    const std::vector<std::uint8_t>* data;
  };
  const Case cases[] = {
      {"ascii1024.txt", LiteralMode::Ascii, 1024, &text},   {"ascii2048.txt", LiteralMode::Ascii, 2048, &text},
      {"ascii4096.txt", LiteralMode::Ascii, 4096, &text},   {"binary1024.bin", LiteralMode::Binary, 1024, &binary},
      {"binary2048.bin", LiteralMode::Binary, 2048, &binary}, {"binary4096.bin", LiteralMode::Binary, 4096, &binary},
  };
  for (const Case& c : cases) {
    AddCompressed(package, c.name, *c.data, Compress(*c.data, c.literals, c.dictionary)).lastWriteTime =
        kSampleTime;
  }
  package.AddFile("after.txt", "stored after the compressed members");
  WritePackage(package);
  ASSERT_EQ(RunSetup(SilentArgs()), 0);
  for (const Case& c : cases) {
    EXPECT_EQ(ReadWholeFile(Installed(c.name)), *c.data) << c.name;
    EXPECT_EQ(LastWriteFileTime(Installed(c.name)), kSampleTime) << c.name;
  }
  EXPECT_EQ(ReadText(Installed("after.txt")), "stored after the compressed members");
}

TEST_F(Compressed, NodePkwareStreamsExpand) {
  const std::vector<std::uint8_t> text = SampleText(150000, 1);
  const std::vector<std::uint8_t> binary = SampleBinary(90000, 2);
  const std::vector<std::uint8_t> ascii = OracleImplode(text, "ascii", 4096);
  if (ascii.empty()) GTEST_SKIP() << "node-pkware is not installed";
  PackageBuilder package = NewPackage();
  AddCompressed(package, "ascii4096.txt", text, ascii);
  AddCompressed(package, "binary1024.bin", binary, OracleImplode(binary, "binary", 1024));
  AddCompressed(package, "ascii2048.txt", text, OracleImplode(text, "ascii", 2048));
  package.AddFile("after.txt", "after");
  WritePackage(package);
  ASSERT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadWholeFile(Installed("ascii4096.txt")), text);
  EXPECT_EQ(ReadWholeFile(Installed("binary1024.bin")), binary);
  EXPECT_EQ(ReadWholeFile(Installed("ascii2048.txt")), text);
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(Compressed, BytesBehindTheEndCodeArePassedOver) {
  const std::vector<std::uint8_t> text = SampleText(5000, 1);
  std::vector<std::uint8_t> stream = Compress(text, LiteralMode::Ascii, 2048);
  // Padding behind the end code, more than the decoder's first read takes.
  stream.insert(stream.end(), 3000, 0);
  PackageBuilder package = NewPackage();
  AddCompressed(package, "padded.txt", text, stream);
  package.AddFile("after.txt", "next entry");
  WritePackage(package);
  ASSERT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadWholeFile(Installed("padded.txt")), text);
  EXPECT_EQ(ReadText(Installed("after.txt")), "next entry");
}

TEST_F(Compressed, ExternalCompressedMemberExpands) {
  const std::vector<std::uint8_t> text = SampleText(40000, 1);
  PackageBuilder package = NewPackage();
  AddCompressed(package, "Manual.txt", text, Compress(text, LiteralMode::Auto, 0), kMemberExt);
  package.AddFile("after.txt", "after");
  WritePackage(package);
  ASSERT_EQ(RunSetup(SilentArgs()), 0);
  EXPECT_EQ(ReadWholeFile(Installed("Manual.txt")), text);
  EXPECT_EQ(ReadText(Installed("after.txt")), "after");
}

TEST_F(Compressed, CutExternalStreamFailsToDecompress) {
  const std::vector<std::uint8_t> text = SampleText(40000, 1);
  PackageBuilder package = NewPackage();
  AddCompressed(package, "Manual.txt", text, Compress(text, LiteralMode::Auto, 0), kMemberExt);
  WritePackage(package);
  const fs::path external = Dir() / "_anual.txt";
  fs::resize_file(external, fs::file_size(external) / 2);
  EXPECT_EQ(ExpectDecompressFailure("Manual.txt"), 1);
}

TEST_F(Compressed, DamagedStreamsFailWithTheDecompressionMessage) {
  const std::vector<std::uint8_t> text = SampleText(20000, 1);
  const std::vector<std::uint8_t> good = Compress(text, LiteralMode::Ascii, 4096);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> stream;
  };
  std::vector<Case> cases = {
      {"cut before the end code", {good.begin(), good.begin() + static_cast<long>(good.size() / 2)}},
      {"bad literal mode", good},
      {"bad dictionary size", good},
      {"four bytes only", {1, 6, 0x01, 0xFF}},
      {"empty", {}},
  };
  cases[1].stream[0] = 2;
  cases[2].stream[1] = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageBuilder package = NewPackage();
    package.AddFile("before.txt", "installed before");
    AddCompressed(package, "damaged.txt", text, c.stream);
    package.AddFile("after.txt", "never reached");
    WritePackage(package);
    EXPECT_EQ(ExpectDecompressFailure("damaged.txt"), 1);
    EXPECT_EQ(ReadText(Installed("before.txt")), "installed before");
    EXPECT_FALSE(fs::exists(Installed("after.txt")));
    fs::remove_all(Dir() / "Install");
  }
}

}  // namespace
}  // namespace winetest
