#include "setuppack/reader/extract.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>

#include "explode/memory_codec.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/file_time.hpp"
#include "setuppack/package/package.hpp"
#include "setuppack/package/values.hpp"
#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/reader/list.hpp"

namespace fs = std::filesystem;

namespace {

// The host path of a member below `directory`: backslashes become "/", the
// text is converted from the archive's code page to UTF-8.
fs::path HostPath(const fs::path& directory, const std::string& name, unsigned codePage) {
  std::string relative = AnsiToUtf8(name, codePage);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return directory / relative;
}

void CheckName(const fs::path& program, const std::string& name) {
  if (std::optional<std::string> problem = MemberNameProblem(name))
    throw InputError(program.string() + ": refusing member name: " + *problem);
}

std::string Words(const std::error_code& ec) { return ec.message(); }

// Gives a written file its stored time. The time a file system cannot hold
// (ext4 ends in 2446, others earlier) is no failure: the note says which time
// the file keeps instead.
void SetStoredTime(const fs::path& path, const fs::path& shown, std::uint64_t fileTime,
                   std::vector<std::string>& notes) {
  const UnixTime wanted = UnixFromFileTime(fileTime);
  const std::string date = FormatFileTimeUtc(fileTime);
  const std::string asked = date == kTimeOutOfRange
                                ? "FILETIME " + std::to_string(fileTime) + " (beyond the year 9999)"
                                : date + " UTC (FILETIME " + std::to_string(fileTime) + ")";
  try {
    SetModificationTime(path, fileTime);
  } catch (const FileError& e) {
    notes.push_back(shown.string() + ": the file system cannot hold the time " + asked + ": " +
                    e.code().message() + "; the file keeps the time of extraction");
    return;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return;
  // A coarser clock only drops the fraction of the second; that is no news.
  if (info.st_mtim.tv_sec == wanted.seconds) return;
  const std::uint64_t kept =
      FileTimeFromUnix(info.st_mtim.tv_sec, static_cast<std::uint32_t>(info.st_mtim.tv_nsec));
  notes.push_back(shown.string() + ": the file system cannot hold the time " + asked + "; it keeps " +
                  FormatFileTimeUtc(kept) + " UTC");
}

// Writes one member into the staging directory.
void WriteMember(const fs::path& staging, const fs::path& target, const fs::path& relative,
                 std::span<const std::uint8_t> data, std::uint64_t fileTime,
                 std::vector<std::string>& notes) {
  const fs::path path = staging / relative;
  const fs::path shown = target / relative;
  std::error_code ec;
  // A link among the target's present files must not carry a member elsewhere.
  fs::path parent = staging;
  for (const fs::path& part : relative.parent_path()) {
    parent /= part;
    if (fs::is_symlink(fs::symlink_status(parent, ec)))
      throw InputError(shown.string() + ": cannot create the member: " + (target / relative.parent_path()).string() +
                       " leads through a symbolic link");
  }
  fs::create_directories(path.parent_path(), ec);
  if (ec) throw InputError(shown.parent_path().string() + ": cannot create directory: " + Words(ec));
  // A member that an earlier one, or a file of the target, already placed is
  // replaced, as setup.exe overwrites it.
  if (fs::is_directory(fs::symlink_status(path, ec))) {
    throw InputError(shown.string() + ": cannot create the member: a directory of that name exists");
  }
  fs::remove(path, ec);
  try {
    WriteNewFile(path, data);
  } catch (const FileError& e) {
    throw InputError(shown.string() + ": " + std::string(e.StepText()) + ": " + e.code().message());
  }
  if (fileTime != 0) SetStoredTime(path, shown, fileTime, notes);
}

// A directory beside the target that receives every member; it replaces the
// target only when all of them were written, and goes away otherwise.
class Staging {
public:
  explicit Staging(fs::path target) : target_(std::move(target)) {
    std::error_code ec;
    const fs::file_status status = fs::status(target_, ec);
    targetExists_ = fs::exists(status);
    if (targetExists_ && !fs::is_directory(status))
      throw InputError(target_.string() + ": is not a directory");
    // Missing parents are made now and taken back on failure.
    for (fs::path p = target_.parent_path(); !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
      createdParents_.push_back(p);
      if (p == p.parent_path()) break;
    }
    for (auto it = createdParents_.rbegin(); it != createdParents_.rend(); ++it) {
      if (!fs::create_directory(*it, ec) && ec)
        throw InputError(it->string() + ": cannot create directory: " + Words(ec));
    }
    std::string leaf = target_.filename().string();
    leaf.insert(0, 1, '.');
    leaf.append(".extract-XXXXXX");
    std::string pattern = (target_.parent_path() / leaf).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      const int error = errno;
      RemoveParents();
      throw InputError(target_.parent_path().string() + ": cannot create a staging directory beside " +
                       target_.filename().string() + ": " + std::generic_category().message(error));
    }
    path_ = pattern;
    if (targetExists_) MirrorTarget();
  }

  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  ~Staging() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
    RemoveParents();
  }

  const fs::path& Path() const { return path_; }

