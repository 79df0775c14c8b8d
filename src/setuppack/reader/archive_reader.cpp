#include "setuppack/reader/archive_reader.hpp"

#include "base/le.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"

namespace {

// A forward reader over the program bytes that keeps setup.exe's progress
// counter: progressDone counts every archive byte consumed, progressTotal is
// the archive plus the external data (the limit of archive error 4).
class Cursor {
public:
  explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint64_t Position() const { return position_; }
  std::uint64_t Left() const { return bytes_.size() - position_; }
  bool Has(std::uint64_t n) const { return n <= Left(); }

  const std::uint8_t* Here() const { return bytes_.data() + position_; }
  const std::uint8_t* Take(std::uint64_t n) {
    const std::uint8_t* p = bytes_.data() + position_;
    position_ += n;
    return p;
  }
  void Seek(std::uint64_t position) { position_ = position; }

private:
  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
};

class Reader {
public:
  Reader(std::span<const std::uint8_t> program, ArchiveListing& out)
      : in_(program), out_(out) {}

  void Run();

private:
  bool Stop(int code, std::uint64_t offset, std::string detail) {
    out_.error = code;
    out_.errorOffset = offset;
    out_.errorDetail = std::move(detail);
    return false;
  }

  // A length-prefixed string. False (error 11) when the file ends inside it.
  bool ReadString(std::optional<std::string>& text, const char* what) {
    const std::uint64_t at = in_.Position();
    if (!in_.Has(1)) return Stop(kArchiveReadFailed, at, std::string("the file ends before ") + what);
    ArchiveStringView view;
    const std::size_t size = ParseArchiveString(in_.Here(), in_.Left(), &view);
    if (size == 0) return Stop(kArchiveReadFailed, at, std::string("the file ends inside ") + what);
    in_.Take(size);
    progressDone_ += size;
    if (view.length == 0) text.reset();
    else text = std::string(view.text, view.length);
    return true;
  }

  bool ReadHeaderAndSettings();
  bool ReadMainTable();
  bool ReadIconTable();
  bool ReadTrailingBlock();

