#include "archive/member_output.hpp"

#include "archive/archive.hpp"
#include "base/bounded_text.hpp"
#include "format/member_directories.hpp"
#include "format/member_name.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"
#include "ui/messages.hpp"
#include "ui/progress_dialog.hpp"

namespace {

constexpr int kMemberNameSize = 256;

// The file calls behind the read-ahead and the write-behind; the context is
// the file handle.
std::uint32_t ReadSourceFile(void* context, void* buffer, std::uint32_t count) {
  DWORD read = 0;
  if (!ReadFile(static_cast<HANDLE>(context), buffer, count, &read, nullptr)) return kSourceReadFailed;
  return read;
}

bool WriteOutputFile(void* context, const void* data, std::uint32_t count) {
  DWORD written = 0;
  return WriteFile(static_cast<HANDLE>(context), data, count, &written, nullptr) && written == count;
}

// Creates the folders of the member named at fileNamePart, level by level,
// from the first one not known to exist: those of the last member created
// are there already (format/member_directories.hpp). Failures, such as a
// folder that exists, are left to the creation of the file to show.
void CreateMemberDirectories() {
  SetupState& s = setupState;
  char* name = s.fileNamePart;
  for (char* p = name + FirstUnknownDirectory(s.createdDirectories, name); *p != '\0'; ++p) {
    if (*p != '\\') continue;
    *p = '\0';
    CreateDirectoryA(s.targetPath, nullptr);
    *p = '\\';
  }
}

}  // namespace

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void SkipArchiveBytes(std::uint32_t count) {
  LONG high = 0;
  SetFilePointer(setupState.archiveFile, static_cast<LONG>(count), &high, FILE_CURRENT);
}

int ReadMemberName(char* name, int nameSize) {
  SetupState& s = setupState;
  std::uint8_t length = 0;
  if (!ReadArchiveBytes(&length, 1)) return -1;
  s.progressDone += 1u + length;
  if (length >= nameSize) return -1;
  if (!ReadArchiveBytes(name, length)) return -1;
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

int PassesConfigRule(const char* name, int nameFits) {
  const SetupState& s = setupState;
  const bool isConfig = lstrcmpiA(name, kConfigFileName) == 0;
  return IsConfigRuleInstalling(isConfig, s.skipConfig != 0, s.keepExistingConfig != 0,
                                isConfig && nameFits && FileExists(s.targetPath))
             ? 1
             : 0;
}

void ShowPathError(UINT stringId, const char* directory, int directoryLength, const char* name) {
  char path[kPathSize + kMemberNameSize];
  const std::size_t used = CopyBounded(path, directoryLength + 1u, directory);
  CopyBounded(path + used, sizeof path - used, name);
  ShowErrorStringArg(ExtractionOwner(), stringId, path);
}

int IsOutputPathAllowed(const char* name, int fits, int forSystem) {
  const SetupState& s = setupState;
  if (fits && IsSafeMemberName(name)) return 1;
  if (forSystem) {
    ShowPathError(IDS_CANNOT_CREATE_FILE, s.systemPath, s.systemDirLength, name);
  } else {
    ShowPathError(IDS_CANNOT_CREATE_FILE, s.targetPath, s.targetDirLength, name);
  }
  return 0;
}

void RecordInfo(InfoRecord* records, unsigned index, const std::uint8_t entryHeader[kFileEntryHeaderSize],
                const char* name, int nameLength, MemberVersion version) {
  if (records == nullptr) return;
  InfoRecord& record = records[index];
  for (std::size_t i = 0; i < kFileEntryHeaderSize; ++i) record.entryHeader[i] = entryHeader[i];
  record.name = static_cast<char*>(AllocZeroed(nameLength + 1u));
  if (record.name != nullptr) lstrcpyA(record.name, name);
  record.version = version;
}

int CreateOutputFile(char* path, int createDirectories) {
  SetupState& s = setupState;
  SetStatusText(path);
  if (createDirectories) CreateMemberDirectories();
  s.outputFile = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (s.outputFile == INVALID_HANDLE_VALUE) {
    s.outputFile = nullptr;
    ShowErrorStringArg(ExtractionOwner(), IDS_CANNOT_CREATE_FILE, path);
    return 1;
  }
  // The file exists, so every folder of its name does.
  if (createDirectories) RememberDirectories(s.createdDirectories, s.fileNamePart);
  return 0;
}

void AttachMemberBuffers(std::uint8_t* readBuffer, std::uint8_t* writeBuffer, std::uint32_t capacity) {
  AttachReadAhead(setupState.readAhead, readBuffer, capacity);
  AttachWriteBehind(setupState.writeBehind, writeBuffer, capacity);
}

void StartMemberData() { ResetReadAhead(setupState.readAhead); }

void SkipMemberRest() {
  SetupState& s = setupState;
  SkipArchiveBytes(s.memberBytesLeft - BufferedBytes(s.readAhead));
  ResetReadAhead(s.readAhead);
}

int FlushOutputFile() {
  SetupState& s = setupState;
  return FlushOutputBytes(s.writeBehind, WriteOutputFile, s.outputFile) ? 1 : 0;
}

void CloseOutputFile(const FILETIME* time) {
  SetupState& s = setupState;
  // On the way out after a failure, what was decoded or copied before it
  // still goes into the file.
  FlushOutputFile();
  if (time != nullptr) SetFileTime(s.outputFile, nullptr, nullptr, time);
  CloseHandle(s.outputFile);
  s.outputFile = nullptr;
}

unsigned int ReadCallback(char* buffer, unsigned int* size, void* userParameter) {
  SetupState& s = setupState;
  int* error = static_cast<int*>(userParameter);
  if (*error == 1) return 0;
  if (s.memberBytesLeft == 0) return 0;
  const std::uint32_t memberLeft = s.memberBytesLeft;
  const std::uint32_t count = *size < memberLeft ? *size : memberLeft;
  s.memberBytesLeft -= count;
  const std::uint32_t read =
      TakeMemberBytes(s.readAhead, buffer, count, memberLeft, ReadSourceFile, s.sourceFile);
  if (read == kSourceReadFailed) {
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
  SetupState& s = setupState;
  if (!PutOutputBytes(s.writeBehind, buffer, *size, WriteOutputFile, s.outputFile)) *error = 1;
}

int CopyStoredMember(char* buffer, DWORD chunkSize) {
  SetupState& s = setupState;
  if (s.memberBytesLeft == 0) return 1;
  int error = 0;
  for (;;) {
    unsigned int size = chunkSize;
    const unsigned int count = ReadCallback(buffer, &size, &error);
    if (count == 0) return 0;
    if (!PutOutputBytes(s.writeBehind, buffer, count, WriteOutputFile, s.outputFile)) return 0;
    if (s.memberBytesLeft == 0) return error == 0 && FlushOutputFile() ? 1 : 0;
  }
}
