#include "setuppack/authenticode.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/le.hpp"
#include "setuppack/errors.hpp"
#include "setuppack/external_tool.hpp"
#include "setuppack/file_io.hpp"

namespace {

// PE facts used here: the DOS header's e_lfanew (offset 0x3C) gives the "PE\0\0"
// signature, followed by the 20-byte COFF header (SizeOfOptionalHeader at 16)
// and the optional header. Its magic says PE32 (0x10B: NumberOfRvaAndSizes at
// 92, data directories at 96) or PE32+ (0x20B: at 108 and 112). Each data
// directory is 8 bytes; in entry 4 (security) the first word is a file
// offset, not an RVA.
constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kOptionalHeaderSizeOffset = 16;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;

const char kTool[] = "osslsigncode";

std::string LastLines(const std::string& text, std::size_t count) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '\n') --end;
  std::size_t start = end;
  for (std::size_t lines = 0; start > 0 && lines < count; --start) {
    if (text[start - 1] == '\n' && ++lines == count) break;
  }
  return text.substr(start, end - start);
}

// A file beside `target` that is removed when it goes out of scope.
class ScratchFile {
public:
  ScratchFile(const std::filesystem::path& target, const char* purpose) {
    std::string name(1, '.');
    name.append(target.filename().string()).append(1, '.').append(purpose).append(1, '.');
    name.append(std::to_string(::getpid()));
    path_ = target.parent_path() / name;
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::filesystem::path& Path() const { return path_; }

private:
  std::filesystem::path path_;
};

void RequireReadable(const std::filesystem::path& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path.string() + ": cannot read the " + what);
}

}  // namespace

std::optional<CertificateTable> FindCertificateTable(std::span<const std::uint8_t> image) {
  if (image.size() < kLfanewOffset + 4) return std::nullopt;
  const std::uint64_t pe = LoadLe32(image.data() + kLfanewOffset);
  const std::uint64_t optional = pe + 4 + kCoffHeaderSize;
  if (optional + 2 > image.size()) return std::nullopt;
  const std::uint8_t* p = image.data() + pe;
  if (p[0] != 'P' || p[1] != 'E' || p[2] != 0 || p[3] != 0) return std::nullopt;
  const std::uint16_t optionalSize = LoadLe16(p + 4 + kOptionalHeaderSizeOffset);
  const std::uint16_t magic = LoadLe16(image.data() + optional);
  std::uint64_t countAt = 0, directoriesAt = 0;
  if (magic == kPe32Magic) {
    countAt = 92;
    directoriesAt = 96;
  } else if (magic == kPe32PlusMagic) {
    countAt = 108;
    directoriesAt = 112;
  } else {
    return std::nullopt;
  }
  const std::uint64_t entryAt = directoriesAt + 8 * kSecurityDirectory;
  if (entryAt + 8 > optionalSize || optional + entryAt + 8 > image.size()) return std::nullopt;
  if (LoadLe32(image.data() + optional + countAt) <= kSecurityDirectory) return std::nullopt;
  CertificateTable table;
  table.offset = LoadLe32(image.data() + optional + entryAt);
  table.size = LoadLe32(image.data() + optional + entryAt + 4);
  if (table.offset == 0 && table.size == 0) return std::nullopt;
  return table;
}

std::vector<std::string> SignCommand(const SigningOptions& options,
                                     const std::filesystem::path& passwordFile,
                                     const std::filesystem::path& in, const std::filesystem::path& out) {
  std::vector<std::string> command = {kTool, "sign", "-h", "sha256"};
  if (!options.pkcs12.empty()) {
    command.insert(command.end(), {"-pkcs12", options.pkcs12.string()});
  } else {
    command.insert(command.end(), {"-certs", options.certificate.string(), "-key", options.key.string()});
  }
  if (!passwordFile.empty()) command.insert(command.end(), {"-readpass", passwordFile.string()});
  if (!options.description.empty()) command.insert(command.end(), {"-n", options.description});
  if (!options.timestampUrl.empty()) command.insert(command.end(), {"-ts", options.timestampUrl});
  command.insert(command.end(), {"-in", in.string(), "-out", out.string()});
  return command;
}

void SignSetupProgram(const std::filesystem::path& program, const SigningOptions& options) {
  RequireReadable(program, "setup program");
  if (!options.pkcs12.empty()) {
    RequireReadable(options.pkcs12, "PKCS#12 file");
  } else {
    RequireReadable(options.certificate, "certificate");
    RequireReadable(options.key, "key");
  }

  // The password reaches osslsigncode through a file readable by us alone.
  std::optional<ScratchFile> passwordCopy;
  std::filesystem::path passwordFile = options.passwordFile;
  if (!passwordFile.empty()) {
    RequireReadable(passwordFile, "password file");
  } else if (const char* password = std::getenv(kSignPasswordVariable)) {
    passwordCopy.emplace(program, "password");
    const mode_t previous = ::umask(077);
    std::ofstream(passwordCopy->Path(), std::ios::binary) << password;
    ::umask(previous);
    passwordFile = passwordCopy->Path();
  }

  // osslsigncode replaces an existing signature unless told to nest one.
  ScratchFile signedCopy(program, "signed");
  const ToolResult result = RunTool(SignCommand(options, passwordFile, program, signedCopy.Path()));
  if (!result.started)
    throw InputError(program.string() + ": osslsigncode is not installed; install it (apt install osslsigncode)");
  if (result.exitCode != 0)
    throw InputError(program.string() + ": signing failed; osslsigncode says:\n" + LastLines(result.output, 4));

  std::error_code ec;
  const std::filesystem::perms mode = std::filesystem::status(program, ec).permissions();
  if (!ec) std::filesystem::permissions(signedCopy.Path(), mode, ec);
  std::filesystem::rename(signedCopy.Path(), program, ec);
  if (ec) throw InputError(program.string() + ": cannot replace it with the signed copy: " + ec.message());
}

std::optional<SignatureCheck> CheckSignature(const std::filesystem::path& program,
                                             const std::filesystem::path& caFile) {
  std::vector<std::string> command = {kTool, "verify"};
  if (!caFile.empty()) command.insert(command.end(), {"-CAfile", caFile.string()});
  command.insert(command.end(), {"-in", program.string()});
  const ToolResult result = RunTool(command);
  if (!result.started) return std::nullopt;

  // The two digest lines are osslsigncode's own hash check; the exit code adds
  // the certificate chain.
  std::string current, calculated, errors, line;
  std::istringstream lines(result.output);
  while (std::getline(lines, line)) {
    if (line.find("Error:") != std::string::npos || line.find("MISMATCH") != std::string::npos) {
      std::string text = line;
      while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(text.begin());
      if (!errors.empty()) errors += "; ";
      errors += text;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ')) value.erase(value.begin());
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
    if (line.rfind("Current message digest", 0) == 0 && current.empty()) current = value;
    if (line.rfind("Calculated message digest", 0) == 0 && calculated.empty()) calculated = value;
  }
  SignatureCheck check;
  check.intact = !current.empty() && current == calculated;
  check.trusted = check.intact && result.exitCode == 0;
  if (!check.trusted) check.detail = errors.empty() ? LastLines(result.output, 2) : errors;
  return check;
}
