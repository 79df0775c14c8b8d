// The read-ahead and the write-behind of setup.exe's member data, over files
// in memory: which read and write calls reach the file, what each request gets
// back, and where the source stands afterwards.
#include "format/member_stream.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace {

std::vector<std::uint8_t> Counting(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return bytes;
}

// A source file in memory that records the size of every read call; the read
// call numbered `failAt` (from 0) fails.
struct SourceFile {
  explicit SourceFile(std::vector<std::uint8_t> content) : bytes(std::move(content)) {}

  std::vector<std::uint8_t> bytes;
  std::size_t position = 0;
  std::vector<std::uint32_t> calls;
  int failAt = -1;

  static std::uint32_t Read(void* context, void* buffer, std::uint32_t count) {
    auto& file = *static_cast<SourceFile*>(context);
    const bool fails = static_cast<int>(file.calls.size()) == file.failAt;
    file.calls.push_back(count);
    if (fails) return kSourceReadFailed;
    const std::size_t n = std::min<std::size_t>(count, file.bytes.size() - file.position);
    if (n > 0) std::memcpy(buffer, file.bytes.data() + file.position, n);
    file.position += n;
    return static_cast<std::uint32_t>(n);
  }
};

// What a member's reader saw: the count each request got back (-1 for a
// failed read) and the bytes delivered.
struct MemberTrace {
  std::vector<long> returned;
  std::vector<std::uint8_t> data;
  bool operator==(const MemberTrace&) const = default;
};

// Reads a member of `length` bytes as the decoder's read callback does: the
// requests take turns over `requests`, each cut to what is left of the member;
// the reading ends with the member, a short count or a failure.
MemberTrace ReadMember(ReadAhead& ahead, SourceFile& file, std::uint32_t length,
                       const std::vector<std::uint32_t>& requests) {
  MemberTrace trace;
  std::uint32_t left = length;
  for (std::size_t turn = 0; left > 0; ++turn) {
    const std::uint32_t count = std::min(requests[turn % requests.size()], left);
    std::vector<std::uint8_t> out(count);
    const std::uint32_t got = TakeMemberBytes(ahead, out.data(), count, left, SourceFile::Read, &file);
    left -= count;
    if (got == kSourceReadFailed) {
      trace.returned.push_back(-1);
      break;
    }
    trace.returned.push_back(got);
    trace.data.insert(trace.data.end(), out.begin(), out.begin() + got);
    if (got != count) break;
  }
  return trace;
}

class ReadAheadTest : public ::testing::Test {
protected:
  void Attach(std::uint32_t capacity) {
    buffer_.assign(capacity, 0);
    AttachReadAhead(ahead_, capacity ? buffer_.data() : nullptr, capacity);
  }

  ReadAhead ahead_{};
  std::vector<std::uint8_t> buffer_;
};

TEST_F(ReadAheadTest, RequestsAcrossRefillsGetWholeCountsFromBufferSizedReads) {
  Attach(10);
  SourceFile file{Counting(40)};
  const MemberTrace trace = ReadMember(ahead_, file, 25, {4});
  EXPECT_EQ(trace.returned, (std::vector<long>{4, 4, 4, 4, 4, 4, 1}));
  EXPECT_EQ(trace.data, std::vector<std::uint8_t>(file.bytes.begin(), file.bytes.begin() + 25));
  // The last fill asks for the member's rest only: the source stands behind it.
  EXPECT_EQ(file.calls, (std::vector<std::uint32_t>{10, 10, 5}));
  EXPECT_EQ(file.position, 25u);
  EXPECT_EQ(BufferedBytes(ahead_), 0u);
}

TEST_F(ReadAheadTest, MemberEndingOnARefillBoundaryReadsNothingMore) {
  Attach(8);
  SourceFile file{Counting(30)};
  const MemberTrace trace = ReadMember(ahead_, file, 16, {3});
  EXPECT_EQ(trace.returned, (std::vector<long>{3, 3, 3, 3, 3, 1}));
  EXPECT_EQ(file.calls, (std::vector<std::uint32_t>{8, 8}));
  EXPECT_EQ(file.position, 16u);
}

TEST_F(ReadAheadTest, RequestsLargerThanTheBufferAreServedByRefills) {
  Attach(8);
  SourceFile file{Counting(30)};
  const MemberTrace trace = ReadMember(ahead_, file, 30, {20});
  EXPECT_EQ(trace.returned, (std::vector<long>{20, 10}));
  EXPECT_EQ(trace.data, file.bytes);
  EXPECT_EQ(file.calls, (std::vector<std::uint32_t>{8, 8, 8, 6}));
}

