#include "setuppack/extract.hpp"

#include <optional>
#include <string>
#include <system_error>

#include "explode/memory_codec.hpp"
#include "setuppack/archive_reader.hpp"
#include "setuppack/code_page.hpp"
#include "setuppack/errors.hpp"
#include "setuppack/file_io.hpp"
#include "setuppack/package.hpp"
#include "setuppack/values.hpp"

namespace {

// The host path of a member below `directory`: backslashes become "/", the
// text is converted from code page 1252 to UTF-8.
std::filesystem::path HostPath(const std::filesystem::path& directory, const std::string& name) {
  std::string relative = AnsiToUtf8(name);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return directory / relative;
}

void CheckName(const std::filesystem::path& program, const std::string& name) {
  if (std::optional<std::string> problem = MemberNameProblem(name))
    throw InputError(program.string() + ": refusing member name: " + *problem);
}

// Writes one member in full or not at all, and gives it its stored time.
void WriteMember(const std::filesystem::path& path, std::span<const std::uint8_t> data,
                 std::uint64_t fileTime) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) throw InputError(path.parent_path().string() + ": cannot create directory: " + ec.message());
  try {
    AtomicFile file(path);
    file.Write(data);
    file.Commit();
    if (fileTime != 0) SetModificationTime(path, fileTime);
  } catch (const FileError& e) {
    throw InputError(path.string() + ": " + std::string(e.StepText()) + ": " + e.code().message());
  }
}

}  // namespace

ExtractSummary ExtractSetupProgram(const std::filesystem::path& program,
                                   const std::filesystem::path& directory) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = ReadWholeFile(program);
  } catch (const std::system_error& e) {
    throw InputError(program.string() + ": cannot read the setup program: " + e.code().message());
  }
  const ArchiveListing listing = ReadArchive(bytes);
  if (listing.error != kArchiveOk)
    throw InputError(program.string() + ": " + DescribeArchiveError(listing) + "; nothing extracted");

  // Every name is checked before the first file is written.
  for (const ArchiveMemberInfo& m : listing.members) CheckName(program, m.name);
  if (listing.trailing) {
    for (const TrailingMemberInfo& m : listing.trailing->members) CheckName(program, m.name);
  }

  ExtractSummary summary;
  const std::filesystem::path beside = program.parent_path();
  for (const ArchiveMemberInfo& m : listing.members) {
    const FileEntryHeader& e = m.entry;
    std::vector<std::uint8_t> external;
    std::span<const std::uint8_t> stored;
    if (e.flags & kMemberExt) {
      const std::filesystem::path source = HostPath(beside, ExternalFileName(m.name));
      try {
        external = ReadWholeFile(source);
      } catch (const std::system_error& err) {
        throw InputError(source.string() + ": external member file of " + AnsiToUtf8(m.name) +
                         " cannot be read: " + err.code().message());
      }
      if (external.size() < e.storedLength)
        throw InputError(source.string() + ": external member file holds " +
                         std::to_string(external.size()) + " bytes, the archive says " +
                         std::to_string(e.storedLength));
      stored = std::span<const std::uint8_t>(external).first(e.storedLength);
    } else {
      stored = std::span<const std::uint8_t>(bytes).subspan(m.dataOffset, e.storedLength);
    }

    std::vector<std::uint8_t> expanded;
    if (e.flags & kMemberCmp) {
      std::uint32_t result = 0;
      if (!ExplodeBytes(stored, expanded, result))
        throw InputError(program.string() + ": member " + AnsiToUtf8(m.name) +
                         " does not decompress (explode result " + std::to_string(result) + ")");
      stored = expanded;
    }
    const std::filesystem::path target =
        HostPath((e.flags & kMemberSys) ? directory / "system" : directory, m.name);
    WriteMember(target, stored, std::uint64_t{e.lastWriteTimeHigh} << 32 | e.lastWriteTimeLow);
    ++summary.files;
    summary.bytes += stored.size();
  }

  if (listing.trailing) {
    for (const TrailingMemberInfo& m : listing.trailing->members) {
      const auto data = std::span<const std::uint8_t>(bytes).subspan(m.dataOffset, m.length);
      WriteMember(HostPath(directory, m.name), data, m.lastWriteTime);
      ++summary.files;
      summary.bytes += data.size();
    }
  }
  return summary;
}
