// `setuppack winget`: the three manifests (version, default locale,
// installer) that describe a setup program to the Windows Package Manager,
// schema 1.10.0, for an `exe` installer run silently by its own switches.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/uninstall_key.hpp"
#include "setuppack/reader/archive_reader.hpp"

constexpr char kWingetManifestVersion[] = "1.10.0";
constexpr char kWingetLocale[] = "en-US";

struct WingetOptions {
  std::string id;           // Publisher.Package, 2 to 8 dot-separated parts
  std::string version;
  std::string url;          // where users download the setup program
  std::string publisher;    // default: the id's first part
  std::string license = "Proprietary";
  std::string description;  // ShortDescription; default: the package name
};

// winget's own patterns for identifiers, versions and installer URLs; the
// command line refuses other values.
bool IsWingetIdentifier(std::string_view id);
bool IsWingetVersion(std::string_view version);
bool IsWingetUrl(std::string_view url);

// A YAML scalar in single quotes: every character as it is, "'" doubled.
std::string YamlQuoted(std::string_view text);

// SHA-256 of the bytes in upper-case hex, as winget writes InstallerSha256.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

struct WingetManifest {
  std::string fileName;  // "<id>.yaml", "<id>.locale.en-US.yaml", "<id>.installer.yaml"
  std::string text;
};

// The package's name for users: the program group, else the uninstall
// entry's display name, else the program setup.exe runs.
std::string WingetPackageName(const ArchiveListing& listing);

// The three manifests of the setup program `program` (its whole bytes, as
// they are published) whose archive was read into `listing`.
std::vector<WingetManifest> MakeWingetManifests(std::span<const std::uint8_t> program,
                                                const ArchiveListing& listing, const WingetOptions& options);

// Reads the setup program, refuses one with an archive error, and writes the
// manifests into `directory` (created when missing). Throws InputError.
std::vector<std::filesystem::path> WriteWingetManifests(const std::filesystem::path& program,
                                                        const WingetOptions& options,
                                                        const std::filesystem::path& directory);
