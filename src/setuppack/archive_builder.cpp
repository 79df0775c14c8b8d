#include "setuppack/archive_builder.hpp"

#include <stdexcept>

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

void ArchiveWriter::PatchU16(std::size_t offset, std::uint16_t value) {
  if (offset + 2 > bytes_.size()) throw std::out_of_range("PatchU16 beyond the written bytes");
  StoreLe16(bytes_.data() + offset, value);
}

void ArchiveWriter::PatchU32(std::size_t offset, std::uint32_t value) {
  if (offset + 4 > bytes_.size()) throw std::out_of_range("PatchU32 beyond the written bytes");
  StoreLe32(bytes_.data() + offset, value);
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
  return AddIcon("*" + displayName, std::move(program));
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
  if (!computeHeader) return h;
  h.fileCount = static_cast<std::uint16_t>(files.size());
  h.iconCount = static_cast<std::uint16_t>(icons.size());
  h.headerLength = static_cast<std::uint16_t>(kArchiveHeaderSize + settings.EncodedSize());
  std::uint32_t external = 0;
  for (const PackageMember& m : files) {
    if (m.flags & kMemberExt)
      external += m.storedLengthOverride.value_or(static_cast<std::uint32_t>(m.data.size()));
  }
  h.externalSize = external;
  return h;
}

static FileEntryHeader EntryHeaderOf(const PackageMember& m) {
  FileEntryHeader e{};
  e.tag = m.tag;
  e.flags = m.flags;
  e.storedLength = m.storedLengthOverride.value_or(static_cast<std::uint32_t>(m.data.size()));
  e.originalSize = m.originalSize;
  e.lastWriteTimeLow = static_cast<std::uint32_t>(m.lastWriteTime);
  e.lastWriteTimeHigh = static_cast<std::uint32_t>(m.lastWriteTime >> 32);
  return e;
}

std::vector<std::uint8_t> PackageBuilder::ArchiveBytes() const {
  ArchiveWriter w;
  w.Header(FinalHeader());
  for (std::size_t i = 0; i < kSettingsStringCount; ++i) w.OptionalString(settings[i]);

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
    w.Chars(t.typeTag);
    if (t.HasConfigName()) w.OptionalString(t.configName);
    w.U16(t.countOverride.value_or(static_cast<std::uint16_t>(t.members.size())));
    const bool qz = t.typeTag == "QZ";
    for (const TrailingMember& m : t.members) {
      const auto length = static_cast<std::uint32_t>(m.data.size());
      if (qz) {
        FileEntryHeader e{};
        e.tag = m.tag;
        e.flags = m.flags;
        e.storedLength = length;
        e.originalSize = length;
        e.lastWriteTimeLow = static_cast<std::uint32_t>(m.lastWriteTime);
        e.lastWriteTimeHigh = static_cast<std::uint32_t>(m.lastWriteTime >> 32);
        w.EntryHeader(e);
        w.String(m.name);
        w.Bytes(m.data);
      } else {
        w.U32(length);
        w.String(m.name);
        w.Bytes(m.data);
        w.U8(m.tag);
      }
    }
  }

  w.Bytes(tail);
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
