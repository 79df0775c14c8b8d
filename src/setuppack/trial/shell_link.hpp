// Reading a shell link file (".lnk") on the host: the target, arguments and
// working directory that the shell would use, from the binary format that
// IShellLink::Save writes. Nothing of Windows is needed.
//
// Format facts relied on:
// - a 76-byte header: HeaderSize 0x4C, the class id
//   {00021401-0000-0000-C000-000000000046}, LinkFlags at offset 0x14;
// - LinkFlags 0x01: an item id list follows (a 16-bit size, then that many
//   bytes); 0x02: a LinkInfo block follows (its 32-bit size first);
//   0x04, 0x08, 0x10, 0x20, 0x40: the strings name, relative path, working
//   directory, arguments and icon location follow in that order, each a
//   16-bit character count and the characters, UTF-16LE when 0x80 is set,
//   else in the ANSI code page (Wine counts a terminating zero in, which
//   is cut off);
// - LinkInfo: size, header size, flags, then offsets from its start; flag
//   0x01 means a local base path (offset at 16, zero-terminated ANSI text,
//   or UTF-16 at the offset at 28 when the header size is 0x24 or more)
//   followed by the common path suffix (offset at 24, or 32 in UTF-16).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct ShellLinkInfo {
  std::optional<std::string> target;            // UTF-8; the LinkInfo's path, else the relative path
  std::optional<std::string> arguments;
  std::optional<std::string> workingDirectory;
  std::optional<std::string> description;       // the name string
  std::uint32_t flags = 0;                      // LinkFlags
};

// The link's texts, ANSI ones read in `codePage`. Throws InputError with
// "not a shell link: ..." or "damaged shell link: ..." when the bytes are
// not a link or end inside one of its parts.
ShellLinkInfo ParseShellLink(std::span<const std::uint8_t> bytes, unsigned codePage = 1252);
