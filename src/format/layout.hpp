// The installer archive: the records that follow the setup program's image.
//
// The archive starts at kArchiveOffset of the setup program's file and runs to
// its end:
//   ArchiveHeader (28 bytes)
//   12 settings strings (length-prefixed, see kSettingsStrings)
//   fileCount file entries: FileEntryHeader, member name, member version (SYS
//     only), stored data (missing for EXT members)
//   iconCount icon entries (see IconEntry below)
//   optional trailing block (see TrailingType below)
// All integers are little-endian and unsigned; nothing is aligned or padded and
// nothing is zero-terminated. This header is portable: the setup program and
// the host tools share it, and every record, limit and name rule of the
// archive is stated here once.
#pragma once

#include <cstddef>
#include <cstdint>

// File offset of the archive inside the setup program: the size of the
// program's image, padded. The packager and the program use this one constant.
constexpr std::uint32_t kArchiveOffset = 61440;

constexpr std::size_t kArchiveHeaderSize = 28;
constexpr std::size_t kFileEntryHeaderSize = 18;
constexpr std::size_t kMemberVersionSize = 8;

// The tag of every file entry header, and the end marker of "CT" and "DS"
// trailing entries.
constexpr std::uint8_t kEntryTag = 'F';

// ------------------------------------------------------- length-prefixed text

// A length-prefixed string: one length byte N, then N bytes of text in the
// system code page, not terminated. N = 0 means the string is absent (no
// value, not an empty text); a name that must be present has 1 to 255
// characters.
constexpr std::size_t kMaxArchiveString = 255;

// A length-prefixed string as it lies in a byte span: `text` points into the
// span, `length` is N (0 = absent).
struct ArchiveStringView {
  const char* text;
  std::uint8_t length;
};

// Reads the length-prefixed string at the start of `bytes` (of `available`
// bytes). Returns the bytes it takes (1 + N), or 0 when the span ends inside
// it.
std::size_t ParseArchiveString(const std::uint8_t* bytes, std::size_t available,
                               ArchiveStringView* string);

// ------------------------------------------------------------ archive header

// Header flag bits (ArchiveHeader::flags).
enum HeaderFlag : std::uint8_t {
  kHeaderFlagUnused01 = 0x01,   // no effect on the setup program
  kHeaderFlagNoTrailing = 0x02, // no trailing block behind the icon table
  kHeaderFlagNotNt = 0x04,      // refused on Windows NT (string 1)
  kHeaderFlagNt4 = 0x08,        // Windows NT needs version 4.0 (string 14)
  kHeaderFlagNtOnly = 0x10,     // refused on Windows 95/98 (string 15)
  kHeaderFlagNoDlr = 0x20,      // members flagged DLR are never installed
};

// The archive header, 28 bytes at kArchiveOffset. The field offsets below are
// the only place that names them; bytes 3 and 22..27 are reserved, zero and
// never read.
//   0  2 magic         "QZ"
//   2  1 flags         HeaderFlag bits
//   4  2 fileCount     entries of the main file table
//   6  2 iconCount     entries of the icon table
//   8  4 requiredSpace bytes the install drive must offer
//  12  2 helpContext   WinHelp context of the Overview button; 0 hides it
//  14  2 headerLength  28 + bytes of the 12 settings strings, length bytes
//                      included; a mismatch is archive error 9
//  16  4 externalSize  sum of the stored lengths of all EXT members; it is
//                      part of the progress total that bounds every member
//  20  2 ipcPrefix     two characters of the agent channel's object names
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

constexpr std::size_t kHeaderMagicOffset = 0;
constexpr std::size_t kHeaderFlagsOffset = 2;
constexpr std::size_t kHeaderFileCountOffset = 4;
constexpr std::size_t kHeaderIconCountOffset = 6;
constexpr std::size_t kHeaderRequiredSpaceOffset = 8;
constexpr std::size_t kHeaderHelpContextOffset = 12;
constexpr std::size_t kHeaderLengthOffset = 14;
constexpr std::size_t kHeaderExternalSizeOffset = 16;
constexpr std::size_t kHeaderIpcPrefixOffset = 20;

void LoadArchiveHeader(const std::uint8_t* bytes, ArchiveHeader* header);
// Writes all 28 bytes, the reserved ones as zero.
void StoreArchiveHeader(const ArchiveHeader& header, std::uint8_t* bytes);
bool HasArchiveMagic(const ArchiveHeader& header);

// ------------------------------------------------------------ settings strings

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

constexpr std::size_t kSettingsStringCount = 12;

