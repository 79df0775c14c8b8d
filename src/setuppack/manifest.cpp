#include "setuppack/manifest.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>

#include "archive/member_name.hpp"
#include "setuppack/errors.hpp"

std::string ManifestPlace::Message(std::string_view problem) const {
  std::string text = file;
  if (line != 0) text += ":" + std::to_string(line);
  text += ": ";
  if (!field.empty()) text += field + ": ";
  text += problem;
  return text;
}

// ------------------------------------------------------------- value helpers

std::optional<std::uint32_t> ParseByteSize(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  while (i < text.size() && text[i] == ' ') ++i;
  std::string unit(text.substr(i));
  while (!unit.empty() && unit.back() == ' ') unit.pop_back();
  std::string lower;
  for (char c : unit) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::pair<const char*, std::uint64_t> kUnits[] = {
      {"", 1},          {"b", 1},           {"byte", 1},        {"bytes", 1},
      {"kib", 1 << 10}, {"mib", 1 << 20},   {"gib", 1u << 30},  {"kb", 1000},
      {"mb", 1000000},  {"gb", 1000000000},
  };
  for (const auto& [name, factor] : kUnits) {
    if (lower == name) {
      const std::uint64_t bytes = value * factor;
      if (bytes > 0xFFFFFFFFull) return std::nullopt;
      return static_cast<std::uint32_t>(bytes);
    }
  }
  return std::nullopt;
}

