// The icon table and the optional trailing block behind it.
#include "archive/archive.hpp"
#include "base/le.hpp"
#include "archive/member_name.hpp"
#include "resources/resource.h"
#include "setup/setup_state.hpp"
#include "base/bounded_text.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

constexpr DWORD kTrailingChunkSize = 256;

bool ReadExactly(void* buffer, DWORD count) {
  DWORD read = 0;
  return ReadFile(setupState.archiveFile, buffer, count, &read, nullptr) && read == count;
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Installs the trailing member named at fileNamePart. 0, or 1 after the
// failure has been shown.
int InstallTrailingMember(TrailingType type, const FileEntryHeader& entry, const char* name,
                          int nameFits) {
  SetupState& s = setupState;
  if (!nameFits || !IsSafeMemberName(name)) {
    char path[kPathSize + 256];
    const std::size_t used = CopyBounded(path, s.targetDirLength + 1u, s.targetPath);
    CopyBounded(path + used, sizeof path - used, name);
    ShowErrorStringArg(ExtractionOwner(), IDS_CANNOT_CREATE_FILE, path);
    return 1;
  }
  if (CreateOutputFile(s.targetPath, 1) != 0) return 1;
  char buffer[kTrailingChunkSize];
  if (!CopyStoredMember(buffer, kTrailingChunkSize)) {
    ShowErrorStringArg(ExtractionOwner(), IDS_COPY_FAILED, s.targetPath);
    CloseHandle(s.outputFile);
    s.outputFile = nullptr;
    return 1;
  }
  if (type == kTrailingQz) {
    FILETIME time;
    time.dwLowDateTime = entry.lastWriteTimeLow;
    time.dwHighDateTime = entry.lastWriteTimeHigh;
    SetFileTime(s.outputFile, nullptr, nullptr, &time);
  }
  CloseHandle(s.outputFile);
  s.outputFile = nullptr;
  return 0;
}

}  // namespace

int ReadIconTable() {
  SetupState& s = setupState;
  if (s.header.iconCount == 0) return kArchiveOk;
  s.icons = static_cast<IconEntry*>(AllocZeroed(sizeof(IconEntry) * (s.header.iconCount + 1u)));
  if (s.icons == nullptr) return kArchiveReadFailed;
  for (unsigned i = 0; i < s.header.iconCount; ++i) {
    s.icons[i].name = ReadArchiveString();
    if (s.icons[i].name == nullptr) return kArchiveReadFailed;
    s.icons[i].arguments = ReadArchiveString();
    s.icons[i].target = ReadArchiveString();
  }
  UpdateProgressBar();
  return kArchiveOk;
}

int ExtractTrailingBlock() {
  SetupState& s = setupState;
  if (s.header.flags & kHeaderFlagNoTrailing) return kArchiveOk;
  const DWORD position = SetFilePointer(s.archiveFile, 0, nullptr, FILE_CURRENT);
  if (position >= s.archiveFileSize) return kArchiveOk;

  std::uint8_t tag[2] = {};
  ReadExactly(tag, sizeof tag);
  const TrailingType type = TrailingTypeFromTag(tag);
  if (type == kTrailingUnknown) return kArchiveBadSignature;
  if (type == kTrailingQz || type == kTrailingCt) {
    FreeBlock(Setting(kConfigName));
    Setting(kConfigName) = ReadArchiveString();
  }
  std::uint8_t countBytes[2] = {};
  ReadExactly(countBytes, sizeof countBytes);
  const std::uint16_t count = LoadLe16(countBytes);
  if (count > kMaxTrailingCount) return kArchiveBadFileCount;
  s.trailingCount = count;
  if (s.infoMode) {
    s.infoTrailingEntries = static_cast<InfoRecord*>(AllocZeroed(sizeof(InfoRecord) * (count + 1u)));
  }
  s.progressDone += 4;
  s.sourceFile = s.archiveFile;

  for (std::uint16_t index = 0; index < count; ++index) {
    FileEntryHeader entry = {};
    std::uint8_t bytes[kFileEntryHeaderSize] = {};
    if (type == kTrailingQz) {
      if (!ReadExactly(bytes, sizeof bytes)) return kArchiveReadFailed;
      s.progressDone += kFileEntryHeaderSize;
      LoadFileEntryHeader(bytes, &entry);
      s.memberBytesLeft = entry.storedLength;
      if (entry.tag != 'F' || entry.flags != 0) return kArchiveFileHeaderInvalid;
    } else {
      std::uint8_t lengthBytes[4] = {};
      ReadExactly(lengthBytes, sizeof lengthBytes);
      s.memberBytesLeft = LoadLe32(lengthBytes);
      s.progressDone += 4;
    }
    const std::uint32_t dataLength = s.memberBytesLeft;

    char name[256];
    const int nameLength = ReadMemberName(name, sizeof name);
    if (nameLength < 0) return kArchiveReadFailed;
    if (nameLength == 0) return kArchiveNameMissing;
    const int nameFits = PlaceMemberName(name, 0);
    const std::uint64_t end = static_cast<std::uint64_t>(s.progressDone) + dataLength +
                              (type == kTrailingQz ? 0 : 1);
    if (end > s.progressTotal) return kArchiveBadLength;

    int install = 1;
    if (s.infoMode) {
      if (s.infoTrailingEntries != nullptr) {
        InfoRecord& record = s.infoTrailingEntries[index];
        record.name = static_cast<char*>(AllocZeroed(nameLength + 1u));
        if (record.name != nullptr) lstrcpyA(record.name, name);
        StoreLe32(record.entryHeader + 6, dataLength);
        if (type == kTrailingQz) {
          for (int i = 10; i < 18; ++i) record.entryHeader[i] = bytes[i];
        }
      }
      install = 0;
    }
    const bool isConfig = lstrcmpiA(name, "CONFIG.DAT") == 0;
    if (s.skipConfig && isConfig) install = 0;
    if (install && s.keepExistingConfig && isConfig && nameFits && FileExists(s.targetPath)) {
      install = 0;
    }
    if (install) {
      const char* iniFile = Setting(kIniFile);
      if (index == 0 && iniFile != nullptr && lstrcmpiA(name, iniFile) == 0 && nameFits &&
          FileExists(s.targetPath)) {
        ShowErrorStringArg(ExtractionOwner(), IDS_ACCOUNT_PRESENT, s.targetPath);
        return kArchiveOk;
      }
      if (InstallTrailingMember(type, entry, name, nameFits) != 0) return kArchiveShown;
    } else {
      LONG high = 0;
      SetFilePointer(s.archiveFile, static_cast<LONG>(s.memberBytesLeft), &high, FILE_CURRENT);
    }
    if (type != kTrailingQz) {
      char marker = 0;
      if (!ReadExactly(&marker, 1) || marker != 'F') return kArchiveEndMarkerMissing;
      s.progressDone += 1;
      UpdateProgressBar();
    }
  }
  return kArchiveOk;
}