// One settings string: its place, its field name (in SetupState, the Setup
// Info listing and `setuppack list`) and its key in a manifest's [settings]
// table. A required string that is absent is archive error 12 (defaultPath,
// checked first) or 13 (runCommand).
struct SettingsStringInfo {
  SettingsString index;
  const char* field;
  const char* manifestKey;
  bool required;
};

// The twelve settings strings, each a length-prefixed string directly behind
// the header, in this order. Files are relative to the install directory.
inline constexpr SettingsStringInfo kSettingsStrings[kSettingsStringCount] = {
    // program file the Run button starts; its installed copy's version decides
    // whether an upgrade is allowed
    {kRunCommand, "runCommand", "run_command", true},
    // help file opened by the Overview button
    {kHelpFile, "helpFile", "help_file", false},
    // read-me file opened by the Read Me button
    {kReadmeFile, "readmeFile", "readme_file", false},
    // account information file: the first trailing member of this name is not
    // installed over an existing file
    {kIniFile, "iniFile", "ini_file", false},
    // comma-separated window classes of the running launcher
    {kLauncherClasses, "launcherClasses", "launcher_classes", false},
    // program group (Start menu folder)
    {kIconGroup, "iconGroup", "icon_group", false},
    // default install directory
    {kDefaultPath, "defaultPath", "default_path", true},
    // configuration name; a "QZ" or "CT" trailing block replaces it
    {kConfigName, "configName", "config_name", false},
    // file name of the launcher program
    {kLauncherFile, "launcherFile", "launcher_file", false},
    // file name of the tray program; only listed
    {kTrayFile, "trayFile", "tray_file", false},
    // read and kept, no further use
    {kReservedString1, "reservedString1", "reserved_1", false},
    {kReservedString2, "reservedString2", "reserved_2", false},
};

constexpr bool SettingsTableIsInOrder() {
  for (std::size_t i = 0; i < kSettingsStringCount; ++i) {
    if (static_cast<std::size_t>(kSettingsStrings[i].index) != i) return false;
  }
  return true;
}
static_assert(SettingsTableIsInOrder(), "kSettingsStrings lists the strings in archive order");

// The field-name column of kSettingsStrings, indexable by position.
struct SettingsFieldNames {
  constexpr const char* operator[](std::size_t index) const { return kSettingsStrings[index].field; }
};
inline constexpr SettingsFieldNames kSettingsStringNames{};

// --------------------------------------------------------------- file entries

// Member flag bits (FileEntryHeader::flags).
enum MemberFlag : std::uint8_t {
  kMemberCmp = 0x01, // stored data is an implode stream
  kMemberDlr = 0x02, // installed only while DLR members are allowed
  kMemberSys = 0x04, // goes to the system directory, carries a member version
  kMemberExt = 0x08, // stored data is in the external member file (member_name.hpp)
};

// A file entry header, 18 bytes, of the main file table and of "QZ" trailing
// entries. A tag other than kEntryTag is archive error 10.
//   0  1 tag           kEntryTag
//   1  1 flags         MemberFlag bits (0 in a trailing block)
//   2  4 storedLength  bytes of stored data (the compressed stream for CMP)
//   6  4 originalSize  size of the installed file; listed, never checked
//  10  8 lastWriteTime FILETIME in UTC, low word first; 0 = no time
// In the main table the header is followed by the member name (1..255
// characters), for SYS members by the member version, and, unless the member
// is EXT, by storedLength bytes of data.
struct FileEntryHeader {
  std::uint8_t tag;
  std::uint8_t flags;
  std::uint32_t storedLength;
  std::uint32_t originalSize;
  std::uint32_t lastWriteTimeLow;
  std::uint32_t lastWriteTimeHigh;
};

constexpr std::size_t kEntryTagOffset = 0;
constexpr std::size_t kEntryFlagsOffset = 1;
constexpr std::size_t kEntryStoredLengthOffset = 2;
constexpr std::size_t kEntryOriginalSizeOffset = 6;
constexpr std::size_t kEntryLastWriteTimeOffset = 10;

// lastWriteTime as one FILETIME value.
inline std::uint64_t FileEntryTime(const FileEntryHeader& entry) {
  return std::uint64_t{entry.lastWriteTimeHigh} << 32 | entry.lastWriteTimeLow;
}

void LoadFileEntryHeader(const std::uint8_t* bytes, FileEntryHeader* entry);
void StoreFileEntryHeader(const FileEntryHeader& entry, std::uint8_t* bytes);

