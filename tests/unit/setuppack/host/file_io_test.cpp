// The packager's file access: whole-file reads, files that appear only when
// complete, file times.
#include "setuppack/host/file_io.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "setuppack/host/file_time.hpp"
#include "support/temp_dir.hpp"

namespace {

constexpr std::uint64_t kSeptember1999 = 0x01BF08B1F1492700ull;  // 1999-09-27 06:31:34 UTC

TEST(FileTime, ConvertsToAndFromUnixTime) {
  EXPECT_EQ(FileTimeFromUnix(0), kFileTimeUnixEpoch);
  EXPECT_EQ(FileTimeFromUnix(938413894), kSeptember1999);
  const UnixTime t = UnixFromFileTime(kSeptember1999 + 12345);
  EXPECT_EQ(t.seconds, 938413894);
  EXPECT_EQ(t.nanoseconds, 1234500u);
  const UnixTime before = UnixFromFileTime(kFileTimeUnixEpoch - 1);
  EXPECT_EQ(before.seconds, -1);
  EXPECT_EQ(before.nanoseconds, 999999900u);
}

// FILETIME is unsigned: the values from 2^63 on are times too, up to the
// year 60056, and each converts exactly and back.
TEST(FileTime, EveryUnsignedValueConvertsExactlyAndBack) {
  struct Case {
    std::uint64_t fileTime;
    std::int64_t seconds;
    std::uint32_t nanoseconds;
  };
  const Case cases[] = {
      {0, -11644473600, 0},
      {1, -11644473600, 100},
      {kFileTimeUnixEpoch, 0, 0},
      {0x7FFFFFFFFFFFFFFFull, 910692730085, 477580700},
      {0x8000000000000000ull, 910692730085, 477580800},
      {kLastListedFileTime, 253402300799, 999999900},
      {0xFFFFFFFFFFFFFFFFull, 1833029933770, 955161500},
  };
  for (const Case& c : cases) {
    const UnixTime t = UnixFromFileTime(c.fileTime);
    EXPECT_EQ(t.seconds, c.seconds) << c.fileTime;
    EXPECT_EQ(t.nanoseconds, c.nanoseconds) << c.fileTime;
    EXPECT_EQ(FileTimeFromUnix(c.seconds, c.nanoseconds), c.fileTime) << c.fileTime;
  }
}

TEST(FileTime, UnixTimesOutsideTheFileTimeRangeAreClamped) {
  EXPECT_EQ(FileTimeFromUnix(-11644473601), 0u);
  EXPECT_EQ(FileTimeFromUnix(std::numeric_limits<std::int64_t>::min()), 0u);
  EXPECT_EQ(FileTimeFromUnix(1833029933771), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(FileTimeFromUnix(std::numeric_limits<std::int64_t>::max(), 999999999),
            std::numeric_limits<std::uint64_t>::max());
}

TEST(FileTime, CalendarEndsWithTheYear9999) {
  const auto last = CalendarOfFileTime(kLastListedFileTime);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->year, 9999);
  EXPECT_EQ(last->second, 59u);
  for (const std::uint64_t beyond : {std::uint64_t{kLastListedFileTime + 1}, std::uint64_t{0x8000000000000000ull},
                                     std::uint64_t{0xFFFFFFFFFFFFFFFFull}})
    EXPECT_FALSE(CalendarOfFileTime(beyond)) << beyond;
}
TEST(ReadWholeFile, NamesTheFileAndTheStepThatFailed) {
  TempDir dir;
  EXPECT_EQ(ReadWholeFile(dir.Write("a.bin", std::string_view("abc"))), BytesOf("abc"));
  try {
    ReadWholeFile(dir / "absent");
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.Step(), FileStep::Open);
    EXPECT_EQ(e.Path(), dir / "absent");
    EXPECT_EQ(std::string(e.what()), "cannot open " + (dir / "absent").string() + ": No such file or directory");
  }
  try {
    ReadWholeFile(dir.Path());  // a directory opens, but does not read
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.Step(), FileStep::Read);
  }
}

