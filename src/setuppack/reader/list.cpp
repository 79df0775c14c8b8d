#include "setuppack/reader/list.hpp"

#include <cstdio>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>
#include <system_error>

#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/file_time.hpp"

ArchiveListing ReadSetupProgram(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> program = ReadSetupProgramBytes(path);
  return ReadArchive(program);
}

std::vector<std::string> HeaderFlagNames(std::uint8_t flags) {
  static const std::pair<std::uint8_t, const char*> kNames[] = {
      {kHeaderFlagUnused01, "flag_01"}, {kHeaderFlagNoTrailing, "no_trailing"},
      {kHeaderFlagNotNt, "not_nt"},     {kHeaderFlagNt4, "nt4"},
      {kHeaderFlagNtOnly, "nt_only"},   {kHeaderFlagNoDlr, "no_dlr"},
      {0x40, "0x40"},                   {0x80, "0x80"},
  };
  std::vector<std::string> names;
  for (const auto& [bit, name] : kNames) {
    if (flags & bit) names.emplace_back(name);
  }
  return names;
}

std::string MemberFlagWords(std::uint8_t flags) {
  static const std::pair<std::uint8_t, const char*> kWords[] = {
      {kMemberCmp, "CMP"}, {kMemberDlr, "DLR"}, {kMemberSys, "SYS"}, {kMemberExt, "EXT"},
      {0x10, "0x10"},      {0x20, "0x20"},      {0x40, "0x40"},      {0x80, "0x80"},
  };
  std::string words;
  for (const auto& [bit, word] : kWords) {
    if (!(flags & bit)) continue;
    if (!words.empty()) words += ' ';
    words += word;
  }
  return words;
}

std::string FormatFileTimeUtc(std::uint64_t fileTime) {
  if (fileTime == 0) return "";
  const std::optional<CalendarTime> t = CalendarOfFileTime(fileTime);
  if (!t) return kTimeOutOfRange;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", t->year, t->month, t->day, t->hour,
                t->minute, t->second);
  return text;
}

namespace {

std::string Shown(const std::optional<std::string>& text, unsigned codePage) {
  return text ? AnsiToUtf8(*text, codePage) : "(absent)";
}

std::string Ratio(std::uint32_t stored, std::uint32_t original) {
  if (original == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * stored / original);
  return text;
}

std::string Version(MemberVersion v) {
  return std::to_string(v.ms >> 16) + "." + std::to_string(v.ms & 0xFFFF) + "." +
         std::to_string(v.ls >> 16) + "." + std::to_string(v.ls & 0xFFFF);
}

std::string Padded(std::string text, std::size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string pad(width - text.size(), ' ');
  return right ? pad + text : text + pad;
}

std::string IpcPrefix(const ArchiveHeader& h) {
  std::string text;
  for (char c : h.ipcPrefix) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      text += c;
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", u);
      text += esc;
    }
  }
  return text;
}


// ------------------------------------------------------------------- JSON

using Json = nlohmann::ordered_json;

// An archive text: converted from the code page like the member names; null
// when absent.
Json Text(const std::optional<std::string>& ansi, unsigned codePage) {
  return ansi ? Json(AnsiToUtf8(*ansi, codePage)) : Json(nullptr);
}

// "1999-09-27T06:31:34Z"; null for 0 and beyond the year 9999, where no
// ISO 8601 text of four-digit years exists (fileTime still holds the value).
Json JsonTime(std::uint64_t fileTime) {
  if (fileTime == 0) return nullptr;
  std::string t = FormatFileTimeUtc(fileTime);
  if (t == kTimeOutOfRange) return nullptr;
  t[10] = 'T';
  return t + "Z";
}

}  // namespace

