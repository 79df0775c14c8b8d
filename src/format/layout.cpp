#include "format/layout.hpp"

#include "base/le.hpp"

std::size_t ParseArchiveString(const std::uint8_t* bytes, std::size_t available,
                               ArchiveStringView* string) {
  if (available == 0 || bytes[0] >= available) return 0;
  string->length = bytes[0];
  string->text = reinterpret_cast<const char*>(bytes + 1);
  return 1u + bytes[0];
}

void LoadArchiveHeader(const std::uint8_t* bytes, ArchiveHeader* header) {
  header->magic[0] = static_cast<char>(bytes[kHeaderMagicOffset]);
  header->magic[1] = static_cast<char>(bytes[kHeaderMagicOffset + 1]);
  header->flags = bytes[kHeaderFlagsOffset];
  header->fileCount = LoadLe16(bytes + kHeaderFileCountOffset);
  header->iconCount = LoadLe16(bytes + kHeaderIconCountOffset);
  header->requiredSpace = LoadLe32(bytes + kHeaderRequiredSpaceOffset);
  header->helpContext = LoadLe16(bytes + kHeaderHelpContextOffset);
  header->headerLength = LoadLe16(bytes + kHeaderLengthOffset);
  header->externalSize = LoadLe32(bytes + kHeaderExternalSizeOffset);
  header->ipcPrefix[0] = static_cast<char>(bytes[kHeaderIpcPrefixOffset]);
  header->ipcPrefix[1] = static_cast<char>(bytes[kHeaderIpcPrefixOffset + 1]);
}

void StoreArchiveHeader(const ArchiveHeader& header, std::uint8_t* bytes) {
  for (std::size_t i = 0; i < kArchiveHeaderSize; ++i) bytes[i] = 0;
  bytes[kHeaderMagicOffset] = static_cast<std::uint8_t>(header.magic[0]);
  bytes[kHeaderMagicOffset + 1] = static_cast<std::uint8_t>(header.magic[1]);
  bytes[kHeaderFlagsOffset] = header.flags;
  StoreLe16(bytes + kHeaderFileCountOffset, header.fileCount);
  StoreLe16(bytes + kHeaderIconCountOffset, header.iconCount);
  StoreLe32(bytes + kHeaderRequiredSpaceOffset, header.requiredSpace);
  StoreLe16(bytes + kHeaderHelpContextOffset, header.helpContext);
  StoreLe16(bytes + kHeaderLengthOffset, header.headerLength);
  StoreLe32(bytes + kHeaderExternalSizeOffset, header.externalSize);
  bytes[kHeaderIpcPrefixOffset] = static_cast<std::uint8_t>(header.ipcPrefix[0]);
  bytes[kHeaderIpcPrefixOffset + 1] = static_cast<std::uint8_t>(header.ipcPrefix[1]);
}

bool HasArchiveMagic(const ArchiveHeader& header) {
  return header.magic[0] == 'Q' && header.magic[1] == 'Z';
}

void LoadFileEntryHeader(const std::uint8_t* bytes, FileEntryHeader* entry) {
  entry->tag = bytes[kEntryTagOffset];
  entry->flags = bytes[kEntryFlagsOffset];
  entry->storedLength = LoadLe32(bytes + kEntryStoredLengthOffset);
  entry->originalSize = LoadLe32(bytes + kEntryOriginalSizeOffset);
  entry->lastWriteTimeLow = LoadLe32(bytes + kEntryLastWriteTimeOffset);
  entry->lastWriteTimeHigh = LoadLe32(bytes + kEntryLastWriteTimeOffset + 4);
}

void StoreFileEntryHeader(const FileEntryHeader& entry, std::uint8_t* bytes) {
  bytes[kEntryTagOffset] = entry.tag;
  bytes[kEntryFlagsOffset] = entry.flags;
  StoreLe32(bytes + kEntryStoredLengthOffset, entry.storedLength);
  StoreLe32(bytes + kEntryOriginalSizeOffset, entry.originalSize);
  StoreLe32(bytes + kEntryLastWriteTimeOffset, entry.lastWriteTimeLow);
  StoreLe32(bytes + kEntryLastWriteTimeOffset + 4, entry.lastWriteTimeHigh);
}

bool IsMemberVersionNewer(MemberVersion existing, MemberVersion member) {
  // Comparing the two words as unsigned 32-bit numbers orders the four 16-bit
  // parts exactly as major, minor, build, revision.
  if (member.ms != existing.ms) return member.ms > existing.ms;
  return member.ls > existing.ls;
}

TrailingType TrailingTypeFromTag(const std::uint8_t tag[2]) {
  if (tag[0] == 'Q' && tag[1] == 'Z') return kTrailingQz;
  if (tag[0] == 'C' && tag[1] == 'T') return kTrailingCt;
  if (tag[0] == 'D' && tag[1] == 'S') return kTrailingDs;
  return kTrailingUnknown;
}

int LoadTrailingEntryHead(TrailingType type, const std::uint8_t* bytes, TrailingEntryHead* head) {
  if (type != kTrailingQz) {
    head->dataLength = LoadLe32(bytes);
    head->lastWriteTimeLow = 0;
    head->lastWriteTimeHigh = 0;
    return kArchiveOk;
  }
  FileEntryHeader entry;
  LoadFileEntryHeader(bytes, &entry);
  head->dataLength = entry.storedLength;
  head->lastWriteTimeLow = entry.lastWriteTimeLow;
  head->lastWriteTimeHigh = entry.lastWriteTimeHigh;
  return entry.tag == kEntryTag && entry.flags == 0 ? kArchiveOk : kArchiveFileHeaderInvalid;
}

void StoreTrailingEntryHead(TrailingType type, const TrailingEntryHead& head, std::uint8_t* bytes) {
  if (type != kTrailingQz) {
    StoreLe32(bytes, head.dataLength);
    return;
  }
  const FileEntryHeader entry = {kEntryTag, 0, head.dataLength, head.dataLength,
                                 head.lastWriteTimeLow, head.lastWriteTimeHigh};
  StoreFileEntryHeader(entry, bytes);
}

const char* ArchiveErrorText(int code) {
  static const char* const kTexts[] = {
      "Bad Signature",              // 2
      "Number of files invalid",    // 3
      "Compressed length invalid",  // 4
      "File name missing",          // 5
      "End of file marker missing", // 6
      "Archive Header missing",     // 7
      "Archive Header invalid",     // 8
      "Archive Header length wrong",// 9
      "File Header invalid",        // 10
      "Read failed",                // 11
      "Default Path missing",       // 12
      "Run Command missing",        // 13
  };
  if (code == kArchiveShown) return nullptr;
  if (code >= 2 && code <= 13) return kTexts[code - 2];
  return "Unknown Error";
}
