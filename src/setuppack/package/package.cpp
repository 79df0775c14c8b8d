#include "setuppack/package/package.hpp"

#include <stdexcept>

#include "format/member_name.hpp"

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
  for (const SettingsStringInfo& info : kSettingsStrings) {
    const auto& s = (*this)[info.index];
    size += 1 + (s ? s->size() : 0);
  }
  return size;
}

// ---------------------------------------------------------------- TrailingBlock

TrailingType TrailingBlock::Type() const {
  if (typeTag.size() != kTrailingTagSize) return kTrailingUnknown;
  return TrailingTypeFromTag(reinterpret_cast<const std::uint8_t*>(typeTag.data()));
}

bool TrailingBlock::HasConfigName() const { return TrailingHasConfigName(Type()); }

std::string ExternalFileName(std::string_view memberName) {
  std::string name(memberName);
  if (!name.empty()) MarkExternalFileName(name.data());
  return name;
}
