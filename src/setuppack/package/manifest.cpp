#include "setuppack/package/manifest.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

#include "base/bounded_text.hpp"
#include "format/member_name.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/package/source_tree.hpp"
#include "setuppack/package/toml_access.hpp"
#include "setuppack/package/values.hpp"

namespace {

// The member options a [[files]] entry may take from [defaults].
struct MemberOptions {
  bool system = false;
  bool dlr = false;
  bool compress = false;
  ImplodeOptions implode;
  std::optional<std::uint64_t> time;  // nullopt = the source's modification time
};

void ApplyOptions(const MemberOptions& options, ManifestFile& f) {
  if (options.system) f.flags |= kMemberSys;
  if (options.dlr) f.flags |= kMemberDlr;
  f.compress = options.compress;
  if (f.compress) f.flags |= kMemberCmp;
  f.implode = options.implode;
  f.time = options.time;
}

// Windows file names ignore case; the code page's letters beyond ASCII are
// left as they are.
std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

// The names given so far, for the checks between members.
struct MemberNames {
  struct Owner {
    std::string description;  // "files[2]", or "files[1] (client/a.txt)" for a tree's member
    std::size_t index;        // in Manifest::files
  };
  std::map<std::string, Owner> byName;             // NameKey -> owner
  std::map<std::string, std::string> external;     // folded external member file -> entry
  std::map<std::string, std::size_t> treeMembers;  // folded name -> index, until replaced
};

// Folded, "system\\" before system members: the two directories may hold
// the same name.
std::string NameKey(const ManifestFile& f) {
  return ((f.flags & kMemberSys) ? "system\\" : "") + Folded(f.name);
}

void CheckDirectoryNames(const Manifest& m);
void CheckPathLengths(Manifest& m);

// The keys each table accepts; CheckKeys refuses any other. ManifestSchema()
// hands the same lists out, so that docs/manifest.md can be checked against them.
constexpr std::string_view kRootKeys[] = {"codepage", "settings", "header", "defaults",
                                          "files",    "icons",    "trailing"};
constexpr std::array<std::string_view, kSettingsStringCount> kSettingsKeys = [] {
  std::array<std::string_view, kSettingsStringCount> keys{};
  for (const SettingsStringInfo& info : kSettingsStrings) keys[info.index] = info.manifestKey;
  return keys;
}();
constexpr std::string_view kHeaderKeys[] = {"ipc_prefix", "required_space", "help_context",
                                            "platform",   "not_nt",         "nt4",
                                            "nt_only",    "no_dlr",         "no_trailing",
                                            "flag_01"};
constexpr std::string_view kDefaultsKeys[] = {"compress", "literals", "dictionary",
                                              "time",     "system",   "dlr"};
constexpr std::string_view kFileKeys[] = {"source",   "name",     "system",     "version", "dlr",
                                          "external", "compress", "literals", "dictionary", "time"};
constexpr std::string_view kTreeKeys[] = {"tree",     "name",     "include",  "exclude",    "system",
                                          "dlr",      "compress", "literals", "dictionary", "time"};
constexpr std::string_view kShortcutKeys[] = {"uninstall", "name", "arguments", "target"};
constexpr std::string_view kUninstallKeys[] = {"uninstall", "name", "program"};
constexpr std::string_view kTrailingKeys[] = {"type", "config_name", "files"};
constexpr std::string_view kTrailingFileKeys[] = {"source", "name", "time"};

// The schema: which tables and keys a manifest has and what each becomes.
// Values are read through TomlAccess, which names file, line and field in
// every message.
class ManifestReader : private TomlAccess {
public:
  ManifestReader(std::string file, std::filesystem::path base)
      : TomlAccess(std::move(file)), base_(std::move(base)) {}

  Manifest Read(const toml::table& root, const std::filesystem::path& path);

private:
  // A member name: "/" or "\" separators, checked.
  // `context` goes before the problem, e.g. the file of a tree that the
  // name comes from.
  std::string MemberName(const toml::node& node, const std::string& field,
                         const std::string& text, const std::string& context = "") const {
    const AnsiText ansi = ConvertToAnsi(text, CodePage());
    if (ansi.fault != AnsiFault::kNone)
      Fail(node, field, context + "holds " + DescribeAnsiFault(ansi.fault, CodePage()));
    std::string name = ToMemberName(ansi.bytes);
    if (std::optional<std::string> problem = MemberNameProblem(name))
      Fail(node, field, context + *problem);
    return name;
  }

