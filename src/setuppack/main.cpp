// setuppack: builds, lists and unpacks the setup program's installer archive,
// and compresses or expands raw implode streams.
//
// Exit codes: 0 success, 1 bad input (manifest, sources, damaged archive,
// I/O failure), 2 usage (the command line itself).
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <thread>

#include "explode/implode.hpp"
#include "setuppack/archive_reader.hpp"
#include "setuppack/build_progress.hpp"
#include "setuppack/errors.hpp"
#include "setuppack/extract.hpp"
#include "setuppack/list.hpp"
#include "setuppack/manifest.hpp"
#include "setuppack/package_writer.hpp"
#include "setuppack/raw_streams.hpp"
#include "setuppack/values.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;

// The progress line: rewritten in place on a terminal's standard error.
class ProgressLine {
public:
  void Show(const BuildProgress& progress) {
    const std::string line = FormatProgressLine(progress);
    std::cerr << '\r' << line << std::string(shown_ > line.size() ? shown_ - line.size() : 0, ' ')
              << std::flush;
    shown_ = line.size();
  }
  void Clear() {
    if (shown_ != 0) std::cerr << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    shown_ = 0;
  }

private:
  std::size_t shown_ = 0;
};

int RunBuild(const std::string& manifestPath, const std::string& output,
             const std::string& stub, PackageOptions options, bool quiet) {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    options.sourceDateEpoch = ParseSourceDateEpoch(epoch);
    if (!options.sourceDateEpoch)
      throw InputError(std::string("SOURCE_DATE_EPOCH=\"") + epoch +
                       "\" is not a number of seconds since 1970; set it to e.g. "
                       "\"$(git log -1 --format=%ct)\" or unset it");
  }
  const Manifest manifest = LoadManifest(manifestPath);
  for (const std::string& warning : manifest.warnings)
    std::cerr << "setuppack: warning: " << warning << "\n";
  const std::filesystem::path stubPath = stub.empty() ? DefaultStubPath() : std::filesystem::path(stub);
  ProgressLine line;
  if (!quiet && ::isatty(STDERR_FILENO))
    options.progress = [&line](const BuildProgress& progress) { line.Show(progress); };
  PackageSummary summary;
  try {
    summary = WritePackage(manifest, output, stubPath, options);
  } catch (...) {
    line.Clear();
    throw;
  }
  line.Clear();
  std::cout << output << ": " << summary.programSize << " bytes, " << summary.fileCount
            << " files, " << summary.iconCount << " icons, " << summary.trailingCount
            << " trailing files";
  if (summary.externalSize != 0) std::cout << ", " << summary.externalSize << " bytes in external files";
  std::cout << "\n";
  return kExitOk;
}

int RunList(const std::string& program, bool json) {
  const ArchiveListing listing = ReadSetupProgram(program);
  if (json) PrintListingJson(listing, std::cout);
  else PrintListing(listing, program, std::cout);
  if (listing.error != kArchiveOk) {
    std::cout.flush();
    std::cerr << "setuppack: " << program << ": " << DescribeArchiveError(listing) << "\n";
    return kExitBadInput;
  }
  return kExitOk;
}

int RunExtract(const std::string& program, const std::string& directory) {
  const ExtractSummary summary = ExtractSetupProgram(program, directory);
  std::cout << directory << ": " << summary.files << " files, " << summary.bytes << " bytes\n";
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"setuppack: build, list and unpack Korvane setup programs"};
  app.require_subcommand(1);

  std::string manifest, output, stub;
  PackageOptions buildOptions;
  buildOptions.jobs = std::max(1u, std::thread::hardware_concurrency());
  bool quiet = false;
  CLI::App* build = app.add_subcommand("build", "Build a setup program from a TOML manifest");
  build->add_option("manifest", manifest, "The package manifest (TOML)")->required();
  build->add_option("-o,--output", output, "The setup program to write")->required();
  build->add_option("--stub", stub, "setup.exe to put in front (default: setup.exe beside setuppack)");
  build->add_flag("--best", buildOptions.best, "Compress with the thorough search");
  build->add_option("-j,--jobs", buildOptions.jobs,
                    "Members compressed at once (default: the number of cores); the output "
                    "does not depend on it")
      ->check(CLI::Range(1u, 1024u));
  build->add_flag("-q,--quiet", quiet, "No progress line, only the closing summary");

  std::string program, directory;
  bool json = false;
  CLI::App* list = app.add_subcommand("list", "List the archive of a setup program");
  list->add_option("program", program, "The setup program")->required();
  list->add_flag("--json", json, "Print JSON");

  CLI::App* extract = app.add_subcommand("extract", "Unpack a setup program into a directory");
  extract->add_option("program", program, "The setup program")->required();
  extract->add_option("-d,--directory", directory, "The directory to unpack into")->required();

  ImplodeOptions implodeOptions;
  std::string literals = "auto", dictionary = "auto", inPath, outPath;
  CLI::App* implode = app.add_subcommand("implode", "Compress a file into a raw implode stream");
  implode->add_option("--literals", literals, "Literal coding: binary, ascii or auto (default)")
      ->check(CLI::IsMember({"binary", "ascii", "auto"}));
  implode->add_option("--dictionary", dictionary, "Window size: 1024, 2048, 4096 or auto (default)")
      ->check(CLI::IsMember({"1024", "2048", "4096", "auto"}));
  implode->add_flag("--best", implodeOptions.best, "Search harder");
  implode->add_option("in", inPath, "Input file")->required();
  implode->add_option("out", outPath, "Output stream")->required();

  CLI::App* explode = app.add_subcommand("explode", "Expand a raw implode stream");
  explode->add_option("in", inPath, "Input stream")->required();
  explode->add_option("out", outPath, "Output file")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  try {
    if (*build) return RunBuild(manifest, output, stub, buildOptions, quiet);
    if (*list) return RunList(program, json);
    if (*extract) return RunExtract(program, directory);
    if (*implode) {
      // CLI11 has checked both words already.
      implodeOptions.literals = ParseLiteralMode(literals).value_or(LiteralMode::Auto);
      implodeOptions.dictionarySize = ParseDictionarySize(dictionary).value_or(0);
      return RunImplodeCommand(implodeOptions, inPath, outPath);
    }
    if (*explode) return RunExplodeCommand(inPath, outPath);
  } catch (const InputError& e) {
    std::cerr << "setuppack: " << e.what() << "\n";
    return kExitBadInput;
  } catch (const std::exception& e) {
    std::cerr << "setuppack: " << e.what() << "\n";
    return kExitBadInput;
  }
  return kExitUsage;
}
