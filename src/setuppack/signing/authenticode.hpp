// Authenticode signatures of setup programs. The signature is a PKCS#7 blob
// in the PE certificate table, which lies at the very end of the file, behind
// the archive; the PE's security directory (data directory 4) gives its file
// offset and size. The Authenticode hash covers every byte of the file but
// the PE checksum, that directory entry and the table itself: the stub and
// the whole archive. External "_" member files lie beside the program and are
// not covered.
//
// Signing and checking go through osslsigncode; finding the table needs no
// tool.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Where the PE certificate table lies in the file.
struct CertificateTable {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// The certificate table named by a PE image's security directory, or nullopt
// for an image without one (or bytes that are no PE image). The table is
// returned as the directory states it, whether or not it lies inside the
// file: the caller checks.
std::optional<CertificateTable> FindCertificateTable(std::span<const std::uint8_t> image);

// The environment variable that holds the key's password when no password
// file is given.
constexpr char kSignPasswordVariable[] = "SETUPPACK_SIGN_PASSWORD";

// What `sign` and `build` take: a PKCS#12 file, or a certificate and a key
// (PEM or DER); the password never on the command line.
struct SigningOptions {
  std::filesystem::path pkcs12;
  std::filesystem::path certificate;
  std::filesystem::path key;
  std::filesystem::path passwordFile;  // empty: SETUPPACK_SIGN_PASSWORD, if set
  std::string timestampUrl;            // RFC 3161 time-stamping server; empty: none
  std::string description;             // shown by Windows as the program's name

  bool Requested() const { return !pkcs12.empty() || !certificate.empty(); }
};

// The osslsigncode command line of a signing of `in` into `out` with SHA-256;
// `passwordFile` replaces options.passwordFile (the file made from the
// environment variable).
std::vector<std::string> SignCommand(const SigningOptions& options,
                                     const std::filesystem::path& passwordFile,
                                     const std::filesystem::path& in, const std::filesystem::path& out);

// Signs the setup program in place. A signature already there is removed
// first, so that the program never carries two. The program is replaced only
// when signing succeeded. Throws InputError naming the file and quoting
// osslsigncode's complaint.
void SignSetupProgram(const std::filesystem::path& program, const SigningOptions& options);

// osslsigncode's verdict on a signed program: the hash it recomputes matches
// the signed one and the signature is intact. Trust in the certificate chain
// is reported apart: a self-made certificate is intact but not trusted.
struct SignatureCheck {
  bool intact = false;
  bool trusted = false;
  std::string detail;  // osslsigncode's lines about what failed; empty when intact
};

// Runs `osslsigncode verify`, trusting the system's certificates and those of
// `caFile` when given; nullopt when osslsigncode is not installed.
std::optional<SignatureCheck> CheckSignature(const std::filesystem::path& program,
                                             const std::filesystem::path& caFile = {});
