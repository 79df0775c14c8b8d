#include "setuppack/package/toml_access.hpp"

#include <algorithm>

#include "setuppack/host/code_page.hpp"
#include "setuppack/package/package.hpp"

namespace {

std::string JoinKeys(std::span<const std::string_view> keys) {
  std::string text;
  for (std::string_view k : keys) {
    if (!text.empty()) text += ", ";
    text += k;
  }
  return text;
}

}  // namespace

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

ManifestPlace TomlAccess::Place(const toml::node& node, std::string field) const {
  return ManifestPlace{file_, node.source().begin.line, std::move(field)};
}

void TomlAccess::Fail(const toml::node& node, const std::string& field,
                      std::string_view problem) const {
  throw InputError(Place(node, field).Message(problem));
}

void TomlAccess::FailAt(std::uint32_t line, const std::string& field,
                        std::string_view problem) const {
  throw InputError(ManifestPlace{file_, line, field}.Message(problem));
}

std::string TomlAccess::Join(const std::string& prefix, std::string_view key) {
  return prefix.empty() ? std::string(key) : prefix + "." + std::string(key);
}

void TomlAccess::CheckKeys(const toml::table& table, const std::string& prefix,
                           std::span<const std::string_view> allowed) const {
  for (auto&& [key, node] : table) {
    if (std::find(allowed.begin(), allowed.end(), key.str()) == allowed.end())
      FailAt(key.source().begin.line, Join(prefix, key.str()),
             "unknown field; the fields here are " + JoinKeys(allowed));
  }
}

const toml::table* TomlAccess::Table(const toml::table& parent, std::string_view key,
                                     const std::string& prefix) const {
  const toml::node* node = parent.get(key);
  if (!node) return nullptr;
  if (!node->is_table())
    Fail(*node, Join(prefix, key), "must be a table, not " + std::string(TypeName(*node)));
  return node->as_table();
}

// Array of tables ([[key]]); an absent key is an empty list.
std::vector<const toml::table*> TomlAccess::TableArray(const toml::table& parent,
                                                       std::string_view key,
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

// A text of 1..255 bytes in the code page, or nullopt when the key is absent.
std::optional<std::string> TomlAccess::Text(const toml::table& table, std::string_view key,
                                            const std::string& prefix) const {
  const toml::node* node = table.get(key);
  if (!node) return std::nullopt;
  const std::string field = Join(prefix, key);
  if (!node->is_string())
    Fail(*node, field, "must be a text in double quotes, not " + std::string(TypeName(*node)));
  const std::string& utf8 = node->as_string()->get();
  AnsiText converted = ConvertToAnsi(utf8, codePage_);
  if (converted.fault != AnsiFault::kNone)
    Fail(*node, field, "holds " + DescribeAnsiFault(converted.fault, codePage_));
  std::optional<std::string> ansi = std::move(converted.bytes);
  if (ansi->empty()) Fail(*node, field, "is empty; leave the field out to store no value");
  if (ansi->size() > kMaxArchiveString)
    Fail(*node, field,
         "is " + std::to_string(ansi->size()) + " bytes long; the archive stores at most 255");
  return ansi;
}

std::string TomlAccess::RequiredText(const toml::table& table, std::string_view key,
                                     const std::string& prefix, std::string_view hint) const {
  std::optional<std::string> text = Text(table, key, prefix);
  if (!text) FailAt(table.source().begin.line, Join(prefix, key), "missing; " + std::string(hint));
  return *text;
}

// A plain file-system path text (UTF-8 kept as it is).
std::optional<std::string> TomlAccess::PathText(const toml::table& table, std::string_view key,
                                                const std::string& prefix) const {
  const toml::node* node = table.get(key);
  if (!node) return std::nullopt;
  if (!node->is_string())
    Fail(*node, Join(prefix, key), "must be a text, not " + std::string(TypeName(*node)));
  const std::string& text = node->as_string()->get();
  if (text.empty()) Fail(*node, Join(prefix, key), "is empty; give a file path");
  return text;
}

bool TomlAccess::Bool(const toml::table& table, std::string_view key, const std::string& prefix,
                      bool fallback) const {
  const toml::node* node = table.get(key);
  if (!node) return fallback;
  if (!node->is_boolean())
    Fail(*node, Join(prefix, key), "must be true or false, not " + std::string(TypeName(*node)));
  return node->as_boolean()->get();
}

std::optional<std::int64_t> TomlAccess::Integer(const toml::table& table, std::string_view key,
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
