#include "setuppack/host/errors.hpp"

std::string ManifestPlace::Message(std::string_view problem) const {
  std::string text = file;
  if (line != 0) {
    text += ':';
    text += std::to_string(line);
  }
  text += ": ";
  if (!field.empty()) {
    text += field;
    text += ": ";
  }
  text += problem;
  return text;
}