void PrintListing(const ArchiveListing& l, const std::string& title, std::ostream& out, unsigned codePage) {
  out << title << ": " << l.fileSize << " bytes, archive at offset " << kArchiveOffset << ", texts read as code page "
      << codePage << "\n";
  if (l.error == kArchiveHeaderMissing || l.error == kArchiveHeaderInvalid) return;

  const ArchiveHeader& h = l.header;
  std::string flagNames;
  for (const std::string& name : HeaderFlagNames(h.flags)) flagNames += " " + name;
  char flags[8];
  std::snprintf(flags, sizeof flags, "0x%02X", h.flags);
  out << "\nHeader\n"
      << "  magic          QZ\n"
      << "  flags          " << flags << (flagNames.empty() ? "" : " (" + flagNames.substr(1) + ")") << "\n"
      << "  fileCount      " << h.fileCount << "\n"
      << "  iconCount      " << h.iconCount << "\n"
      << "  requiredSpace  " << h.requiredSpace << " bytes (" << h.requiredSpace / 1048576 << " MB)\n"
      << "  helpContext    " << h.helpContext << "\n"
      << "  headerLength   " << h.headerLength << "\n"
      << "  externalSize   " << h.externalSize << "\n"
      << "  ipcPrefix      " << IpcPrefix(h) << "\n";

  out << "\nSettings\n";
  for (std::size_t i = 0; i < kSettingsStringCount; ++i)
    out << "  " << Padded(kSettingsStrings[i].field, 17) << Shown(l.settings[i], codePage) << "\n";
  if (!l.headerRead) return;

  out << "\nFiles (" << l.members.size() << " of " << h.fileCount << ")\n";
  out << "  " << Padded("Stored", 10, true) << " " << Padded("Original", 10, true) << " "
      << Padded("Ratio", 6, true) << "  " << Padded("Time (UTC)", 19) << "  "
      << Padded("Flags", 15) << "  " << Padded("Version", 15) << "  Name\n";
  for (const ArchiveMemberInfo& m : l.members) {
    const FileEntryHeader& e = m.entry;
    const std::string time = FormatFileTimeUtc(FileEntryTime(e));
    out << "  " << Padded(std::to_string(e.storedLength), 10, true) << " "
        << Padded(std::to_string(e.originalSize), 10, true) << " "
        << Padded((e.flags & kMemberCmp) ? Ratio(e.storedLength, e.originalSize) : "", 6, true)
        << "  " << Padded(time.empty() ? "-" : time, 19) << "  "
        << Padded(MemberFlagWords(e.flags), 15) << "  "
        << Padded((e.flags & kMemberSys) ? Version(m.version) : "", 15) << "  "
        << AnsiToUtf8(m.name, codePage) << "\n";
  }

  if (!l.icons.empty() || h.iconCount != 0) {
    out << "\nIcons (" << l.icons.size() << " of " << h.iconCount << ")\n";
    for (const PackageIcon& icon : l.icons) {
      const std::string name = AnsiToUtf8(icon.name.value_or(""), codePage);
      if (!name.empty() && name[0] == '*') {
        out << "  uninstall entry \"" << name.substr(1) << "\", program " << Shown(icon.arguments, codePage) << "\n";
      } else {
        out << "  \"" << name << "\"  target " << Shown(icon.target, codePage) << ", arguments "
            << Shown(icon.arguments, codePage) << "\n";
      }
    }
  }

  if (l.trailing) {
    const TrailingInfo& t = *l.trailing;
    out << "\nTrailing block " << t.typeTag << ", " << t.count << (t.count == 1 ? " entry" : " entries");
    if (t.typeTag != "DS") out << ", configuration name " << Shown(t.configName, codePage);
    out << "\n";
    for (const TrailingMemberInfo& m : t.members) {
      const std::string time = FormatFileTimeUtc(m.lastWriteTime);
      out << "  " << Padded(std::to_string(m.length), 10, true) << "  "
          << Padded(time.empty() ? "-" : time, 19) << "  " << AnsiToUtf8(m.name, codePage) << "\n";
    }
  } else if (l.error == kArchiveOk) {
    out << "\nNo trailing block"
        << ((h.flags & kHeaderFlagNoTrailing) ? " (no_trailing is set)" : "") << "\n";
  }
}

