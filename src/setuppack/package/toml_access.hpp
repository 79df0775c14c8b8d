// Typed access to a parsed TOML document, for the manifest reader: every
// getter checks the type (and range or encoding) of one value and throws
// InputError with a message that names the file, the line and the dotted
// field ("package.toml:12: files[2].source: ..."). Fields are named by a
// prefix ("files[2]") and a key ("source"); an empty prefix is the root.
#pragma once

#include <toml++/toml.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"

// "a text", "an integer", "a table"... for messages about a wrong type.
std::string_view TypeName(const toml::node& node);

class TomlAccess {
public:
  explicit TomlAccess(std::string file) : file_(std::move(file)) {}

  ManifestPlace Place(const toml::node& node, std::string field) const;
  [[noreturn]] void Fail(const toml::node& node, const std::string& field,
                         std::string_view problem) const;
  // For faults that belong to no value, e.g. a missing key: the line of its
  // table, 0 for the document.
  [[noreturn]] void FailAt(std::uint32_t line, const std::string& field,
                           std::string_view problem) const;

  // "prefix.key", or "key" for an empty prefix.
  static std::string Join(const std::string& prefix, std::string_view key);

  // Refuses every key of `table` that is not `allowed`, listing those.
  void CheckKeys(const toml::table& table, const std::string& prefix,
                 std::span<const std::string_view> allowed) const;
  void CheckKeys(const toml::table& table, const std::string& prefix,
                 std::initializer_list<std::string_view> allowed) const {
    CheckKeys(table, prefix, std::span(allowed.begin(), allowed.size()));
  }

  // A table ([key]); nullptr when absent.
  const toml::table* Table(const toml::table& parent, std::string_view key,
                           const std::string& prefix) const;
  // An array of tables ([[key]]); an absent key is an empty list.
  std::vector<const toml::table*> TableArray(const toml::table& parent, std::string_view key,
                                             const std::string& prefix) const;

  // The code page that Text converts to (host/code_page.hpp); 1252 until set.
  unsigned CodePage() const { return codePage_; }
  void SetCodePage(unsigned codePage) { codePage_ = codePage; }

  // An archive text: 1..255 bytes once converted to the code page;
  // nullopt when the key is absent.
  std::optional<std::string> Text(const toml::table& table, std::string_view key,
                                  const std::string& prefix) const;
  // Text that must be there; `hint` says what to write when it is missing.
  std::string RequiredText(const toml::table& table, std::string_view key,
                           const std::string& prefix, std::string_view hint) const;
  // A non-empty file-system path text, UTF-8 kept as it is.
  std::optional<std::string> PathText(const toml::table& table, std::string_view key,
                                      const std::string& prefix) const;
  bool Bool(const toml::table& table, std::string_view key, const std::string& prefix,
            bool fallback = false) const;
  // An integer of low..high; nullopt when the key is absent.
  std::optional<std::int64_t> Integer(const toml::table& table, std::string_view key,
                                      const std::string& prefix, std::int64_t low,
                                      std::int64_t high) const;

private:
  std::string file_;
  unsigned codePage_ = kDefaultCodePage;
};
