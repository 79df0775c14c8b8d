#include "setuppack/extract.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "explode/explode.hpp"
#include "setuppack/archive_builder.hpp"
#include "setuppack/archive_reader.hpp"
#include "setuppack/errors.hpp"
#include "setuppack/list.hpp"
#include "setuppack/manifest.hpp"

namespace {

struct MemoryStreams {
  std::span<const std::uint8_t> input;
  std::size_t position = 0;
  std::vector<std::uint8_t>* output = nullptr;
};

unsigned int ReadFromMemory(char* buffer, unsigned int* size, void* userParameter) {
  auto* streams = static_cast<MemoryStreams*>(userParameter);
  const std::size_t left = streams->input.size() - streams->position;
  const std::size_t n = std::min<std::size_t>(*size, left);
  if (n != 0) std::memcpy(buffer, streams->input.data() + streams->position, n);
  streams->position += n;
  return static_cast<unsigned int>(n);
}

void WriteToMemory(char* buffer, unsigned int* size, void* userParameter) {
  auto* streams = static_cast<MemoryStreams*>(userParameter);
  streams->output->insert(streams->output->end(), buffer, buffer + *size);
}

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

void WriteMember(const std::filesystem::path& path, std::span<const std::uint8_t> data,
                 std::uint64_t fileTime) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) throw InputError(path.parent_path().string() + ": cannot create directory: " + ec.message());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw InputError(path.string() + ": cannot create: " + std::strerror(errno));
  const bool written = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !written)
    throw InputError(path.string() + ": cannot write: " + std::strerror(errno));
  if (fileTime != 0) {
    const UnixTime t = UnixFromFileTime(fileTime);
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(t.seconds);
    times[0].tv_nsec = static_cast<long>(t.nanoseconds);
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
      throw InputError(path.string() + ": cannot set the file time: " + std::strerror(errno));
  }
}

}  // namespace

bool ExplodeBytes(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& output,
                  std::uint32_t& result) {
  auto work = std::make_unique<ExplodeWork>();
  MemoryStreams streams{stream, 0, &output};
  result = explode(ReadFromMemory, WriteToMemory, work.get(), &streams);
  return result == kExplodeOk;
}

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
