#include "support/pe_image.hpp"

#include "setuppack/writer/archive_builder.hpp"

// Layout: DOS header (0x40 bytes, e_lfanew = 0x40), "PE\0\0", COFF header,
// PE32 optional header with 16 data directories, one section ".rsrc" at RVA
// 0x1000 / file offset 0x200 holding the resource tree
//   0x00 root directory: one id entry, type 16 -> 0x18
//   0x18 name directory: one id entry, 1 -> 0x30
//   0x30 language directory: one id entry, 0x409 -> data entry 0x48
//   0x48 data entry: RVA 0x1058, 92 bytes
//   0x58 VS_VERSIONINFO: 6-byte head, "VS_VERSION_INFO" in UTF-16 with its
//        terminator, 2 bytes padding, 52-byte VS_FIXEDFILEINFO
std::vector<std::uint8_t> PeImageWithVersion(std::uint32_t fileVersionMs, std::uint32_t fileVersionLs) {
  constexpr std::uint32_t kResourceRva = 0x1000;
  constexpr std::uint32_t kResourceSize = 0x58 + 40 + 52;

  ArchiveWriter w;
  w.Chars("MZ").Bytes(std::vector<std::uint8_t>(0x3A, 0)).U32(0x40);
  w.Chars(std::string_view("PE\0\0", 4));
  w.U16(0x14C).U16(1).U32(0).U32(0).U32(0).U16(224).U16(0x0102);
  // Optional header (224 bytes): magic, zeros up to NumberOfRvaAndSizes.
  const std::size_t optional = w.Size();
  w.U16(0x10B);
  while (w.Size() < optional + 92) w.U8(0);
  w.U32(16);
  for (int i = 0; i < 16; ++i) {
    if (i == 2) w.U32(kResourceRva).U32(kResourceSize);
    else w.U32(0).U32(0);
  }
  // Section table.
  w.Chars(std::string_view(".rsrc\0\0\0", 8)).U32(kResourceSize).U32(kResourceRva).U32(kResourceSize).U32(0x200);
  w.U32(0).U32(0).U16(0).U16(0).U32(0x40000040);
  while (w.Size() < 0x200) w.U8(0);

  auto directory = [&](std::uint32_t id, std::uint32_t target) {
    w.U32(0).U32(0).U16(0).U16(0).U16(0).U16(1);
    w.U32(id).U32(target);
  };
  directory(16, 0x80000000u | 0x18);
  directory(1, 0x80000000u | 0x30);
  directory(0x409, 0x48);
  w.U32(kResourceRva + 0x58).U32(92).U32(0).U32(0);
  // VS_VERSIONINFO
  w.U16(92).U16(52).U16(0);
  for (char c : std::string_view("VS_VERSION_INFO")) w.U16(static_cast<std::uint16_t>(c));
  w.U16(0).U16(0);  // terminator, padding to 32 bits
  w.U32(0xFEEF04BD).U32(0x00010000).U32(fileVersionMs).U32(fileVersionLs);
  w.U32(fileVersionMs).U32(fileVersionLs);  // product version
  w.U32(0x3F).U32(0).U32(0x00040004).U32(1).U32(0).U32(0).U32(0);
  return w.Take();
}
