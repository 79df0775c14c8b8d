#include "setuppack/archive_builder.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "base/le.hpp"

// ---------------------------------------------------------------- ArchiveWriter

ArchiveWriter& ArchiveWriter::Bytes(std::span<const std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

ArchiveWriter& ArchiveWriter::Chars(std::string_view text) {
  for (char c : text) bytes_.push_back(static_cast<std::uint8_t>(c));
  return *this;
}

ArchiveWriter& ArchiveWriter::U8(std::uint8_t value) {
  bytes_.push_back(value);
  return *this;
}

ArchiveWriter& ArchiveWriter::U16(std::uint16_t value) {
  std::uint8_t b[2];
  StoreLe16(b, value);
  return Bytes(b);
}

ArchiveWriter& ArchiveWriter::U32(std::uint32_t value) {
  std::uint8_t b[4];
  StoreLe32(b, value);
  return Bytes(b);
}

ArchiveWriter& ArchiveWriter::FileTime(std::uint64_t fileTime) {
  U32(static_cast<std::uint32_t>(fileTime));
  return U32(static_cast<std::uint32_t>(fileTime >> 32));
}

ArchiveWriter& ArchiveWriter::String(std::string_view text) {
  if (text.size() > kMaxArchiveString)
    throw std::length_error("a length-prefixed string holds at most 255 bytes");
  U8(static_cast<std::uint8_t>(text.size()));
  return Chars(text);
}

ArchiveWriter& ArchiveWriter::AbsentString() { return U8(0); }

ArchiveWriter& ArchiveWriter::OptionalString(const std::optional<std::string>& text) {
  return text ? String(*text) : AbsentString();
}

ArchiveWriter& ArchiveWriter::Header(const ArchiveHeader& header) {
  std::uint8_t b[kArchiveHeaderSize];
  StoreArchiveHeader(header, b);
  return Bytes(b);
}

ArchiveWriter& ArchiveWriter::EntryHeader(const FileEntryHeader& entry) {
  std::uint8_t b[kFileEntryHeaderSize];
  StoreFileEntryHeader(entry, b);
  return Bytes(b);
}

ArchiveWriter& ArchiveWriter::Version(MemberVersion version) {
  U32(version.ms);
  return U32(version.ls);
}

// -------------------------------------------------------------- SettingsStrings

std::optional<std::string>& SettingsStrings::operator[](std::size_t index) {
  std::optional<std::string>* fields[kSettingsStringCount] = {
      &runCommand, &helpFile,   &readmeFile,   &iniFile,  &launcherClasses, &iconGroup,
      &defaultPath, &configName, &launcherFile, &trayFile, &reservedString1, &reservedString2,
  };
  if (index >= kSettingsStringCount) throw std::out_of_range("settings string index");
  return *fields[index];
}

const std::optional<std::string>& SettingsStrings::operator[](std::size_t index) const {
  return const_cast<SettingsStrings&>(*this)[index];
}

std::size_t SettingsStrings::EncodedSize() const {
  std::size_t size = 0;
  for (const SettingsStringInfo& info : kSettingsStrings) {
    const auto& s = (*this)[info.index];
    size += 1 + (s ? s->size() : 0);
  }
  return size;
}

// ---------------------------------------------------------------- TrailingBlock

TrailingType TrailingBlock::Type() const {
  if (typeTag.size() != kTrailingTagSize) return kTrailingUnknown;
  return TrailingTypeFromTag(reinterpret_cast<const std::uint8_t*>(typeTag.data()));
}

bool TrailingBlock::HasConfigName() const { return TrailingHasConfigName(Type()); }

std::string ExternalFileName(std::string_view memberName) {
  std::string name(memberName);
  if (!name.empty()) MarkExternalFileName(name.data());
  return name;
}

// --------------------------------------------------------------- PackageBuilder

PackageBuilder::PackageBuilder() {
  header.magic[0] = 'Q';
  header.magic[1] = 'Z';
}

PackageMember& PackageBuilder::AddFile(std::string name, std::vector<std::uint8_t> data,
                                       std::uint8_t flags) {
  PackageMember member;
  member.name = std::move(name);
  member.flags = flags;
  member.originalSize = static_cast<std::uint32_t>(data.size());
  member.data = std::move(data);
  files.push_back(std::move(member));
  return files.back();
}

PackageMember& PackageBuilder::AddFile(std::string name, std::string_view text,
                                       std::uint8_t flags) {
  return AddFile(std::move(name), BytesOf(text), flags);
}

PackageMember& PackageBuilder::AddSystemFile(std::string name, std::vector<std::uint8_t> data,
                                             MemberVersion version) {
  PackageMember& member = AddFile(std::move(name), std::move(data), kMemberSys);
  member.version = version;
  return member;
}

PackageIcon& PackageBuilder::AddIcon(std::string name, std::optional<std::string> arguments,
                                     std::optional<std::string> target) {
  icons.push_back(PackageIcon{std::move(name), std::move(arguments), std::move(target)});
  return icons.back();
}

PackageIcon& PackageBuilder::AddUninstall(std::string displayName, std::string program) {
  return AddIcon(kUninstallIconMark + displayName, std::move(program));
}

TrailingMember& PackageBuilder::AddTrailingFile(std::string name, std::vector<std::uint8_t> data,
                                                std::uint64_t lastWriteTime) {
  if (!trailing) trailing.emplace();
  TrailingMember member;
  member.name = std::move(name);
  member.data = std::move(data);
  member.lastWriteTime = lastWriteTime;
  trailing->members.push_back(std::move(member));
  return trailing->members.back();
}

ArchiveHeader PackageBuilder::FinalHeader() const {
  ArchiveHeader h = header;
  h.fileCount = static_cast<std::uint16_t>(files.size());
  h.iconCount = static_cast<std::uint16_t>(icons.size());
  h.headerLength = static_cast<std::uint16_t>(kArchiveHeaderSize + settings.EncodedSize());
  std::uint32_t external = 0;
  for (const PackageMember& m : files) {
    if (m.flags & kMemberExt) external += static_cast<std::uint32_t>(m.data.size());
  }
  h.externalSize = external;
  return h;
}

static FileEntryHeader EntryHeaderOf(const PackageMember& m) {
  FileEntryHeader e{};
  e.tag = kEntryTag;
  e.flags = m.flags;
  e.storedLength = static_cast<std::uint32_t>(m.data.size());
  e.originalSize = m.originalSize;
  e.lastWriteTimeLow = static_cast<std::uint32_t>(m.lastWriteTime);
  e.lastWriteTimeHigh = static_cast<std::uint32_t>(m.lastWriteTime >> 32);
  return e;
}

std::vector<std::uint8_t> PackageBuilder::ArchiveBytes() const {
  ArchiveWriter w;
  w.Header(FinalHeader());
  for (const SettingsStringInfo& info : kSettingsStrings) w.OptionalString(settings[info.index]);

  for (const PackageMember& m : files) {
    w.EntryHeader(EntryHeaderOf(m));
    w.String(m.name);
    if (m.flags & kMemberSys) w.Version(m.version);
    if (!(m.flags & kMemberExt)) w.Bytes(m.data);
  }

  for (const PackageIcon& icon : icons) {
    w.OptionalString(icon.name);
    w.OptionalString(icon.arguments);
    w.OptionalString(icon.target);
  }

  if (trailing) {
    const TrailingBlock& t = *trailing;
    const TrailingType type = t.Type();
    if (type == kTrailingUnknown)
      throw std::invalid_argument("the trailing block's type tag must be QZ, CT or DS, not " + t.typeTag);
    if (t.members.size() > kMaxTrailingCount)
      throw std::length_error("a trailing block holds at most 100 members");
    w.Chars(t.typeTag);
    if (t.HasConfigName()) w.OptionalString(t.configName);
    w.U16(static_cast<std::uint16_t>(t.members.size()));
    for (const TrailingMember& m : t.members) {
      const TrailingEntryHead head = {static_cast<std::uint32_t>(m.data.size()),
                                      static_cast<std::uint32_t>(m.lastWriteTime),
                                      static_cast<std::uint32_t>(m.lastWriteTime >> 32)};
      std::uint8_t b[kFileEntryHeaderSize];
      StoreTrailingEntryHead(type, head, b);
      w.Bytes(std::span<const std::uint8_t>(b, TrailingEntryHeadSize(type)));
      w.String(m.name);
      w.Bytes(m.data);
      if (TrailingEndMarkerSize(type) != 0) w.U8(kEntryTag);
    }
  }
  return w.Take();
}

std::vector<ExternalFile> PackageBuilder::ExternalFiles() const {
  std::vector<ExternalFile> result;
  for (const PackageMember& m : files) {
    if (m.flags & kMemberExt) result.push_back(ExternalFile{ExternalFileName(m.name), m.data});
  }
  return result;
}

void PackageBuilder::WriteTo(const std::filesystem::path& path,
                             const std::filesystem::path& stubPath) const {
  const std::vector<std::uint8_t> stub = ReadWholeFile(stubPath);
  WriteTo(path, stub);
}

void PackageBuilder::WriteTo(const std::filesystem::path& path,
                             std::span<const std::uint8_t> stub) const {
  WriteSetupProgram(path, stub, ArchiveBytes(), ExternalFiles());
}

// ------------------------------------------------------------------ file output

std::vector<std::uint8_t> ComposeSetupProgram(std::span<const std::uint8_t> stub,
                                              std::span<const std::uint8_t> archive) {
  if (stub.size() > kArchiveOffset)
    throw std::length_error("the stub is " + std::to_string(stub.size()) +
                            " bytes long; it must end at or before offset " +
                            std::to_string(kArchiveOffset));
  std::vector<std::uint8_t> program;
  program.reserve(kArchiveOffset + archive.size());
  program.insert(program.end(), stub.begin(), stub.end());
  program.resize(kArchiveOffset, 0);
  program.insert(program.end(), archive.begin(), archive.end());
  return program;
}

namespace {

[[noreturn]] void ThrowIo(const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) ThrowIo("cannot create", path);
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int savedErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    errno = written ? errno : savedErrno;
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    ThrowIo("cannot write", path);
  }
}

