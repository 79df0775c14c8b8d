#include "setup/completion_rules.hpp"

namespace {

// Appends to a bounded buffer; remembers when something did not fit.
struct BatchWriter {
  char* out;
  std::size_t size;
  std::size_t used;
  bool overflow;

  void Put(char c) {
    if (used + 1 < size) {
      out[used++] = c;
    } else {
      overflow = true;
    }
  }
  void Text(const char* text) {
    for (; *text != '\0'; ++text) Put(*text);
  }
  void QuotedPath(const char* path) {
    Put('"');
    for (; *path != '\0'; ++path) {
      if (*path == '%') Put('%');
      Put(*path);
    }
    Put('"');
  }
};

bool HasBackslashAfterFirst(const char* path) {
  if (path[0] == '\0') return false;
  for (const char* p = path + 1; *p != '\0'; ++p) {
    if (*p == '\\') return true;
  }
  return false;
}

}  // namespace

std::size_t BuildSelfRemovalBatch(char* out, std::size_t outSize, const char* setupPath) {
  if (outSize == 0) return 0;
  out[0] = '\0';
  if (!HasBackslashAfterFirst(setupPath)) return 0;
  BatchWriter w{out, outSize, 0, false};
  w.Text(":Repeat\r\ndel ");
  w.QuotedPath(setupPath);
  w.Text("\r\nif exist ");
  w.QuotedPath(setupPath);
  w.Text(" goto Repeat\r\ndel ");
  w.QuotedPath(kSelfRemovalBatchPath);
  w.Text("\r\n");
  if (w.overflow) {
    out[0] = '\0';
    return 0;
  }
  out[w.used] = '\0';
  return w.used;
}
