// Writes the seed corpora of the fuzz targets and their regression inputs:
//
//   fuzz_seeds SOURCE_DIR OUT_DIR
//
// OUT_DIR/seeds/<target>        valid inputs the fuzzer starts from
// OUT_DIR/regressions/<target>  the hostile packages and names that once
//                               went wrong; every brief run reads them first
//
// An archive input is the archive alone (the fuzz target puts it behind
// 61440 bytes of image). Nothing here is random: the same build writes the
// same files.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "explode/implode.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "support/damaged_archive.hpp"
#include "support/sample_data.hpp"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Write(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Write(const fs::path& path, const std::string& text) { Write(path, Bytes(text.begin(), text.end())); }

PackageBuilder Package() {
  PackageBuilder p = MinimalPackage();
  p.settings.runCommand = "KorvaneBackup.exe";
  p.settings.defaultPath = "C:\\Program Files\\Korvane";
  return p;
}

Bytes Archive(const PackageBuilder& p) { return p.ArchiveBytes(); }

Bytes ArchiveOf(const DamagedProgram& program) {
  return Bytes(program.Bytes().begin() + kArchiveOffset, program.Bytes().end());
}

void WriteArchiveSeeds(const fs::path& dir) {
  PackageBuilder full = Package();
  full.settings.iconGroup = "Korvane Online Backup";
  full.settings.configName = "Base";
  full.AddFile("KorvaneBackup.exe", "run command").lastWriteTime = kSampleTime;
  const Bytes sample = SampleBytes(3000, 5);
  PackageMember& packed = full.AddFile("data\\packed.bin", Implode(sample, {}), kMemberCmp);
  packed.originalSize = static_cast<std::uint32_t>(sample.size());
  full.AddSystemFile("kvshell.dll", BytesOf("library"), MemberVersion{0x00020000, 0x00010007});
  full.AddFile("dlr.txt", "dlr", kMemberDlr);
  full.AddIcon("Korvane Backup", std::string("-start"), std::string("KorvaneBackup.exe"));
  full.AddUninstall("Korvane Online Backup", "Uninst.exe");
  full.trailing = TrailingBlock{};
  full.trailing->configName = "Acme";
  full.AddTrailingFile("account.ini", BytesOf("[account]\r\n"), kSampleTime);
  Write(dir / "full-qz", Archive(full));
  for (const char* type : {"CT", "DS"}) {
    PackageBuilder p = Package();
    p.AddFile("a.txt", "a");
    p.trailing = TrailingBlock{};
    p.trailing->typeTag = type;
    if (p.trailing->HasConfigName()) p.trailing->configName = "Acme";
    p.AddTrailingFile("b.ini", BytesOf("b"));
    Write(dir / (std::string("trailing-") + type), Archive(p));
  }
  PackageBuilder minimal = Package();
  Write(dir / "minimal", Archive(minimal));
}

// Each was a fault once: a device name written to the device, a name that
// Windows refuses or that outgrows a host file name, a time of 2^63 or more,
// a code-page name in an error text, a stream that fails after good members.
void WriteArchiveRegressions(const fs::path& dir) {
  const std::pair<const char*, std::string> names[] = {
      {"device-com1", "COM1"},          {"device-nul-txt", "NUL.txt"},
      {"device-in-directory", "sub\\aux\\a.txt"}, {"device-superscript", "LPT\xB9"},
      {"dot", "."},                     {"trailing-dot", "readme."},
      {"trailing-blank", "readme "},    {"long-utf8", std::string(250, '\xE9')},
  };
  for (const auto& [file, name] : names) {
    PackageBuilder p = Package();
    p.AddFile("first.txt", "first");
    p.AddFile(name, "bad");
    Write(dir / ("name-" + std::string(file)), Archive(p));
    PackageBuilder system = Package();
    system.AddSystemFile(name, BytesOf("bad"), MemberVersion{0x00010000, 0});
    Write(dir / ("system-" + std::string(file)), Archive(system));
    PackageBuilder trailing = Package();
    trailing.trailing = TrailingBlock{};
    trailing.AddTrailingFile(name, BytesOf("bad"));
    Write(dir / ("trailing-" + std::string(file)), Archive(trailing));
  }
  for (const std::uint64_t time : {0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 2650467744000000000ull}) {
    PackageBuilder p = Package();
    p.AddFile("far.txt", "far").lastWriteTime = time;
    p.trailing = TrailingBlock{};
    p.AddTrailingFile("far.ini", BytesOf("far"), time);
    Write(dir / ("time-" + std::to_string(time)), Archive(p));
  }
  {
    PackageBuilder p = Package();
    p.settings.configName = "Caf\xE9";
    p.AddFile("na\xEFve\x80.txt", "abc");
    DamagedProgram damaged(ComposeSetupProgram(FakeStub(), Archive(p)));
    damaged.SetEntryStoredLength(0, 100000);
    Write(dir / "code-page-name-in-error", ArchiveOf(damaged));
  }
  {
    PackageBuilder p = Package();
    p.AddFile("good.txt", "good");
    Bytes stream = Implode(SampleBytes(5000, 3), {});
    stream.resize(stream.size() / 2);
    p.AddFile("late.bin", stream, kMemberCmp);
    Write(dir / "late-damaged-stream", Archive(p));
  }
}

void WriteNameSeeds(const fs::path& seeds, const fs::path& regressions) {
  int i = 0;
  for (const char* name : {"a.txt", "sub\\dir\\KorvaneBackup.exe", "CONFIG.DAT", "data/big.bin", ".hidden"})
    Write(seeds / ("name-" + std::to_string(i++)), std::string(name));
  i = 0;
  for (const char* name : {"COM1", "nul.txt", "CON .txt", "AUX.", "sub\\LPT\xB2", "a\\.\\b", "readme. ",
                           ". .\\x", "conin$", "C:x", "..\\x"})
    Write(regressions / ("name-" + std::to_string(i++)), std::string(name));
}

void WriteManifestSeeds(const fs::path& source, const fs::path& seeds, const fs::path& regressions) {
  std::ifstream example(source / "examples/package.toml", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
  Write(seeds / "example", text);
  const std::string minimal =
      "[settings]\nrun_command = \"a.exe\"\ndefault_path = 'C:\\K'\n[header]\nipc_prefix = \"KO\"\n";
  Write(seeds / "minimal", minimal);
  Write(regressions / "device-member", minimal + "[[files]]\nsource = \"a\"\nname = 'sub\\COM1.txt'\n");
  Write(regressions / "device-trailing",
        minimal + "[trailing]\ntype = \"DS\"\n[[trailing.files]]\nsource = \"a\"\nname = \"nul\"\n");
  Write(regressions / "shortcut-parent", minimal + "[[icons]]\nname = '..\\..\\x'\ntarget = \"a.exe\"\n");
  Write(regressions / "far-time", minimal + "[[files]]\nsource = \"a\"\ntime = 9999-12-31T23:59:59Z\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: fuzz_seeds SOURCE_DIR OUT_DIR\n";
    return 2;
  }
  const fs::path source = argv[1];
  const fs::path out = argv[2];
  WriteArchiveSeeds(out / "seeds/archive_reader_fuzz");
  WriteArchiveRegressions(out / "regressions/archive_reader_fuzz");
  WriteNameSeeds(out / "seeds/member_name_fuzz", out / "regressions/member_name_fuzz");
  WriteManifestSeeds(source, out / "seeds/manifest_fuzz", out / "regressions/manifest_fuzz");
  return 0;
}