  Cursor in_;
  ArchiveListing& out_;
  std::uint64_t progressDone_ = 0;
  std::uint64_t progressTotal_ = 0;
};

void Reader::Run() {
  out_.fileSize = in_.Left();
  if (ReadHeaderAndSettings() && ReadMainTable() && ReadIconTable() && ReadTrailingBlock())
    out_.archiveEnd = in_.Position();
}

bool Reader::ReadHeaderAndSettings() {
  if (out_.fileSize <= kArchiveOffset + kArchiveHeaderSize)
    return Stop(kArchiveHeaderMissing, out_.fileSize,
                "the file is " + std::to_string(out_.fileSize) +
                    " bytes long; an archive needs more than 61468");
  in_.Seek(kArchiveOffset);
  LoadArchiveHeader(in_.Take(kArchiveHeaderSize), &out_.header);
  if (!HasArchiveMagic(out_.header))
    return Stop(kArchiveHeaderInvalid, kArchiveOffset, "the magic is not \"QZ\"");
  progressDone_ = kArchiveHeaderSize;
  progressTotal_ = out_.header.externalSize + (out_.fileSize - kArchiveOffset);
  for (const SettingsStringInfo& info : kSettingsStrings) {
    if (!ReadString(out_.settings[info.index], info.field)) return false;
  }
  if (out_.header.headerLength != progressDone_)
    return Stop(kArchiveHeaderLength, kArchiveOffset + kHeaderLengthOffset,
                "headerLength is " + std::to_string(out_.header.headerLength) +
                    ", the header and settings strings take " + std::to_string(progressDone_));
  if (!out_.settings.defaultPath)
    return Stop(kArchiveDefaultPathMissing, kArchiveOffset, "defaultPath is absent");
  if (!out_.settings.runCommand)
    return Stop(kArchiveRunCommandMissing, kArchiveOffset, "runCommand is absent");
  out_.headerRead = true;
  return true;
}

bool Reader::ReadMainTable() {
  for (std::uint32_t i = 0; i < out_.header.fileCount; ++i) {
    const std::uint64_t at = in_.Position();
    const std::string which = "file entry " + std::to_string(i);
    if (!in_.Has(kFileEntryHeaderSize))
      return Stop(kArchiveReadFailed, at, "the file ends inside the header of " + which);
    ArchiveMemberInfo member;
    member.entryOffset = at;
    LoadFileEntryHeader(in_.Take(kFileEntryHeaderSize), &member.entry);
    progressDone_ += kFileEntryHeaderSize;
    if (member.entry.tag != kEntryTag)
      return Stop(kArchiveFileHeaderInvalid, at, "the tag of " + which + " is not 'F'");
    std::optional<std::string> name;
    if (!ReadString(name, "a member name")) return false;
    if (!name) return Stop(kArchiveNameMissing, at + kFileEntryHeaderSize, which + " has no name");
    member.name = *name;
    if (ReachesBeyondProgressTotal(progressDone_, member.entry.storedLength, progressTotal_))
      return Stop(kArchiveBadLength, at,
                  which + " (" + AnsiToUtf8(member.name) + ") claims " +
                      std::to_string(member.entry.storedLength) +
                      " stored bytes, more than the archive holds");
    if (member.entry.flags & kMemberSys) {
      if (!in_.Has(kMemberVersionSize))
        return Stop(kArchiveReadFailed, in_.Position(), "the file ends inside the version of " + which);
      const std::uint8_t* v = in_.Take(kMemberVersionSize);
      member.version = MemberVersion{LoadLe32(v), LoadLe32(v + 4)};
      progressDone_ += kMemberVersionSize;
    }
    progressDone_ += member.entry.storedLength;
    if (!(member.entry.flags & kMemberExt)) {
      member.dataOffset = in_.Position();
      if (!in_.Has(member.entry.storedLength)) {
        out_.members.push_back(member);
        return Stop(kArchiveReadFailed, in_.Position(),
                    "the file ends inside the data of " + which + " (" + AnsiToUtf8(member.name) + ")");
      }
      in_.Take(member.entry.storedLength);
    }
    out_.members.push_back(std::move(member));
  }
  return true;
}

bool Reader::ReadIconTable() {
  for (std::uint32_t i = 0; i < out_.header.iconCount; ++i) {
    const std::uint64_t at = in_.Position();
    out_.iconOffsets.push_back(at);
    PackageIcon icon;
    if (!ReadString(icon.name, "an icon name")) return false;
    if (!icon.name) return Stop(kArchiveReadFailed, at, "icon entry " + std::to_string(i) + " has no name");
    if (!ReadString(icon.arguments, "icon arguments") || !ReadString(icon.target, "an icon target"))
      return false;
    out_.icons.push_back(std::move(icon));
  }
  return true;
}

bool Reader::ReadTrailingBlock() {
  if (out_.header.flags & kHeaderFlagNoTrailing) return true;
  if (in_.Left() == 0) return true;
  const std::uint64_t at = in_.Position();
  if (!in_.Has(kTrailingTagSize))
    return Stop(kArchiveBadSignature, at, "one stray byte behind the icon table");
  const std::uint8_t* tag = in_.Take(kTrailingTagSize);
  const TrailingType type = TrailingTypeFromTag(tag);
  if (type == kTrailingUnknown)
    return Stop(kArchiveBadSignature, at, "the trailing block's type tag is not QZ, CT or DS");
  TrailingInfo& t = out_.trailing.emplace();
  t.offset = at;
  t.typeTag.assign(reinterpret_cast<const char*>(tag), kTrailingTagSize);
  if (TrailingHasConfigName(type) && !ReadString(t.configName, "the configuration name")) return false;
  t.countOffset = in_.Position();
  if (!in_.Has(kTrailingCountSize))
    return Stop(kArchiveReadFailed, t.countOffset, "the file ends before trailingCount");
  t.count = LoadLe16(in_.Take(kTrailingCountSize));
  if (!IsTrailingCountAllowed(t.count))
    return Stop(kArchiveBadFileCount, t.countOffset,
                "trailingCount is " + std::to_string(t.count) + ", at most 100 are allowed");
  progressDone_ += kTrailingTagSize + kTrailingCountSize;
  const std::size_t headSize = TrailingEntryHeadSize(type);
  const std::size_t markerSize = TrailingEndMarkerSize(type);
  for (std::uint32_t i = 0; i < t.count; ++i) {
    const std::uint64_t entryAt = in_.Position();
    const std::string which = "trailing entry " + std::to_string(i);
    TrailingMemberInfo member;
    member.entryOffset = entryAt;
    if (!in_.Has(headSize))
      return Stop(kArchiveReadFailed, entryAt,
                  std::string("the file ends inside the ") + (type == kTrailingQz ? "header" : "length") +
                      " of " + which);
    TrailingEntryHead head;
    const int headCode = LoadTrailingEntryHead(type, in_.Take(headSize), &head);
    progressDone_ += headSize;
    if (headCode != kArchiveOk)
      return Stop(headCode, entryAt, which + " needs the tag 'F' and the flags 0");
    member.length = head.dataLength;
    member.lastWriteTime = std::uint64_t{head.lastWriteTimeHigh} << 32 | head.lastWriteTimeLow;
    std::optional<std::string> name;
    if (!ReadString(name, "a member name")) return false;
    if (!name) return Stop(kArchiveNameMissing, entryAt, which + " has no name");
    member.name = *name;
    if (ReachesBeyondProgressTotal(progressDone_, std::uint64_t{member.length} + markerSize, progressTotal_))
      return Stop(kArchiveBadLength, entryAt,
                  which + " (" + AnsiToUtf8(member.name) + ") claims " + std::to_string(member.length) +
                      " bytes, more than the archive holds");
    member.dataOffset = in_.Position();
    if (!in_.Has(member.length))
      return Stop(kArchiveReadFailed, member.dataOffset,
                  "the file ends inside the data of " + which + " (" + AnsiToUtf8(member.name) + ")");
    in_.Take(member.length);
    progressDone_ += member.length;
    t.members.push_back(member);
    if (markerSize != 0) {
      if (!in_.Has(markerSize) || *in_.Take(markerSize) != kEntryTag)
        return Stop(kArchiveEndMarkerMissing, member.dataOffset + member.length,
                    which + " (" + AnsiToUtf8(member.name) + ") is not followed by 'F'");
      progressDone_ += markerSize;
    }
  }
  return true;
}

}  // namespace

const std::optional<std::string>& ArchiveListing::EffectiveConfigName() const {
  if (trailing &&
      TrailingHasConfigName(TrailingTypeFromTag(reinterpret_cast<const std::uint8_t*>(trailing->typeTag.data()))))
    return trailing->configName;
  return settings.configName;
}

ArchiveListing ReadArchive(std::span<const std::uint8_t> program) {
  ArchiveListing listing;
  Reader(program, listing).Run();
  return listing;
}

std::string DescribeArchiveError(const ArchiveListing& listing) {
  const char* text = ArchiveErrorText(listing.error);
  std::string message = "archive error " + std::to_string(listing.error);
  if (text) message += std::string(" (") + text + ")";
  message += " at offset " + std::to_string(listing.errorOffset);
  if (!listing.errorDetail.empty()) message += ": " + listing.errorDetail;
  return message;
}

std::vector<std::uint8_t> ReadSetupProgramBytes(const std::filesystem::path& path) {
  try {
    return ReadWholeFile(path);
  } catch (const std::system_error& e) {
    throw InputError(path.string() + ": cannot read the setup program: " + e.code().message());
  }
}
