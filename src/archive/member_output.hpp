// What the main file table and the trailing block share in setup.exe: member
// names read from the archive and placed behind their directory, the rules
// that decide whether a member is written, and the output file that a member
// is copied into. Member data flows from sourceFile (the archive, or an
// external member file) through ReadCallback and out through outputFile; every
// byte read advances progressDone.
#pragma once

#include <windows.h>

#include <cstdint>

#include "format/layout.hpp"

struct InfoRecord;

bool FileExists(const char* path);

// Moves the archive position forward over `count` bytes of member data.
void SkipArchiveBytes(std::uint32_t count);

// Reads one member name (length-prefixed) into `name` and counts it in
// progressDone. Its length, 0 for an absent name, or -1 when the read fails
// or the name does not fit `nameSize`.
int ReadMemberName(char* name, int nameSize);
// Copies `name` behind the install directory (targetPath) or, with
// `forSystem`, behind the system directory (systemPath), cut at the buffer's
// end. 1 when it fits whole.
int PlaceMemberName(const char* name, int forSystem);

// The CONFIG.DAT rule for the member `name`, whose path stands in targetPath
// when `nameFits`. 1 when it lets the member be installed.
int PassesConfigRule(const char* name, int nameFits);

// Shows `stringId` with the path `directory` (its first `directoryLength`
// characters) + `name`, whole even when it does not fit a path buffer.
void ShowPathError(UINT stringId, const char* directory, int directoryLength, const char* name);
// A name that leaves its directory, or a path that does not fit, is never
// written: shows string 5 with the directory and the whole name and returns 0.
// 1 when the output path may be created.
int IsOutputPathAllowed(const char* name, int fits, int forSystem);

// Info mode: fills records[index] (when `records` exists) with the entry
// header as given, a heap copy of the name and the member version.
void RecordInfo(InfoRecord* records, unsigned index, const std::uint8_t entryHeader[kFileEntryHeaderSize],
                const char* name, int nameLength, MemberVersion version);

// Member data passes through two buffers of `capacity` bytes while the main
// file table is extracted: a read-ahead over sourceFile and a write-behind
// before outputFile (format/member_stream.hpp). Null buffers make both
// pass-through, as the trailing block uses them.
void AttachMemberBuffers(std::uint8_t* readBuffer, std::uint8_t* writeBuffer, std::uint32_t capacity);
// Empties the read-ahead before a member's data is read: memberBytesLeft
// bytes from the position of sourceFile on.
void StartMemberData();
// Moves the archive position behind the member's data: over its bytes not
// yet read ahead, dropping the buffered ones.
void SkipMemberRest();

// Creates (overwrites) outputFile at `path`, with the member's directories
// below the install directory when `createDirectories`. 0, or 1 after string
// 5 has been shown.
int CreateOutputFile(char* path, int createDirectories);
// Copies memberBytesLeft bytes from sourceFile to outputFile in chunks of
// `chunkSize`, through `buffer`. 1 when all of them are in the file.
int CopyStoredMember(char* buffer, DWORD chunkSize);
// Writes out what the write-behind holds. 1 on success.
int FlushOutputFile();
// Writes out what is still buffered (whatever the outcome), gives outputFile
// the last-write time `time` (none when null) and closes it.
void CloseOutputFile(const FILETIME* time);

// The explode decoder's callbacks; `userParameter` points to an int that
// becomes 1 when a read or write fails. Reads are served from the read-ahead,
// writes gathered in the write-behind: the decoder's requests and the counts
// it gets back are those of unbuffered file calls.
unsigned int ReadCallback(char* buffer, unsigned int* size, void* userParameter);
void WriteCallback(char* buffer, unsigned int* size, void* userParameter);
