#include "setuppack/reader/verify.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <system_error>

#include "explode/memory_codec.hpp"
#include "format/member_name.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/host_path.hpp"
#include "setuppack/package/package.hpp"
#include "setuppack/package/values.hpp"

namespace {

// osslsigncode pads the file to a multiple of 8 bytes before it appends the
// certificate table; those zeros are the only bytes allowed between the
// archive's end and the table.
constexpr std::uint64_t kCertificateAlignment = 8;

const char* ExplodeResultText(std::uint32_t result) {
  switch (result) {
    case kExplodeBadDictionary: return "the dictionary size byte is not 4, 5 or 6";
    case kExplodeBadLiteralMode: return "the literal mode byte is not 0 or 1";
    case kExplodeShortHeader: return "the stream is too short to hold a header";
    case kExplodeTruncated: return "the stream ends before its end code";
    default: return "unknown explode result";
  }
}

// "member \"NAME\"" in UTF-8. Appended piece by piece: GCC 12 warns wrongly
// about a literal joined to a temporary string.
std::string MemberText(const std::string& ansiName, unsigned codePage) {
  std::string text = "member \"";
  text.append(AnsiToUtf8(ansiName, codePage)).append(1, '"');
  return text;
}

class Verifier {
public:
  Verifier(const std::filesystem::path& program, const VerifyOptions& options, VerifyReport& report)
      : program_(program), options_(options), report_(report) {}

  void Run();

private:
  void Add(ProblemKind kind, std::optional<std::uint64_t> offset, const std::string& ansiName,
           std::string message) {
    report_.problems.push_back(
        VerifyProblem{kind, offset, AnsiToUtf8(ansiName, options_.codePage), std::move(message)});
  }

  // False when the name is refused; then nothing is looked up under it.
  bool CheckName(const std::string& name, std::uint64_t offset, const char* directory);
  void CheckMember(const ArchiveMemberInfo& member, ExplodeWork& work);
  void CheckSignatureLayout();
  void CheckBehindArchive();

