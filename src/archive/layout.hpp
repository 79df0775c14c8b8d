// The installer archive: the records that follow the setup program's image.
//
// The archive starts at kArchiveOffset of the setup program's file and runs to
// its end:
//   ArchiveHeader (28 bytes)
//   12 settings strings (length-prefixed, see SettingsString)
//   fileCount file entries: FileEntryHeader, member name, member version (SYS
//     only), stored data (missing for EXT members)
//   iconCount icon entries: three length-prefixed strings
//   optional trailing block: type tag, configuration name ("QZ", "CT"),
//     trailingCount, entries
// All integers are little-endian and unsigned; nothing is aligned or padded and
// nothing is zero-terminated. This header is portable: the setup program and
// the host tools share it.
#pragma once

#include <cstddef>
#include <cstdint>

// File offset of the archive inside the setup program: the size of the
// program's image, padded. The packager and the program use this one constant.
constexpr std::uint32_t kArchiveOffset = 61440;

constexpr std::size_t kArchiveHeaderSize = 28;
constexpr std::size_t kFileEntryHeaderSize = 18;
constexpr std::size_t kMemberVersionSize = 8;
constexpr std::size_t kSettingsStringCount = 12;
constexpr std::size_t kMaxTrailingCount = 100;

// Header flag bits (ArchiveHeader::flags).
enum HeaderFlag : std::uint8_t {
  kHeaderFlagUnused01 = 0x01,   // no effect on the setup program
  kHeaderFlagNoTrailing = 0x02, // no trailing block behind the icon table
  kHeaderFlagNotNt = 0x04,      // refused on Windows NT (string 1)
  kHeaderFlagNt4 = 0x08,        // Windows NT needs version 4.0 (string 14)
  kHeaderFlagNtOnly = 0x10,     // refused on Windows 95/98 (string 15)
  kHeaderFlagNoDlr = 0x20,      // members flagged DLR are never installed
};

// Member flag bits (FileEntryHeader::flags).
enum MemberFlag : std::uint8_t {
  kMemberCmp = 0x01, // stored data is an implode stream
  kMemberDlr = 0x02, // installed only while DLR members are allowed
  kMemberSys = 0x04, // goes to the system directory, carries a member version
  kMemberExt = 0x08, // stored data is in "_" + name[1..] beside the program
};

// The archive header, 28 bytes at kArchiveOffset.
//   0  2 magic         "QZ"
//   2  1 flags         HeaderFlag bits
//   3  1 reserved      zero, never read
//   4  2 fileCount     entries of the main file table
//   6  2 iconCount     entries of the icon table
//   8  4 requiredSpace bytes the install drive must offer
//  12  2 helpContext   WinHelp context of the Overview button; 0 hides it
//  14  2 headerLength  28 + bytes of the 12 settings strings, length bytes included
//  16  4 externalSize  sum of the stored lengths of all EXT members
//  20  2 ipcPrefix     two characters of the agent channel's object names
//  22  6 reserved      zero, never read
struct ArchiveHeader {
  char magic[2];
  std::uint8_t flags;
  std::uint16_t fileCount;
  std::uint16_t iconCount;
  std::uint32_t requiredSpace;
  std::uint16_t helpContext;
  std::uint16_t headerLength;
  std::uint32_t externalSize;
  char ipcPrefix[2];
};

void LoadArchiveHeader(const std::uint8_t* bytes, ArchiveHeader* header);
void StoreArchiveHeader(const ArchiveHeader& header, std::uint8_t* bytes);
bool HasArchiveMagic(const ArchiveHeader& header);

// A file entry header, 18 bytes, of the main file table and of "QZ" trailing
// entries.
//   0  1 tag          'F'
//   1  1 flags        MemberFlag bits (0 in a trailing block)
//   2  4 storedLength bytes of stored data (the compressed stream for CMP)
//   6  4 originalSize size of the installed file; listed, never checked
//  10  8 lastWriteTime FILETIME in UTC, low word first; 0 = no time
struct FileEntryHeader {
  std::uint8_t tag;
  std::uint8_t flags;
  std::uint32_t storedLength;
  std::uint32_t originalSize;
  std::uint32_t lastWriteTimeLow;
  std::uint32_t lastWriteTimeHigh;
};

void LoadFileEntryHeader(const std::uint8_t* bytes, FileEntryHeader* entry);
void StoreFileEntryHeader(const FileEntryHeader& entry, std::uint8_t* bytes);

// A SYS member's version: the two words of VS_FIXEDFILEINFO,
// ms = major << 16 | minor, ls = build << 16 | revision.
struct MemberVersion {
  std::uint32_t ms;
  std::uint32_t ls;
};

// True when `member` is strictly newer than `existing`, comparing major, minor,
// build and revision as unsigned 16-bit numbers in that order.
bool IsMemberVersionNewer(MemberVersion existing, MemberVersion member);

// The settings strings in archive order, by field name.
enum SettingsString {
  kRunCommand,
  kHelpFile,
  kReadmeFile,
  kIniFile,
  kLauncherClasses,
  kIconGroup,
  kDefaultPath,
  kConfigName,
  kLauncherFile,
  kTrayFile,
  kReservedString1,
  kReservedString2,
};

// Field names of the settings strings, in archive order.
extern const char* const kSettingsStringNames[kSettingsStringCount];

// Archive error codes reported by the archive readers. 0 is success and 1 a
// failure already shown by its own message.
enum ArchiveError {
  kArchiveOk = 0,
  kArchiveShown = 1,
  kArchiveBadSignature = 2,
  kArchiveBadFileCount = 3,
  kArchiveBadLength = 4,
  kArchiveNameMissing = 5,
  kArchiveEndMarkerMissing = 6,
  kArchiveHeaderMissing = 7,
  kArchiveHeaderInvalid = 8,
  kArchiveHeaderLength = 9,
  kArchiveFileHeaderInvalid = 10,
  kArchiveReadFailed = 11,
  kArchiveDefaultPathMissing = 12,
  kArchiveRunCommandMissing = 13,
};

// Text of an archive error code: nullptr for 1, "Unknown Error" for codes
// outside 2..13.
const char* ArchiveErrorText(int code);

// Trailing block type tags.
enum TrailingType { kTrailingUnknown, kTrailingQz, kTrailingCt, kTrailingDs };
TrailingType TrailingTypeFromTag(const std::uint8_t tag[2]);
