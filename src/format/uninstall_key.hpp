// The uninstall registration's key, under
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall.
// Portable: setup.exe creates it, and setuppack names it as the product code
// of the package manager manifests.
#pragma once

inline constexpr char kUninstallKeyName[] = "Korvane";