  const std::filesystem::path& program_;
  const VerifyOptions& options_;
  VerifyReport& report_;
  std::vector<std::uint8_t> bytes_;
  ArchiveListing listing_;
};

void Verifier::Run() {
  bytes_ = ReadSetupProgramBytes(program_);
  report_.fileSize = bytes_.size();
  listing_ = ReadArchive(bytes_);
  if (const std::optional<CertificateTable> table = FindCertificateTable(bytes_)) {
    report_.signature.present = true;
    report_.signature.table = *table;
  }
  CheckSignatureLayout();

  if (listing_.error != kArchiveOk) {
    Add(ProblemKind::kArchive, listing_.errorOffset, "", DescribeArchiveError(listing_));
  } else {
    auto work = std::make_unique<ExplodeWork>();
    for (const ArchiveMemberInfo& member : listing_.members) CheckMember(member, *work);
    if (listing_.trailing) {
      for (const TrailingMemberInfo& member : listing_.trailing->members) {
        ++report_.membersChecked;
        CheckName(member.name, member.entryOffset, "install");
      }
    }
    CheckBehindArchive();
  }

  // osslsigncode only reads a table that lies where the layout checks put it.
  const bool layoutProblem = std::any_of(report_.problems.begin(), report_.problems.end(),
                                         [](const VerifyProblem& p) { return p.kind == ProblemKind::kSignature; });
  if (report_.signature.present && options_.checkSignature && !layoutProblem) {
    report_.signature.check = CheckSignature(program_, options_.caFile);
    const std::optional<SignatureCheck>& check = report_.signature.check;
    if (check && !check->intact)
      Add(ProblemKind::kSignature, report_.signature.table.offset, "",
          "the signature does not match the file: " + check->detail);
  }
}

bool Verifier::CheckName(const std::string& name, std::uint64_t offset, const char* directory) {
  const MemberNameFault fault = FindMemberNameFault(name.c_str(), name.size());
  if (fault == kMemberNameOk) return true;
  const std::string shown = MemberText(name, options_.codePage);
  if (fault == kMemberNameLeavesDirectory) {
    Add(ProblemKind::kName, offset, name,
        shown + " would leave the " + directory + " directory; setup.exe refuses it");
  } else {
    Add(ProblemKind::kName, offset, name,
        shown + " is a name Windows cannot create: " +
            MemberNameProblem(name).value_or("refused"));
  }
  return false;
}

void Verifier::CheckMember(const ArchiveMemberInfo& member, ExplodeWork& work) {
  ++report_.membersChecked;
  const FileEntryHeader& e = member.entry;
  const std::string shown = MemberText(member.name, options_.codePage);
  if (!CheckName(member.name, member.entryOffset, (e.flags & kMemberSys) ? "system" : "install")) return;

  std::span<const std::uint8_t> stored;
  std::vector<std::uint8_t> external;
  if (e.flags & kMemberExt) {
    const std::string fileName = ExternalFileName(member.name);
    const std::filesystem::path path = HostPath(program_.parent_path(), fileName, options_.codePage);
    try {
      external = ReadWholeFile(path);
    } catch (const std::system_error& err) {
      Add(ProblemKind::kExternal, member.entryOffset, member.name,
          shown + ": its external member file " + path.string() + " cannot be read: " +
              err.code().message());
      return;
    }
    if (external.size() != e.storedLength) {
      Add(ProblemKind::kExternal, member.entryOffset, member.name,
          shown + ": its external member file " + path.string() + " holds " +
              std::to_string(external.size()) + " bytes, the file table says " +
              std::to_string(e.storedLength));
      return;
    }
    stored = external;
  } else {
    stored = std::span<const std::uint8_t>(bytes_).subspan(member.dataOffset, e.storedLength);
  }

  if (!(e.flags & kMemberCmp)) {
    if (e.storedLength != e.originalSize)
      Add(ProblemKind::kMember, member.entryOffset, member.name,
          shown + " is stored with " + std::to_string(e.storedLength) + " bytes, its original size says " +
              std::to_string(e.originalSize));
    return;
  }
  // Decoded into nothing: only the length counts, so a stream that expands
  // hugely costs time in proportion to its own length, never memory.
  std::size_t produced = 0;
  const std::uint32_t result = ExplodeInto(stored, {}, produced, work);
  if (result != kExplodeOk) {
    Add(ProblemKind::kMember, member.dataOffset ? member.dataOffset : member.entryOffset, member.name,
        shown + " does not decompress: explode result " + std::to_string(result) + " (" +
            ExplodeResultText(result) + ")");
  } else if (produced != e.originalSize) {
    Add(ProblemKind::kMember, member.entryOffset, member.name,
        shown + " decompresses to " + std::to_string(produced) + " bytes, its original size says " +
            std::to_string(e.originalSize));
  }
}

void Verifier::CheckSignatureLayout() {
  if (!report_.signature.present) return;
  const CertificateTable& t = report_.signature.table;
  if (t.offset < kArchiveOffset || t.offset + t.size != report_.fileSize) {
    Add(ProblemKind::kSignature, t.offset, "",
        "the PE security directory names a certificate table at offset " + std::to_string(t.offset) +
            " of " + std::to_string(t.size) + " bytes, which is not the end of the " +
            std::to_string(report_.fileSize) + "-byte file");
    return;
  }
  // A trailing block read from in front of the table's padding is genuine.
  const bool genuineTrailing =
      listing_.trailing && listing_.trailing->offset + kCertificateAlignment <= t.offset;
  if (listing_.headerRead && !(listing_.header.flags & kHeaderFlagNoTrailing) && !genuineTrailing)
    Add(ProblemKind::kSignature, kArchiveOffset + kHeaderFlagsOffset, "",
        "the program is signed but header flag 0x02 (no trailing block) is not set: setup.exe "
        "reads the signature as a damaged trailing block; rebuild it with this setuppack");
}

void Verifier::CheckBehindArchive() {
  const std::uint64_t end = listing_.archiveEnd;
  if (!report_.signature.present) {
    if (end != report_.fileSize)
      Add(ProblemKind::kExtraData, end, "",
          std::to_string(report_.fileSize - end) + " bytes behind the archive's end at offset " +
              std::to_string(end) + " are no signature");
    return;
  }
  const std::uint64_t table = report_.signature.table.offset;
  if (table < end) {
    Add(ProblemKind::kSignature, table, "",
        "the certificate table at offset " + std::to_string(table) +
            " lies inside the archive, which ends at offset " + std::to_string(end));
    return;
  }
  const auto gap = std::span<const std::uint8_t>(bytes_).subspan(end, table - end);
  if (gap.size() >= kCertificateAlignment ||
      std::any_of(gap.begin(), gap.end(), [](std::uint8_t b) { return b != 0; }))
    Add(ProblemKind::kExtraData, end, "",
        std::to_string(gap.size()) + " bytes between the archive's end at offset " + std::to_string(end) +
            " and the signature are neither the archive nor padding");
}

std::string SignatureLine(const SignatureReport& s) {
  if (!s.present) return "not signed";
  std::string line = "signed (certificate table at offset " + std::to_string(s.table.offset) + ", " +
                     std::to_string(s.table.size) + " bytes)";
  if (!s.check) return line + "; not checked (osslsigncode is not installed)";
  if (!s.check->intact) return line + "; the signature does not match the file";
  if (!s.check->trusted) return line + "; intact, certificate not trusted: " + s.check->detail;
  return line + "; intact and trusted";
}

}  // namespace