TEST_F(ReadAheadTest, MembersFollowOneAnotherWithoutReadingAcrossTheirBoundary) {
  Attach(16);
  SourceFile file{Counting(40)};
  // Between members the caller reads a record of its own from the file.
  EXPECT_EQ(ReadMember(ahead_, file, 11, {5}).returned, (std::vector<long>{5, 5, 1}));
  EXPECT_EQ(file.position, 11u);
  file.position += 3;
  ResetReadAhead(ahead_);
  const MemberTrace second = ReadMember(ahead_, file, 20, {5});
  EXPECT_EQ(second.data, std::vector<std::uint8_t>(file.bytes.begin() + 14, file.bytes.begin() + 34));
  EXPECT_EQ(file.position, 34u);
}

TEST_F(ReadAheadTest, ZeroLengthMemberReadsNothing) {
  Attach(16);
  SourceFile file{Counting(8)};
  std::uint8_t out = 0;
  EXPECT_EQ(TakeMemberBytes(ahead_, &out, 0, 0, SourceFile::Read, &file), 0u);
  EXPECT_TRUE(file.calls.empty());
  EXPECT_EQ(ReadMember(ahead_, file, 0, {4}).returned, std::vector<long>{});
  EXPECT_TRUE(file.calls.empty());
}

TEST_F(ReadAheadTest, WithoutABufferEveryRequestIsOneReadOfItsSize) {
  Attach(0);
  SourceFile file{Counting(30)};
  const MemberTrace trace = ReadMember(ahead_, file, 30, {12});
  EXPECT_EQ(trace.data, file.bytes);
  EXPECT_EQ(file.calls, (std::vector<std::uint32_t>{12, 12, 6}));
}

// A source that ends anywhere inside the member, or not at all: the buffered
// reader's requests get exactly the counts that one read per request gets.
TEST_F(ReadAheadTest, ShortSourceGivesTheCountsOfUnbufferedReads) {
  const std::uint32_t length = 50;
  for (const std::vector<std::uint32_t>& requests : {std::vector<std::uint32_t>{7}, {16}, {2048}, {1, 20, 3}}) {
    for (std::size_t fileSize = 0; fileSize <= length + 5; ++fileSize) {
      SCOPED_TRACE(testing::Message() << "request " << requests[0] << ", file of " << fileSize);
      SourceFile plainFile{Counting(fileSize)};
      ReadAhead plain{};
      AttachReadAhead(plain, nullptr, 0);
      const MemberTrace expected = ReadMember(plain, plainFile, length, requests);

      Attach(16);
      SourceFile file{Counting(fileSize)};
      EXPECT_EQ(ReadMember(ahead_, file, length, requests), expected);
      EXPECT_LE(file.position, length);
    }
  }
}

TEST_F(ReadAheadTest, FailedRefillFailsTheRequestThatNeedsIt) {
  Attach(10);
  SourceFile file{Counting(40)};
  file.failAt = 1;
  const MemberTrace trace = ReadMember(ahead_, file, 30, {4});
  // 10 bytes serve two requests whole; the third needs the failed refill.
  EXPECT_EQ(trace.returned, (std::vector<long>{4, 4, -1}));
  EXPECT_EQ(BufferedBytes(ahead_), 0u);
}

TEST_F(ReadAheadTest, FailedFirstReadFailsTheFirstRequest) {
  for (std::uint32_t capacity : {0u, 10u}) {
    Attach(capacity);
    SourceFile file{Counting(40)};
    file.failAt = 0;
    EXPECT_EQ(ReadMember(ahead_, file, 30, {4}).returned, std::vector<long>{-1}) << capacity;
  }
}

TEST_F(ReadAheadTest, BufferedBytesAndTheRestLeadToTheMemberEnd) {
  // A stream whose end code comes before its stored length: the caller passes
  // over what is buffered and what the source still holds of the member.
  Attach(16);
  SourceFile file{Counting(40)};
  std::vector<std::uint8_t> out(10);
  ASSERT_EQ(TakeMemberBytes(ahead_, out.data(), 10, 30, SourceFile::Read, &file), 10u);
  EXPECT_EQ(BufferedBytes(ahead_), 6u);
  EXPECT_EQ(file.position + (30 - 10) - BufferedBytes(ahead_), 30u);
}

