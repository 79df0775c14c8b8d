// Bounded text: messages formatted with one argument and decimal numbers, cut
// at the end of their buffer.
#include "base/bounded_text.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MessageFormat, ReplacesTheArgument) {
  char out[512];
  FormatWithArgument(out, sizeof out, "Installation failed because file %s could not be created.", "C:\\a.txt");
  EXPECT_STREQ(out, "Installation failed because file C:\\a.txt could not be created.");
  FormatWithArgument(out, sizeof out, "100%% of %s", "x");
  EXPECT_STREQ(out, "100% of x");
}

TEST(MessageFormat, CutsAtTheBufferEnd) {
  char out[16];
  std::memset(out, 'Z', sizeof out);
  FormatWithArgument(out, 12, "ab %s cd", "0123456789");
  EXPECT_STREQ(out, "ab 01234567");
  EXPECT_EQ(out[12], 'Z');
  char small[4];
  EXPECT_EQ(CopyBounded(small, sizeof small, "abcdef"), 3u);
  EXPECT_STREQ(small, "abc");
}

TEST(MessageFormat, DecimalText) {
  char out[11];
  FormatUnsigned(out, 0);
  EXPECT_STREQ(out, "0");
  FormatUnsigned(out, 3145728u >> 20);
  EXPECT_STREQ(out, "3");
  FormatUnsigned(out, 0xFFFFFFFFu);
  EXPECT_STREQ(out, "4294967295");
}

}  // namespace