  MemberOptions ReadOptions(const toml::table& t, const std::string& prefix,
                            MemberOptions options, bool isEntry) const;
  std::vector<std::string> Patterns(const toml::table& t, std::string_view key,
                                    const std::string& prefix) const;
  void AddMember(ManifestFile f, bool fromTree, const toml::node& nameNode,
                 const std::string& field, const std::string& description, Manifest& m,
                 MemberNames& names) const;
  void ReadSingleFile(const toml::table& t, const std::string& prefix,
                      const MemberOptions& defaults, Manifest& m, MemberNames& names) const;
  void ReadTree(const toml::table& t, const std::string& prefix, const MemberOptions& defaults,
                Manifest& m, MemberNames& names) const;

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
    DateTime time{dt->date.year, dt->date.month, dt->date.day, dt->time.hour, dt->time.minute,
                  dt->time.second, dt->time.nanosecond, std::nullopt};
    if (dt->offset) time.offsetMinutes = dt->offset->minutes;
    std::optional<std::uint64_t> fileTime = FileTimeOfDateTime(time, problem);
    if (!fileTime) Fail(*node, field, problem);
    return fileTime;
  }

  void ReadSettings(const toml::table& root, Manifest& m) const;
  void ReadHeader(const toml::table& root, Manifest& m) const;
  void ReadFiles(const toml::table& root, Manifest& m) const;
  void ReadIcons(const toml::table& root, Manifest& m) const;
  void ReadTrailing(const toml::table& root, Manifest& m) const;

  std::filesystem::path base_;
};