// Temporary files beside their targets; removed again unless committed.
class StagedFiles {
public:
  ~StagedFiles() {
    std::error_code ignored;
    for (const auto& [temp, target] : staged_) std::filesystem::remove(temp, ignored);
  }

  void Stage(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
             bool executable = false) {
    std::filesystem::path temp = target;
    temp += ".tmp-setuppack-" + std::to_string(::getpid());
    staged_.emplace_back(temp, target);
    WriteBytes(temp, bytes);
    if (executable) {
      using std::filesystem::perms;
      std::error_code ignored;
      std::filesystem::permissions(temp, perms::owner_exec | perms::group_exec | perms::others_exec,
                                   std::filesystem::perm_options::add, ignored);
    }
  }

  void Commit() {
    for (std::size_t i = 0; i < staged_.size(); ++i) {
      std::error_code ec;
      std::filesystem::rename(staged_[i].first, staged_[i].second, ec);
      if (ec) {
        // Take back what was already renamed, so that no half package stays.
        std::error_code ignored;
        for (std::size_t j = 0; j < i; ++j) std::filesystem::remove(staged_[j].second, ignored);
        throw std::system_error(ec, "cannot rename to " + staged_[i].second.string());
      }
    }
    staged_.clear();
  }

private:
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> staged_;
};

}  // namespace

