#include "setuppack/writer/package_writer.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "explode/implode.hpp"
#include "setuppack/host/code_page.hpp"
#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_io.hpp"
#include "setuppack/host/file_time.hpp"
#include "setuppack/host/host_path.hpp"
#include "setuppack/host/pe_version.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "setuppack/writer/work_queue.hpp"

namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;

// What stat says of a source, before it is read.
struct SourceInfo {
  std::uint64_t size = 0;
  std::uint64_t modified = 0;  // FILETIME, clamped to SOURCE_DATE_EPOCH
};

SourceInfo StatSource(const std::filesystem::path& path, const std::string& shownPath,
                      const ManifestPlace& place, std::optional<std::int64_t> sourceDateEpoch) {
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
                                   "\" is 4 GiB or larger; the archive's sizes are 32-bit"));
  SourceInfo source;
  source.size = static_cast<std::uint64_t>(info.st_size);
  source.modified =
      FileTimeFromUnix(info.st_mtim.tv_sec, static_cast<std::uint32_t>(info.st_mtim.tv_nsec));
  if (sourceDateEpoch) source.modified = std::min(source.modified, FileTimeFromUnix(*sourceDateEpoch));
  return source;
}

std::vector<std::uint8_t> ReadSource(const std::filesystem::path& path,
                                     const std::string& shownPath, const ManifestPlace& place) {
  try {
    return ReadWholeFile(path);
  } catch (const std::system_error& e) {
    throw InputError(place.Message("cannot read \"" + shownPath + "\": " + e.code().message()));
  }
}

// A member of the main file table from its source's bytes.
PackageMember MakeMember(const ManifestFile& f, const SourceInfo& info,
                         std::vector<std::uint8_t> bytes, bool best) {
  PackageMember member;
  member.name = f.name;
  member.flags = f.flags;
  if (member.flags & kMemberSys) {
    // A system member replaces an existing file only when it is newer, so
    // it needs a version: the manifest's, or the source's own.
    const std::optional<MemberVersion> version =
        f.version ? f.version : ReadPeFileVersion(bytes);
    if (!version)
      throw InputError(f.place.Message(
          "system member \"" + f.sourceText +
          "\" has no version resource; give its version, e.g. version = \"2.0.0.0\""));
    member.version = *version;
  }
  member.originalSize = static_cast<std::uint32_t>(bytes.size());
  member.lastWriteTime = f.time.value_or(info.modified);
  if (f.compress) {
    ImplodeOptions implode = f.implode;
    implode.best = best;
    member.data = Implode(bytes, implode);
    if (member.data.size() > kMax32)
      throw InputError(f.place.Message("the compressed data of \"" + f.sourceText +
                                       "\" is 4 GiB or larger; store it uncompressed"));
  } else {
    member.data = std::move(bytes);
  }
  return member;
}

std::string Gib(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

}  // namespace

PackageBuilder BuildPackage(const Manifest& manifest, const PackageOptions& options) {
  PackageBuilder p;
  p.settings = manifest.settings;
  p.header.flags = manifest.headerFlags;
  p.header.helpContext = manifest.helpContext;
  p.header.ipcPrefix[0] = manifest.ipcPrefix[0];
  p.header.ipcPrefix[1] = manifest.ipcPrefix[1];

  // Sizes first, in manifest order: a missing source or a sum that the
  // 32-bit fields cannot hold is found before anything is read. Stored data
  // that is not compressed is known now; compressed data is checked again
  // once it is made.
  const std::size_t count = manifest.files.size();
  std::vector<SourceInfo> infos;
  std::uint64_t installed = 0, inProgram = 0, external = 0, total = 0;
  for (const ManifestFile& f : manifest.files) {
    infos.push_back(StatSource(f.source, f.sourceText, f.sourcePlace, options.sourceDateEpoch));
    installed += infos.back().size;
    total += infos.back().size;
    if (f.compress) continue;
    ((f.flags & kMemberExt) ? external : inProgram) += infos.back().size;
  }
  std::vector<SourceInfo> trailingInfos;
  if (manifest.trailing) {
    for (const ManifestTrailingFile& f : manifest.trailing->files) {
      trailingInfos.push_back(
          StatSource(f.source, f.sourceText, f.sourcePlace, options.sourceDateEpoch));
      installed += trailingInfos.back().size;
      inProgram += trailingInfos.back().size;
    }
  }
  if (!manifest.requiredSpace && installed > kMax32)
    throw InputError(manifest.path.string() + ": the members install " + Gib(installed) +
                     ", 4 GiB or more; requiredSpace is 32-bit, so give header.required_space "
                     "or split the package");
  if (kArchiveOffset + inProgram > kMax32)
    throw InputError(manifest.path.string() + ": the members stored in the setup program hold " +
                     Gib(inProgram) +
                     "; with the stub that is 4 GiB or more. Mark large members external "
                     "or split the package");
  if (external > kMax32)
    throw InputError(manifest.path.string() + ": the external members hold " + Gib(external) +
                     ", 4 GiB or more; externalSize is 32-bit");

  // Read and compress on `jobs` threads, the largest first so that no
  // thread is left with a big member at the end; each result goes to its
  // place in manifest order.
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return infos[a].size > infos[b].size; });
  std::vector<PackageMember> members(count);
  std::atomic<std::size_t> filesDone{0};
  std::atomic<std::uint64_t> bytesDone{0};
  const auto start = std::chrono::steady_clock::now();
  auto task = [&](std::size_t i) {
    const ManifestFile& f = manifest.files[i];
    members[i] = MakeMember(f, infos[i], ReadSource(f.source, f.sourceText, f.sourcePlace),
                            options.best);
    bytesDone += infos[i].size;
    ++filesDone;
  };
  std::function<void()> tick;
  if (options.progress) {
    tick = [&] {
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      options.progress(BuildProgress{filesDone.load(), count, bytesDone.load(), total,
                                     elapsed.count()});
    };
  }
  RunTasks(order, options.jobs, task, tick);

  external = 0;
  for (const PackageMember& member : members) {
    if (member.flags & kMemberExt) external += member.data.size();
  }
  if (external > kMax32)
    throw InputError(manifest.path.string() + ": the external members hold " + Gib(external) +
                     ", 4 GiB or more; externalSize is 32-bit");
  p.files = std::move(members);

  p.icons = manifest.icons;

  if (manifest.trailing) {
    TrailingBlock block;
    block.typeTag = manifest.trailing->typeTag;
    block.configName = manifest.trailing->configName;
    for (std::size_t i = 0; i < manifest.trailing->files.size(); ++i) {
      const ManifestTrailingFile& f = manifest.trailing->files[i];
      TrailingMember member;
      member.name = f.name;
      if (block.typeTag == "QZ") member.lastWriteTime = f.time.value_or(trailingInfos[i].modified);
      member.data = ReadSource(f.source, f.sourceText, f.sourcePlace);
      block.members.push_back(std::move(member));
    }
    p.trailing = std::move(block);
  }

  p.header.requiredSpace =
      manifest.requiredSpace ? *manifest.requiredSpace : static_cast<std::uint32_t>(installed);
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
    if (HostPath(directory, external.fileName) == directory / output.filename())
      throw InputError(output.string() + ": the external member file of " + AnsiToUtf8(external.fileName) +
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
  for (const ExternalFile& external : externals)
    summary.externalFiles.push_back(HostPath(directory, external.fileName));
  return summary;
}
