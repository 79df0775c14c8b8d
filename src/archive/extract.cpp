// The main file table: every member is installed, skipped or, in info mode,
// recorded, in archive order. Member data flows from sourceFile (the archive,
// or an external member file) through ReadCallback into the explode decoder
// or the stored copy, and out through outputFile. Every byte consumed or
// skipped advances progressDone.
#include "archive/archive.hpp"
#include "archive/file_version.hpp"
#include "archive/member_output.hpp"
#include "base/bounded_text.hpp"
#include "base/le.hpp"
#include "explode/explode.hpp"
#include "format/member_name.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

constexpr DWORD kStoredChunkSize = 12596;
constexpr DWORD kExtractBlockSize = kExtractWorkAreaSize + 2 * kMemberIoBufferSize;
constexpr int kMemberNameSize = 256;

void CloseSourceFile(bool external) {
  SetupState& s = setupState;
  if (external && s.sourceFile != nullptr) CloseHandle(s.sourceFile);
  s.sourceFile = nullptr;
}

// The SYS version rule: 1 when the member is newer than the file at
// systemPath, or that file has no version to compare.
int IsNewerVersion(MemberVersion member) {
  void* block = LoadVersionBlock(setupState.systemPath);
  if (block == nullptr) return 1;
  int result = 1;
  UINT length = 0;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(QueryVersionValue(block, "\\", &length));
  if (info != nullptr) {
    const MemberVersion existing = {info->dwFileVersionMS, info->dwFileVersionLS};
    result = IsMemberVersionNewer(existing, member) ? 1 : 0;
  }
  LocalFree(block);
  return result;
}

