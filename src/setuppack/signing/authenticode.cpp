#include "setuppack/signing/authenticode.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/pe_headers.hpp"
#include "setuppack/signing/external_tool.hpp"

namespace {

// Data directory 4 (security): its first word is a file offset, not an RVA.
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
  const std::optional<PeHeaders> headers = PeHeaders::Read(image);
  if (!headers) return std::nullopt;
  const std::optional<PeDataDirectory> security = headers->Directory(kSecurityDirectory);
  if (!security || (security->address == 0 && security->size == 0)) return std::nullopt;
  return CertificateTable{security->address, security->size};
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