  // Puts the staged tree in the target's place.
  void Commit() {
    if (!targetExists_) {
      if (::rename(path_.c_str(), target_.c_str()) != 0) Fail(errno);
    } else if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) != 0) {
      // Without an exchange: the target steps aside, the staged tree moves
      // in, and the target comes back when that fails.
      const fs::path aside = path_.string() + "-old";
      if (::rename(target_.c_str(), aside.c_str()) != 0) Fail(errno);
      if (::rename(path_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        ::rename(aside.c_str(), target_.c_str());
        Fail(error);
      }
      path_ = aside;
    }
    // path_ holds the old target now, or nothing.
    std::error_code ec;
    fs::remove_all(path_, ec);
    path_.clear();
  }

private:
  [[noreturn]] void Fail(int error) {
    throw InputError(target_.string() + ": cannot move the extracted files into place: " +
                     std::generic_category().message(error));
  }

  // The target's present files, linked (or copied) into the staging
  // directory, so that the members are written over them as over the target.
  void MirrorTarget() {
    std::error_code ec;
    fs::permissions(path_, fs::status(target_).permissions(), ec);
    for (auto it = fs::recursive_directory_iterator(target_); it != fs::recursive_directory_iterator(); ++it) {
      const fs::path to = path_ / fs::relative(it->path(), target_);
      const fs::file_status status = it->symlink_status();
      if (fs::is_directory(status)) {
        fs::create_directory(to, it->path(), ec);
      } else if (fs::is_symlink(status)) {
        fs::copy_symlink(it->path(), to, ec);
      } else {
        fs::create_hard_link(it->path(), to, ec);
        if (ec) fs::copy_file(it->path(), to, ec);
      }
      if (ec) throw InputError(it->path().string() + ": cannot stage the present file: " + Words(ec));
    }
  }

  void RemoveParents() {
    std::error_code ec;
    for (const fs::path& p : createdParents_) fs::remove(p, ec);
    createdParents_.clear();
  }

  fs::path target_;
  fs::path path_;
  bool targetExists_ = false;
  std::vector<fs::path> createdParents_;  // innermost first
};

ExtractSummary ExtractInto(const fs::path& program, std::span<const std::uint8_t> bytes,
                           const ArchiveListing& listing, const fs::path& target, unsigned codePage);

}  // namespace

ExtractSummary ExtractSetupProgram(const fs::path& program, const fs::path& directory, unsigned codePage) {
  const std::vector<std::uint8_t> bytes = ReadSetupProgramBytes(program);
  const ArchiveListing listing = ReadArchive(bytes);
  if (listing.error != kArchiveOk)
    throw InputError(program.string() + ": " + DescribeArchiveError(listing) + "; nothing extracted");

  // Every name is checked before the first file is written.
  for (const ArchiveMemberInfo& m : listing.members) CheckName(program, m.name);
  if (listing.trailing) {
    for (const TrailingMemberInfo& m : listing.trailing->members) CheckName(program, m.name);
  }

  // "out/" and "out" are the same target; "." and ".." name their directory.
  fs::path target = fs::absolute(directory).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  if (target == target.root_path())
    throw InputError(directory.string() + ": extract into a directory below the file system's root");
  try {
    return ExtractInto(program, bytes, listing, target, codePage);
  } catch (const fs::filesystem_error& e) {
    // A file name the host cannot take (too long once in UTF-8, say) ends
    // the extract like any other write failure.
    throw InputError(e.path1().string() + ": " + e.code().message());
  }
}

namespace {

ExtractSummary ExtractInto(const fs::path& program, std::span<const std::uint8_t> bytes,
                           const ArchiveListing& listing, const fs::path& target, unsigned codePage) {
  Staging staging(target);

  ExtractSummary summary;
  const fs::path beside = program.parent_path();
  for (const ArchiveMemberInfo& m : listing.members) {
    const FileEntryHeader& e = m.entry;
    std::vector<std::uint8_t> external;
    std::span<const std::uint8_t> stored;
    if (e.flags & kMemberExt) {
      const fs::path source = HostPath(beside, ExternalFileName(m.name), codePage);
      try {
        external = ReadWholeFile(source);
      } catch (const std::system_error& err) {
        throw InputError(source.string() + ": external member file of " + AnsiToUtf8(m.name, codePage) +
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
        throw InputError(program.string() + ": member " + AnsiToUtf8(m.name, codePage) +
                         " does not decompress (explode result " + std::to_string(result) + ")");
      stored = expanded;
    }
    const fs::path relative = HostPath((e.flags & kMemberSys) ? "system" : "", m.name, codePage);
    WriteMember(staging.Path(), target, relative, stored, FileEntryTime(e), summary.notes);
    ++summary.files;
    summary.bytes += stored.size();
  }

  if (listing.trailing) {
    for (const TrailingMemberInfo& m : listing.trailing->members) {
      const auto data = std::span<const std::uint8_t>(bytes).subspan(m.dataOffset, m.length);
      WriteMember(staging.Path(), target, HostPath("", m.name, codePage), data, m.lastWriteTime, summary.notes);
      ++summary.files;
      summary.bytes += data.size();
    }
  }
  staging.Commit();
  return summary;
}

}  // namespace
