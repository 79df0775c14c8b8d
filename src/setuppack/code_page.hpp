// Texts between UTF-8 (manifests, the host's file names, listings) and the
// Windows code page 1252, the ANSI code page the archive's texts are stored
// in and setup.exe shows them with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// UTF-8 -> code page 1252. Returns nullopt for text that is not UTF-8 and for
// characters that code page 1252 lacks (the five bytes it leaves unassigned
// are not produced either).
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// Code page 1252 -> UTF-8. Every byte converts; the five unassigned bytes
// 0x81, 0x8D, 0x8F, 0x90 and 0x9D become the control characters of the same
// number.
std::string AnsiToUtf8(std::string_view ansi);