void WriteSetupProgram(const std::filesystem::path& path, std::span<const std::uint8_t> stub,
                       std::span<const std::uint8_t> archive,
                       const std::vector<ExternalFile>& externals) {
  const std::vector<std::uint8_t> program = ComposeSetupProgram(stub, archive);
  const std::filesystem::path directory = path.parent_path();
  StagedFiles staged;
  for (const ExternalFile& external : externals) {
    std::string relative = external.fileName;
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    staged.Stage(directory / relative, external.data);
  }
  staged.Stage(path, program, true);
  staged.Commit();
}

// ------------------------------------------------------------------------ times

std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(kFileTimeUnixEpoch) +
                                    seconds * 10000000 + nanoseconds / 100);
}

UnixTime UnixFromFileTime(std::uint64_t fileTime) {
  const std::int64_t ticks = static_cast<std::int64_t>(fileTime) -
                             static_cast<std::int64_t>(kFileTimeUnixEpoch);
  std::int64_t seconds = ticks / 10000000;
  std::int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  return UnixTime{seconds, static_cast<std::uint32_t>(rest * 100)};
}

// ------------------------------------------------------------------ file input

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) ThrowIo("cannot open", path);
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) ThrowIo("cannot read", path);
  return bytes;
}

std::vector<std::uint8_t> BytesOf(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}
