// The decoder's speed as each target builds it: one source, built for the
// host (against the host codec) and for i686 as a console program (against
// codec_win32, the decoder exactly as setup.exe has it), run by
// scripts/decode_bench.sh natively and under Wine.
//   decode_bench [--once] STREAM ORIGINAL [STREAM ORIGINAL ...]
// For each pair it decodes STREAM from memory into memory through explode's
// callbacks, once to warm up and then kRuns times, checks that the output is
// ORIGINAL, and prints one line: the stream's file name, the median and the
// best rate in MB (10^6 bytes of output) per second, and the bit buffer's
// width. With --once it decodes each stream once, checks it and prints
// nothing: the run that scripts/decode_count.sh counts instructions of.
// Exit code 0, or 1 when a file is unreadable or a decode differs.
// Plain C library only, so that the i686 build needs nothing but msvcrt.
#include "explode/explode.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

constexpr int kRuns = 9;

double Now() {
#ifdef _WIN32
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

struct Buffer {
  unsigned char* data = nullptr;
  std::size_t size = 0;
};

// The whole file, or an empty buffer when it cannot be read.
Buffer ReadWhole(const char* path) {
  Buffer buffer;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return buffer;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
      buffer.data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
      if (buffer.data != nullptr &&
          std::fread(buffer.data, 1, static_cast<std::size_t>(size), file) ==
              static_cast<std::size_t>(size)) {
        buffer.size = static_cast<std::size_t>(size);
      }
    }
  }
  std::fclose(file);
  return buffer;
}

// One decode: the stream is served in reads of what explode asks for, the
// output lands in `output` (bytes beyond its capacity are counted only).
struct Transfer {
  const unsigned char* input;
  std::size_t inputSize;
  std::size_t inputAt;
  unsigned char* output;
  std::size_t outputCapacity;
  std::size_t outputSize;
};

unsigned ReadFromMemory(char* buffer, unsigned* size, void* userParameter) {
  Transfer* t = static_cast<Transfer*>(userParameter);
  std::size_t n = t->inputSize - t->inputAt;
  if (n > *size) n = *size;
  std::memcpy(buffer, t->input + t->inputAt, n);
  t->inputAt += n;
  return static_cast<unsigned>(n);
}

void WriteToMemory(char* buffer, unsigned* size, void* userParameter) {
  Transfer* t = static_cast<Transfer*>(userParameter);
  std::size_t n = *size;
  if (n > t->outputCapacity - t->outputSize) n = t->outputCapacity - t->outputSize;
  std::memcpy(t->output + t->outputSize, buffer, n);
  t->outputSize += *size;
}

const char* FileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

// Decodes `stream` runs + 1 times (runs at most kRuns); false when a result
// or output differs from `original`. With no runs, only the first decode.
bool Measure(const Buffer& stream, const Buffer& original, ExplodeWork* work, int runs,
             double* median, double* best) {
  unsigned char* output = static_cast<unsigned char*>(std::malloc(original.size + 1));
  if (output == nullptr) return false;
  double rates[kRuns];
  bool same = true;
  for (int run = 0; run <= runs && same; ++run) {
    Transfer t = {stream.data, stream.size, 0, output, original.size + 1, 0};
    const double start = Now();
    const std::uint32_t result = explode(ReadFromMemory, WriteToMemory, work, &t);
    const double seconds = Now() - start;
    same = result == kExplodeOk && t.outputSize == original.size &&
           std::memcmp(output, original.data, original.size) == 0;
    if (run > 0) rates[run - 1] = static_cast<double>(original.size) / 1e6 / seconds;
  }
  std::free(output);
  if (!same) return false;
  if (runs > 0) {
    std::sort(rates, rates + runs);
    *median = rates[runs / 2];
    *best = rates[runs - 1];
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool once = argc > 1 && std::strcmp(argv[1], "--once") == 0;
  if (once) {
    --argc;
    ++argv;
  }
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: decode_bench [--once] STREAM ORIGINAL [STREAM ORIGINAL ...]\n");
    return 2;
  }
  ExplodeWork* work = static_cast<ExplodeWork*>(std::malloc(sizeof(ExplodeWork)));
  if (work == nullptr) return 1;
  int status = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const Buffer stream = ReadWhole(argv[i]);
    const Buffer original = ReadWhole(argv[i + 1]);
    double median = 0;
    double best = 0;
    if (stream.size == 0 || original.size == 0) {
      std::fprintf(stderr, "decode_bench: cannot read %s or %s\n", argv[i], argv[i + 1]);
      status = 1;
    } else if (!Measure(stream, original, work, once ? 0 : kRuns, &median, &best)) {
      std::fprintf(stderr, "decode_bench: %s does not decode to %s\n", argv[i], argv[i + 1]);
      status = 1;
    } else if (!once) {
      std::printf("%s %.1f %.1f %u-bit\n", FileName(argv[i]), median, best,
                  static_cast<unsigned>(8 * sizeof(ExplodeBitWord)));
      std::fflush(stdout);
    }
    std::free(stream.data);
    std::free(original.data);
  }
  std::free(work);
  return status;
}