void PrintListingJson(const ArchiveListing& l, std::ostream& out, unsigned codePage) {
  const ArchiveHeader& h = l.header;
  const bool header = l.error != kArchiveHeaderMissing && l.error != kArchiveHeaderInvalid;
  Json root;
  root["fileSize"] = l.fileSize;
  root["archiveOffset"] = kArchiveOffset;
  root["codePage"] = codePage;
  if (header) {
    root["header"] = {
        {"magic", "QZ"},
        {"flags", h.flags},
        {"flagNames", HeaderFlagNames(h.flags)},
        {"fileCount", h.fileCount},
        {"iconCount", h.iconCount},
        {"requiredSpace", h.requiredSpace},
        {"helpContext", h.helpContext},
        {"headerLength", h.headerLength},
        {"externalSize", h.externalSize},
        {"ipcPrefix", AnsiToUtf8(std::string(h.ipcPrefix, 2), codePage)},
    };
    Json settings = Json::object();
    for (std::size_t i = 0; i < kSettingsStringCount; ++i) settings[kSettingsStrings[i].field] = Text(l.settings[i], codePage);
    root["settings"] = std::move(settings);
  } else {
    root["header"] = nullptr;
    root["settings"] = nullptr;
  }

  Json files = Json::array();
  for (const ArchiveMemberInfo& m : l.members) {
    const FileEntryHeader& e = m.entry;
    Json flags = Json::array();
    for (const auto& [bit, word] : {std::pair{kMemberCmp, "CMP"}, std::pair{kMemberDlr, "DLR"},
                                    std::pair{kMemberSys, "SYS"}, std::pair{kMemberExt, "EXT"}}) {
      if (e.flags & bit) flags.push_back(word);
    }
    files.push_back({
        {"name", AnsiToUtf8(m.name, codePage)},
        {"flags", std::move(flags)},
        {"storedLength", e.storedLength},
        {"originalSize", e.originalSize},
        {"time", JsonTime(FileEntryTime(e))},
        {"fileTime", FileEntryTime(e)},
        {"version", (e.flags & kMemberSys) ? Json(Version(m.version)) : Json(nullptr)},
    });
  }
  root["files"] = std::move(files);

  Json icons = Json::array();
  for (const PackageIcon& icon : l.icons) {
    icons.push_back({
        {"name", Text(icon.name, codePage)},
        {"arguments", Text(icon.arguments, codePage)},
        {"target", Text(icon.target, codePage)},
        {"uninstall", icon.name && !icon.name->empty() && (*icon.name)[0] == '*'},
    });
  }
  root["icons"] = std::move(icons);

  if (l.trailing) {
    const TrailingInfo& t = *l.trailing;
    Json members = Json::array();
    for (const TrailingMemberInfo& m : t.members) {
      members.push_back({
          {"name", AnsiToUtf8(m.name, codePage)},
          {"size", m.length},
          {"time", JsonTime(m.lastWriteTime)},
          {"fileTime", m.lastWriteTime},
      });
    }
    root["trailing"] = {
        {"type", AnsiToUtf8(t.typeTag, codePage)},
        {"configName", Text(t.configName, codePage)},
        {"count", t.count},
        {"files", std::move(members)},
    };
  } else {
    root["trailing"] = nullptr;
  }

  if (l.error == kArchiveOk) {
    root["error"] = nullptr;
  } else {
    const char* text = ArchiveErrorText(l.error);
    root["error"] = {
        {"code", l.error},
        {"text", text ? Json(text) : Json(nullptr)},
        {"offset", l.errorOffset},
        {"detail", l.errorDetail},
    };
  }
  // dump() refuses a string that is not UTF-8 (nlohmann::json::type_error)
  // rather than printing it.
  out << root.dump(2) << "\n";
}
