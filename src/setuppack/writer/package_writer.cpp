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

// What stat says of every source, and the sums checked before any is read.
struct SourcePlan {
  std::vector<SourceInfo> files;
  std::vector<SourceInfo> trailing;
  std::uint64_t installed = 0;  // every member's source size
  std::uint64_t total = 0;      // the main file table's source sizes, for progress
};

// Sizes first, in manifest order: a missing source or a sum that the 32-bit
// fields cannot hold is found before anything is read. Stored data that is
// not compressed is known now; compressed data is checked again once it is
// made.
SourcePlan PlanSources(const Manifest& manifest, const PackageOptions& options) {
  SourcePlan plan;
  std::uint64_t inProgram = 0, external = 0;
  for (const ManifestFile& f : manifest.files) {
    plan.files.push_back(StatSource(f.source, f.sourceText, f.sourcePlace, options.sourceDateEpoch));
    plan.installed += plan.files.back().size;
    plan.total += plan.files.back().size;
    if (f.compress) continue;
    ((f.flags & kMemberExt) ? external : inProgram) += plan.files.back().size;
  }
  if (manifest.trailing) {
    for (const ManifestTrailingFile& f : manifest.trailing->files) {
      plan.trailing.push_back(
          StatSource(f.source, f.sourceText, f.sourcePlace, options.sourceDateEpoch));
      plan.installed += plan.trailing.back().size;
      inProgram += plan.trailing.back().size;
    }
  }
  if (!manifest.requiredSpace && plan.installed > kMax32)
    throw InputError(manifest.path.string() + ": the members install " + Gib(plan.installed) +
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
  return plan;
}

// The package's records before its members are made: the header's fields,
// the settings, the icons, and an empty slot for each member.
PackageBuilder StartPackage(const Manifest& manifest, const SourcePlan& plan) {
  PackageBuilder p;
  p.settings = manifest.settings;
  p.header.flags = manifest.headerFlags;
  p.header.helpContext = manifest.helpContext;
  p.header.ipcPrefix[0] = manifest.ipcPrefix[0];
  p.header.ipcPrefix[1] = manifest.ipcPrefix[1];
  p.header.requiredSpace =
      manifest.requiredSpace ? *manifest.requiredSpace : static_cast<std::uint32_t>(plan.installed);
  p.icons = manifest.icons;
  p.files.resize(manifest.files.size());
  return p;
}

// Reads and compresses the members into p.files on `options.jobs` threads,
// the largest first so that no thread is left with a big member at the end.
// Calls ready(i) on the calling thread for each member in manifest order, as
// soon as it and all members before it are made.
void MakeMembers(const Manifest& manifest, const PackageOptions& options, const SourcePlan& plan,
                 PackageBuilder& p, const std::function<void(std::size_t)>& ready) {
  const std::size_t count = manifest.files.size();
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return plan.files[a].size > plan.files[b].size;
  });
  std::atomic<std::size_t> filesDone{0};
  std::atomic<std::uint64_t> bytesDone{0};
  const auto start = std::chrono::steady_clock::now();
  auto task = [&](std::size_t i) {
    const ManifestFile& f = manifest.files[i];
    p.files[i] = MakeMember(f, plan.files[i], ReadSource(f.source, f.sourceText, f.sourcePlace),
                            options.best);
    bytesDone += plan.files[i].size;
    ++filesDone;
  };
  std::function<void()> tick;
  if (options.progress) {
    tick = [&] {
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      options.progress(BuildProgress{filesDone.load(), count, bytesDone.load(), plan.total,
                                     elapsed.count()});
    };
  }
  std::vector<bool> made(count, false);
  std::size_t next = 0;  // the first member not yet handed to `ready`
  auto finished = [&](std::size_t i) {
    made[i] = true;
    for (; next < count && made[next]; ++next) ready(next);
  };
  RunTasks(order, options.jobs, task, tick, finished);
}

