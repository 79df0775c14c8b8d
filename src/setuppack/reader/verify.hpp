// `setuppack verify`: checks a setup program the way setup.exe would open and
// install it, without Windows, and what setup.exe would refuse on a user's
// machine. Every problem is collected; nothing stops at the first but an
// archive error, behind which nothing can be read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/signing/authenticode.hpp"

// What kind of problem: the words of the JSON "kind" field.
enum class ProblemKind {
  kArchive,    // an archive error: setup.exe stops with its message box
  kMember,     // a compressed member that does not decode, or a size mismatch
  kExternal,   // an external "_" member file missing or of the wrong length
  kName,       // a name Windows cannot create or one leaving its directory
  kExtraData,  // bytes behind the archive that are no signature
  kSignature,  // a signature setup.exe would misread, or one that is broken
};

const char* ProblemKindWord(ProblemKind kind);

struct VerifyProblem {
  ProblemKind kind;
  std::optional<std::uint64_t> offset;  // file offset of the record concerned
  std::string member;                   // the member's name (UTF-8), if any
  std::string message;                  // one line, UTF-8
};

struct SignatureReport {
  bool present = false;
  CertificateTable table;
  // osslsigncode's verdict; nullopt when not signed or osslsigncode is missing.
  std::optional<SignatureCheck> check;
};

struct VerifyReport {
  std::uint64_t fileSize = 0;
  std::size_t membersChecked = 0;  // main table and trailing members looked at
  std::vector<VerifyProblem> problems;
  SignatureReport signature;

  bool Sound() const { return problems.empty(); }
};

struct VerifyOptions {
  bool checkSignature = true;        // run osslsigncode on a signed program
  std::filesystem::path caFile;      // certificates to trust besides the system's
  unsigned codePage = 1252;          // of the archive's names (the archive does not say)
};

// Checks the setup program at `program` and the external member files beside
// it. Throws InputError only when the program itself cannot be read.
VerifyReport VerifySetupProgram(const std::filesystem::path& program, const VerifyOptions& options = {});

// One line per problem, a line about the signature, then the verdict:
// "PATH: sound, N members checked" or "PATH: N problems".
void PrintVerifyReport(const VerifyReport& report, const std::string& title, std::ostream& out);
// The same as one JSON object (docs/setuppack.md shows it).
void PrintVerifyJson(const VerifyReport& report, const std::string& title, std::ostream& out);