Manifest ManifestReader::Read(const toml::table& root, const std::filesystem::path& path) {
  Manifest m;
  m.path = path;
  m.baseDirectory = base_;
  CheckKeys(root, "", kRootKeys);
  if (std::optional<std::int64_t> page = Integer(root, "codepage", "", 0, 65535)) {
    if (!IsAnsiCodePage(static_cast<unsigned>(*page)))
      Fail(*root.get("codepage"), "codepage",
           std::to_string(*page) + " is not a Windows ANSI code page; use " +
               std::string(kAnsiCodePageNames));
    m.codePage = static_cast<unsigned>(*page);
    SetCodePage(m.codePage);
  }
  ReadSettings(root, m);
  ReadHeader(root, m);
  ReadFiles(root, m);
  CheckDirectoryNames(m);
  CheckPathLengths(m);
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

// What a manifest without a required settings string is told to write: what
// the string holds, and an example value for its key.
struct RequiredSettingHint {
  SettingsString index;
  std::string_view what;
  std::string_view example;
};
constexpr RequiredSettingHint kRequiredSettingHints[] = {
    {kRunCommand, "Name the program that the finish dialog starts", "\"Program.exe\""},
    {kDefaultPath, "Give the default install directory", "'C:\\Program Files\\Product'"},
};

constexpr const RequiredSettingHint* HintFor(SettingsString index) {
  for (const RequiredSettingHint& hint : kRequiredSettingHints) {
    if (hint.index == index) return &hint;
  }
  return nullptr;
}

constexpr bool EachRequiredSettingHasAHint() {
  for (const SettingsStringInfo& info : kSettingsStrings) {
    if (info.required != (HintFor(info.index) != nullptr)) return false;
  }
  return true;
}
static_assert(EachRequiredSettingHasAHint(),
              "kRequiredSettingHints has a row for each required string of kSettingsStrings");

void ManifestReader::ReadSettings(const toml::table& root, Manifest& m) const {
  std::vector<std::string_view> required;
  for (const SettingsStringInfo& info : kSettingsStrings) {
    if (info.required) required.push_back(info.manifestKey);
  }
  std::string requiredKeys;  // "a, b and c"
  for (std::size_t i = 0; i < required.size(); ++i) {
    if (i > 0) requiredKeys += i + 1 == required.size() ? " and " : ", ";
    requiredKeys += required[i];
  }

  const toml::table* settings = Table(root, "settings", "");
  if (!settings)
    FailAt(0, "settings", "missing; add a [settings] table with at least " + requiredKeys);
  CheckKeys(*settings, "settings", kSettingsKeys);
  for (const SettingsStringInfo& info : kSettingsStrings) {
    const std::string field = Join("settings", info.manifestKey);
    const toml::node* node = settings->get(info.manifestKey);
    if (info.index == kLauncherClasses && node && node->is_array()) {
      // An array of class names is stored comma-separated.
      std::string joined;
      const toml::array& array = *node->as_array();
      for (std::size_t k = 0; k < array.size(); ++k) {
        const toml::node& item = *array.get(k);
        const std::string itemField = field + "[" + std::to_string(k) + "]";
        if (!item.is_string())
          Fail(item, itemField, "must be a text, not " + std::string(TypeName(item)));
        std::optional<std::string> ansi = Utf8ToAnsi(item.as_string()->get(), CodePage());
        if (!ansi || ansi->empty() || ansi->find(',') != std::string::npos)
          Fail(item, itemField, "must be a window class name without commas");
        if (!joined.empty()) joined += ",";
        joined += *ansi;
      }
      if (joined.empty()) Fail(*node, field, "is empty; leave it out");
      if (joined.size() > kMaxArchiveString)
        Fail(*node, field,
             "joined with commas is " + std::to_string(joined.size()) +
                 " bytes long; the archive stores at most 255");
      m.settings[info.index] = joined;
      continue;
    }
    m.settings[info.index] = Text(*settings, info.manifestKey, "settings");
  }
  for (const SettingsStringInfo& info : kSettingsStrings) {
    if (!info.required || m.settings[info.index]) continue;
    const RequiredSettingHint& hint = *HintFor(info.index);
    const std::string key = info.manifestKey;
    FailAt(settings->source().begin.line, Join("settings", key),
           "missing; setup.exe refuses a package without it. " + std::string(hint.what) +
               ", e.g. " + key + " = " + std::string(hint.example));
  }
}

void ManifestReader::ReadHeader(const toml::table& root, Manifest& m) const {
  const toml::table* header = Table(root, "header", "");
  if (!header)
    FailAt(0, "header",
           "missing; add a [header] table with at least ipc_prefix, the two characters of the "
           "agent channel's names");
  CheckKeys(*header, "header", kHeaderKeys);

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
    const std::optional<std::uint8_t> bits = ParsePlatform(value);
    if (!bits)
      Fail(*node, "header.platform",
           "\"" + value + "\" is unknown; use " + std::string(kPlatformNames));
    m.headerFlags |= *bits;
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

MemberOptions ManifestReader::ReadOptions(const toml::table& t, const std::string& prefix,
                                          MemberOptions options, bool isEntry) const {
  options.system = Bool(t, "system", prefix, options.system);
  options.dlr = Bool(t, "dlr", prefix, options.dlr);
  options.compress = Bool(t, "compress", prefix, options.compress);
  // [defaults] may set an encoder option for the entries that compress; an
  // entry that gives one itself must compress.
  if (const toml::node* node = t.get("literals")) {
    if (isEntry && !options.compress)
      Fail(*node, prefix + ".literals", "only applies with compress = true");
    const std::optional<std::string> text = node->value<std::string>();
    const std::optional<LiteralMode> mode = text ? ParseLiteralMode(*text) : std::nullopt;
    if (!mode) Fail(*node, prefix + ".literals", "must be \"binary\", \"ascii\" or \"auto\"");
    options.implode.literals = *mode;
  }
  if (const toml::node* node = t.get("dictionary")) {
    if (isEntry && !options.compress)
      Fail(*node, prefix + ".dictionary", "only applies with compress = true");
    // An integer, or the text "auto"; "1024" as a text is no size here.
    std::optional<unsigned> size;
    if (node->is_integer()) size = DictionarySize(node->as_integer()->get());
    else if (node->value<std::string>() == "auto") size = 0u;
    if (!size) Fail(*node, prefix + ".dictionary", "must be 1024, 2048, 4096 or \"auto\"");
    options.implode.dictionarySize = *size;
  }
  if (t.get("time")) options.time = Time(t, prefix);
  return options;
}

std::vector<std::string> ManifestReader::Patterns(const toml::table& t, std::string_view key,
                                                  const std::string& prefix) const {
  std::vector<std::string> patterns;
  const toml::node* node = t.get(key);
  if (!node) return patterns;
  const std::string field = Join(prefix, key);
  const toml::array* array = node->as_array();
  if (!array)
    Fail(*node, field, "must be a list of patterns such as [\"**/*.txt\"], not " +
                           std::string(TypeName(*node)));
  for (std::size_t k = 0; k < array->size(); ++k) {
    const toml::node& item = *array->get(k);
    const std::optional<std::string> text = item.value<std::string>();
    if (!text || text->empty())
      Fail(item, field + "[" + std::to_string(k) + "]",
           "must be a pattern such as \"**/*.txt\" (\"/\" between directories)");
    patterns.push_back(*text);
  }
  return patterns;
}

void ManifestReader::AddMember(ManifestFile f, bool fromTree, const toml::node& nameNode,
                               const std::string& field, const std::string& description,
                               Manifest& m, MemberNames& names) const {
  const std::string folded = Folded(f.name);
  std::optional<std::size_t> replaced;
  if (!fromTree) {
    // A single file of a name that a tree holds takes that member's place.
    if (auto it = names.treeMembers.find(folded); it != names.treeMembers.end()) {
      replaced = it->second;
      names.byName.erase(NameKey(m.files[*replaced]));
      names.treeMembers.erase(it);
    }
  }
  const std::size_t index = replaced.value_or(m.files.size());
  if (auto [it, inserted] = names.byName.emplace(NameKey(f), MemberNames::Owner{description, index});
      !inserted)
    Fail(nameNode, field,
         "\"" + f.name + "\" is already the name of " + it->second.description +
             " (Windows file names ignore case); give each member its own name");
  if (f.flags & kMemberExt) {
    // Two external members must not share their "_" file.
    const std::string external = ExternalFileName(f.name);
    if (auto [it, inserted] = names.external.emplace(Folded(external), description); !inserted)
      Fail(nameNode, field,
           "the external member file \"" + external + "\" is already that of " + it->second +
               "; rename one of the two members");
  }
  if (fromTree) names.treeMembers.emplace(folded, index);
  if (replaced) m.files[index] = std::move(f);
  else m.files.push_back(std::move(f));
}

void ManifestReader::ReadSingleFile(const toml::table& t, const std::string& prefix,
                                    const MemberOptions& defaults, Manifest& m,
                                    MemberNames& names) const {
  CheckKeys(t, prefix, kFileKeys);
  ManifestFile f;
  f.place = Place(t, prefix);
  std::optional<std::string> source = PathText(t, "source", prefix);
  if (!source)
    FailAt(t.source().begin.line, prefix + ".source",
           "missing; give the file to pack, or a directory with tree = \"DIR\"");
  f.sourceText = *source;
  f.source = base_ / *source;
  f.sourcePlace = Place(*t.get("source"), prefix + ".source");

  const toml::node& nameNode = t.get("name") ? *t.get("name") : *t.get("source");
  const std::string nameField = prefix + (t.get("name") ? ".name" : ".source");
  if (const toml::node* node = t.get("name")) {
    if (!node->is_string())
      Fail(*node, prefix + ".name", "must be a text, not " + std::string(TypeName(*node)));
    f.name = MemberName(*node, nameField, node->as_string()->get());
  } else {
    f.name = MemberName(nameNode, nameField, std::filesystem::path(*source).filename().string());
  }
  f.namePlace = Place(nameNode, nameField);

  const MemberOptions options = ReadOptions(t, prefix, defaults, true);
  ApplyOptions(options, f);
  if (Bool(t, "external", prefix)) {
    f.flags |= kMemberExt;
    if (f.name.find('\\') != std::string::npos)
      Fail(nameNode, prefix + ".name",
           "\"" + f.name +
               "\" has a directory part, but an external member file lies beside the setup "
               "program and takes the member name with its first character replaced by \"_\" "
               "(here \"" + ExternalFileName(f.name) +
               "\"); give external members a plain file name");
  }
  if (const toml::node* node = t.get("version")) {
    if (!options.system)
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
  AddMember(std::move(f), false, nameNode, prefix + ".name", prefix, m, names);
}

void ManifestReader::ReadTree(const toml::table& t, const std::string& prefix,
                              const MemberOptions& defaults, Manifest& m,
                              MemberNames& names) const {
  if (const toml::node* node = t.get("source"))
    Fail(*node, prefix + ".source",
         "is given together with tree; an entry packs one file (source) or a directory (tree)");
  CheckKeys(t, prefix, kTreeKeys);
  const std::string treeText = *PathText(t, "tree", prefix);
  const toml::node& treeNode = *t.get("tree");
  const std::string treeField = prefix + ".tree";

  // The directory the tree is installed into, as the first part of its names.
  std::string directory;
  if (const toml::node* node = t.get("name")) {
    if (!node->is_string())
      Fail(*node, prefix + ".name", "must be a text, not " + std::string(TypeName(*node)));
    directory = node->as_string()->get();
    while (!directory.empty() && (directory.back() == '/' || directory.back() == '\\'))
      directory.pop_back();
    if (!directory.empty()) {
      MemberName(*node, prefix + ".name", directory);
      directory += '/';
    }
  }
  const std::vector<std::string> include = Patterns(t, "include", prefix);
  const std::vector<std::string> exclude = Patterns(t, "exclude", prefix);
  MemberOptions options = ReadOptions(t, prefix, defaults, true);

  const std::filesystem::path root = base_ / treeText;
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec))
    Fail(treeNode, treeField,
         "\"" + treeText + "\" is not a directory (looked for " + root.string() +
             "); give a directory below the manifest's");
  std::vector<std::string> paths;
  try {
    paths = ListTree(root);
  } catch (const std::filesystem::filesystem_error& e) {
    Fail(treeNode, treeField, "cannot list \"" + treeText + "\": " + e.code().message());
  }

  std::vector<ManifestFile> members;
  for (const std::string& path : paths) {
    if (!IsTreeFileTaken(path, include, exclude)) continue;
    ManifestFile f;
    f.place = Place(t, prefix);
    f.sourcePlace = Place(treeNode, treeField);
    f.namePlace = f.sourcePlace;
    f.sourceText = (std::filesystem::path(treeText) / path).generic_string();
    f.source = root / path;
    f.name = MemberName(treeNode, treeField, directory + path, "\"" + f.sourceText + "\" ");
    ApplyOptions(options, f);
    members.push_back(std::move(f));
  }
  if (members.empty())
    Fail(treeNode, treeField,
         "\"" + treeText + "\" holds no file" +
             (include.empty() && exclude.empty() ? "" : " that include and exclude take") +
             "; an entry that packs nothing is left out");
  // The byte order of the stored names, whatever the file system's order.
  std::sort(members.begin(), members.end(),
            [](const ManifestFile& a, const ManifestFile& b) { return a.name < b.name; });
  for (ManifestFile& f : members) {
    const std::string description = prefix + " (" + f.sourceText + ")";
    AddMember(std::move(f), true, treeNode, treeField, description, m, names);
  }
}

void ManifestReader::ReadFiles(const toml::table& root, Manifest& m) const {
  MemberOptions defaults;
  if (const toml::table* table = Table(root, "defaults", "")) {
    CheckKeys(*table, "defaults", kDefaultsKeys);
    defaults = ReadOptions(*table, "defaults", defaults, false);
  }
  const std::vector<const toml::table*> files = TableArray(root, "files", "");
  MemberNames names;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string prefix = "files[" + std::to_string(i) + "]";
    if (files[i]->get("tree")) ReadTree(*files[i], prefix, defaults, m, names);
    else ReadSingleFile(*files[i], prefix, defaults, m, names);
  }
  if (m.files.size() > 65535)
    FailAt(0, "files", "give " + std::to_string(m.files.size()) + " members; at most 65535 fit");
}

