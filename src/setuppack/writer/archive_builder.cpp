#include "setuppack/writer/archive_builder.hpp"

#include <stdexcept>

#include "base/le.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/writer/setup_program.hpp"

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

std::vector<std::uint8_t> PackageBuilder::HeadBytes() const {
  ArchiveWriter w;
  w.Header(FinalHeader());
  for (const SettingsStringInfo& info : kSettingsStrings) w.OptionalString(settings[info.index]);
  return w.Take();
}

std::vector<std::uint8_t> PackageBuilder::MemberHeadBytes(const PackageMember& m) {
  ArchiveWriter w;
  w.EntryHeader(EntryHeaderOf(m));
  w.String(m.name);
  if (m.flags & kMemberSys) w.Version(m.version);
  return w.Take();
}

std::vector<std::uint8_t> PackageBuilder::TailBytes() const {
  ArchiveWriter w;
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

std::vector<std::uint8_t> PackageBuilder::ArchiveBytes() const {
  // The small parts first, so that the data is copied once into a buffer of
  // the right size.
  std::vector<std::uint8_t> bytes = HeadBytes();
  std::vector<std::vector<std::uint8_t>> memberHeads;
  std::size_t size = bytes.size();
  for (const PackageMember& m : files) {
    memberHeads.push_back(MemberHeadBytes(m));
    size += memberHeads.back().size() + ((m.flags & kMemberExt) ? 0 : m.data.size());
  }
  const std::vector<std::uint8_t> tail = TailBytes();
  bytes.reserve(size + tail.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    bytes.insert(bytes.end(), memberHeads[i].begin(), memberHeads[i].end());
    if (!(files[i].flags & kMemberExt)) bytes.insert(bytes.end(), files[i].data.begin(), files[i].data.end());
  }
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
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
