// libFuzzer target: the manifest reader on arbitrary text.
//
// Checks: a manifest is either read or refused with InputError (any other
// exception, a crash or a sanitizer report is a fault); and every member
// name of a manifest that was read passes the rule setup.exe applies, so
// that the packager never builds a package whose members setup.exe refuses.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "format/member_name.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/package/manifest.hpp"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Manifest m;
  try {
    m = ParseManifest(text, "fuzz/package.toml");
  } catch (const InputError&) {
    return 0;
  }
  for (const ManifestFile& f : m.files) Check(IsSafeMemberName(f.name.c_str()));
  if (m.trailing) {
    for (const ManifestTrailingFile& f : m.trailing->files) Check(IsSafeMemberName(f.name.c_str()));
  }
  for (const PackageIcon& icon : m.icons) {
    Check(icon.name.has_value());
    if (!IsUninstallIconName(icon.name->c_str())) Check(IsSafeShortcutName(icon.name->c_str()));
  }
  return 0;
}
