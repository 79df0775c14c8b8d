#include "setuppack/package_writer.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "explode/implode.hpp"
#include "setuppack/errors.hpp"
#include "setuppack/file_io.hpp"
#include "setuppack/file_time.hpp"
#include "setuppack/pe_version.hpp"
#include "setuppack/setup_program.hpp"

namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;

struct SourceFile {
  std::vector<std::uint8_t> bytes;
  std::uint64_t modified = 0;  // FILETIME
};

SourceFile ReadSource(const std::filesystem::path& path, const std::string& shownPath,
                      const ManifestPlace& place) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      throw InputError(place.Message("file \"" + shownPath + "\" not found (looked for " +
                                     path.string() + ")"));
    throw InputError(place.Message("cannot open \"" + shownPath + "\": " + std::strerror(errno)));
  }
  if (!S_ISREG(info.st_mode))
    throw InputError(place.Message("\"" + shownPath + "\" is not a regular file"));
  if (static_cast<std::uint64_t>(info.st_size) > kMax32)
    throw InputError(place.Message("\"" + shownPath +
                                   "\" is larger than 4 GiB; archive sizes are 32-bit"));
  SourceFile source;
  try {
    source.bytes = ReadWholeFile(path);
  } catch (const std::system_error& e) {
    throw InputError(place.Message("cannot read \"" + shownPath + "\": " + e.code().message()));
  }
  source.modified = FileTimeFromUnix(info.st_mtim.tv_sec, static_cast<std::uint32_t>(info.st_mtim.tv_nsec));
  return source;
}

}  // namespace

PackageBuilder BuildPackage(const Manifest& manifest, const PackageOptions& options) {
  PackageBuilder p;
  p.settings = manifest.settings;
  p.header.flags = manifest.headerFlags;
  p.header.helpContext = manifest.helpContext;
  p.header.ipcPrefix[0] = manifest.ipcPrefix[0];
  p.header.ipcPrefix[1] = manifest.ipcPrefix[1];

  std::uint64_t installed = 0;
  std::uint64_t external = 0;
  for (const ManifestFile& f : manifest.files) {
    SourceFile source = ReadSource(f.source, f.sourceText, f.sourcePlace);
    PackageMember member;
    member.name = f.name;
    member.flags = f.flags;
    if (member.flags & kMemberSys) {
      // A system member replaces an existing file only when it is newer, so
      // it needs a version: the manifest's, or the source's own.
      const std::optional<MemberVersion> version =
          f.version ? f.version : ReadPeFileVersion(source.bytes);
      if (!version)
        throw InputError(f.place.Message(
            "system member \"" + f.sourceText +
            "\" has no version resource; give its version, e.g. version = \"2.0.0.0\""));
      member.version = *version;
    }
    member.originalSize = static_cast<std::uint32_t>(source.bytes.size());
    member.lastWriteTime = f.time.value_or(source.modified);
    if (f.compress) {
      ImplodeOptions implode = f.implode;
      implode.best = options.best;
      member.data = Implode(source.bytes, implode);
      if (member.data.size() > kMax32)
        throw InputError(f.place.Message("the compressed data exceeds 4 GiB"));
    } else {
      member.data = std::move(source.bytes);
    }
    installed += member.originalSize;
    if (member.flags & kMemberExt) external += member.data.size();
    p.files.push_back(std::move(member));
  }
  if (external > kMax32)
    throw InputError(manifest.path.string() +
                     ": the external members hold more than 4 GiB; externalSize is 32-bit");

  p.icons = manifest.icons;

  if (manifest.trailing) {
    TrailingBlock block;
    block.typeTag = manifest.trailing->typeTag;
    block.configName = manifest.trailing->configName;
    for (const ManifestTrailingFile& f : manifest.trailing->files) {
      SourceFile source = ReadSource(f.source, f.sourceText, f.sourcePlace);
      TrailingMember member;
      member.name = f.name;
      if (block.typeTag == "QZ") member.lastWriteTime = f.time.value_or(source.modified);
      installed += source.bytes.size();
      member.data = std::move(source.bytes);
      block.members.push_back(std::move(member));
    }
    p.trailing = std::move(block);
  }

  if (manifest.requiredSpace) {
    p.header.requiredSpace = *manifest.requiredSpace;
  } else {
    if (installed > kMax32)
      throw InputError(manifest.path.string() +
                       ": the members install more than 4 GiB; requiredSpace is 32-bit");
    p.header.requiredSpace = static_cast<std::uint32_t>(installed);
  }
  return p;
}

std::filesystem::path DefaultStubPath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "setup.exe";
  // Beside the tool in a build tree; in the library directory once installed
  // (bin/setuppack, lib/setuppack/setup.exe).
  const std::filesystem::path beside = self.parent_path() / "setup.exe";
  const std::filesystem::path installed = self.parent_path().parent_path() / "lib" / "setuppack" / "setup.exe";
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec)) return installed;
  return beside;
}

std::vector<std::uint8_t> ReadStub(const std::filesystem::path& stubPath) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(stubPath, ec))
    throw InputError(stubPath.string() +
                     ": stub not found; build setup.exe first (make build) or name it with --stub");
  std::vector<std::uint8_t> stub;
  try {
    stub = ReadWholeFile(stubPath);
  } catch (const std::system_error& e) {
    throw InputError(stubPath.string() + ": cannot read the stub: " + e.code().message());
  }
  if (stub.size() > kArchiveOffset)
    throw InputError(stubPath.string() + ": the stub is " + std::to_string(stub.size()) +
                     " bytes long; the archive starts at offset " + std::to_string(kArchiveOffset) +
                     ", so setup.exe must not be larger");
  return stub;
}

PackageSummary WritePackage(const Manifest& manifest, const std::filesystem::path& output,
                            const std::filesystem::path& stubPath, const PackageOptions& options) {
  const std::vector<std::uint8_t> stub = ReadStub(stubPath);
  const PackageBuilder package = BuildPackage(manifest, options);
  const std::vector<std::uint8_t> archive = package.ArchiveBytes();
  const ArchiveHeader header = package.FinalHeader();
  // setup.exe reads its file size and the progress total as 32-bit numbers.
  if (kArchiveOffset + archive.size() > kMax32 ||
      archive.size() + std::uint64_t{header.externalSize} > kMax32)
    throw InputError(manifest.path.string() +
                     ": the setup program would exceed 4 GiB; move members out or split the package");

  std::error_code ec;
  const std::filesystem::path directory =
      output.parent_path().empty() ? std::filesystem::path(".") : output.parent_path();
  if (!std::filesystem::is_directory(directory, ec))
    throw InputError(output.string() + ": directory " + directory.string() +
                     " does not exist; create it first");
  const std::vector<ExternalFile> externals = package.ExternalFiles();
  for (const ExternalFile& external : externals) {
    if (external.fileName == output.filename().string())
      throw InputError(output.string() + ": the external member file of " + external.fileName +
                       " would overwrite the setup program; choose another output name");
  }
  try {
    WriteSetupProgram(output, stub, archive, externals);
  } catch (const std::system_error& e) {
    throw InputError(std::string(e.what()) + "; nothing was written");
  }

  PackageSummary summary;
  summary.programSize = kArchiveOffset + archive.size();
  summary.externalSize = header.externalSize;
  summary.fileCount = package.files.size();
  summary.iconCount = package.icons.size();
  summary.trailingCount = package.trailing ? package.trailing->members.size() : 0;
  return summary;
}