TEST(ReadWholeFile, ReadsFilesOfEverySizeWhole) {
  TempDir dir;
  for (std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 300001u}) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 256);
    EXPECT_EQ(ReadWholeFile(dir.Write("f" + std::to_string(size), bytes)), bytes) << size;
  }
}

// A pipe has no size to read ahead: its bytes are read in pieces to the end.
TEST(ReadWholeFile, ReadsAFileWithoutASizeToItsEnd) {
  TempDir dir;
  const auto path = dir / "pipe";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::vector<std::uint8_t> bytes(200000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  std::thread writer([&] {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  });
  const std::vector<std::uint8_t> read = ReadWholeFile(path);
  writer.join();
  EXPECT_TRUE(read == bytes) << read.size();
}

TEST(AtomicFile, WritesOverEarlierBytesAndAppendsAfterThem) {
  TempDir dir;
  {
    AtomicFile file(dir / "out");
    file.Write(BytesOf("header: ?, body"));
    file.WriteAt(8, BytesOf("7"));
    file.Write(BytesOf(" and more"));
    file.WriteAt(0, BytesOf("H"));
    file.Commit();
  }
  EXPECT_EQ(ReadText(dir / "out"), "Header: 7, body and more");
}

// Large files are handed to the disk piece by piece while they are written;
// what arrives is every byte in order, earlier bytes written over included.
TEST(AtomicFile, KeepsEveryByteOfALargeFileWrittenInPieces) {
  TempDir dir;
  std::vector<std::uint8_t> expected;
  {
    AtomicFile file(dir / "out");
    for (std::uint32_t piece = 0; piece < 7; ++piece) {
      std::vector<std::uint8_t> bytes(700 * 1024 + piece);
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + piece);
      file.Write(bytes);
      expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    file.WriteAt(3, BytesOf("head"));
    file.Commit();
  }
  std::copy_n("head", 4, expected.begin() + 3);
  EXPECT_TRUE(ReadWholeFile(dir / "out") == expected);
}

TEST(AtomicFile, LeavesTheTargetAloneUntilCommitted) {
  TempDir dir;
  const auto target = dir.Write("out", std::string_view("previous"));
  {
    AtomicFile file(target);
    file.Write(BytesOf("new "));
    file.Write(BytesOf("text"));
    EXPECT_EQ(ReadText(target), "previous");
    EXPECT_EQ(dir.Files().size(), 2u);  // the target and the temporary file
    file.Commit();
  }
  EXPECT_EQ(ReadText(target), "new text");
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"out"});
}

TEST(AtomicFile, RemovesItsTemporaryFileWhenNotCommitted) {
  TempDir dir;
  {
    AtomicFile file(dir / "out");
    file.Write(BytesOf("lost"));
  }
  EXPECT_TRUE(dir.Files().empty());
}

TEST(AtomicFile, GivesExecutablesTheirExecuteBits) {
  TempDir dir;
  for (bool executable : {false, true}) {
    const auto path = dir / (executable ? "program" : "data");
    AtomicFile file(path, executable);
    file.Commit();
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ((info.st_mode & 0111) == 0111, executable) << path;
    EXPECT_NE(info.st_mode & 0400, 0u) << path;
  }
}

TEST(AtomicFile, NamesTheTargetWhenItCannotBeCreated) {
  TempDir dir;
  try {
    AtomicFile file(dir / "missing" / "out");
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.Step(), FileStep::Create);
    EXPECT_EQ(e.Path(), dir / "missing" / "out");
  }
}

TEST(SetModificationTime, SetsTheTimeToTheHundredNanoseconds) {
  TempDir dir;
  const auto path = dir.Write("a", std::string_view("x"));
  SetModificationTime(path, kSeptember1999 + 12345);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 938413894);
  EXPECT_EQ(info.st_mtim.tv_nsec, 1234500);
}

}  // namespace
