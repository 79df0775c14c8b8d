// The icon table: iconCount entries of three strings each, kept in `icons` for
// the program group and the uninstall registration.
#include "archive/archive.hpp"
#include "state/setup_state.hpp"
#include "ui/progress_dialog.hpp"

int ReadIconTable() {
  SetupState& s = setupState;
  if (s.header.iconCount == 0) return kArchiveOk;
  s.icons = static_cast<IconEntry*>(AllocZeroed(sizeof(IconEntry) * (s.header.iconCount + 1u)));
  if (s.icons == nullptr) return kArchiveReadFailed;
  for (unsigned i = 0; i < s.header.iconCount; ++i) {
    s.icons[i].name = ReadArchiveString();
    if (s.icons[i].name == nullptr) return kArchiveReadFailed;
    s.icons[i].arguments = ReadArchiveString();
    s.icons[i].target = ReadArchiveString();
  }
  UpdateProgressBar();
  return kArchiveOk;
}
