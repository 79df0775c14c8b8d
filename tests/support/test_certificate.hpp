// A throw-away code-signing certificate made with openssl for one test, and
// the signing options that use it.
#pragma once

#include <filesystem>
#include <string>

#include "setuppack/signing/authenticode.hpp"

// True when openssl and osslsigncode are both installed; otherwise `why`
// names what is missing.
bool SigningToolsAvailable(std::string& why);

// Writes key.pem, cert.pem (a self-signed certificate for "Korvane Test
// Signer", valid for two days) and cert.p12 (password "s3cret") into `dir`.
// False when openssl failed.
bool MakeTestCertificate(const std::filesystem::path& dir);

// Signing with dir's cert.pem and key.pem, described as the client.
SigningOptions TestCertificateOptions(const std::filesystem::path& dir);