// After the members: checks their external size, reads the trailing block.
void FinishPackage(const Manifest& manifest, const SourcePlan& plan, PackageBuilder& p) {
  std::uint64_t external = 0;
  for (const PackageMember& member : p.files) {
    if (member.flags & kMemberExt) external += member.data.size();
  }
  if (external > kMax32)
    throw InputError(manifest.path.string() + ": the external members hold " + Gib(external) +
                     ", 4 GiB or more; externalSize is 32-bit");

  if (manifest.trailing) {
    TrailingBlock block;
    block.typeTag = manifest.trailing->typeTag;
    block.configName = manifest.trailing->configName;
    for (std::size_t i = 0; i < manifest.trailing->files.size(); ++i) {
      const ManifestTrailingFile& f = manifest.trailing->files[i];
      TrailingMember member;
      member.name = f.name;
      if (block.typeTag == "QZ") member.lastWriteTime = f.time.value_or(plan.trailing[i].modified);
      member.data = ReadSource(f.source, f.sourceText, f.sourcePlace);
      block.members.push_back(std::move(member));
    }
    p.trailing = std::move(block);
  }
}

}  // namespace

PackageBuilder BuildPackage(const Manifest& manifest, const PackageOptions& options) {
  const SourcePlan plan = PlanSources(manifest, options);
  PackageBuilder p = StartPackage(manifest, plan);
  MakeMembers(manifest, options, plan, p, [](std::size_t) {});
  FinishPackage(manifest, plan, p);
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
  const SourcePlan plan = PlanSources(manifest, options);

  std::error_code ec;
  const std::filesystem::path directory =
      output.parent_path().empty() ? std::filesystem::path(".") : output.parent_path();
  if (!std::filesystem::is_directory(directory, ec))
    throw InputError(output.string() + ": directory " + directory.string() +
                     " does not exist; create it first");
  std::vector<std::filesystem::path> externalFiles;
  for (const ManifestFile& f : manifest.files) {
    if (!(f.flags & kMemberExt)) continue;
    const std::string name = ExternalFileName(f.name);
    externalFiles.push_back(HostPath(directory, name));
    if (externalFiles.back() == directory / output.filename())
      throw InputError(output.string() + ": the external member file of " + AnsiToUtf8(name) +
                       " would overwrite the setup program; choose another output name");
  }

  // The program is written while its members are made: each member as soon
  // as it and all members before it are ready, so that little is left to
  // write once the last one is done. The archive header comes first, but its
  // external size is known only at the end: it is written again then.
  PackageBuilder package = StartPackage(manifest, plan);
  std::uint64_t archiveSize = 0;
  try {
    SetupProgramFile program(output, stub);
    program.Append(package.HeadBytes());
    MakeMembers(manifest, options, plan, package, [&](std::size_t i) {
      const PackageMember& member = package.files[i];
      program.Append(PackageBuilder::MemberHeadBytes(member));
      if (member.flags & kMemberExt) program.AddExternal(ExternalFileName(member.name), member.data);
      else program.Append(member.data);
    });
    FinishPackage(manifest, plan, package);
    program.Append(package.TailBytes());
    archiveSize = program.ArchiveSize();
    // setup.exe reads its file size and the progress total as 32-bit numbers.
    if (kArchiveOffset + archiveSize > kMax32 ||
        archiveSize + std::uint64_t{package.FinalHeader().externalSize} > kMax32)
      throw InputError(manifest.path.string() +
                       ": the setup program would exceed 4 GiB; move members out or split the package");
    program.Rewrite(0, package.HeadBytes());
    program.Commit();
  } catch (const std::system_error& e) {
    throw InputError(std::string(e.what()) + "; nothing was written");
  }

  PackageSummary summary;
  summary.programSize = kArchiveOffset + archiveSize;
  summary.externalSize = package.FinalHeader().externalSize;
  summary.fileCount = package.files.size();
  summary.iconCount = package.icons.size();
  summary.trailingCount = package.trailing ? package.trailing->members.size() : 0;
  summary.externalFiles = std::move(externalFiles);
  return summary;
}