// An output file in memory that records the size of every write call; the
// write call numbered `failAt` fails, having written `shortBy` bytes less.
struct OutputFile {
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> calls;
  int failAt = -1;
  std::uint32_t shortBy = 0;

  static bool Write(void* context, const void* data, std::uint32_t count) {
    auto& file = *static_cast<OutputFile*>(context);
    const bool fails = static_cast<int>(file.calls.size()) == file.failAt;
    file.calls.push_back(count);
    const std::uint32_t n = fails ? count - std::min(count, file.shortBy) : count;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    file.bytes.insert(file.bytes.end(), bytes, bytes + n);
    return !fails;
  }
};

class WriteBehindTest : public ::testing::Test {
protected:
  void Attach(std::uint32_t capacity) {
    buffer_.assign(capacity, 0);
    AttachWriteBehind(behind_, capacity ? buffer_.data() : nullptr, capacity);
  }
  bool Put(const std::vector<std::uint8_t>& data) {
    written_.insert(written_.end(), data.begin(), data.end());
    return PutOutputBytes(behind_, data.data(), static_cast<std::uint32_t>(data.size()), OutputFile::Write, &file_);
  }
  bool Flush() { return FlushOutputBytes(behind_, OutputFile::Write, &file_); }

  WriteBehind behind_{};
  std::vector<std::uint8_t> buffer_;
  OutputFile file_;
  std::vector<std::uint8_t> written_;  // everything put, in order
};

TEST_F(WriteBehindTest, BlocksAreGatheredIntoBufferSizedWrites) {
  Attach(16);
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(Put(Counting(4)));
  EXPECT_EQ(file_.calls, (std::vector<std::uint32_t>{16, 16}));
  EXPECT_TRUE(Flush());
  EXPECT_EQ(file_.calls, (std::vector<std::uint32_t>{16, 16, 4}));
  EXPECT_EQ(file_.bytes, written_);
  // A second flush has nothing to write.
  EXPECT_TRUE(Flush());
  EXPECT_EQ(file_.calls.size(), 3u);
}

TEST_F(WriteBehindTest, DataOfAtLeastTheBufferSizeGoesStraightThroughAnEmptyBuffer) {
  Attach(16);
  ASSERT_TRUE(Put(Counting(20)));
  ASSERT_TRUE(Put(Counting(3)));
  ASSERT_TRUE(Put(Counting(20)));  // fills the buffer (3 + 13), keeps 7
  ASSERT_TRUE(Flush());
  EXPECT_EQ(file_.calls, (std::vector<std::uint32_t>{20, 16, 7}));
  EXPECT_EQ(file_.bytes, written_);
}

TEST_F(WriteBehindTest, WithoutABufferEveryPutIsOneWrite) {
  Attach(0);
  ASSERT_TRUE(Put(Counting(5)));
  ASSERT_TRUE(Put({}));
  ASSERT_TRUE(Put(Counting(9)));
  ASSERT_TRUE(Flush());
  EXPECT_EQ(file_.calls, (std::vector<std::uint32_t>{5, 9}));
  EXPECT_EQ(file_.bytes, written_);
}

TEST_F(WriteBehindTest, FailedOrShortWriteLeavesTheFileAsFarAsWritten) {
  struct Case {
    const char* what;
    int failAt;
    std::uint32_t shortBy;
    std::size_t fileSize;
  };
  for (const Case& c : {Case{"failed", 1, 16, 16}, Case{"short by 5", 1, 5, 27}, Case{"failed first", 0, 16, 0}}) {
    SCOPED_TRACE(c.what);
    file_ = OutputFile{};
    file_.failAt = c.failAt;
    file_.shortBy = c.shortBy;
    Attach(16);
    bool ok = true;
    for (int i = 0; i < 12 && ok; ++i) ok = Put(Counting(4));
    EXPECT_FALSE(ok);
    EXPECT_EQ(file_.bytes.size(), c.fileSize);
    // What the failed write did not take is gone: nothing more is written.
    EXPECT_TRUE(Flush());
    EXPECT_EQ(file_.bytes.size(), c.fileSize);
  }
}

TEST_F(WriteBehindTest, FailedFlushReportsIt) {
  Attach(16);
  file_.failAt = 0;
  ASSERT_TRUE(Put(Counting(10)));
  EXPECT_FALSE(Flush());
  EXPECT_TRUE(Flush());
  EXPECT_EQ(file_.calls.size(), 1u);
}

}  // namespace
