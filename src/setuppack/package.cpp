#include "setuppack/package.hpp"

#include <stdexcept>

// -------------------------------------------------------------- SettingsStrings

std::optional<std::string>& SettingsStrings::operator[](std::size_t index) {
  std::optional<std::string>* fields[kSettingsStringCount] = {
      &runCommand, &helpFile,   &readmeFile,   &iniFile,  &launcherClasses, &iconGroup,
      &defaultPath, &configName, &launcherFile, &trayFile, &reservedString1, &reservedString2,
  };
  if (index >= kSettingsStringCount) throw std::out_of_range("settings string index");
  return *fields[index];
}

const std::optional<std::string>& SettingsStrings::operator[](std::size_t index) const {
  return const_cast<SettingsStrings&>(*this)[index];
}

std::size_t SettingsStrings::EncodedSize() const {
  std::size_t size = 0;
  for (std::size_t i = 0; i < kSettingsStringCount; ++i) {
    const auto& s = (*this)[i];
    size += 1 + (s ? s->size() : 0);
  }
  return size;
}

// ---------------------------------------------------------------- TrailingBlock

bool TrailingBlock::HasConfigName() const { return typeTag == "QZ" || typeTag == "CT"; }

std::string ExternalFileName(std::string_view memberName) {
  std::string name(memberName);
  if (!name.empty()) name[0] = '_';
  return name;
}
