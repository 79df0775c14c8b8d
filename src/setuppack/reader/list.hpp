// `setuppack list`: everything a setup program's archive holds, as text or
// JSON.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "setuppack/reader/archive_reader.hpp"
#include "setuppack/host/code_page.hpp"

// Reads a setup program whole and reads its archive. Throws InputError when
// the file cannot be read; archive errors are in the listing.
ArchiveListing ReadSetupProgram(const std::filesystem::path& path);

// The listing as text: header fields with flag names, the settings strings,
// the main file table (name, stored and original size, ratio of CMP members,
// time in UTC, flags, version of SYS members), the icon table and the
// trailing block. Whatever was read before an archive error is printed.
// Texts are read in `codePage` (the archive does not say which), and the
// first line says so.
void PrintListing(const ArchiveListing& listing, const std::string& title, std::ostream& out,
                  unsigned codePage = kDefaultCodePage);

// The same as one JSON object (nlohmann-json) with the code page in
// "codePage": every text is converted from it to UTF-8, absent strings are null, times are ISO 8601 UTC
// texts (null for none and beyond the year 9999) plus the raw
// FILETIME, and "error" holds the archive error or null.
void PrintListingJson(const ArchiveListing& listing, std::ostream& out, unsigned codePage = kDefaultCodePage);

// Names of the header flag bits, as the manifest spells them.
std::vector<std::string> HeaderFlagNames(std::uint8_t flags);
// "CMP DLR SYS EXT" words of the member flags that are set.
std::string MemberFlagWords(std::uint8_t flags);
// "1999-09-27 06:31:34" for a FILETIME, "" for 0, kTimeOutOfRange
// (host/file_time.hpp) beyond the year 9999.
std::string FormatFileTimeUtc(std::uint64_t fileTime);
