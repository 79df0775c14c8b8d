#include "support/test_certificate.hpp"

#include <sys/wait.h>

#include <cstdlib>

namespace {

int Shell(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool SigningToolsAvailable(std::string& why) {
  for (const char* tool : {"openssl", "osslsigncode"}) {
    if (Shell(std::string("command -v ") + tool) != 0) {
      why = std::string(tool) + " is not installed";
      return false;
    }
  }
  return true;
}

bool MakeTestCertificate(const std::filesystem::path& dir) {
  auto file = [&](const char* name) { return std::string(1, '\'').append((dir / name).string()).append(1, '\''); };
  return Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Korvane Test Signer' -keyout " +
               file("key.pem") + " -out " + file("cert.pem")) == 0 &&
         Shell("openssl pkcs12 -export -inkey " + file("key.pem") + " -in " + file("cert.pem") + " -out " +
               file("cert.p12") + " -passout pass:s3cret") == 0;
}

SigningOptions TestCertificateOptions(const std::filesystem::path& dir) {
  SigningOptions o;
  o.certificate = dir / "cert.pem";
  o.key = dir / "key.pem";
  o.description = "Korvane Online Backup";
  return o;
}