// Windows cannot hold a file and a directory of the same name: a member
// "Docs" beside "Docs\a.txt" is refused, at the file's name.
void CheckDirectoryNames(const Manifest& m) {
  std::map<std::string, std::size_t> byKey;
  for (std::size_t i = 0; i < m.files.size(); ++i) byKey.emplace(NameKey(m.files[i]), i);
  for (const ManifestFile& inside : m.files) {
    const std::string key = NameKey(inside);
    for (std::size_t k = key.find('\\'); k != std::string::npos; k = key.find('\\', k + 1)) {
      const auto it = byKey.find(key.substr(0, k));
      if (it == byKey.end()) continue;
      const ManifestFile& file = m.files[it->second];
      const bool fromTree = inside.sourcePlace.field.ends_with(".tree");
      throw InputError(file.namePlace.Message(
          "\"" + file.name + "\" is the name of a directory of " + inside.place.field +
          (fromTree ? " (" + inside.sourceText + ")" : "") + ", \"" + inside.name +
          "\"; Windows cannot hold a file and a directory of one name, rename one"));
    }
  }
}

// setup.exe joins the install directory, a backslash and the member name in
// a buffer of kPathSize characters, the terminator included. default_path is
// only the proposal: /D or the user may give a longer one, hence the warning
// within kPathWarningMargin characters of the limit. System members go to
// the system directory, which is short and not known here.
constexpr std::size_t kPathWarningMargin = 40;

