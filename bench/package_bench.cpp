// Measures `setuppack build` with one job and with more, and checks that
// every build gives the same setup program:
//   package_bench CORPUS_DIR WORK_DIR
// CORPUS_DIR holds text.bin, binary.bin and compressed.bin (made by
// scripts/make_corpus.sh). Two packages, both compressed, written to
// WORK_DIR:
//   - many small members: 72 members of 1 MiB cut from the three files (each
//     1 MiB slice used three times), built with one job and with every core;
//   - a few large members: the three files whole, 8 members of 8 MiB in turn
//     (text, binary, compressed, text, ...), built with one job and with two,
//     where a member left to one thread at the end shows at once.
// Times are wall time of the whole build as `setuppack build` does it
// (reading, compressing, writing the setup program). The one-job and the
// many-job builds alternate for five rounds, so that both meet the same
// machine (a shared host's speed drifts by a fifth within a minute): each
// line gives the median of its rounds and the processor time of all threads
// in that round, the ratio is the median of the rounds' own ratios, and
// "cores busy" is processor time over wall time of the many-job builds.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "setuppack/package/manifest.hpp"
#include "setuppack/writer/package_writer.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr std::size_t kSlice = 1 << 20;
const char* const kCorpusFiles[] = {"text.bin", "binary.bin", "compressed.bin"};

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

void WriteFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Writes the manifest of the members in dir/tree; returns its path.
fs::path WriteManifest(const fs::path& dir) {
  std::ofstream manifest(dir / "package.toml");
  manifest << "[settings]\nrun_command = \"a.exe\"\ndefault_path = 'C:\\Bench'\n"
              "[header]\nipc_prefix = \"KB\"\n[defaults]\ntime = 2024-05-01T09:00:00Z\n"
              "compress = true\n[[files]]\ntree = \"tree\"\n";
  return dir / "package.toml";
}

// 72 members of 1 MiB.
fs::path WriteSlicedPackage(const fs::path& corpus, const fs::path& dir) {
  fs::create_directories(dir / "tree");
  std::size_t index = 0;
  for (int copy = 0; copy < 3; ++copy) {
    for (const char* name : kCorpusFiles) {
      const std::vector<std::uint8_t> data = ReadFile(corpus / name);
      for (std::size_t at = 0; at + kSlice <= data.size(); at += kSlice) {
        char file[32];
        std::snprintf(file, sizeof file, "tree/part%03zu.bin", index++);
        WriteFile(dir / file, data.data() + at, kSlice);
      }
    }
  }
  std::printf("package: %zu members of 1 MiB (%zu MiB), all compressed\n", index, index);
  return WriteManifest(dir);
}

// 8 members of 8 MiB: the corpus files whole, in turn.
fs::path WriteLargePackage(const fs::path& corpus, const fs::path& dir) {
  fs::create_directories(dir / "tree");
  std::size_t total = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const std::vector<std::uint8_t> data = ReadFile(corpus / kCorpusFiles[i % 3]);
    char file[32];
    std::snprintf(file, sizeof file, "tree/whole%zu.bin", i);
    WriteFile(dir / file, data.data(), data.size());
    total += data.size();
  }
  std::printf("package: 8 members of 8 MiB (%zu MiB: text, binary, compressed in turn), all compressed\n",
              total >> 20);
  return WriteManifest(dir);
}

// Processor time of the whole process, all threads.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void PrintLoad(const char* when) {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3)
    std::printf("load average %s: %.2f %.2f %.2f on %u cores\n", when, load[0], load[1], load[2],
                std::max(1u, std::thread::hardware_concurrency()));
}

struct Timing {
  double wall = 0;
  double cpu = 0;  // all threads
};

Timing TimeBuild(const Manifest& manifest, const fs::path& dir, unsigned jobs) {
  const fs::path stub = dir / "stub.exe";
  if (!fs::exists(stub)) {
    const std::uint8_t bytes[64] = {'M', 'Z'};
    WriteFile(stub, bytes, sizeof bytes);
  }
  PackageOptions options;
  options.jobs = jobs;
  const auto start = Clock::now();
  const double cpuStart = CpuSeconds();
  WritePackage(manifest, dir / ("Setup" + std::to_string(jobs) + ".exe"), stub, options);
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpuStart};
}

constexpr int kRounds = 5;

// The median round by wall time.
Timing Median(std::vector<Timing> runs) {
  std::sort(runs.begin(), runs.end(), [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
  return runs[runs.size() / 2];
}

// Builds with one job and with `jobs`, alternating; prints both and their
// ratio. Returns false when the setup programs differ.
bool Compare(const fs::path& manifestPath, unsigned jobs) {
  const Manifest manifest = LoadManifest(manifestPath);
  const fs::path dir = manifestPath.parent_path();
  PrintLoad("before");
  std::vector<Timing> ones, mores;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    ones.push_back(TimeBuild(manifest, dir, 1));
    mores.push_back(TimeBuild(manifest, dir, jobs));
    ratios.push_back(ones.back().wall / mores.back().wall);
  }
  std::sort(ratios.begin(), ratios.end());
  const Timing one = Median(ones);
  const Timing more = Median(mores);
  std::printf("build, 1 job:   %6.2f s (processor time %6.2f s)\n", one.wall, one.cpu);
  std::printf("build, %u jobs:  %6.2f s (processor time %6.2f s, cores busy %.2f)\n", jobs, more.wall,
              more.cpu, more.cpu / more.wall);
  std::printf("ratio:          %6.2fx (median of %d alternating rounds; lowest %.2fx, highest %.2fx)\n",
              ratios[ratios.size() / 2], kRounds, ratios.front(), ratios.back());
  PrintLoad("after");
  const std::vector<std::uint8_t> oneProgram = ReadFile(dir / "Setup1.exe");
  if (oneProgram != ReadFile(dir / ("Setup" + std::to_string(jobs) + ".exe"))) {
    std::printf("the setup programs differ between 1 and %u jobs\n", jobs);
    return false;
  }
  std::printf("setup programs identical (%zu bytes)\n", oneProgram.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: package_bench CORPUS_DIR WORK_DIR\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  const fs::path work = argv[2];
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  bool same = Compare(WriteSlicedPackage(corpus, work / "sliced"), cores);
  std::printf("\n");
  same = Compare(WriteLargePackage(corpus, work / "large"), 2) && same;
  return same ? 0 : 1;
}
