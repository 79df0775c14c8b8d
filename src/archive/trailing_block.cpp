// The optional trailing block behind the icon table: a configuration name and
// up to 100 members, stored as they are, for the install directory.
#include "archive/archive.hpp"
#include "archive/member_output.hpp"
#include "base/le.hpp"
#include "format/member_name.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

constexpr DWORD kTrailingChunkSize = 256;

// Installs the trailing member named at fileNamePart. 0, or 1 after the
// failure has been shown.
int InstallTrailingMember(TrailingType type, const TrailingEntryHead& head, const char* name,
                          int nameFits) {
  SetupState& s = setupState;
  if (!IsOutputPathAllowed(name, nameFits, 0)) return 1;
  if (CreateOutputFile(s.targetPath, 1) != 0) return 1;
  char buffer[kTrailingChunkSize];
  if (!CopyStoredMember(buffer, kTrailingChunkSize)) {
    ShowErrorStringArg(ExtractionOwner(), IDS_COPY_FAILED, s.targetPath);
    CloseOutputFile(nullptr);
    return 1;
  }
  FILETIME time;
  time.dwLowDateTime = head.lastWriteTimeLow;
  time.dwHighDateTime = head.lastWriteTimeHigh;
  // "CT" and "DS" members carry no time: they keep the time of writing.
  CloseOutputFile(type == kTrailingQz ? &time : nullptr);
  return 0;
}

}  // namespace

int ExtractTrailingBlock() {
  SetupState& s = setupState;
  if (s.header.flags & kHeaderFlagNoTrailing) return kArchiveOk;
  const DWORD position = SetFilePointer(s.archiveFile, 0, nullptr, FILE_CURRENT);
  if (position >= s.archiveFileSize) return kArchiveOk;

  std::uint8_t tag[kTrailingTagSize] = {};
  ReadArchiveBytes(tag, sizeof tag);
  const TrailingType type = TrailingTypeFromTag(tag);
  if (type == kTrailingUnknown) return kArchiveBadSignature;
  if (TrailingHasConfigName(type)) {
    FreeBlock(Setting(kConfigName));
    Setting(kConfigName) = ReadArchiveString();
  }
  std::uint8_t countBytes[kTrailingCountSize] = {};
  ReadArchiveBytes(countBytes, sizeof countBytes);
  const std::uint16_t count = LoadLe16(countBytes);
  if (!IsTrailingCountAllowed(count)) return kArchiveBadFileCount;
  s.trailingCount = count;
  if (s.infoMode) {
    s.infoTrailingEntries = static_cast<InfoRecord*>(AllocZeroed(sizeof(InfoRecord) * (count + 1u)));
  }
  s.progressDone += kTrailingTagSize + kTrailingCountSize;
  s.sourceFile = s.archiveFile;

  const DWORD headSize = static_cast<DWORD>(TrailingEntryHeadSize(type));
  const DWORD markerSize = static_cast<DWORD>(TrailingEndMarkerSize(type));
  for (std::uint16_t index = 0; index < count; ++index) {
    std::uint8_t bytes[kFileEntryHeaderSize] = {};
    // Only the read of a "QZ" header is tested; a short "CT" or "DS" length
    // keeps the bytes it got.
    if (!ReadArchiveBytes(bytes, headSize) && type == kTrailingQz) return kArchiveReadFailed;
    s.progressDone += headSize;
    TrailingEntryHead head;
    const int headCode = LoadTrailingEntryHead(type, bytes, &head);
    s.memberBytesLeft = head.dataLength;
    if (headCode != kArchiveOk) return headCode;

    char name[256];
    const int nameLength = ReadMemberName(name, sizeof name);
    if (nameLength < 0) return kArchiveReadFailed;
    if (nameLength == 0) return kArchiveNameMissing;
    const int nameFits = PlaceMemberName(name, 0);
    if (ReachesBeyondProgressTotal(s.progressDone, std::uint64_t{head.dataLength} + markerSize,
                                   s.progressTotal)) {
      return kArchiveBadLength;
    }

    int install = 1;
    if (s.infoMode) {
      // The listing shows the data length as the size and, for "QZ", the time.
      std::uint8_t listed[kFileEntryHeaderSize] = {};
      StoreLe32(listed + kEntryOriginalSizeOffset, head.dataLength);
      StoreLe32(listed + kEntryLastWriteTimeOffset, head.lastWriteTimeLow);
      StoreLe32(listed + kEntryLastWriteTimeOffset + 4, head.lastWriteTimeHigh);
      RecordInfo(s.infoTrailingEntries, index, listed, name, nameLength, MemberVersion{0, 0});
      install = 0;
    }
    if (install) install = PassesConfigRule(name, nameFits);
    if (install) {
      // The account information rule: an existing account file stops the
      // block at its first entry, without a failure.
      const char* iniFile = Setting(kIniFile);
      if (index == 0 && iniFile != nullptr && lstrcmpiA(name, iniFile) == 0 && nameFits &&
          IsSafeMemberName(name) && FileExists(s.targetPath)) {
        ShowErrorStringArg(ExtractionOwner(), IDS_ACCOUNT_PRESENT, s.targetPath);
        return kArchiveOk;
      }
      if (InstallTrailingMember(type, head, name, nameFits) != 0) return kArchiveShown;
    } else {
      SkipArchiveBytes(s.memberBytesLeft);
    }
    if (markerSize != 0) {
      std::uint8_t marker = 0;
      if (!ReadArchiveBytes(&marker, 1) || marker != kEntryTag) return kArchiveEndMarkerMissing;
      s.progressDone += 1;
      UpdateProgressBar();
    }
  }
  return kArchiveOk;
}
