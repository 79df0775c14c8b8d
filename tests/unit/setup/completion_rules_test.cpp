// The self-removal batch file's content.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bounded_text.hpp"
#include "setup/completion_rules.hpp"

namespace {

std::string Batch(const std::string& setupPath, std::size_t size = kSelfRemovalBatchSize) {
  std::vector<char> out(size, '#');
  const std::size_t length = BuildSelfRemovalBatch(out.data(), out.size(), setupPath.c_str());
  if (length == 0) {
    if (size > 0) {
      EXPECT_EQ(out[0], '\0');
    }
    return {};
  }
  EXPECT_EQ(out[length], '\0');
  return std::string(out.data(), length);
}

TEST(SelfRemovalBatch, FourLinesQuotedWithCrLf) {
  EXPECT_EQ(Batch("C:\\Temp\\Setup.exe"),
            ":Repeat\r\n"
            "del \"C:\\Temp\\Setup.exe\"\r\n"
            "if exist \"C:\\Temp\\Setup.exe\" goto Repeat\r\n"
            "del \"C:\\DEL_SETUP32.BAT\"\r\n");
}

TEST(SelfRemovalBatch, PercentSignsAreDoubled) {
  EXPECT_EQ(Batch("C:\\100%\\%TEMP%.exe"),
            ":Repeat\r\n"
            "del \"C:\\100%%\\%%TEMP%%.exe\"\r\n"
            "if exist \"C:\\100%%\\%%TEMP%%.exe\" goto Repeat\r\n"
            "del \"C:\\DEL_SETUP32.BAT\"\r\n");
}

TEST(SelfRemovalBatch, NoBatchForPathsWithoutADirectory) {
  for (const char* path : {"", "Setup.exe", "\\Setup.exe", "C"}) {
    EXPECT_EQ(Batch(path), "") << '"' << path << '"';
  }
  EXPECT_NE(Batch("C\\"), "") << "a backslash after the first character is enough";
}

TEST(SelfRemovalBatch, LongestPathOfPercentSignsFits) {
  const std::string path = "C:\\" + std::string(kPathSize - 4, '%');
  const std::string batch = Batch(path);
  // 13 + (3 + 512 + 2) + 11 + (3 + 512 + 2) + 18 + 20 + 2 characters.
  EXPECT_EQ(batch.size(), 1098u);
  EXPECT_EQ(batch.substr(batch.size() - 26), "del \"C:\\DEL_SETUP32.BAT\"\r\n");
}

TEST(SelfRemovalBatch, ContentThatDoesNotFitIsNotWrittenInPart) {
  const std::string path = "C:\\Temp\\Setup.exe";
  const std::size_t whole = Batch(path).size();
  // One character short of the terminator's room: nothing, rather than a cut
  // line that deletes another name.
  EXPECT_EQ(Batch(path, whole), "");
  EXPECT_EQ(Batch(path, whole + 1).size(), whole);
  EXPECT_EQ(Batch(path, 1), "");
  EXPECT_EQ(Batch(path, 0), "");
}

}  // namespace
