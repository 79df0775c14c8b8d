// Measures `setuppack build` of a package of at least 64 MiB with one job and
// with every core, and checks that both give the same archive:
//   package_bench CORPUS_DIR WORK_DIR
// CORPUS_DIR holds text.bin, binary.bin and compressed.bin (made by
// scripts/make_corpus.sh); the package is a tree of 72 compressed members of
// 1 MiB each, cut from them (each 1 MiB slice used three times), written to
// WORK_DIR. Times are wall time of the whole build (reading, compressing,
// archive in memory), the better of two runs.
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

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// Writes the package tree and its manifest; returns the manifest's path.
fs::path WritePackage(const fs::path& corpus, const fs::path& work) {
  fs::create_directories(work / "tree");
  std::size_t index = 0;
  for (int copy = 0; copy < 3; ++copy) {
    for (const char* name : {"text.bin", "binary.bin", "compressed.bin"}) {
      const std::vector<std::uint8_t> data = ReadFile(corpus / name);
      for (std::size_t at = 0; at + kSlice <= data.size(); at += kSlice) {
        char file[32];
        std::snprintf(file, sizeof file, "tree/part%03zu.bin", index++);
        std::ofstream out(work / file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data() + at), kSlice);
      }
    }
  }
  std::ofstream manifest(work / "package.toml");
  manifest << "[settings]\nrun_command = \"a.exe\"\ndefault_path = 'C:\\Bench'\n"
              "[header]\nipc_prefix = \"KB\"\n[defaults]\ntime = 2024-05-01T09:00:00Z\n"
              "compress = true\n[[files]]\ntree = \"tree\"\n";
  std::printf("package: %zu members of 1 MiB (%zu MiB), all compressed\n", index, index);
  return work / "package.toml";
}

// Processor time of the whole process, all threads.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Timing {
  double wall = 1e30;
  double cpu = 0;  // of the faster run: wall * cpu/wall is the cores it kept busy
};

Timing TimeBuild(const Manifest& manifest, unsigned jobs, std::vector<std::uint8_t>& archive) {
  Timing best;
  for (int run = 0; run < 2; ++run) {
    PackageOptions options;
    options.jobs = jobs;
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    archive = BuildPackage(manifest, options).ArchiveBytes();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    if (wall < best.wall) best = {wall, CpuSeconds() - cpuStart};
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: package_bench CORPUS_DIR WORK_DIR\n");
    return 2;
  }
  const Manifest manifest = LoadManifest(WritePackage(argv[1], argv[2]));
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3)
    std::printf("load average before: %.2f %.2f %.2f on %u cores\n", load[0], load[1], load[2],
                cores);
  std::vector<std::uint8_t> one, all;
  const Timing oneJob = TimeBuild(manifest, 1, one);
  const Timing allJobs = TimeBuild(manifest, cores, all);
  std::printf("build, 1 job:   %6.2f s (processor time %6.2f s)\n", oneJob.wall, oneJob.cpu);
  std::printf("build, %u jobs:  %6.2f s (processor time %6.2f s)\n", cores, allJobs.wall,
              allJobs.cpu);
  std::printf("ratio:          %6.2fx\n", oneJob.wall / allJobs.wall);
  if (getloadavg(load, 3) == 3)
    std::printf("load average after: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  if (one != all) {
    std::printf("the archives differ between 1 and %u jobs\n", cores);
    return 1;
  }
  std::printf("archives identical (%zu bytes)\n", one.size());
  return 0;
}
