// Program group, shortcuts and the uninstall registration.
#pragma once

#include "state/setup_state.hpp"

int CreateProgramIcons();
bool RegisterUninstall(const IconEntry* entry, const char* groupName);
