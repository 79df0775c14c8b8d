// Members larger than setup.exe's 64 KiB read-ahead and write-behind: whole
// installations byte for byte with their times, and sources that end inside a
// member, which must leave exactly the file that one read and one write per
// request would leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "explode/explode.hpp"
#include "explode/implode.hpp"
#include "setup_fixture.hpp"
#include "setuppack/host/file_io.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBufferSize = 65536;

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data) {
  ImplodeOptions options;
  options.literals = LiteralMode::Auto;
  return Implode(data, options);
}

// The file that the decoder's callbacks leave when only the first `available`
// bytes of a stream of `storedLength` bytes can be read: every request of 2048
// bytes is one read, the read that comes back short stops all further reads
// and writes, and every 4096-byte block written before it is in the file.
std::vector<std::uint8_t> PartialExplode(const std::vector<std::uint8_t>& stream, std::size_t available) {
  struct Feed {
    const std::vector<std::uint8_t>* stream;
    std::size_t available;
    std::size_t position;
    std::uint32_t left;
    int error;
    std::vector<std::uint8_t> output;
  } feed{&stream, available, 0, static_cast<std::uint32_t>(stream.size()), 0, {}};
  auto read = [](char* buffer, unsigned int* size, void* user) -> unsigned int {
    Feed& f = *static_cast<Feed*>(user);
    if (f.error || f.left == 0) return 0;
    const std::uint32_t count = std::min<std::uint32_t>(*size, f.left);
    f.left -= count;
    const std::size_t got = std::min<std::size_t>(count, f.available - f.position);
    std::memcpy(buffer, f.stream->data() + f.position, got);
    f.position += got;
    if (got != count) f.error = 1;
    return static_cast<unsigned int>(got);
  };
  auto write = [](char* buffer, unsigned int* size, void* user) {
    Feed& f = *static_cast<Feed*>(user);
    if (!f.error) f.output.insert(f.output.end(), buffer, buffer + *size);
  };
  auto work = std::make_unique<ExplodeWork>();
  explode(read, write, work.get(), &feed);
  return feed.output;
}

std::string CopyFailed(const std::string& path) {
  return "Installation failed because an error occurred while copying file " + path + ".";
}
std::string DecompressFailed(const std::string& path) {
  return "Installation failed because an error occurred while decompressing file " + path + ".";
}

class LargeMembers : public SetupTest {};

TEST_F(LargeMembers, InstallByteForByteWithTheirTimes) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    std::uint8_t flags;
    std::size_t padding;  // zero bytes behind a compressed stream's end code
  };
  const std::vector<Case> cases = {
      {"stored.bin", SampleBinary(200000, 1), 0, 0},
      {"one-buffer.bin", SampleBinary(kBufferSize, 2), 0, 0},
      {"empty.txt", {}, 0, 0},
      {"two-buffers-and-one.bin", SampleBinary(2 * kBufferSize + 1, 3), 0, 0},
      {"text.txt", SampleText(400000, 4), kMemberCmp, 0},
      {"binary.bin", SampleBinary(250000, 5), kMemberCmp, 0},
      // The end code comes long before the stored length: the rest is passed
      // over, partly buffered, partly still in the archive.
      {"padded.txt", SampleText(90000, 6), kMemberCmp, kBufferSize + 5000},
      {"Manual.txt", SampleText(300000, 7), kMemberCmp | kMemberExt, 0},
      {"Agent.exe", SampleBinary(150000, 8), kMemberExt, 0},
      {"after.txt", BytesOf("stored after the large members"), 0, 0},
  };
  PackageBuilder package = NewPackage();
  std::uint64_t time = kSampleTime;
  for (const Case& c : cases) {
    std::vector<std::uint8_t> stored = c.data;
    if (c.flags & kMemberCmp) {
      stored = Compress(c.data);
      stored.insert(stored.end(), c.padding, 0);
    }
    PackageMember& member = package.AddFile(c.name, stored, c.flags);
    member.originalSize = static_cast<std::uint32_t>(c.data.size());
    member.lastWriteTime = time;
    time += 10000000ull * 3600;
  }
  WritePackage(package);
  ASSERT_EQ(RunSetup(SilentArgs()), 0);
  time = kSampleTime;
  for (const Case& c : cases) {
    EXPECT_EQ(ReadWholeFile(Installed(c.name)), c.data) << c.name;
    EXPECT_EQ(LastWriteFileTime(Installed(c.name)), time) << c.name;
    time += 10000000ull * 3600;
  }
}

