// The escaping of texts on the robot's line protocol, shared by robot.exe and
// the tests that drive it: backslash, double quote, tab, line ends and every
// other byte below 0x20 or above 0x7e are escaped ("\\", "\"", "\t", "\n",
// "\r", "\xNN"), so that a text stays on one line and compares exactly.
// "\s" also reads as a blank.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string EscapeRobotText(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c > 0x7e) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

inline std::string UnescapeRobotText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char e = text[++i];
    switch (e) {
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 's': out += ' '; break;
      case 'x':
        if (i + 2 < text.size()) {
          out += static_cast<char>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
          i += 2;
        }
        break;
      default: out += e;
    }
  }
  return out;
}
