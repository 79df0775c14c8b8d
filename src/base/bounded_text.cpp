#include "base/bounded_text.hpp"

std::size_t CopyBounded(char* out, std::size_t outSize, const char* text) {
  if (outSize == 0) return 0;
  std::size_t i = 0;
  for (; i + 1 < outSize && text[i] != '\0'; ++i) out[i] = text[i];
  out[i] = '\0';
  return i;
}

void FormatWithArgument(char* out, std::size_t outSize, const char* format, const char* argument) {
  if (outSize == 0) return;
  std::size_t used = 0;
  auto put = [&](char c) {
    if (used + 1 < outSize) out[used++] = c;
  };
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      for (const char* a = argument; *a != '\0'; ++a) put(*a);
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      put('%');
      ++p;
    } else {
      put(*p);
    }
  }
  out[used] = '\0';
}

void FormatUnsigned(char* out, std::uint32_t value) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
  out[count] = '\0';
}
