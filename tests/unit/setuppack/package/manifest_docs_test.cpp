// docs/manifest.md against the manifest reader: each key a table accepts is a
// row of that table's section, and no row names a key the table refuses.
#include "setuppack/package/manifest.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> DocsLines() {
  std::ifstream in(std::string(SOURCE_DIR) + "/docs/manifest.md");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t HeadingLevel(const std::string& line) {
  const std::size_t level = line.find_first_not_of('#');
  return level != std::string::npos && level > 0 && line[level] == ' ' ? level : 0;
}

// The lines below the heading whose text begins with `title` ("[header]",
// "Top level"), up to the next heading of the same or a higher level; empty
// when no heading has that title.
std::vector<std::string> Section(const std::vector<std::string>& lines, std::string_view title) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t level = HeadingLevel(lines[i]);
    if (level == 0 || !std::string_view(lines[i]).substr(level + 1).starts_with(title)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && (HeadingLevel(lines[end]) == 0 || HeadingLevel(lines[end]) > level))
      ++end;
    return {lines.begin() + static_cast<std::ptrdiff_t>(i) + 1,
            lines.begin() + static_cast<std::ptrdiff_t>(end)};
  }
  return {};
}

// The keys named in the first column of the section's "| Key | ..." tables:
// every `word` of that cell.
std::set<std::string> RowKeys(const std::vector<std::string>& section) {
  std::set<std::string> keys;
  bool inKeyTable = false;
  for (const std::string& line : section) {
    if (!line.starts_with("|")) {
      inKeyTable = false;
      continue;
    }
    const std::string cell = line.substr(1, line.find('|', 1) - 1);
    if (cell.find("Key") != std::string::npos && cell.find('`') == std::string::npos) {
      inKeyTable = true;
      continue;
    }
    if (!inKeyTable) continue;
    for (std::size_t open = cell.find('`'); open != std::string::npos;) {
      const std::size_t close = cell.find('`', open + 1);
      if (close == std::string::npos) break;
      keys.insert(cell.substr(open + 1, close - open - 1));
      open = cell.find('`', close + 1);
    }
  }
  return keys;
}

// "[[trailing.files]]" -> "trailing"; "" for the top level.
std::string TableName(std::string_view table) {
  const std::size_t begin = table.find_first_not_of('[');
  const std::size_t end = table.find(']');
  if (begin == std::string_view::npos || end == std::string_view::npos) return "";
  return std::string(table.substr(begin, end - begin));
}

std::string SectionTitle(std::string_view table) {
  return table.empty() ? "Top level" : std::string(table);
}

// A key that is a table itself ("files" of [trailing]) is documented by a
// heading of its own.
bool HasOwnHeading(const std::vector<std::string>& lines, const std::string& qualifiedKey) {
  return !Section(lines, "[" + qualifiedKey + "]").empty() ||
         !Section(lines, "[[" + qualifiedKey + "]]").empty();
}

TEST(ManifestDocs, DescribeEveryKeyInItsTable) {
  const std::vector<std::string> lines = DocsLines();
  ASSERT_FALSE(lines.empty()) << "docs/manifest.md cannot be read";
  for (const ManifestTableKeys& table : ManifestSchema()) {
    const std::vector<std::string> section = Section(lines, SectionTitle(table.table));
    ASSERT_FALSE(section.empty()) << "no heading \"" << SectionTitle(table.table) << "\"";
    const std::set<std::string> documented = RowKeys(section);
    const std::string name = TableName(table.table);
    for (std::string_view key : table.keys) {
      const std::string qualified = name.empty() ? std::string(key) : name + "." + std::string(key);
      EXPECT_TRUE(documented.contains(std::string(key)) || HasOwnHeading(lines, qualified))
          << "docs/manifest.md lacks a row for " << qualified << " under "
          << SectionTitle(table.table);
    }
  }
}

TEST(ManifestDocs, DescribeNoKeyThatTheTableRefuses) {
  const std::vector<std::string> lines = DocsLines();
  ASSERT_FALSE(lines.empty()) << "docs/manifest.md cannot be read";
  const std::span<const ManifestTableKeys> schema = ManifestSchema();
  std::set<std::string_view> checked;
  for (const ManifestTableKeys& table : schema) {
    if (!checked.insert(table.table).second) continue;
    // [[files]] and [[icons]] share their section between two kinds of entry.
    std::set<std::string_view> accepted;
    for (const ManifestTableKeys& other : schema) {
      if (other.table == table.table) accepted.insert(other.keys.begin(), other.keys.end());
    }
    for (const std::string& key : RowKeys(Section(lines, SectionTitle(table.table))))
      EXPECT_TRUE(accepted.contains(key))
          << "docs/manifest.md has a row for " << key << " under " << SectionTitle(table.table)
          << ", which the reader refuses";
  }
}

}  // namespace
