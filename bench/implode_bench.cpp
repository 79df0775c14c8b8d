// Measures our implode encoder and explode decoder on the benchmark corpus and
// compares them with node-pkware, run in the same pass:
//   implode_bench CORPUS_DIR
// CORPUS_DIR holds text.bin, binary.bin and compressed.bin (made by
// scripts/make_corpus.sh); node-pkware runs from tests/oracle (its columns
// show "-" without it). MB are 10^6 bytes of
// uncompressed data per second of wall time; each figure of ours is the best
// of a few runs, node-pkware's are timed inside node (start-up excluded).
// After each corpus a line sets the default (`auto`, what `setuppack build`
// uses) against `--best`: their speeds and ratios, and what --best costs in
// time and saves in size.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "explode/implode.hpp"
#include "explode/memory_codec.hpp"
#include "support/reference_codec.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Best time of `runs` decodes; false when the output differs from expected.
bool TimeDecode(std::span<const std::uint8_t> stream, const std::vector<std::uint8_t>& expected, int runs,
                double& seconds) {
  std::vector<std::uint8_t> output(expected.size());
  auto work = std::make_unique<ExplodeWork>();
  seconds = 1e30;
  for (int i = 0; i < runs; ++i) {
    std::size_t produced = 0;
    const auto start = Clock::now();
    const std::uint32_t result = ExplodeInto(stream, output, produced, *work);
    seconds = std::min(seconds, Seconds(start));
    if (result != 0 || produced != expected.size() || output != expected) return false;
  }
  return true;
}

struct ReferenceFigures {
  double ratio = 0;
  double encodeSeconds = 0;
  double decodeSeconds = 0;
};

std::optional<ReferenceFigures> MeasureReference(const std::vector<std::uint8_t>& data,
                                                 const ImplodeChoice& choice) {
  const std::string arguments = std::string(choice.literals == LiteralMode::Ascii ? "ascii " : "binary ") +
                                std::to_string(choice.dictionarySize);
  const ReferenceRun packed = RunReferenceCodec("implode " + arguments, data, true);
  if (packed.exitCode != 0 || packed.seconds <= 0) return std::nullopt;
  const ReferenceRun unpacked = RunReferenceCodec("explode", packed.output, true);
  if (unpacked.exitCode != 0 || unpacked.seconds <= 0 || unpacked.output != data) return std::nullopt;
  ReferenceFigures figures;
  figures.ratio = static_cast<double>(packed.output.size()) / static_cast<double>(data.size());
  figures.encodeSeconds = packed.seconds;
  figures.decodeSeconds = unpacked.seconds;
  return figures;
}

std::string ModeName(const ImplodeChoice& choice) {
  return std::string(choice.literals == LiteralMode::Ascii ? "coded" : "plain") + "/" +
         std::to_string(choice.dictionarySize);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: implode_bench CORPUS_DIR\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  std::string why;
  const bool oracle = ReferenceCodecAvailable(why);
  if (!oracle) std::printf("node-pkware columns left out: %s\n", why.c_str());

  struct Row {
    const char* label;
    ImplodeOptions options;
  };
  const Row rows[] = {
      {"coded/4096", {LiteralMode::Ascii, 4096, false}},
      {"plain/4096", {LiteralMode::Binary, 4096, false}},
      {"auto", {LiteralMode::Auto, 0, false}},
      {"auto --best", {LiteralMode::Auto, 0, true}},
  };

  std::printf("%-11s %-12s %-11s %9s %9s %7s | %9s %9s %9s | %9s\n", "corpus", "mode", "chosen", "dec MB/s",
              "enc MB/s", "ratio", "pk ratio", "pk enc", "pk dec", "dec ours/pk");
  int failures = 0;
  for (const char* name : {"text", "binary", "compressed"}) {
    const fs::path file = corpus / (std::string(name) + ".bin");
    const std::vector<std::uint8_t> data = ReadBytes(file);
    if (data.empty()) {
      std::fprintf(stderr, "implode_bench: %s: missing or empty\n", file.c_str());
      return 1;
    }
    const double megabytes = static_cast<double>(data.size()) / 1e6;
    std::map<std::string, ReferenceFigures> referenceCache;
    struct Result {
      double seconds = 0;
      std::size_t size = 0;
    };
    std::optional<Result> automatic;
    std::optional<Result> best;
    for (const Row& row : rows) {
      ImplodeChoice chosen;
      std::vector<std::uint8_t> stream;
      double encodeSeconds = 1e30;
      const int encodeRuns = row.options.best ? 2 : 3;
      for (int i = 0; i < encodeRuns; ++i) {
        const auto start = Clock::now();
        stream = Implode(data, row.options, chosen);
        encodeSeconds = std::min(encodeSeconds, Seconds(start));
      }
      if (row.options.literals == LiteralMode::Auto)
        (row.options.best ? best : automatic) = Result{encodeSeconds, stream.size()};
      double decodeSeconds = 0;
      if (!TimeDecode(stream, data, 5, decodeSeconds)) {
        std::fprintf(stderr, "implode_bench: %s %s: round trip failed\n", name, row.label);
        ++failures;
        continue;
      }
      std::optional<ReferenceFigures> reference;
      if (oracle) {
        const std::string key = ModeName(chosen);
        auto found = referenceCache.find(key);
        if (found != referenceCache.end()) {
          reference = found->second;
        } else {
          reference = MeasureReference(data, chosen);
          if (reference) referenceCache[key] = *reference;
        }
      }
      const double decodeRate = megabytes / decodeSeconds;
      std::printf("%-11s %-12s %-11s %9.1f %9.1f %7.4f |", name, row.label, ModeName(chosen).c_str(), decodeRate,
                  megabytes / encodeSeconds, static_cast<double>(stream.size()) / static_cast<double>(data.size()));
      if (reference) {
        const double referenceDecodeRate = megabytes / reference->decodeSeconds;
        std::printf(" %9.4f %9.2f %9.2f | %9.1fx\n", reference->ratio, megabytes / reference->encodeSeconds,
                    referenceDecodeRate, decodeRate / referenceDecodeRate);
      } else {
        std::printf(" %9s %9s %9s | %10s\n", "-", "-", "-", "-");
      }
      std::fflush(stdout);
    }
    if (automatic && best) {
      std::printf("%-11s default %.1f MB/s ratio %.4f, --best %.1f MB/s ratio %.4f: --best takes %.2fx the time for "
                  "%+.3f%% size\n",
                  name, megabytes / automatic->seconds,
                  static_cast<double>(automatic->size) / static_cast<double>(data.size()), megabytes / best->seconds,
                  static_cast<double>(best->size) / static_cast<double>(data.size()),
                  best->seconds / automatic->seconds,
                  100.0 * (static_cast<double>(best->size) - static_cast<double>(automatic->size)) /
                      static_cast<double>(automatic->size));
      std::fflush(stdout);
    }
  }
  return failures == 0 ? 0 : 1;
}