const char* ProblemKindWord(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::kArchive: return "archive";
    case ProblemKind::kMember: return "member";
    case ProblemKind::kExternal: return "external";
    case ProblemKind::kName: return "name";
    case ProblemKind::kExtraData: return "extra-data";
    case ProblemKind::kSignature: return "signature";
  }
  return "unknown";
}

VerifyReport VerifySetupProgram(const std::filesystem::path& program, const VerifyOptions& options) {
  VerifyReport report;
  Verifier(program, options, report).Run();
  return report;
}

void PrintVerifyReport(const VerifyReport& report, const std::string& title, std::ostream& out) {
  for (const VerifyProblem& p : report.problems) {
    out << title << ": ";
    if (p.offset) out << "offset " << *p.offset << ": ";
    out << p.message << "\n";
  }
  out << title << ": " << SignatureLine(report.signature) << "\n";
  if (report.Sound()) {
    out << title << ": sound, " << report.membersChecked << " members checked\n";
  } else {
    const std::size_t n = report.problems.size();
    out << title << ": " << n << (n == 1 ? " problem" : " problems") << "\n";
  }
}

void PrintVerifyJson(const VerifyReport& report, const std::string& title, std::ostream& out) {
  using nlohmann::json;
  json problems = json::array();
  for (const VerifyProblem& p : report.problems) {
    problems.push_back({{"kind", ProblemKindWord(p.kind)},
                        {"offset", p.offset ? json(*p.offset) : json(nullptr)},
                        {"member", p.member.empty() ? json(nullptr) : json(p.member)},
                        {"message", p.message}});
  }
  const SignatureReport& s = report.signature;
  json signature = {{"present", s.present},
                    {"offset", s.present ? json(s.table.offset) : json(nullptr)},
                    {"size", s.present ? json(s.table.size) : json(nullptr)},
                    {"intact", s.check ? json(s.check->intact) : json(nullptr)},
                    {"trusted", s.check ? json(s.check->trusted) : json(nullptr)},
                    {"detail", s.check && !s.check->detail.empty() ? json(s.check->detail) : json(nullptr)}};
  const json document = {{"program", title},
                         {"size", report.fileSize},
                         {"sound", report.Sound()},
                         {"membersChecked", report.membersChecked},
                         {"problems", problems},
                         {"signature", signature}};
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}