// Opens the external member file: the setup program's directory, then the
// member name with its first character replaced by "_". 0 when open; 1 after
// string 17 has been shown.
int OpenExternalMember(const char* name) {
  SetupState& s = setupState;
  const int directoryLength = lstrlenA(s.setupPath);
  const int nameLength = lstrlenA(name);
  if (!FitsPathBuffer(directoryLength, nameLength, kPathSize)) {
    char mark[2] = {kExternalNameMark, '\0'};
    ShowPathError(IDS_SOURCE_NOT_FOUND, s.setupPath, directoryLength, mark);
    return 1;
  }
  lstrcpyA(s.setupPath + directoryLength, name);
  MarkExternalFileName(s.setupPath + directoryLength);
  s.sourceFile = CreateFileA(s.setupPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool opened = s.sourceFile != INVALID_HANDLE_VALUE;
  if (!opened) {
    s.sourceFile = nullptr;
    ShowErrorStringArg(ExtractionOwner(), IDS_SOURCE_NOT_FOUND, s.setupPath);
  }
  s.setupPath[directoryLength] = '\0';
  return opened ? 0 : 1;
}

// Installs one member whose name stands at fileNamePart (and, for SYS, behind
// the system directory). 0, or 1 after the failure has been shown.
int InstallMember(const FileEntryHeader& entry, char* outputPath, void* work) {
  SetupState& s = setupState;
  const bool external = (entry.flags & kMemberExt) != 0;
  // The external source is opened first, so that a missing "_" file leaves an
  // installed copy of the member as it was.
  if (external) {
    if (OpenExternalMember(s.fileNamePart) != 0) return 1;
  } else {
    s.sourceFile = s.archiveFile;
  }
  if (CreateOutputFile(outputPath, (entry.flags & kMemberSys) == 0) != 0) {
    CloseSourceFile(external);
    return 1;
  }
  int failedString = 0;
  StartMemberData();
  if (entry.flags & kMemberCmp) {
    int transferError = 0;
    const std::uint32_t result = explode(ReadCallback, WriteCallback, work, &transferError);
    if (result != 0 || transferError == 1 || !FlushOutputFile()) {
      failedString = IDS_DECOMPRESS_FAILED;
    } else if (s.memberBytesLeft != 0 && !external) {
      // Bytes behind the end code (a padding byte some encoders write) are
      // passed over, so that the next entry is read where it starts.
      s.progressDone += s.memberBytesLeft;
      SkipMemberRest();
      s.memberBytesLeft = 0;
      UpdateProgressBar();
    }
  } else if (!CopyStoredMember(static_cast<char*>(work), kStoredChunkSize)) {
    failedString = IDS_COPY_FAILED;
  }
  CloseSourceFile(external);
  if (failedString != 0) {
    CloseOutputFile(nullptr);
    ShowErrorStringArg(ExtractionOwner(), failedString, outputPath);
    return 1;
  }
  FILETIME time;
  time.dwLowDateTime = entry.lastWriteTimeLow;
  time.dwHighDateTime = entry.lastWriteTimeHigh;
  CloseOutputFile(&time);
  return 0;
}

int ExtractEntries(void* work) {
  SetupState& s = setupState;
  for (std::uint16_t index = 0; index < s.header.fileCount; ++index) {
    std::uint8_t bytes[kFileEntryHeaderSize];
    if (!ReadArchiveBytes(bytes, sizeof bytes)) return kArchiveReadFailed;
    s.progressDone += kFileEntryHeaderSize;
    FileEntryHeader entry;
    LoadFileEntryHeader(bytes, &entry);
    if (entry.tag != kEntryTag) return kArchiveFileHeaderInvalid;

    char name[kMemberNameSize];
    const int nameLength = ReadMemberName(name, sizeof name);
    if (nameLength < 0) return kArchiveReadFailed;
    if (nameLength == 0) return kArchiveNameMissing;
    const int nameFits = PlaceMemberName(name, 0);

    s.memberBytesLeft = entry.storedLength;
    if (ReachesBeyondProgressTotal(s.progressDone, entry.storedLength, s.progressTotal)) {
      return kArchiveBadLength;
    }
    const bool system = (entry.flags & kMemberSys) != 0;
    int install = 1;
    if ((entry.flags & kMemberDlr) && !s.installDlrFiles) install = 0;

    char* outputPath = s.targetPath;
    int outputFits = nameFits;
    MemberVersion version = {0, 0};
    if (system) {
      outputPath = s.systemPath;
      outputFits = PlaceMemberName(name, 1);
      std::uint8_t versionBytes[kMemberVersionSize] = {};
      ReadArchiveBytes(versionBytes, sizeof versionBytes);
      s.progressDone += kMemberVersionSize;
      version.ms = LoadLe32(versionBytes);
      version.ls = LoadLe32(versionBytes + 4);
      // A refused name is never opened, not even to read its version: a
      // device such as COM1 would be read from instead.
      if (install && outputFits && IsSafeMemberName(name)) install = IsNewerVersion(version);
    }

    if (s.infoMode) {
      RecordInfo(s.infoMainEntries, index, bytes, name, nameLength, version);
      install = 0;
    }
    if (install) install = PassesConfigRule(name, nameFits);

    if (install) {
      if (!IsOutputPathAllowed(name, outputFits, system)) return kArchiveShown;
      if (InstallMember(entry, outputPath, work) != 0) return kArchiveShown;
    } else {
      s.progressDone += entry.storedLength;
      UpdateProgressBar();
      if (!(entry.flags & kMemberExt)) SkipArchiveBytes(entry.storedLength);
    }
  }
  return kArchiveOk;
}

}  // namespace

int ExtractMainTable() {
  // One block: the work area, then the read-ahead and the write-behind. Where
  // the block cannot be had, the work area alone does, unbuffered.
  HANDLE heap = GetProcessHeap();
  auto* block = static_cast<std::uint8_t*>(HeapAlloc(heap, 0, kExtractBlockSize));
  if (block != nullptr) {
    AttachMemberBuffers(block + kExtractWorkAreaSize, block + kExtractWorkAreaSize + kMemberIoBufferSize,
                        kMemberIoBufferSize);
  } else {
    block = static_cast<std::uint8_t*>(HeapAlloc(heap, 0, kExtractWorkAreaSize));
    if (block == nullptr) return kArchiveReadFailed;
  }
  const int code = ExtractEntries(block);
  AttachMemberBuffers(nullptr, nullptr, 0);
  HeapFree(heap, 0, block);
  return code;
}
