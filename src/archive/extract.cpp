// The main file table: every member is installed, skipped or, in info mode,
// recorded, in archive order. Member data flows from sourceFile (the archive,
// or an external member file) through ReadCallback into the explode decoder
// or the stored copy, and out through outputFile. Every byte consumed or
// skipped advances progressDone.
#include "archive/archive.hpp"
#include "base/le.hpp"
#include "archive/member_name.hpp"
#include "explode/explode.hpp"
#include "resources/resource.h"
#include "setup/setup_state.hpp"
#include "base/bounded_text.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

constexpr DWORD kStoredChunkSize = 12596;
constexpr int kMemberNameSize = 256;
constexpr const char kConfigFileName[] = "CONFIG.DAT";

bool IsOpen(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

void CloseMemberFile(HANDLE& handle) {
  if (IsOpen(handle)) CloseHandle(handle);
  handle = nullptr;
}

// Shows `stringId` with the path `directory` + `name`, whole even when it does
// not fit a path buffer.
void ShowPathError(UINT stringId, const char* directory, int directoryLength, const char* name) {
  char path[kPathSize + kMemberNameSize];
  std::size_t used = CopyBounded(path, directoryLength + 1u, directory);
  CopyBounded(path + used, sizeof path - used, name);
  ShowErrorStringArg(ExtractionOwner(), stringId, path);
}

// Moves the archive position forward over `count` bytes of member data.
void SkipArchiveBytes(std::uint32_t count) {
  LONG high = 0;
  SetFilePointer(setupState.archiveFile, static_cast<LONG>(count), &high, FILE_CURRENT);
}

// The SYS version rule: 1 when the member is newer than the file at
// systemPath, or that file has no version to compare.
int IsNewerVersion(MemberVersion member) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(setupState.systemPath, &handle);
  if (size == 0) return 1;
  void* block = LocalAlloc(LPTR, size);
  if (block == nullptr) return 1;
  int result = 1;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (GetFileVersionInfoA(setupState.systemPath, 0, size, block) &&
      VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &length) && info != nullptr) {
    const MemberVersion existing = {info->dwFileVersionMS, info->dwFileVersionLS};
    result = IsMemberVersionNewer(existing, member) ? 1 : 0;
  }
  LocalFree(block);
  return result;
}

void CreateMemberDirectories() {
  for (char* p = setupState.fileNamePart; *p != '\0'; ++p) {
    if (*p != '\\') continue;
    *p = '\0';
    CreateDirectoryA(setupState.targetPath, nullptr);
    *p = '\\';
  }
}

// Opens the external member file: the setup program's directory, then the
// member name with its first character replaced by "_". 0 when open; 1 after
// string 17 has been shown.
int OpenExternalMember(const char* name) {
  SetupState& s = setupState;
  const int directoryLength = lstrlenA(s.setupPath);
  const int nameLength = lstrlenA(name);
  if (!FitsPathBuffer(directoryLength, nameLength, kPathSize)) {
    ShowPathError(IDS_SOURCE_NOT_FOUND, s.setupPath, directoryLength, "_");
    return 1;
  }
  lstrcpyA(s.setupPath + directoryLength, name);
  s.setupPath[directoryLength] = '_';
  s.sourceFile = CreateFileA(s.setupPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool opened = IsOpen(s.sourceFile);
  if (!opened) {
    s.sourceFile = nullptr;
    ShowErrorStringArg(ExtractionOwner(), IDS_SOURCE_NOT_FOUND, s.setupPath);
  }
  s.setupPath[directoryLength] = '\0';
  return opened ? 0 : 1;
}

bool IsConfigFile(const char* name) { return lstrcmpiA(name, kConfigFileName) == 0; }

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

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
    if (external) CloseMemberFile(s.sourceFile);
    s.sourceFile = nullptr;
    return 1;
  }
  int failedString = 0;
  if (entry.flags & kMemberCmp) {
    int transferError = 0;
    const std::uint32_t result = explode(ReadCallback, WriteCallback, work, &transferError);
    if (result != 0 || transferError == 1) {
      failedString = IDS_DECOMPRESS_FAILED;
    } else if (s.memberBytesLeft != 0 && !external) {
      // Bytes behind the end code (a padding byte some encoders write) are
      // passed over, so that the next entry is read where it starts.
      s.progressDone += s.memberBytesLeft;
      SkipArchiveBytes(s.memberBytesLeft);
      s.memberBytesLeft = 0;
      UpdateProgressBar();
    }
  } else if (!CopyStoredMember(static_cast<char*>(work), kStoredChunkSize)) {
    failedString = IDS_COPY_FAILED;
  }
  if (external) CloseMemberFile(s.sourceFile);
  s.sourceFile = nullptr;
  if (failedString != 0) {
    CloseMemberFile(s.outputFile);
    ShowErrorStringArg(ExtractionOwner(), failedString, outputPath);
    return 1;
  }
  FILETIME time;
  time.dwLowDateTime = entry.lastWriteTimeLow;
  time.dwHighDateTime = entry.lastWriteTimeHigh;
  SetFileTime(s.outputFile, nullptr, nullptr, &time);
  CloseMemberFile(s.outputFile);
  return 0;
}

