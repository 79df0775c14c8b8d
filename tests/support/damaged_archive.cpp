#include "support/damaged_archive.hpp"

#include <stdexcept>

#include "base/le.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "support/sample_data.hpp"

DamagedProgram::DamagedProgram(std::vector<std::uint8_t> program)
    : bytes_(std::move(program)), listing_(ReadArchive(bytes_)) {}

std::uint8_t* DamagedProgram::At(std::uint64_t offset, std::size_t width) {
  if (offset + width > bytes_.size()) throw std::out_of_range("patch beyond the program's end");
  return bytes_.data() + offset;
}

const ArchiveMemberInfo& DamagedProgram::Member(std::size_t index) const {
  if (index >= listing_.members.size()) throw std::out_of_range("no such file entry");
  return listing_.members[index];
}

const TrailingInfo& DamagedProgram::Trailing() const {
  if (!listing_.trailing) throw std::out_of_range("no trailing block");
  return *listing_.trailing;
}

const TrailingMemberInfo& DamagedProgram::TrailingMember(std::size_t index) const {
  if (index >= Trailing().members.size()) throw std::out_of_range("no such trailing entry");
  return Trailing().members[index];
}

TrailingType DamagedProgram::Type() const {
  return TrailingTypeFromTag(reinterpret_cast<const std::uint8_t*>(Trailing().typeTag.data()));
}

void DamagedProgram::SetMagic(std::string_view magic) {
  std::uint8_t* p = At(kArchiveOffset + kHeaderMagicOffset, 2);
  p[0] = static_cast<std::uint8_t>(magic.at(0));
  p[1] = static_cast<std::uint8_t>(magic.at(1));
}

void DamagedProgram::SetFileCount(std::uint16_t count) {
  StoreLe16(At(kArchiveOffset + kHeaderFileCountOffset, 2), count);
}

void DamagedProgram::SetIconCount(std::uint16_t count) {
  StoreLe16(At(kArchiveOffset + kHeaderIconCountOffset, 2), count);
}

void DamagedProgram::SetHeaderLength(std::uint16_t length) {
  StoreLe16(At(kArchiveOffset + kHeaderLengthOffset, 2), length);
}

void DamagedProgram::SetExternalSize(std::uint32_t size) {
  StoreLe32(At(kArchiveOffset + kHeaderExternalSizeOffset, 4), size);
}

void DamagedProgram::SetEntryTag(std::size_t index, std::uint8_t tag) {
  *At(Member(index).entryOffset + kEntryTagOffset, 1) = tag;
}

void DamagedProgram::SetEntryStoredLength(std::size_t index, std::uint32_t length) {
  StoreLe32(At(Member(index).entryOffset + kEntryStoredLengthOffset, 4), length);
}

void DamagedProgram::SetEntryNameLength(std::size_t index, std::uint8_t length) {
  *At(Member(index).entryOffset + kFileEntryHeaderSize, 1) = length;
}

void DamagedProgram::SetIconNameLength(std::size_t index, std::uint8_t length) {
  if (index >= listing_.iconOffsets.size()) throw std::out_of_range("no such icon entry");
  *At(listing_.iconOffsets[index], 1) = length;
}

void DamagedProgram::SetTrailingType(std::string_view tag) {
  std::uint8_t* p = At(Trailing().offset, kTrailingTagSize);
  p[0] = static_cast<std::uint8_t>(tag.at(0));
  p[1] = static_cast<std::uint8_t>(tag.at(1));
}

void DamagedProgram::SetTrailingCount(std::uint16_t count) {
  StoreLe16(At(Trailing().countOffset, kTrailingCountSize), count);
}

void DamagedProgram::SetTrailingEntryTag(std::size_t index, std::uint8_t tag) {
  if (Type() != kTrailingQz) throw std::out_of_range("only a \"QZ\" entry has a tag");
  *At(TrailingMember(index).entryOffset + kEntryTagOffset, 1) = tag;
}

void DamagedProgram::SetTrailingEntryFlags(std::size_t index, std::uint8_t flags) {
  if (Type() != kTrailingQz) throw std::out_of_range("only a \"QZ\" entry has flags");
  *At(TrailingMember(index).entryOffset + kEntryFlagsOffset, 1) = flags;
}

void DamagedProgram::SetTrailingDataLength(std::size_t index, std::uint32_t length) {
  const std::uint64_t at = TrailingMember(index).entryOffset;
  StoreLe32(At(Type() == kTrailingQz ? at + kEntryStoredLengthOffset : at, 4), length);
}

void DamagedProgram::SetTrailingNameLength(std::size_t index, std::uint8_t length) {
  *At(TrailingMember(index).entryOffset + TrailingEntryHeadSize(Type()), 1) = length;
}

