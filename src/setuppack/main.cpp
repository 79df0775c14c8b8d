// setuppack: builds, lists, unpacks, verifies and signs setup programs,
// describes them for winget, and compresses or expands raw implode streams.
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
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/package/manifest.hpp"
#include "setuppack/package/values.hpp"
#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/reader/extract.hpp"
#include "setuppack/reader/list.hpp"
#include "setuppack/reader/verify.hpp"
#include "setuppack/reader/winget.hpp"
#include "setuppack/signing/authenticode.hpp"
#include "setuppack/streams/raw_streams.hpp"
#include "setuppack/trial/trial.hpp"
#include "setuppack/trial/wine_run.hpp"
#include "setuppack/writer/build_progress.hpp"
#include "setuppack/writer/package_writer.hpp"

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
             const std::string& stub, PackageOptions options, bool quiet,
             const SigningOptions& signing) {
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
  if (signing.Requested()) {
    // Signing is the last step; a program that cannot be signed is not left
    // behind looking finished, nor are its external member files.
    try {
      SignSetupProgram(output, signing);
    } catch (...) {
      std::error_code ec;
      std::filesystem::remove(output, ec);
      for (const std::filesystem::path& external : summary.externalFiles)
        std::filesystem::remove(external, ec);
      throw;
    }
    std::error_code ec;
    summary.programSize = std::filesystem::file_size(output, ec);
  }
  std::cout << output << ": " << summary.programSize << " bytes, " << summary.fileCount
            << " files, " << summary.iconCount << " icons, " << summary.trailingCount
            << " trailing files";
  if (summary.externalSize != 0) std::cout << ", " << summary.externalSize << " bytes in external files";
  if (signing.Requested()) std::cout << ", signed";
  std::cout << "\n";
  return kExitOk;
}

int RunList(const std::string& program, bool json, unsigned codePage) {
  const ArchiveListing listing = ReadSetupProgram(program);
  if (json) PrintListingJson(listing, std::cout, codePage);
  else PrintListing(listing, program, std::cout, codePage);
  if (listing.error != kArchiveOk) {
    std::cout.flush();
    std::cerr << "setuppack: " << program << ": " << DescribeArchiveError(listing) << "\n";
    return kExitBadInput;
  }
  return kExitOk;
}

int RunExtract(const std::string& program, const std::string& directory, unsigned codePage) {
  const ExtractSummary summary = ExtractSetupProgram(program, directory, codePage);
  for (const std::string& note : summary.notes) std::cerr << "setuppack: warning: " << note << "\n";
  std::cout << directory << ": " << summary.files << " files, " << summary.bytes << " bytes\n";
  return kExitOk;
}

int RunVerify(const std::string& program, bool json, const VerifyOptions& options) {
  const VerifyReport report = VerifySetupProgram(program, options);
  if (json) PrintVerifyJson(report, program, std::cout);
  else PrintVerifyReport(report, program, std::cout);
  return report.Sound() ? kExitOk : kExitBadInput;
}

int RunSign(const std::string& program, const SigningOptions& signing) {
  SignSetupProgram(program, signing);
  std::cout << program << ": signed\n";
  return kExitOk;
}

int RunWinget(const std::string& program, const WingetOptions& options, const std::string& directory) {
  for (const std::filesystem::path& path : WriteWingetManifests(program, options, directory))
    std::cout << path.string() << "\n";
  return kExitOk;
}

// `try`: 0 when the installation matched the package, 1 when it did not, 2
// when it could not be tried.
int RunTry(const TrialOptions& options, bool json) {
  TrialReport report;
  try {
    report = RunTrial(options);
  } catch (const TrialUnavailable& e) {
    std::cerr << "setuppack try: " << e.what() << "\n";
    return kExitUsage;
  }
  if (json) PrintTrialJson(report, std::cout);
  else PrintTrialReport(report, std::cout);
  return report.Matched() ? kExitOk : kExitBadInput;
}

// The signing options of `sign` and `build`. The password is never an option.
void AddSigningOptions(CLI::App* command, SigningOptions& signing) {
  CLI::Option* pkcs12 = command->add_option("--pkcs12", signing.pkcs12, "Sign with this PKCS#12 file");
  CLI::Option* cert = command->add_option("--cert", signing.certificate, "Sign with this certificate (PEM or DER)");
  CLI::Option* key = command->add_option("--key", signing.key, "The certificate's private key");
  cert->needs(key);
  key->needs(cert);
  pkcs12->excludes(cert)->excludes(key);
  command->add_option("--password-file", signing.passwordFile,
                      "File holding the key's password (default: $SETUPPACK_SIGN_PASSWORD)");
  command->add_option("--timestamp", signing.timestampUrl, "RFC 3161 time-stamping server URL");
  command->add_option("--description", signing.description, "Program description in the signature");
}

// --codepage: the code page the archive's texts are read in (it does not
// say); the numbers the manifest's `codepage` accepts.
void AddCodePageOption(CLI::App* command, unsigned& codePage) {
  command->add_option("--codepage", codePage, "Code page of the archive's texts (default 1252)")
      ->check(CLI::Validator(
          [](std::string& value) {
            char* end = nullptr;
            const unsigned long page = std::strtoul(value.c_str(), &end, 10);
            return end != value.c_str() && *end == '\0' && IsAnsiCodePage(static_cast<unsigned>(page))
                       ? std::string()
                       : "\"" + value + "\" is no code page; give " + std::string(kAnsiCodePageNames);
          },
          "CODEPAGE", "code page"));
}