int ExtractEntries(void* work) {
  SetupState& s = setupState;
  for (std::uint16_t index = 0; index < s.header.fileCount; ++index) {
    std::uint8_t bytes[kFileEntryHeaderSize];
    DWORD read = 0;
    if (!ReadFile(s.archiveFile, bytes, sizeof bytes, &read, nullptr) || read != sizeof bytes) {
      return kArchiveReadFailed;
    }
    s.progressDone += kFileEntryHeaderSize;
    FileEntryHeader entry;
    LoadFileEntryHeader(bytes, &entry);
    if (entry.tag != 'F') return kArchiveFileHeaderInvalid;

    char name[kMemberNameSize];
    const int nameLength = ReadMemberName(name, sizeof name);
    if (nameLength < 0) return kArchiveReadFailed;
    if (nameLength == 0) return kArchiveNameMissing;
    const int nameFits = PlaceMemberName(name, 0);

    s.memberBytesLeft = entry.storedLength;
    if (static_cast<std::uint64_t>(s.progressDone) + entry.storedLength > s.progressTotal) {
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
      ReadFile(s.archiveFile, versionBytes, sizeof versionBytes, &read, nullptr);
      s.progressDone += kMemberVersionSize;
      version.ms = LoadLe32(versionBytes);
      version.ls = LoadLe32(versionBytes + 4);
      if (install && outputFits) install = IsNewerVersion(version);
    }

    if (s.infoMode) {
      if (s.infoMainEntries != nullptr) {
        InfoRecord& record = s.infoMainEntries[index];
        for (std::size_t i = 0; i < kFileEntryHeaderSize; ++i) record.entryHeader[i] = bytes[i];
        record.name = static_cast<char*>(AllocZeroed(nameLength + 1u));
        if (record.name != nullptr) lstrcpyA(record.name, name);
        record.version = version;
      }
      install = 0;
    }
    if (s.skipConfig && IsConfigFile(name)) install = 0;
    if (install && s.keepExistingConfig && IsConfigFile(name) && nameFits &&
        FileExists(s.targetPath)) {
      install = 0;
    }

    if (install) {
      // A name that leaves its directory, or a path that does not fit, is
      // never written.
      if (!outputFits || !IsSafeMemberName(name)) {
        if (system) {
          ShowPathError(IDS_CANNOT_CREATE_FILE, s.systemPath, s.systemDirLength, name);
        } else {
          ShowPathError(IDS_CANNOT_CREATE_FILE, s.targetPath, s.targetDirLength, name);
        }
        return kArchiveShown;
      }
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

int ReadMemberName(char* name, int nameSize) {
  SetupState& s = setupState;
  std::uint8_t length = 0;
  DWORD read = 0;
  if (!ReadFile(s.archiveFile, &length, 1, &read, nullptr) || read != 1) return -1;
  s.progressDone += 1u + length;
  if (length >= nameSize) return -1;
  if (!ReadFile(s.archiveFile, name, length, &read, nullptr) || read != length) return -1;
  name[length] = '\0';
  return length;
}

int PlaceMemberName(const char* name, int forSystem) {
  SetupState& s = setupState;
  char* directory = forSystem ? s.systemPath : s.targetPath;
  const int directoryLength = forSystem ? s.systemDirLength : s.targetDirLength;
  CopyBounded(directory + directoryLength, kPathSize - directoryLength, name);
  return FitsPathBuffer(directoryLength, lstrlenA(name), kPathSize) ? 1 : 0;
}

int CreateOutputFile(char* path, int createDirectories) {
  SetupState& s = setupState;
  SetStatusText(path);
  if (createDirectories) CreateMemberDirectories();
  s.outputFile = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!IsOpen(s.outputFile)) {
    s.outputFile = nullptr;
    ShowErrorStringArg(ExtractionOwner(), IDS_CANNOT_CREATE_FILE, path);
    return 1;
  }
  return 0;
}

unsigned int ReadCallback(char* buffer, unsigned int* size, void* userParameter) {
  SetupState& s = setupState;
  int* error = static_cast<int*>(userParameter);
  if (*error == 1) return 0;
  if (s.memberBytesLeft == 0) return 0;
  const DWORD count = *size < s.memberBytesLeft ? *size : s.memberBytesLeft;
  s.memberBytesLeft -= count;
  DWORD read = 0;
  if (!ReadFile(s.sourceFile, buffer, count, &read, nullptr)) {
    *error = 1;
    return 0;
  }
  // The callback never asks beyond the member's stored data, so fewer bytes
  // mean that the file ended inside it.
  if (read != count) *error = 1;
  s.progressDone += read;
  UpdateProgressBar();
  return read;
}

void WriteCallback(char* buffer, unsigned int* size, void* userParameter) {
  int* error = static_cast<int*>(userParameter);
  if (*error == 1) return;
  DWORD written = 0;
  if (!WriteFile(setupState.outputFile, buffer, *size, &written, nullptr) || written != *size) {
    *error = 1;
  }
}

int CopyStoredMember(char* buffer, DWORD chunkSize) {
  SetupState& s = setupState;
  if (s.memberBytesLeft == 0) return 1;
  int error = 0;
  for (;;) {
    unsigned int size = chunkSize;
    const unsigned int count = ReadCallback(buffer, &size, &error);
    if (count == 0) return 0;
    DWORD written = 0;
    if (!WriteFile(s.outputFile, buffer, count, &written, nullptr) || written != count) return 0;
    if (s.memberBytesLeft == 0) return error == 0 ? 1 : 0;
  }
}

int ExtractMainTable() {
  void* work = HeapAlloc(GetProcessHeap(), 0, kExtractWorkAreaSize);
  if (work == nullptr) return kArchiveReadFailed;
  const int code = ExtractEntries(work);
  HeapFree(GetProcessHeap(), 0, work);
  return code;
}
