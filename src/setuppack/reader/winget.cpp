#include "setuppack/reader/winget.hpp"

#include <cctype>
#include <system_error>

#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/sha256.hpp"

namespace {

constexpr std::size_t kMaxIdentifierLength = 128;
constexpr std::size_t kMaxIdentifierPart = 32;
constexpr std::size_t kMinIdentifierParts = 2;
constexpr std::size_t kMaxIdentifierParts = 8;
constexpr std::size_t kMaxVersionLength = 128;
constexpr std::size_t kMaxUrlLength = 2048;

// Characters winget refuses in versions; identifiers also refuse dots inside
// a part and white space.
bool IsRefusedInVersion(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x01 && u <= 0x1F) || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
}

bool IsRefusedInIdentifierPart(char c) {
  return IsRefusedInVersion(c) || c == '.' || c == ' ' || c == '\t' || c == '\n' || c == '\r' ||
         c == '\v' || c == '\f';
}

std::string Header(const char* type) {
  return std::string("# yaml-language-server: $schema=https://aka.ms/winget-manifest.") + type + "." +
         kWingetManifestVersion + ".schema.json\n\n";
}

std::string Field(std::string_view key, std::string_view value) {
  return std::string(key) + ": " + YamlQuoted(value) + "\n";
}

std::string Footer(const char* type) {
  return std::string("ManifestType: ") + type + "\nManifestVersion: " + kWingetManifestVersion + "\n";
}

}  // namespace

bool IsWingetIdentifier(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdentifierLength) return false;
  std::size_t parts = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = id.find('.', start);
    const std::string_view part = id.substr(start, dot == std::string_view::npos ? id.npos : dot - start);
    if (part.empty() || part.size() > kMaxIdentifierPart) return false;
    for (char c : part) {
      if (c == 0 || IsRefusedInIdentifierPart(c)) return false;
    }
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts >= kMinIdentifierParts && parts <= kMaxIdentifierParts;
}

bool IsWingetVersion(std::string_view version) {
  if (version.empty() || version.size() > kMaxVersionLength) return false;
  for (char c : version) {
    if (c == 0 || IsRefusedInVersion(c)) return false;
  }
  return true;
}

bool IsWingetUrl(std::string_view url) {
  if (url.size() > kMaxUrlLength) return false;
  std::string scheme;
  const std::size_t colon = url.find("://");
  if (colon == std::string_view::npos || colon + 3 >= url.size()) return false;
  for (char c : url.substr(0, colon)) scheme += static_cast<char>(c | 0x20);
  for (char c : url) {
    if (c == '\n' || c == '\r') return false;
  }
  return scheme == "http" || scheme == "https";
}

std::string YamlQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  std::string hex = Sha256OfBytes(bytes);
  for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return hex;
}

std::string WingetPackageName(const ArchiveListing& listing) {
  if (listing.settings.iconGroup) return AnsiToUtf8(*listing.settings.iconGroup);
  for (const PackageIcon& icon : listing.icons) {
    if (icon.name && IsUninstallIconName(icon.name->c_str()))
      return AnsiToUtf8(UninstallDisplayName(icon.name->c_str()));
  }
  return AnsiToUtf8(listing.settings.runCommand.value_or("Setup"));
}

std::vector<WingetManifest> MakeWingetManifests(std::span<const std::uint8_t> program,
                                                const ArchiveListing& listing, const WingetOptions& options) {
  const std::string name = WingetPackageName(listing);
  const std::string publisher =
      options.publisher.empty() ? options.id.substr(0, options.id.find('.')) : options.publisher;
  const std::string identity = Field("PackageIdentifier", options.id) + Field("PackageVersion", options.version);

  WingetManifest version{options.id + ".yaml", Header("version") + identity +
                                                   Field("DefaultLocale", kWingetLocale) + Footer("version")};

  WingetManifest locale{options.id + ".locale." + kWingetLocale + ".yaml",
                        Header("defaultLocale") + identity + Field("PackageLocale", kWingetLocale) +
                            Field("Publisher", publisher) + Field("PackageName", name) +
                            Field("License", options.license) +
                            Field("ShortDescription", options.description.empty() ? name : options.description) +
                            Footer("defaultLocale")};

  // setup.exe: /S runs without the welcome and the finish dialog but shows its
  // progress; /D takes a quoted path up to the next quote; exit code 1 means
  // a damaged archive, which no retry mends.
  std::string installer = Header("installer") + identity;
  installer += "InstallerType: exe\n";
  installer += "Scope: machine\n";
  installer += "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n";
  installer += "InstallerSwitches:\n";
  installer += "  " + Field("Silent", "/S");
  installer += "  " + Field("SilentWithProgress", "/S");
  installer += "  " + Field("InstallLocation", "/D \"<INSTALLPATH>\"");
  installer += "ExpectedReturnCodes:\n- InstallerReturnCode: 1\n  ReturnResponse: contactSupport\n";
  installer += Field("ProductCode", kUninstallKeyName);
  installer += "Installers:\n";
  installer += "- Architecture: x86\n";
  installer += "  " + Field("InstallerUrl", options.url);
  installer += "  " + Field("InstallerSha256", Sha256Hex(program));
  installer += Footer("installer");

  return {std::move(version), std::move(locale), WingetManifest{options.id + ".installer.yaml", installer}};
}

std::vector<std::filesystem::path> WriteWingetManifests(const std::filesystem::path& program,
                                                        const WingetOptions& options,
                                                        const std::filesystem::path& directory) {
  const std::vector<std::uint8_t> bytes = ReadSetupProgramBytes(program);
  const ArchiveListing listing = ReadArchive(bytes);
  if (listing.error != kArchiveOk)
    throw InputError(program.string() + ": " + DescribeArchiveError(listing) +
                     "; no manifest written (setuppack verify tells more)");

  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) throw InputError(directory.string() + ": cannot create directory: " + ec.message());
  const std::vector<WingetManifest> manifests = MakeWingetManifests(bytes, listing, options);
  std::vector<FileToWrite> files;
  std::vector<std::vector<std::uint8_t>> texts;
  texts.reserve(manifests.size());
  std::vector<std::filesystem::path> written;
  for (const WingetManifest& m : manifests) {
    texts.push_back(BytesOf(m.text));
    written.push_back(directory / m.fileName);
    files.push_back(FileToWrite{written.back(), texts.back()});
  }
  try {
    WriteFilesAtomically(files);
  } catch (const std::system_error& e) {
    throw InputError(std::string(e.what()) + "; no manifest written");
  }
  return written;
}