CLI::Validator WingetValue(bool (*accepts)(std::string_view), const char* what) {
  return CLI::Validator(
      [accepts, what](std::string& value) {
        return accepts(value) ? std::string() : std::string("\"") + value + "\" is not a valid " + what;
      },
      "", what);
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
  SigningOptions signing;
  AddSigningOptions(build, signing);

  std::string program, directory;
  bool json = false;
  CLI::App* list = app.add_subcommand("list", "List the archive of a setup program");
  list->add_option("program", program, "The setup program")->required();
  list->add_flag("--json", json, "Print JSON");
  unsigned codePage = kDefaultCodePage;
  AddCodePageOption(list, codePage);

  CLI::App* extract = app.add_subcommand("extract", "Unpack a setup program into a directory");
  extract->add_option("program", program, "The setup program")->required();
  extract->add_option("-d,--directory", directory, "The directory to unpack into")->required();
  AddCodePageOption(extract, codePage);

  VerifyOptions verifyOptions;
  CLI::App* verify = app.add_subcommand("verify", "Check a setup program as setup.exe would read and install it");
  verify->add_option("program", program, "The setup program")->required();
  verify->add_flag("--json", json, "Print JSON");
  verify->add_option("--ca", verifyOptions.caFile, "Also trust the certificates of this PEM file");
  AddCodePageOption(verify, codePage);

  CLI::App* sign = app.add_subcommand("sign", "Sign a setup program in place (Authenticode, SHA-256)");
  sign->add_option("program", program, "The setup program")->required();
  AddSigningOptions(sign, signing);

  WingetOptions winget;
  CLI::App* wingetCommand = app.add_subcommand("winget", "Write winget manifests for a setup program");
  wingetCommand->add_option("program", program, "The setup program as published")->required();
  wingetCommand->add_option("--id", winget.id, "Package identifier, e.g. Korvane.OnlineBackup")
      ->required()->check(WingetValue(IsWingetIdentifier, "package identifier"));
  wingetCommand->add_option("--version", winget.version, "Package version")
      ->required()->check(WingetValue(IsWingetVersion, "package version"));
  wingetCommand->add_option("--url", winget.url, "Download URL of the setup program")
      ->required()->check(WingetValue(IsWingetUrl, "http or https URL"));
  wingetCommand->add_option("--publisher", winget.publisher, "Publisher (default: the identifier's first part)");
  wingetCommand->add_option("--license", winget.license, "License (default: Proprietary)");
  wingetCommand->add_option("--description", winget.description, "Short description (default: the package name)");
  wingetCommand->add_option("-o,--output", directory, "The directory to write the manifests into")->required();

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

  TrialOptions trial;
  std::string trialDirectory, trialWindows;
  int trialTimeout = 120;
  bool trialQuiet = false;
  CLI::App* tryCommand = app.add_subcommand("try", "Run a setup program silently under Wine and check what it installs");
  tryCommand->add_option("program", trial.program, "The setup program")->required();
  tryCommand->add_flag("--json", json, "Print JSON");
  tryCommand->add_option("--dir", trialDirectory, "Install directory, C:\\... (default: the package's default path)");
  tryCommand->add_option("--args", trial.arguments, "More arguments for the program, split on blanks");
  tryCommand->add_option("--windows", trialWindows, "Windows version Wine reports")
      ->check(CLI::IsMember({"win95", "win98", "nt40", "win2k", "winxp", "win10"}));
  tryCommand->add_option("--keep", trial.keep, "Make the Wine prefix in this new directory and keep it");
  tryCommand->add_option("--timeout", trialTimeout, "Seconds the program may run (default 120)")
      ->check(CLI::Range(1, 86400));
  tryCommand->add_flag("-q,--quiet", trialQuiet, "No progress line");
  AddCodePageOption(tryCommand, codePage);

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
    if (*build) return RunBuild(manifest, output, stub, buildOptions, quiet, signing);
    if (*verify) {
      verifyOptions.codePage = codePage;
      return RunVerify(program, json, verifyOptions);
    }
    if (*sign) {
      if (!signing.Requested()) {
        std::cerr << "setuppack sign: give --pkcs12 FILE or --cert FILE --key FILE\n";
        return kExitUsage;
      }
      return RunSign(program, signing);
    }
    if (*wingetCommand) return RunWinget(program, winget, directory);
    if (*list) return RunList(program, json, codePage);
    if (*extract) return RunExtract(program, directory, codePage);
    if (*implode) {
      // CLI11 has checked both words already.
      implodeOptions.literals = ParseLiteralMode(literals).value_or(LiteralMode::Auto);
      implodeOptions.dictionarySize = ParseDictionarySize(dictionary).value_or(0);
      return RunImplodeCommand(implodeOptions, inPath, outPath);
    }
    if (*explode) return RunExplodeCommand(inPath, outPath);
    if (*tryCommand) {
      if (!trialDirectory.empty()) trial.directory = trialDirectory;
      if (!trialWindows.empty()) trial.windowsVersion = trialWindows;
      trial.timeout = std::chrono::seconds(trialTimeout);
      trial.progress = !trialQuiet && ::isatty(STDERR_FILENO);
      trial.codePage = codePage;
      return RunTry(trial, json);
    }
  } catch (const InputError& e) {
    std::cerr << "setuppack: " << e.what() << "\n";
    return kExitBadInput;
  } catch (const std::exception& e) {
    std::cerr << "setuppack: " << e.what() << "\n";
    return kExitBadInput;
  }
  return kExitUsage;
}
