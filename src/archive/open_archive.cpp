// Opening the installer archive: the program's own file, the 28-byte header at
// kArchiveOffset and the twelve settings strings behind it.
#include "archive/archive.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"
#include "ui/messages.hpp"

namespace {

int CheckHeaderAndStrings() {
  SetupState& s = setupState;
  s.archiveFileSize = GetFileSize(s.archiveFile, nullptr);
  if (!(s.archiveOffset < s.archiveFileSize - kArchiveHeaderSize) ||
      s.archiveFileSize < kArchiveHeaderSize) {
    return kArchiveHeaderMissing;
  }
  SetFilePointer(s.archiveFile, static_cast<LONG>(s.archiveOffset), nullptr, FILE_BEGIN);
  std::uint8_t bytes[kArchiveHeaderSize] = {};
  if (!ReadArchiveBytes(bytes, sizeof bytes)) return kArchiveReadFailed;
  LoadArchiveHeader(bytes, &s.header);
  if (!HasArchiveMagic(s.header)) return kArchiveHeaderInvalid;
  s.progressDone += kArchiveHeaderSize;
  s.progressTotal = s.header.externalSize + s.archiveFileSize - s.archiveOffset;
  for (char*& text : s.settings) text = ReadArchiveString();
  if (s.header.flags & kHeaderFlagNoDlr) s.installDlrFiles = 0;
  if (s.header.headerLength != s.progressDone) return kArchiveHeaderLength;
  if (Setting(kDefaultPath) == nullptr) return kArchiveDefaultPathMissing;
  if (Setting(kRunCommand) == nullptr) return kArchiveRunCommandMissing;
  return kArchiveOk;
}

}  // namespace

int OpenArchive(const char* fileName) {
  SetupState& s = setupState;
  s.archiveOffset = kArchiveOffset;
  s.archiveFile = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (s.archiveFile == INVALID_HANDLE_VALUE) {
    s.archiveFile = nullptr;
    ShowErrorString(nullptr, IDS_CANNOT_OPEN_ARCHIVE);
    return 0;
  }
  const int code = CheckHeaderAndStrings();
  if (code == kArchiveOk) return 1;
  ShowArchiveError(nullptr, code);
  CloseHandle(s.archiveFile);
  s.archiveFile = nullptr;
  return 0;
}

bool ReadArchiveBytes(void* buffer, DWORD count) {
  DWORD read = 0;
  return ReadFile(setupState.archiveFile, buffer, count, &read, nullptr) && read == count;
}

char* ReadArchiveString() {
  SetupState& s = setupState;
  std::uint8_t length = 0;
  ReadArchiveBytes(&length, 1);
  s.progressDone += 1;
  if (length == 0) return nullptr;
  // Zero-filled, so a string cut short by the end of the file holds zeros.
  char* text = static_cast<char*>(AllocZeroed(length + 1u));
  if (text == nullptr) return nullptr;
  ReadArchiveBytes(text, length);
  s.progressDone += length;
  return text;
}