void CheckPathLengths(Manifest& m) {
  if (!m.settings.defaultPath) return;
  const std::string& base = *m.settings.defaultPath;
  const std::size_t directoryLength = base.size() + (base.ends_with('\\') ? 0 : 1);
  for (const ManifestFile& f : m.files) {
    if (f.flags & kMemberSys) continue;
    const std::size_t length = directoryLength + f.name.size();
    const std::string what = "\"" + f.name + "\" makes the install path " +
                             std::to_string(length) + " characters long under default_path \"" +
                             base + "\"; setup.exe's path buffer holds " +
                             std::to_string(kPathSize - 1);
    if (!FitsPathBuffer(directoryLength, f.name.size(), kPathSize))
      throw InputError(f.namePlace.Message(what + "; shorten the name or the default path"));
    if (!FitsPathBuffer(directoryLength + kPathWarningMargin, f.name.size(), kPathSize))
      m.warnings.push_back(f.namePlace.Message(
          what + ", and an install directory given with /D may be longer"));
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
      CheckKeys(t, prefix, kUninstallKeys);
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
      CheckKeys(t, prefix, kShortcutKeys);
      icon.name = RequiredText(t, "name", prefix, "give the title of the shortcut");
      if ((*icon.name)[0] == '*')
        Fail(*t.get("name"), prefix + ".name",
             "a name beginning with \"*\" is the uninstall entry; write uninstall = true, "
             "name = the display name and program = the uninstall program");
      if (!IsSafeShortcutName(icon.name->c_str()))
        Fail(*t.get("name"), prefix + ".name",
             "\"" + AnsiToUtf8(*icon.name) +
                 "\" would place the shortcut outside the program group or name a device (a \"..\" "
                 "part, a leading backslash, a colon, CON, NUL, COM1 ...); give a plain title");
      icon.arguments = Text(t, "arguments", prefix);
      icon.target = Text(t, "target", prefix);
    }
    m.icons.push_back(std::move(icon));
  }
}

void ManifestReader::ReadTrailing(const toml::table& root, Manifest& m) const {
  const toml::table* t = Table(root, "trailing", "");
  if (!t) return;
  CheckKeys(*t, "trailing", kTrailingKeys);
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
    CheckKeys(e, prefix, kTrailingFileKeys);
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

std::span<const ManifestTableKeys> ManifestSchema() {
  static constexpr ManifestTableKeys kSchema[] = {
      {"", kRootKeys},
      {"[settings]", kSettingsKeys},
      {"[header]", kHeaderKeys},
      {"[defaults]", kDefaultsKeys},
      {"[[files]]", kFileKeys},
      {"[[files]]", kTreeKeys},
      {"[[icons]]", kShortcutKeys},
      {"[[icons]]", kUninstallKeys},
      {"[trailing]", kTrailingKeys},
      {"[[trailing.files]]", kTrailingFileKeys},
  };
  return kSchema;
}

Manifest LoadManifest(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const FileError& e) {
    if (e.Step() == FileStep::Open)
      throw InputError(path.string() + ": cannot open the manifest; check the path");
    throw InputError(path.string() + ": cannot read the manifest");
  }
  return ParseManifest(std::string(bytes.begin(), bytes.end()), path);
}