void DamagedProgram::SetEndMarker(std::size_t index, std::uint8_t marker) {
  if (TrailingEndMarkerSize(Type()) == 0) throw std::out_of_range("a \"QZ\" entry has no end marker");
  const TrailingMemberInfo& member = TrailingMember(index);
  *At(member.dataOffset + member.length, 1) = marker;
}

void DamagedProgram::CutAt(std::uint64_t offset) {
  if (offset > bytes_.size()) throw std::out_of_range("cut beyond the program's end");
  bytes_.resize(offset);
}

void DamagedProgram::CutInsideEntryHeader(std::size_t index, std::size_t keep) {
  CutAt(Member(index).entryOffset + keep);
}

void DamagedProgram::CutInsideTrailingHead(std::size_t index, std::size_t keep) {
  CutAt(TrailingMember(index).entryOffset + keep);
}

void DamagedProgram::Append(std::span<const std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

// ------------------------------------------------------------------ the table

namespace {

void First(PackageBuilder& p) { p.AddFile("first.txt", "first"); }

// first.txt, bad.txt, after.txt in the main table.
void ThreeMembers(PackageBuilder& p) {
  p.AddFile("first.txt", "first");
  p.AddFile("bad.txt", "bad");
  p.AddFile("after.txt", "after");
}

// main.txt in the main table, and a trailing block of `type` with first.txt,
// bad.txt and after.txt.
void TrailingBlockOf(PackageBuilder& p, const char* type) {
  p.header.flags = static_cast<std::uint8_t>(p.header.flags & ~kHeaderFlagNoTrailing);
  p.AddFile("main.txt", "main");
  TrailingBlock& block = p.trailing.emplace();
  block.typeTag = type;
  block.configName = "Office";
  p.AddTrailingFile("first.txt", BytesOf("first"), kSampleTime);
  p.AddTrailingFile("bad.txt", BytesOf("bad"), kSampleTime);
  p.AddTrailingFile("after.txt", BytesOf("after"), kSampleTime);
}

void QzBlock(PackageBuilder& p) { TrailingBlockOf(p, "QZ"); }
void CtBlock(PackageBuilder& p) { TrailingBlockOf(p, "CT"); }
void DsBlock(PackageBuilder& p) { TrailingBlockOf(p, "DS"); }

// Columns: name, stage, build, damage, error, errorText, firstInstalled,
// faultyInstalled.
const std::vector<DamagedArchive> kDamagedArchives = {
    // Opening: the header and the settings strings.
    {"ProgramWithoutArchive", ArchiveStage::kOpening, First,
     [](DamagedProgram& d) { d.CutAt(kArchiveOffset); }, kArchiveHeaderMissing, "Archive Header missing", false,
     false},
    {"OnlyTheHeaderBytes", ArchiveStage::kOpening, First,
     [](DamagedProgram& d) { d.CutAt(kArchiveOffset + kArchiveHeaderSize); }, kArchiveHeaderMissing,
     "Archive Header missing", false, false},
    {"SwappedMagic", ArchiveStage::kOpening, First, [](DamagedProgram& d) { d.SetMagic("ZQ"); },
     kArchiveHeaderInvalid, "Archive Header invalid", false, false},
    {"HeaderLengthOffByOne", ArchiveStage::kOpening, First,
     [](DamagedProgram& d) { d.SetHeaderLength(static_cast<std::uint16_t>(d.Listing().header.headerLength + 1)); },
     kArchiveHeaderLength, "Archive Header length wrong", false, false},
    {"NoDefaultPath", ArchiveStage::kOpening,
     [](PackageBuilder& p) {
       First(p);
       p.settings.defaultPath.reset();
     },
     nullptr, kArchiveDefaultPathMissing, "Default Path missing", false, false},
    {"NoRunCommand", ArchiveStage::kOpening,
     [](PackageBuilder& p) {
       First(p);
       p.settings.runCommand.reset();
     },
     nullptr, kArchiveRunCommandMissing, "Run Command missing", false, false},
    {"DefaultPathIsReportedBeforeRunCommand", ArchiveStage::kOpening,
     [](PackageBuilder& p) {
       First(p);
       p.settings.defaultPath.reset();
       p.settings.runCommand.reset();
     },
     nullptr, kArchiveDefaultPathMissing, "Default Path missing", false, false},

    // The main file table.
    {"EntryTagOtherThanF", ArchiveStage::kMainTable, ThreeMembers,
     [](DamagedProgram& d) { d.SetEntryTag(1, 'G'); }, kArchiveFileHeaderInvalid, "File Header invalid", true,
     false},
    {"EmptyMemberName", ArchiveStage::kMainTable, ThreeMembers,
     [](DamagedProgram& d) { d.SetEntryNameLength(1, 0); }, kArchiveNameMissing, "File name missing", true, false},
    {"StoredLengthBeyondTheTotal", ArchiveStage::kMainTable, ThreeMembers,
     [](DamagedProgram& d) { d.SetEntryStoredLength(1, 0x7FFFFFFF); }, kArchiveBadLength,
     "Compressed length invalid", true, false},
    {"FileEndsInsideAnEntryHeader", ArchiveStage::kMainTable, ThreeMembers,
     [](DamagedProgram& d) { d.CutInsideEntryHeader(1, 8); }, kArchiveReadFailed, "Read failed", true, false},
    {"MoreFilesAnnouncedThanPresent", ArchiveStage::kMainTable, First,
     [](DamagedProgram& d) { d.SetFileCount(2); }, kArchiveReadFailed, "Read failed", true, false},

    // The icon table.
    {"IconEntryWithoutName", ArchiveStage::kIconTable,
     [](PackageBuilder& p) {
       First(p);
       p.settings.iconGroup = "Korvane Damaged Archive";
       p.AddUninstall("Korvane Online Backup", "uninst.exe");
       p.AddIcon("Korvane Backup", std::string("-x"), std::string("first.txt"));
     },
     [](DamagedProgram& d) { d.SetIconNameLength(1, 0); }, kArchiveReadFailed, "Read failed", true, false},

    // The trailing block.
    {"UnknownTrailingType", ArchiveStage::kTrailingBlock, QzBlock,
     [](DamagedProgram& d) { d.SetTrailingType("XY"); }, kArchiveBadSignature, "Bad Signature", false, false},
    {"TrailingCountAbove100", ArchiveStage::kTrailingBlock, QzBlock,
     [](DamagedProgram& d) { d.SetTrailingCount(101); }, kArchiveBadFileCount, "Number of files invalid", false,
     false},
    {"TrailingDataBeyondTheTotal", ArchiveStage::kTrailingBlock, CtBlock,
     [](DamagedProgram& d) { d.SetTrailingDataLength(1, 100000); }, kArchiveBadLength,
     "Compressed length invalid", true, false},
    // The last member, after.txt, loses its end marker and a data byte.
    {"TrailingBlockCutShort", ArchiveStage::kTrailingBlock, DsBlock,
     [](DamagedProgram& d) { d.CutAt(d.Bytes().size() - 2); }, kArchiveBadLength, "Compressed length invalid",
     true, true},
    {"EmptyTrailingName", ArchiveStage::kTrailingBlock, QzBlock,
     [](DamagedProgram& d) { d.SetTrailingNameLength(1, 0); }, kArchiveNameMissing, "File name missing", true,
     false},
    {"EndMarkerMissing", ArchiveStage::kTrailingBlock, CtBlock,
     [](DamagedProgram& d) { d.SetEndMarker(1, 'X'); }, kArchiveEndMarkerMissing, "End of file marker missing",
     true, true},
    {"QzEntryWithFlags", ArchiveStage::kTrailingBlock, QzBlock,
     [](DamagedProgram& d) { d.SetTrailingEntryFlags(1, kMemberCmp); }, kArchiveFileHeaderInvalid,
     "File Header invalid", true, false},
    {"QzEntryTagOtherThanF", ArchiveStage::kTrailingBlock, QzBlock,
     [](DamagedProgram& d) { d.SetTrailingEntryTag(1, 'G'); }, kArchiveFileHeaderInvalid, "File Header invalid",
     true, false},
    {"QzEntryHeaderCutShort", ArchiveStage::kTrailingBlock, QzBlock,
     [](DamagedProgram& d) { d.CutInsideTrailingHead(1, 6); }, kArchiveReadFailed, "Read failed", true, false},
};

}  // namespace

const std::vector<DamagedArchive>& DamagedArchives() { return kDamagedArchives; }

void PrintTo(const DamagedArchive& damaged, std::ostream* os) { *os << damaged.name; }

const DamagedArchive& FindDamagedArchive(std::string_view name) {
  for (const DamagedArchive& damaged : kDamagedArchives) {
    if (name == damaged.name) return damaged;
  }
  throw std::out_of_range("no damaged archive " + std::string(name));
}

std::vector<std::uint8_t> BuildDamagedProgram(const DamagedArchive& damaged, PackageBuilder base,
                                              std::span<const std::uint8_t> stub) {
  damaged.build(base);
  DamagedProgram program(ComposeSetupProgram(stub, base.ArchiveBytes()));
  if (damaged.damage != nullptr) damaged.damage(program);
  return program.Bytes();
}