std::optional<MemberVersion> ParseMemberVersion(std::string_view text) {
  std::uint32_t parts[4];
  std::size_t count = 0;
  std::size_t i = 0;
  while (count < 4) {
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      if (value > 0xFFFF) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    parts[count++] = value;
    if (count < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return MemberVersion{parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

std::string ToMemberName(std::string_view text) {
  std::string name(text);
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::optional<std::string> MemberNameProblem(std::string_view name) {
  if (name.empty()) return "is empty; give a file name";
  if (name.size() > kMaxArchiveString)
    return "is " + std::to_string(name.size()) + " bytes long; a member name holds at most 255";
  if (name.find('\0') != std::string_view::npos) return "holds a zero byte";
  const std::string zero(name);
  if (!IsSafeMemberName(zero.c_str()))
    return "\"" + zero +
           "\" would leave the install directory (a \"..\" part, a leading backslash, a drive "
           "letter or a colon); give a path below the install directory";
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("<>\"|?*").find(c) != std::string_view::npos)
      return "\"" + zero + "\" holds a character that Windows refuses in file names";
  }
  if (name.back() == '\\') return "\"" + zero + "\" ends with a backslash; name a file";
  if (name.find("\\\\") != std::string_view::npos)
    return "\"" + zero + "\" has an empty path part (two backslashes in a row)";
  return std::nullopt;
}

namespace {

// UTF-8 (the manifest's encoding) -> Windows code page 1252, the ANSI code page
// the archive texts are meant for. Returns nullopt for invalid UTF-8 and for
// characters that code page 1252 lacks.
std::optional<std::string> ToAnsi(std::string_view utf8) {
  static const std::pair<char32_t, unsigned char> kHigh[] = {
      {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85},
      {0x2020, 0x86}, {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A},
      {0x2039, 0x8B}, {0x0152, 0x8C}, {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92},
      {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95}, {0x2013, 0x96}, {0x2014, 0x97},
      {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B}, {0x0153, 0x9C},
      {0x017E, 0x9E}, {0x0178, 0x9F},
  };
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    std::size_t extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      return std::nullopt;
    }
    if (i + extra >= utf8.size()) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) return std::nullopt;
      cp = cp << 6 | (c & 0x3F);
    }
    i += extra + 1;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    bool found = false;
    for (const auto& [code, ansi] : kHigh) {
      if (code == cp) {
        out += static_cast<char>(ansi);
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  return out;
}

std::string JoinKeys(std::initializer_list<std::string_view> keys) {
  std::string text;
  for (std::string_view k : keys) {
    if (!text.empty()) text += ", ";
    text += k;
  }
  return text;
}

std::string_view TypeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return "a text";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a floating-point number";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::date: return "a date";
    case toml::node_type::time: return "a time";
    case toml::node_type::date_time: return "a date-time";
    default: return "nothing";
  }
}

// FILETIME of a TOML date-time; throws a plain message on problems.
std::optional<std::uint64_t> FileTimeOfDateTime(const toml::date_time& dt, std::string& problem) {
  if (!dt.offset) {
    problem = "has no time zone; add one, e.g. 1999-09-27T06:31:34Z";
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day ymd{year{dt.date.year}, month{dt.date.month}, day{dt.date.day}};
  if (!ymd.ok()) {
    problem = "is not a valid date";
    return std::nullopt;
  }
  const std::int64_t days = sys_days{ymd}.time_since_epoch().count();
  const std::int64_t seconds = days * 86400 + dt.time.hour * 3600 + dt.time.minute * 60 +
                               dt.time.second - std::int64_t{dt.offset->minutes} * 60;
  const std::int64_t earliest = -static_cast<std::int64_t>(kFileTimeUnixEpoch / 10000000);
  if (seconds <= earliest) {
    problem = "lies before 1601, where Windows file times begin";
    return std::nullopt;
  }
  return FileTimeFromUnix(seconds, dt.time.nanosecond);
}

class ManifestReader {
public:
  ManifestReader(std::string file, std::filesystem::path base)
      : file_(std::move(file)), base_(std::move(base)) {}

  Manifest Read(const toml::table& root, const std::filesystem::path& path);

private:
  ManifestPlace Place(const toml::node& node, std::string field) const {
    return ManifestPlace{file_, node.source().begin.line, std::move(field)};
  }
  [[noreturn]] void Fail(const toml::node& node, const std::string& field,
                         std::string_view problem) const {
    throw InputError(Place(node, field).Message(problem));
  }
  [[noreturn]] void FailAt(std::uint32_t line, const std::string& field,
                           std::string_view problem) const {
    throw InputError(ManifestPlace{file_, line, field}.Message(problem));
  }

  static std::string Join(const std::string& prefix, std::string_view key) {
    return prefix.empty() ? std::string(key) : prefix + "." + std::string(key);
  }

  void CheckKeys(const toml::table& table, const std::string& prefix,
                 std::initializer_list<std::string_view> allowed) const {
    for (auto&& [key, node] : table) {
      if (std::find(allowed.begin(), allowed.end(), key.str()) == allowed.end())
        FailAt(key.source().begin.line, Join(prefix, key.str()),
               "unknown field; the fields here are " + JoinKeys(allowed));
    }
  }

  const toml::table* Table(const toml::table& parent, std::string_view key,
                           const std::string& prefix) const {
    const toml::node* node = parent.get(key);
    if (!node) return nullptr;
    if (!node->is_table())
      Fail(*node, Join(prefix, key), "must be a table, not " + std::string(TypeName(*node)));
    return node->as_table();
  }

  // Array of tables ([[key]]); an absent key is an empty list.
  std::vector<const toml::table*> TableArray(const toml::table& parent, std::string_view key,
                                             const std::string& prefix) const {
    std::vector<const toml::table*> tables;
    const toml::node* node = parent.get(key);
    if (!node) return tables;
    const toml::array* array = node->as_array();
    if (!array)
      Fail(*node, Join(prefix, key),
           "must be an array of tables ([[" + Join(prefix, key) + "]]), not " +
               std::string(TypeName(*node)));
    for (std::size_t i = 0; i < array->size(); ++i) {
      const toml::node& item = *array->get(i);
      if (!item.is_table())
        Fail(item, Join(prefix, key) + "[" + std::to_string(i) + "]",
             "must be a table, not " + std::string(TypeName(item)));
      tables.push_back(item.as_table());
    }
    return tables;
  }

  // A text of 1..255 bytes in code page 1252, or nullopt when the key is absent.
  std::optional<std::string> Text(const toml::table& table, std::string_view key,
                                  const std::string& prefix) const {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    const std::string field = Join(prefix, key);
    if (!node->is_string())
      Fail(*node, field, "must be a text in double quotes, not " + std::string(TypeName(*node)));
    const std::string& utf8 = node->as_string()->get();
    std::optional<std::string> ansi = ToAnsi(utf8);
    if (!ansi)
      Fail(*node, field,
           "holds characters that the Windows code page 1252 cannot show; use Western European "
           "characters only");
    if (ansi->empty()) Fail(*node, field, "is empty; leave the field out to store no value");
    if (ansi->size() > kMaxArchiveString)
      Fail(*node, field,
           "is " + std::to_string(ansi->size()) + " bytes long; the archive stores at most 255");
    return ansi;
  }

  std::string RequiredText(const toml::table& table, std::string_view key,
                           const std::string& prefix, std::string_view hint) const {
    std::optional<std::string> text = Text(table, key, prefix);
    if (!text)
      FailAt(table.source().begin.line, Join(prefix, key),
             "missing; " + std::string(hint));
    return *text;
  }

  // A plain file-system path text (UTF-8 kept as it is).
  std::optional<std::string> PathText(const toml::table& table, std::string_view key,
                                      const std::string& prefix) const {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    if (!node->is_string())
      Fail(*node, Join(prefix, key), "must be a text, not " + std::string(TypeName(*node)));
    const std::string& text = node->as_string()->get();
    if (text.empty()) Fail(*node, Join(prefix, key), "is empty; give a file path");
    return text;
  }

  bool Bool(const toml::table& table, std::string_view key, const std::string& prefix,
            bool fallback = false) const {
    const toml::node* node = table.get(key);
    if (!node) return fallback;
    if (!node->is_boolean())
      Fail(*node, Join(prefix, key),
           "must be true or false, not " + std::string(TypeName(*node)));
    return node->as_boolean()->get();
  }

  std::optional<std::int64_t> Integer(const toml::table& table, std::string_view key,
                                      const std::string& prefix, std::int64_t low,
                                      std::int64_t high) const {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    if (!node->is_integer())
      Fail(*node, Join(prefix, key), "must be an integer, not " + std::string(TypeName(*node)));
    const std::int64_t value = node->as_integer()->get();
    if (value < low || value > high)
      Fail(*node, Join(prefix, key),
           std::to_string(value) + " is out of range; give " + std::to_string(low) + " to " +
               std::to_string(high));
    return value;
  }

  // A member name: "/" or "\" separators, checked.
  std::string MemberName(const toml::node& node, const std::string& field,
                         const std::string& text) const {
    std::optional<std::string> ansi = ToAnsi(text);
    if (!ansi)
      Fail(node, field, "holds characters that the Windows code page 1252 cannot show");
    std::string name = ToMemberName(*ansi);
    if (std::optional<std::string> problem = MemberNameProblem(name)) Fail(node, field, *problem);
    return name;
  }

  // time: RFC 3339 date-time (TOML value or text), or 0 for none.
  std::optional<std::uint64_t> Time(const toml::table& table, const std::string& prefix) const {
    const toml::node* node = table.get("time");
    if (!node) return std::nullopt;
    const std::string field = Join(prefix, "time");
    std::string problem;
    if (node->is_integer()) {
      if (node->as_integer()->get() != 0)
        Fail(*node, field, "must be a date-time such as 1999-09-27T06:31:34Z, or 0 for no time");
      return std::uint64_t{0};
    }
    std::optional<toml::date_time> dt;
    if (node->is_date_time()) {
      dt = node->as_date_time()->get();
    } else if (node->is_string()) {
      try {
        const toml::table t = toml::parse("t = " + node->as_string()->get());
        if (t.size() == 1 && t.get("t") && t.get("t")->is_date_time())
          dt = t.get("t")->as_date_time()->get();
      } catch (const toml::parse_error&) {
      }
      if (!dt)
        Fail(*node, field,
             "\"" + node->as_string()->get() +
                 "\" is not an RFC 3339 date-time; write e.g. \"1999-09-27T06:31:34Z\"");
    } else {
      Fail(*node, field,
           "must be a date-time such as 1999-09-27T06:31:34Z, or 0 for no time, not " +
               std::string(TypeName(*node)));
    }
    std::optional<std::uint64_t> fileTime = FileTimeOfDateTime(*dt, problem);
    if (!fileTime) Fail(*node, field, problem);
    return fileTime;
  }

  void ReadSettings(const toml::table& root, Manifest& m) const;
  void ReadHeader(const toml::table& root, Manifest& m) const;
  void ReadFiles(const toml::table& root, Manifest& m) const;
  void ReadIcons(const toml::table& root, Manifest& m) const;
  void ReadTrailing(const toml::table& root, Manifest& m) const;

  std::string file_;
  std::filesystem::path base_;
};

Manifest ManifestReader::Read(const toml::table& root, const std::filesystem::path& path) {
  Manifest m;
  m.path = path;
  m.baseDirectory = base_;
  CheckKeys(root, "", {"settings", "header", "files", "icons", "trailing"});
  ReadSettings(root, m);
  ReadHeader(root, m);
  ReadFiles(root, m);
  ReadIcons(root, m);
  ReadTrailing(root, m);

  // no_trailing defaults to "no [trailing] table"; set explicitly with a
  // trailing block it would hide the block from setup.exe.
  const toml::table* header = root.get_as<toml::table>("header");
  const toml::node* noTrailing = header ? header->get("no_trailing") : nullptr;
  if (noTrailing) {
    if (m.trailing && (m.headerFlags & kHeaderFlagNoTrailing))
      Fail(*noTrailing, "header.no_trailing",
           "is true, but the manifest has a [trailing] block that setup.exe would then never "
           "read; remove one of the two");
  } else if (!m.trailing) {
    m.headerFlags |= kHeaderFlagNoTrailing;
  }
  return m;
}

void ManifestReader::ReadSettings(const toml::table& root, Manifest& m) const {
  static constexpr std::string_view kKeys[kSettingsStringCount] = {
      "run_command",  "help_file",   "readme_file",   "ini_file",  "launcher_classes",
      "icon_group",   "default_path", "config_name",  "launcher_file", "tray_file",
      "reserved_1",   "reserved_2",
  };
  const toml::table* settings = Table(root, "settings", "");
  if (!settings)
    FailAt(0, "settings",
           "missing; add a [settings] table with at least run_command and default_path");
  CheckKeys(*settings, "settings",
            {kKeys[0], kKeys[1], kKeys[2], kKeys[3], kKeys[4], kKeys[5], kKeys[6], kKeys[7],
             kKeys[8], kKeys[9], kKeys[10], kKeys[11]});
  for (std::size_t i = 0; i < kSettingsStringCount; ++i) {
    if (i == kLauncherClasses) {
      const toml::node* node = settings->get(kKeys[i]);
      if (node && node->is_array()) {
        // An array of class names is stored comma-separated.
        std::string joined;
        const toml::array& array = *node->as_array();
        for (std::size_t k = 0; k < array.size(); ++k) {
          const toml::node& item = *array.get(k);
          const std::string field = "settings.launcher_classes[" + std::to_string(k) + "]";
          if (!item.is_string()) Fail(item, field, "must be a text, not " + std::string(TypeName(item)));
          std::optional<std::string> ansi = ToAnsi(item.as_string()->get());
          if (!ansi || ansi->empty() || ansi->find(',') != std::string::npos)
            Fail(item, field, "must be a window class name without commas");
          if (!joined.empty()) joined += ",";
          joined += *ansi;
        }
        if (joined.empty()) Fail(*node, "settings.launcher_classes", "is empty; leave it out");
        if (joined.size() > kMaxArchiveString)
          Fail(*node, "settings.launcher_classes",
               "joined with commas is " + std::to_string(joined.size()) +
                   " bytes long; the archive stores at most 255");
        m.settings[i] = joined;
        continue;
      }
    }
    m.settings[i] = Text(*settings, kKeys[i], "settings");
  }
  if (!m.settings.runCommand)
    FailAt(settings->source().begin.line, "settings.run_command",
           "missing; setup.exe refuses a package without it. Name the program that the "
           "finish dialog starts, e.g. run_command = \"Program.exe\"");
  if (!m.settings.defaultPath)
    FailAt(settings->source().begin.line, "settings.default_path",
           "missing; setup.exe refuses a package without it. Give the default install "
           "directory, e.g. default_path = 'C:\\Program Files\\Product'");
}

void ManifestReader::ReadHeader(const toml::table& root, Manifest& m) const {
  const toml::table* header = Table(root, "header", "");
  if (!header)
    FailAt(0, "header",
           "missing; add a [header] table with at least ipc_prefix, the two characters of the "
           "agent channel's names");
  CheckKeys(*header, "header",
            {"ipc_prefix", "required_space", "help_context", "platform", "not_nt", "nt4",
             "nt_only", "no_dlr", "no_trailing", "flag_01"});

  const std::string prefix =
      RequiredText(*header, "ipc_prefix", "header",
                   "give the two characters of the agent channel's names, e.g. ipc_prefix = \"KO\"");
  if (prefix.size() != 2)
    Fail(*header->get("ipc_prefix"), "header.ipc_prefix",
         "must be exactly two characters, not " + std::to_string(prefix.size()));
  m.ipcPrefix[0] = prefix[0];
  m.ipcPrefix[1] = prefix[1];

  if (const toml::node* node = header->get("required_space")) {
    const std::string field = "header.required_space";
    if (node->is_integer()) {
      const std::int64_t v = node->as_integer()->get();
      if (v < 0 || v > 0xFFFFFFFFll)
        Fail(*node, field, "must be 0 to 4294967295 bytes");
      m.requiredSpace = static_cast<std::uint32_t>(v);
    } else if (node->is_string()) {
      m.requiredSpace = ParseByteSize(node->as_string()->get());
      if (!m.requiredSpace)
        Fail(*node, field,
             "\"" + node->as_string()->get() +
                 "\" is not a size below 4 GiB; write bytes, or e.g. \"3 MiB\", \"512 KiB\", "
                 "\"12 KB\"");
    } else {
      Fail(*node, field,
           "must be a number of bytes or a text such as \"3 MiB\", not " +
               std::string(TypeName(*node)));
    }
  }
  if (auto v = Integer(*header, "help_context", "header", 0, 65535))
    m.helpContext = static_cast<std::uint16_t>(*v);

  if (const toml::node* node = header->get("platform")) {
    for (std::string_view key : {"not_nt", "nt4", "nt_only"}) {
      if (header->get(key))
        Fail(*node, "header.platform",
             "is given together with header." + std::string(key) + "; use one or the other");
    }
    if (!node->is_string())
      Fail(*node, "header.platform", "must be a text, not " + std::string(TypeName(*node)));
    const std::string& value = node->as_string()->get();
    static const std::pair<const char*, std::uint8_t> kPlatforms[] = {
        {"any", 0},
        {"not-nt", kHeaderFlagNotNt},
        {"nt4", kHeaderFlagNt4},
        {"nt-only", kHeaderFlagNtOnly},
        {"nt4-only", kHeaderFlagNt4 | kHeaderFlagNtOnly},
    };
    bool known = false;
    for (const auto& [name, bits] : kPlatforms) {
      if (value == name) {
        m.headerFlags |= bits;
        known = true;
      }
    }
    if (!known)
      Fail(*node, "header.platform",
           "\"" + value + "\" is unknown; use \"any\", \"not-nt\", \"nt4\", \"nt-only\" or \"nt4-only\"");
  }
  if (Bool(*header, "not_nt", "header")) m.headerFlags |= kHeaderFlagNotNt;
  if (Bool(*header, "nt4", "header")) m.headerFlags |= kHeaderFlagNt4;
  if (Bool(*header, "nt_only", "header")) m.headerFlags |= kHeaderFlagNtOnly;
  if (Bool(*header, "no_dlr", "header")) m.headerFlags |= kHeaderFlagNoDlr;
  if (Bool(*header, "no_trailing", "header")) m.headerFlags |= kHeaderFlagNoTrailing;
  if (Bool(*header, "flag_01", "header")) m.headerFlags |= kHeaderFlagUnused01;
  if ((m.headerFlags & kHeaderFlagNotNt) && (m.headerFlags & (kHeaderFlagNtOnly)))
    FailAt(header->source().begin.line, "header",
           "the package is marked both not for Windows NT and for Windows NT only; no Windows "
           "would install it");
}

void ManifestReader::ReadFiles(const toml::table& root, Manifest& m) const {
  const std::vector<const toml::table*> files = TableArray(root, "files", "");
  if (files.size() > 65535)
    FailAt(0, "files", "has " + std::to_string(files.size()) + " entries; at most 65535 fit");
  std::map<std::string, std::string> seen;  // folded name -> field
  std::map<std::string, std::string> seenExternal;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const toml::table& t = *files[i];
    const std::string prefix = "files[" + std::to_string(i) + "]";
    CheckKeys(t, prefix,
              {"source", "name", "system", "version", "dlr", "external", "compress", "literals",
               "dictionary", "time"});
    ManifestFile f;
    f.place = Place(t, prefix);
    std::optional<std::string> source = PathText(t, "source", prefix);
    if (!source) FailAt(t.source().begin.line, prefix + ".source", "missing; give the file to pack");
    f.sourceText = *source;
    f.source = base_ / *source;
    f.sourcePlace = Place(*t.get("source"), prefix + ".source");

    if (const toml::node* node = t.get("name")) {
      if (!node->is_string())
        Fail(*node, prefix + ".name", "must be a text, not " + std::string(TypeName(*node)));
      f.name = MemberName(*node, prefix + ".name", node->as_string()->get());
    } else {
      f.name = MemberName(*t.get("source"), prefix + ".source",
                          std::filesystem::path(*source).filename().string());
    }

    const bool system = Bool(t, "system", prefix);
    if (system) f.flags |= kMemberSys;
    if (Bool(t, "dlr", prefix)) f.flags |= kMemberDlr;
    if (Bool(t, "external", prefix)) {
      f.flags |= kMemberExt;
      if (f.name.find('\\') != std::string::npos)
        Fail(t.get("name") ? *t.get("name") : t, prefix + ".name",
             "\"" + f.name +
                 "\" has a directory part, but an external member file lies beside the setup "
                 "program and takes the member name with its first character replaced by \"_\" "
                 "(here \"" + ExternalFileName(f.name) +
                 "\"); give external members a plain file name");
    }

    if (const toml::node* node = t.get("version")) {
      if (!system)
        Fail(*node, prefix + ".version",
             "only system members carry a version; add system = true or remove the version");
      if (!node->is_string())
        Fail(*node, prefix + ".version",
             "must be a text such as \"2.0.0.0\", not " + std::string(TypeName(*node)));
      std::optional<MemberVersion> v = ParseMemberVersion(node->as_string()->get());
      if (!v)
        Fail(*node, prefix + ".version",
             "\"" + node->as_string()->get() +
                 "\" is not a version; write four numbers 0 to 65535, e.g. \"2.0.0.0\"");
      f.version = *v;
    }

    f.compress = Bool(t, "compress", prefix);
    if (f.compress) f.flags |= kMemberCmp;
    if (const toml::node* node = t.get("literals")) {
      if (!f.compress)
        Fail(*node, prefix + ".literals", "only applies with compress = true");
      const std::optional<std::string> value = node->value<std::string>();
      if (value == "binary") f.implode.literals = LiteralMode::Binary;
      else if (value == "ascii") f.implode.literals = LiteralMode::Ascii;
      else if (value == "auto") f.implode.literals = LiteralMode::Auto;
      else Fail(*node, prefix + ".literals", "must be \"binary\", \"ascii\" or \"auto\"");
    }
    if (const toml::node* node = t.get("dictionary")) {
      if (!f.compress)
        Fail(*node, prefix + ".dictionary", "only applies with compress = true");
      const std::optional<std::int64_t> size =
          node->is_integer() ? node->value<std::int64_t>() : std::nullopt;
      if (size == 1024 || size == 2048 || size == 4096) f.implode.dictionarySize = static_cast<unsigned>(*size);
      else if (node->value<std::string>() == "auto") f.implode.dictionarySize = 0;
      else Fail(*node, prefix + ".dictionary", "must be 1024, 2048, 4096 or \"auto\"");
    }
    f.time = Time(t, prefix);

    std::string folded = (system ? "system\\" : "") + f.name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const toml::node& nameNode = t.get("name") ? *t.get("name") : *t.get("source");
    if (auto [it, inserted] = seen.emplace(folded, prefix); !inserted)
      Fail(nameNode, prefix + ".name",
           "\"" + f.name + "\" is already the name of " + it->second +
               " (Windows file names ignore case); give each member its own name");
    if (f.flags & kMemberExt) {
      // Two external members must not share their "_" file.
      std::string external = ExternalFileName(f.name);
      for (char& c : external) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (auto [it, inserted] = seenExternal.emplace(external, prefix); !inserted)
        Fail(nameNode, prefix + ".name",
             "the external member file \"" + ExternalFileName(f.name) + "\" is already that of " +
                 it->second + "; rename one of the two members");
    }
    m.files.push_back(std::move(f));
  }
}

void ManifestReader::ReadIcons(const toml::table& root, Manifest& m) const {
  const std::vector<const toml::table*> icons = TableArray(root, "icons", "");
  if (icons.size() > 65535)
    FailAt(0, "icons", "has " + std::to_string(icons.size()) + " entries; at most 65535 fit");
  for (std::size_t i = 0; i < icons.size(); ++i) {
    const toml::table& t = *icons[i];
    const std::string prefix = "icons[" + std::to_string(i) + "]";
    PackageIcon icon;
    if (Bool(t, "uninstall", prefix)) {
      CheckKeys(t, prefix, {"uninstall", "name", "program"});
      const std::string name = RequiredText(t, "name", prefix,
                                            "give the display name of the uninstall entry");
      if (name.size() + 1 > kMaxArchiveString)
        Fail(*t.get("name"), prefix + ".name",
             "is " + std::to_string(name.size()) +
                 " bytes long; with its \"*\" the uninstall name holds at most 254");
      icon.name = "*" + name;
      icon.arguments = RequiredText(t, "program", prefix,
                                    "give the uninstall program, relative to the install directory");
    } else {
      CheckKeys(t, prefix, {"uninstall", "name", "arguments", "target"});
      icon.name = RequiredText(t, "name", prefix, "give the title of the shortcut");
      if ((*icon.name)[0] == '*')
        Fail(*t.get("name"), prefix + ".name",
             "a name beginning with \"*\" is the uninstall entry; write uninstall = true, "
             "name = the display name and program = the uninstall program");
      icon.arguments = Text(t, "arguments", prefix);
      icon.target = Text(t, "target", prefix);
    }
    m.icons.push_back(std::move(icon));
  }
}

void ManifestReader::ReadTrailing(const toml::table& root, Manifest& m) const {
  const toml::table* t = Table(root, "trailing", "");
  if (!t) return;
  CheckKeys(*t, "trailing", {"type", "config_name", "files"});
  ManifestTrailing trailing;
  if (std::optional<std::string> type = Text(*t, "type", "trailing")) {
    if (*type != "QZ" && *type != "CT" && *type != "DS")
      Fail(*t->get("type"), "trailing.type", "\"" + *type + "\" is unknown; use \"QZ\", \"CT\" or \"DS\"");
    trailing.typeTag = *type;
  }
  const bool qz = trailing.typeTag == "QZ";
  trailing.configName = Text(*t, "config_name", "trailing");
  if (trailing.configName && trailing.typeTag == "DS")
    Fail(*t->get("config_name"), "trailing.config_name",
         "a trailing block of type \"DS\" has no configuration name; remove it or use \"QZ\" "
         "or \"CT\"");
  const std::vector<const toml::table*> files = TableArray(*t, "files", "trailing");
  if (files.size() > kMaxTrailingCount)
    FailAt(t->source().begin.line, "trailing.files",
           "has " + std::to_string(files.size()) + " entries; setup.exe accepts at most 100");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const toml::table& e = *files[i];
    const std::string prefix = "trailing.files[" + std::to_string(i) + "]";
    CheckKeys(e, prefix, {"source", "name", "time"});
    ManifestTrailingFile f;
    f.place = Place(e, prefix);
    std::optional<std::string> source = PathText(e, "source", prefix);
    if (!source) FailAt(e.source().begin.line, prefix + ".source", "missing; give the file to pack");
    f.sourceText = *source;
    f.source = base_ / *source;
    f.sourcePlace = Place(*e.get("source"), prefix + ".source");
    if (const toml::node* node = e.get("name")) {
      if (!node->is_string())
        Fail(*node, prefix + ".name", "must be a text, not " + std::string(TypeName(*node)));
      f.name = MemberName(*node, prefix + ".name", node->as_string()->get());
    } else {
      f.name = MemberName(*e.get("source"), prefix + ".source",
                          std::filesystem::path(*source).filename().string());
    }
    if (e.get("time") && !qz)
      Fail(*e.get("time"), prefix + ".time",
           "members of a \"" + trailing.typeTag +
               "\" trailing block carry no time; remove it or use type \"QZ\"");
    f.time = qz ? Time(e, prefix) : std::optional<std::uint64_t>{};
    trailing.files.push_back(std::move(f));
  }
  m.trailing = std::move(trailing);
}

}  // namespace

Manifest ParseManifest(std::string_view text, const std::filesystem::path& path) {
  const std::string file = path.string();
  toml::table root;
  try {
    root = toml::parse(text, file);
  } catch (const toml::parse_error& e) {
    throw InputError(file + ":" + std::to_string(e.source().begin.line) + ":" +
                     std::to_string(e.source().begin.column) + ": not valid TOML: " +
                     std::string(e.description()));
  }
  ManifestReader reader(file, path.parent_path());
  return reader.Read(root, path);
}

Manifest LoadManifest(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path.string() + ": cannot open the manifest; check the path");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InputError(path.string() + ": cannot read the manifest");
  return ParseManifest(text.str(), path);
}