// Where the source of a member's data ends inside it.
struct ShortSource {
  const char* name;
  bool compressed;
  bool external;
  // How much of the member's stored data the source holds, in bytes.
  std::size_t (*available)(std::size_t storedLength);
};

void PrintTo(const ShortSource& c, std::ostream* os) { *os << c.name; }

class LargeMemberSourceEnds : public SetupTest, public ::testing::WithParamInterface<ShortSource> {};

TEST_P(LargeMemberSourceEnds, FailsWithTheFileAsFarAsUnbufferedReadsGet) {
  const ShortSource& c = GetParam();
  const std::vector<std::uint8_t> data = c.compressed ? SampleText(800000, 9) : SampleBinary(300000, 9);
  const std::vector<std::uint8_t> stored = c.compressed ? Compress(data) : data;
  const std::size_t available = c.available(stored.size());
  ASSERT_LT(available, stored.size());
  const std::uint8_t flags = (c.compressed ? kMemberCmp : 0) | (c.external ? kMemberExt : 0);

  PackageBuilder package = NewPackage();
  package.AddFile("first.txt", "first");
  package.AddFile("Member.bin", stored, flags).originalSize = static_cast<std::uint32_t>(data.size());
  package.AddFile("after.txt", "after");
  WritePackage(package);
  if (c.external) {
    fs::resize_file(DirFile("_ember.bin"), available);
  } else {
    DamagedProgram program(ReadWholeFile(DirFile(kPackageName)));
    program.CutAt(program.Listing().members[1].dataOffset + available);
    // Room in the progress total, so that the length check (code 4) passes.
    program.SetExternalSize(static_cast<std::uint32_t>(stored.size()));
    WriteBytes(DirFile(kPackageName), program.Bytes());
  }

  const std::string path = InstallDir() + "\\Member.bin";
  Process setup = StartSetup(SilentArgs());
  EXPECT_TRUE(ExpectMessageBox(setup, c.compressed ? DecompressFailed(path) : CopyFailed(path)));
  EXPECT_EQ(setup.Wait(kBoxTimeout), 1);
  EXPECT_EQ(ReadText(Installed("first.txt")), "first");
  EXPECT_FALSE(fs::exists(Installed("after.txt")));
  const std::vector<std::uint8_t> expected =
      c.compressed ? PartialExplode(stored, available)
                   : std::vector<std::uint8_t>(stored.begin(), stored.begin() + static_cast<long>(available));
  const std::vector<std::uint8_t> installed = ReadWholeFile(Installed("Member.bin"));
  EXPECT_EQ(installed.size(), expected.size());
  EXPECT_TRUE(installed == expected) << "the partial file differs";
}

std::size_t ThreeBuffersAndABit(std::size_t) { return 3 * kBufferSize + 1234; }
std::size_t ExactlyTwoBuffers(std::size_t) { return 2 * kBufferSize; }
std::size_t TwoThirds(std::size_t length) { return length * 2 / 3; }
std::size_t OneByteShort(std::size_t length) { return length - 1; }

INSTANTIATE_TEST_SUITE_P(Table, LargeMemberSourceEnds,
                         ::testing::Values(ShortSource{"StoredInTheArchive", false, false, ThreeBuffersAndABit},
                                           ShortSource{"StoredAtABufferBoundary", false, false, ExactlyTwoBuffers},
                                           ShortSource{"StoredOneByteShort", false, false, OneByteShort},
                                           ShortSource{"CompressedInTheArchive", true, false, TwoThirds},
                                           ShortSource{"CompressedAtABufferBoundary", true, false, ExactlyTwoBuffers},
                                           ShortSource{"StoredExternal", false, true, ThreeBuffersAndABit},
                                           ShortSource{"CompressedExternal", true, true, TwoThirds}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace winetest
