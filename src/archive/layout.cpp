#include "archive/layout.hpp"

#include "base/le.hpp"

void LoadArchiveHeader(const std::uint8_t* bytes, ArchiveHeader* header) {
  header->magic[0] = static_cast<char>(bytes[0]);
  header->magic[1] = static_cast<char>(bytes[1]);
  header->flags = bytes[2];
  header->fileCount = LoadLe16(bytes + 4);
  header->iconCount = LoadLe16(bytes + 6);
  header->requiredSpace = LoadLe32(bytes + 8);
  header->helpContext = LoadLe16(bytes + 12);
  header->headerLength = LoadLe16(bytes + 14);
  header->externalSize = LoadLe32(bytes + 16);
  header->ipcPrefix[0] = static_cast<char>(bytes[20]);
  header->ipcPrefix[1] = static_cast<char>(bytes[21]);
}

void StoreArchiveHeader(const ArchiveHeader& header, std::uint8_t* bytes) {
  for (std::size_t i = 0; i < kArchiveHeaderSize; ++i) bytes[i] = 0;
  bytes[0] = static_cast<std::uint8_t>(header.magic[0]);
  bytes[1] = static_cast<std::uint8_t>(header.magic[1]);
  bytes[2] = header.flags;
  StoreLe16(bytes + 4, header.fileCount);
  StoreLe16(bytes + 6, header.iconCount);
  StoreLe32(bytes + 8, header.requiredSpace);
  StoreLe16(bytes + 12, header.helpContext);
  StoreLe16(bytes + 14, header.headerLength);
  StoreLe32(bytes + 16, header.externalSize);
  bytes[20] = static_cast<std::uint8_t>(header.ipcPrefix[0]);
  bytes[21] = static_cast<std::uint8_t>(header.ipcPrefix[1]);
}

bool HasArchiveMagic(const ArchiveHeader& header) {
  return header.magic[0] == 'Q' && header.magic[1] == 'Z';
}

void LoadFileEntryHeader(const std::uint8_t* bytes, FileEntryHeader* entry) {
  entry->tag = bytes[0];
  entry->flags = bytes[1];
  entry->storedLength = LoadLe32(bytes + 2);
  entry->originalSize = LoadLe32(bytes + 6);
  entry->lastWriteTimeLow = LoadLe32(bytes + 10);
  entry->lastWriteTimeHigh = LoadLe32(bytes + 14);
}

void StoreFileEntryHeader(const FileEntryHeader& entry, std::uint8_t* bytes) {
  bytes[0] = entry.tag;
  bytes[1] = entry.flags;
  StoreLe32(bytes + 2, entry.storedLength);
  StoreLe32(bytes + 6, entry.originalSize);
  StoreLe32(bytes + 10, entry.lastWriteTimeLow);
  StoreLe32(bytes + 14, entry.lastWriteTimeHigh);
}

bool IsMemberVersionNewer(MemberVersion existing, MemberVersion member) {
  // Comparing the two words as unsigned 32-bit numbers orders the four 16-bit
  // parts exactly as major, minor, build, revision.
  if (member.ms != existing.ms) return member.ms > existing.ms;
  return member.ls > existing.ls;
}

const char* const kSettingsStringNames[kSettingsStringCount] = {
    "runCommand",   "helpFile",    "readmeFile",   "iniFile",
    "launcherClasses", "iconGroup", "defaultPath", "configName",
    "launcherFile", "trayFile",    "reservedString1", "reservedString2",
};

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

TrailingType TrailingTypeFromTag(const std::uint8_t tag[2]) {
  if (tag[0] == 'Q' && tag[1] == 'Z') return kTrailingQz;
  if (tag[0] == 'C' && tag[1] == 'T') return kTrailingCt;
  if (tag[0] == 'D' && tag[1] == 'S') return kTrailingDs;
  return kTrailingUnknown;
}