// FILETIME of 1970-01-01 00:00:00 UTC: 100-nanosecond intervals between
// 1 January 1601, where lastWriteTime counts from, and the Unix epoch.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

// A SYS member's version, 8 bytes behind its name: the two words of
// VS_FIXEDFILEINFO, ms = major << 16 | minor, then ls = build << 16 | revision.
struct MemberVersion {
  std::uint32_t ms;
  std::uint32_t ls;
};

// The progress total: the archive's bytes (file size - kArchiveOffset) plus
// externalSize. The readers count every archive byte they consume or pass over;
// a member whose data (and end marker) would take that count beyond the total
// is archive error 4.
inline bool ReachesBeyondProgressTotal(std::uint64_t done, std::uint64_t length, std::uint64_t total) {
  return done + length > total;
}

// True when `member` is strictly newer than `existing`, comparing major, minor,
// build and revision as unsigned 16-bit numbers in that order.
bool IsMemberVersionNewer(MemberVersion existing, MemberVersion member);

// ----------------------------------------------------------------- icon table

// An icon entry: three length-prefixed strings, in this order.
//   name       required (1..255 characters; absent is archive error 11): the
//              title of the shortcut, or, when it begins with
//              kUninstallIconMark, the uninstall registration whose display
//              name is the text behind the mark
//   arguments  optional: the shortcut's arguments; for the uninstall
//              registration, the uninstall program relative to the install
//              directory
//   target     optional: the file the shortcut starts, relative to the
//              install directory
constexpr std::size_t kIconEntryStringCount = 3;
constexpr char kUninstallIconMark = '*';

inline bool IsUninstallIconName(const char* name) { return name[0] == kUninstallIconMark; }
inline const char* UninstallDisplayName(const char* name) { return name + 1; }

// ------------------------------------------------------------- trailing block

// The trailing block follows the icon table, unless header flag 0x02 is set or
// the icon table ends at the end of the file:
//   2     type tag        "QZ", "CT" or "DS"; anything else is archive error 2
//   1+N   configuration   "QZ" and "CT" only: a length-prefixed string that
//                         replaces configName (absent leaves it absent)
//   2     trailingCount   0..kMaxTrailingCount; more is archive error 3
//   entries, each with a head (TrailingEntryHead), the member name (1..255
//   characters), the data and, for "CT" and "DS", the end marker kEntryTag
//   (else archive error 6).
// Trailing members are stored as they are and go to the install directory.
enum TrailingType { kTrailingUnknown, kTrailingQz, kTrailingCt, kTrailingDs };

constexpr std::size_t kTrailingTagSize = 2;
constexpr std::size_t kTrailingCountSize = 2;
constexpr std::size_t kMaxTrailingCount = 100;

TrailingType TrailingTypeFromTag(const std::uint8_t tag[2]);
inline bool TrailingHasConfigName(TrailingType type) { return type == kTrailingQz || type == kTrailingCt; }
inline bool IsTrailingCountAllowed(std::uint16_t count) { return count <= kMaxTrailingCount; }

// The head of a trailing entry:
//   "QZ"        an 18-byte FileEntryHeader with the tag kEntryTag and the
//               flags 0 (else archive error 10); storedLength is the data
//               length, originalSize is not used (written as the data
//               length), lastWriteTime as in the main table
//   "CT", "DS"  the 4-byte data length; these members carry no time and end
//               with the end marker
struct TrailingEntryHead {
  std::uint32_t dataLength;
  std::uint32_t lastWriteTimeLow;   // "QZ" only
  std::uint32_t lastWriteTimeHigh;  // "QZ" only
};

constexpr std::size_t kTrailingLengthSize = 4;

// Bytes of the head of an entry of `type` (18 or 4).
inline std::size_t TrailingEntryHeadSize(TrailingType type) {
  return type == kTrailingQz ? kFileEntryHeaderSize : kTrailingLengthSize;
}
// Bytes behind an entry's data: 1 for the end marker of "CT" and "DS".
inline std::size_t TrailingEndMarkerSize(TrailingType type) { return type == kTrailingQz ? 0 : 1; }

// Reads the head of an entry of `type` from TrailingEntryHeadSize(type)
// bytes. Returns 0, or archive error 10 for a "QZ" header whose tag is not
// kEntryTag or whose flags are not 0; `head` is filled either way.
int LoadTrailingEntryHead(TrailingType type, const std::uint8_t* bytes, TrailingEntryHead* head);
void StoreTrailingEntryHead(TrailingType type, const TrailingEntryHead& head, std::uint8_t* bytes);

// ------------------------------------------------------------- archive errors

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
