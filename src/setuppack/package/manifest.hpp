// The package manifest: a TOML file that says what goes into a setup program.
//
//   [settings]        the twelve settings strings under the manifest keys of
//                     kSettingsStrings (format/layout.hpp), the required ones
//                     required; the launcher classes as a text or an array of
//                     texts, joined by ","
//   [header]          ipc_prefix (two characters, required), required_space
//                     (bytes, or a text "3 MiB", "12 KB", "4096 bytes"; default
//                     the installed size of all members), help_context
//                     (0..65535), platform ("any", "not-nt", "nt4", "nt-only",
//                     "nt4-only") or the flag booleans not_nt, nt4, nt_only;
//                     no_dlr, no_trailing, flag_01
//   codepage          the Windows ANSI code page of every text and name
//                     (874, 932, 936, 949, 950, 1250..1258; default 1252)
//   [defaults]        member options that every [[files]] entry takes unless
//                     it gives its own: compress, literals, dictionary, time,
//                     system, dlr
//   [[files]]         source (one file), name (default: the source's file
//                     name), system + version "a.b.c.d", dlr, external,
//                     compress + literals ("binary", "ascii", "auto") +
//                     dictionary (1024, 2048, 4096, "auto"), time (RFC 3339
//                     date-time, or 0 for none; default: the source's mtime);
//                     or tree (a directory, every file below it), name (the
//                     directory the tree is installed into, default the
//                     install directory), include and exclude (glob lists,
//                     source_tree.hpp) and the member options above but
//                     version and external. A tree's members follow each
//                     other in the byte order of their names; a later
//                     single-file entry of a name that a tree holds replaces
//                     that member in place.
//   [[icons]]         name, arguments, target; or uninstall = true with name
//                     (display name) and program (uninstall program)
//   [trailing]        type ("QZ", "CT", "DS"), config_name ("QZ", "CT"), and
//                     [[trailing.files]] with source, name, time ("QZ" only)
//
// Paths are relative to the manifest's directory. Member names may use "/" or
// "\" and are stored with "\". Every member name is checked as setup.exe and
// Windows would take it (format/member_name.hpp), against the other names
// (case-insensitive duplicates, a file named like another's directory) and,
// with default_path, against setup.exe's 260-character path buffer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "explode/implode.hpp"
#include "format/layout.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/package/package.hpp"

// A member of the main file table, as the manifest describes it.
struct ManifestFile {
  ManifestPlace place;                  // of the [[files]] entry
  ManifestPlace sourcePlace;            // of its source (or tree) value
  ManifestPlace namePlace;              // of the value the name comes from
  std::filesystem::path source;         // resolved against the manifest's directory
  std::string sourceText;               // as written in the manifest
  std::string name;                     // backslash-separated member name
  std::uint8_t flags = 0;               // kMemberDlr, kMemberSys, kMemberExt (kMemberCmp
                                        // is set when `compress`)
  std::optional<MemberVersion> version;  // SYS members only; nullopt = the
                                        // source's version resource
  bool compress = false;
  ImplodeOptions implode;               // when `compress`
  std::optional<std::uint64_t> time;    // FILETIME; nullopt = the source's mtime
};

// A member of the trailing block.
struct ManifestTrailingFile {
  ManifestPlace place;
  ManifestPlace sourcePlace;
  std::filesystem::path source;
  std::string sourceText;
  std::string name;
  std::optional<std::uint64_t> time;    // "QZ" only; nullopt = the source's mtime
};

struct ManifestTrailing {
  std::string typeTag = "QZ";           // "QZ", "CT" or "DS"
  std::optional<std::string> configName;
  std::vector<ManifestTrailingFile> files;
};

struct Manifest {
  std::filesystem::path path;           // the manifest file
  std::filesystem::path baseDirectory;  // sources are relative to it
  unsigned codePage = 1252;             // of every text and name (host/code_page.hpp)
  std::vector<std::string> warnings;    // complete messages, for the user
  SettingsStrings settings;
  std::uint8_t headerFlags = 0;         // HeaderFlag bits
  std::optional<std::uint32_t> requiredSpace; // nullopt = computed
  std::uint16_t helpContext = 0;
  char ipcPrefix[2] = {0, 0};
  std::vector<ManifestFile> files;
  std::vector<PackageIcon> icons;
  std::optional<ManifestTrailing> trailing;
};

// Reads and checks a manifest file. Throws InputError with a message naming
// the file, the line and the field.
Manifest LoadManifest(const std::filesystem::path& path);

// Parses manifest text; `path` names it in messages and gives the directory
// that sources are relative to. Source files are not opened here; the
// directories of tree entries are listed.
Manifest ParseManifest(std::string_view text, const std::filesystem::path& path);

// The tables of a manifest and the keys each accepts, exactly the lists the
// reader checks against. `table` is the table as TOML writes its header
// ("[header]", "[[files]]", "[[trailing.files]]"; empty for the top level).
// [[files]] and [[icons]] come twice, once for each kind of entry: a file or
// a tree, a shortcut or the uninstall entry.
struct ManifestTableKeys {
  std::string_view table;
  std::span<const std::string_view> keys;
};
std::span<const ManifestTableKeys> ManifestSchema();
