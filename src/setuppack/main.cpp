// setuppack: builds, lists and unpacks the setup program's installer archive,
// and compresses or expands raw implode streams.
//
// Exit codes: 0 success, 1 bad input (manifest, sources, damaged archive,
// I/O failure), 2 usage (the command line itself).
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>

#include "explode/implode.hpp"
#include "setuppack/archive_reader.hpp"
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

int RunBuild(const std::string& manifestPath, const std::string& output,
             const std::string& stub, bool best) {
  const Manifest manifest = LoadManifest(manifestPath);
  const std::filesystem::path stubPath = stub.empty() ? DefaultStubPath() : std::filesystem::path(stub);
  const PackageSummary summary = WritePackage(manifest, output, stubPath, PackageOptions{best});
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
  for (const std::string& note : summary.notes) std::cerr << "setuppack: warning: " << note << "\n";
  std::cout << directory << ": " << summary.files << " files, " << summary.bytes << " bytes\n";
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"setuppack: build, list and unpack Korvane setup programs"};
  app.require_subcommand(1);

  std::string manifest, output, stub;
  bool best = false;
  CLI::App* build = app.add_subcommand("build", "Build a setup program from a TOML manifest");
  build->add_option("manifest", manifest, "The package manifest (TOML)")->required();
  build->add_option("-o,--output", output, "The setup program to write")->required();
  build->add_option("--stub", stub, "setup.exe to put in front (default: setup.exe beside setuppack)");
  build->add_flag("--best", best, "Compress with the thorough search");

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
    if (*build) return RunBuild(manifest, output, stub, best);
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
