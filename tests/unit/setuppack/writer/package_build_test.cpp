// Builds that a release engineer can rely on: the same bytes from the same
// sources wherever and however often they are built, on any number of
// threads, and the same as the archive built whole in memory; sizes the
// 32-bit fields cannot hold refused before any work.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "setuppack/host/errors.hpp"
#include "setuppack/host/file_time.hpp"
#include "setuppack/package/manifest.hpp"
#include "setuppack/package/values.hpp"
#include "setuppack/reader/extract.hpp"
#include "setuppack/reader/verify.hpp"
#include "setuppack/writer/build_progress.hpp"
#include "setuppack/writer/package_writer.hpp"
#include "setuppack/writer/setup_program.hpp"
#include "setuppack/writer/work_queue.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Sets the modification time of every file below `dir`.
void TouchAll(const fs::path& dir, fs::file_time_type time) {
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) fs::last_write_time(e.path(), time);
  }
}

// The example package copied to a fresh directory and built there; returns
// the setup program and its external member file, end to end.
Bytes BuildCopyOfExample(const TempDir& dir, fs::file_time_type time, unsigned jobs) {
  fs::copy(fs::path(SOURCE_DIR) / "examples", dir / "pkg", fs::copy_options::recursive);
  TouchAll(dir / "pkg", time);
  dir.Write("stub.exe", FakeStub());
  PackageOptions options;
  options.jobs = jobs;
  WritePackage(LoadManifest(dir / "pkg/package.toml"), dir / "KorvaneSetup.exe", dir / "stub.exe",
               options);
  Bytes bytes = ReadBytes(dir / "KorvaneSetup.exe");
  const Bytes external = ReadBytes(dir / "_anual.txt");
  bytes.insert(bytes.end(), external.begin(), external.end());
  return bytes;
}

TEST(ReproducibleBuild, TheExampleGivesTheSameBytesWhereverAndWithAnyJobs) {
  TempDir a, b, c;
  const Bytes first = BuildCopyOfExample(a, fs::file_time_type::clock::now(), 1);
  const Bytes second =
      BuildCopyOfExample(b, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400), 2);
  const Bytes third = BuildCopyOfExample(c, fs::file_time_type::clock::now(), 8);
  EXPECT_TRUE(first == second);
  EXPECT_TRUE(first == third);
}

// Large members are written while the later ones are still being made, in
// manifest order although they are made largest first: the program and the
// external member file are the same with any number of jobs, and the same as
// the archive built whole in memory, its header's external size included.
TEST(ReproducibleBuild, AFewLargeMembersGiveTheSameProgramWithAnyJobsAsTheArchiveInMemory) {
  TempDir dir;
  dir.Write("small.txt", SampleText(3000, 1));
  dir.Write("text.txt", SampleText(400 * 1024, 2));
  dir.Write("program.bin", SampleBinary(320 * 1024, 3));
  dir.Write("random.bin", RandomBytes(200 * 1024, 4));
  dir.Write("system.dll", SampleBinary(200 * 1024, 5));
  dir.Write("account.ini", "[account]\n");
  dir.Write("stub.exe", FakeStub());
  dir.Write("package.toml",
            "[settings]\nrun_command = \"a.exe\"\ndefault_path = 'C:\\K'\n[header]\nipc_prefix = \"KO\"\n"
            "[defaults]\ntime = 2024-05-01T09:00:00Z\ncompress = true\n"
            "[[files]]\nsource = \"small.txt\"\ncompress = false\n"
            "[[files]]\nsource = \"random.bin\"\n"
            "[[files]]\nsource = \"text.txt\"\nexternal = true\n"
            "[[files]]\nsource = \"system.dll\"\nsystem = true\nversion = \"2.0.0.1\"\n"
            "[[files]]\nsource = \"program.bin\"\n"
            "[[icons]]\nname = \"K\"\ntarget = \"a.exe\"\n"
            "[trailing]\ntype = \"QZ\"\nconfig_name = \"c\"\n[[trailing.files]]\nsource = \"account.ini\"\n");
  const Manifest manifest = LoadManifest(dir / "package.toml");
  const PackageBuilder whole = BuildPackage(manifest, PackageOptions{});
  ASSERT_EQ(whole.FinalHeader().externalSize, whole.files[2].data.size());
  const Bytes expected = ComposeSetupProgram(FakeStub(), whole.ArchiveBytes());
  for (unsigned jobs : {1u, 2u, 3u}) {
    PackageOptions options;
    options.jobs = jobs;
    const fs::path out = dir / ("out" + std::to_string(jobs));
    fs::create_directories(out);
    const PackageSummary summary = WritePackage(manifest, out / "Setup.exe", dir / "stub.exe", options);
    EXPECT_TRUE(ReadBytes(out / "Setup.exe") == expected) << jobs;
    EXPECT_EQ(summary.programSize, expected.size()) << jobs;
    EXPECT_EQ(summary.externalSize, whole.files[2].data.size()) << jobs;
    EXPECT_TRUE(ReadBytes(out / "_ext.txt") == whole.files[2].data) << jobs;
    EXPECT_EQ(summary.externalFiles, std::vector<fs::path>{out / "_ext.txt"}) << jobs;
  }
}

// The "_" file of an external member is named on the host in UTF-8, as the
// setup program's name is, so that verify and extract find what build wrote.
TEST(ExternalMemberFile, KeepsANonAsciiNameThatVerifyAndExtractFind) {
  TempDir dir;
  dir.Write("M\xC3\xA4nual.txt", "manual text");
  dir.Write("package.toml",
            "[settings]\nrun_command = \"a\"\ndefault_path = 'C:\\K'\n[header]\nipc_prefix = \"KO\"\n"
            "[[files]]\nsource = \"M\xC3\xA4nual.txt\"\nexternal = true\n");
  dir.Write("stub.exe", FakeStub());
  const PackageSummary summary =
      WritePackage(LoadManifest(dir / "package.toml"), dir / "Setup.exe", dir / "stub.exe", PackageOptions{});
  ASSERT_EQ(summary.externalFiles.size(), 1u);
  EXPECT_EQ(summary.externalFiles[0], dir / "_\xC3\xA4nual.txt");
  EXPECT_EQ(ReadText(dir / "_\xC3\xA4nual.txt"), "manual text");

  const VerifyReport report = VerifySetupProgram(dir / "Setup.exe", VerifyOptions{false, {}});
  EXPECT_TRUE(report.Sound()) << (report.problems.empty() ? "" : report.problems[0].message);
  ExtractSetupProgram(dir / "Setup.exe", dir / "out");
  EXPECT_EQ(ReadText(dir / "out/M\xC3\xA4nual.txt"), "manual text");
}

// Sources without a time in the manifest, modified at different times.
class SourceDateEpoch : public testing::Test {
protected:
  // Builds a.txt (modified at `modified`, Unix seconds) and returns its
  // member's time.
  std::uint64_t MemberTime(std::int64_t modified, std::optional<std::int64_t> epoch) {
    const fs::path source = dir_.Write("a.txt", "text");
    fs::last_write_time(source, fs::file_time_type::clock::from_sys(
                                    std::chrono::sys_seconds(std::chrono::seconds(modified))));
    dir_.Write("package.toml",
               "[settings]\nrun_command = \"a\"\ndefault_path = 'C:\\K'\n[header]\n"
               "ipc_prefix = \"KO\"\n[[files]]\nsource = \"a.txt\"\ncompress = true\n");
    PackageOptions options;
    options.sourceDateEpoch = epoch;
    return BuildPackage(LoadManifest(dir_ / "package.toml"), options).files[0].lastWriteTime;
  }

  TempDir dir_;
};

TEST_F(SourceDateEpoch, ClampsLaterModificationTimesOnly) {
  const std::int64_t epoch = 1700000000;
  EXPECT_EQ(MemberTime(epoch + 5000, epoch), FileTimeFromUnix(epoch));
  EXPECT_EQ(MemberTime(epoch + 9000, epoch), FileTimeFromUnix(epoch));
  EXPECT_EQ(MemberTime(epoch - 60, epoch), FileTimeFromUnix(epoch - 60));
  EXPECT_EQ(MemberTime(epoch + 5000, std::nullopt), FileTimeFromUnix(epoch + 5000));
}

TEST(SourceDateEpochValue, AcceptsDecimalSecondsOnly) {
  EXPECT_EQ(ParseSourceDateEpoch("0"), 0);
  EXPECT_EQ(ParseSourceDateEpoch("1700000000"), 1700000000);
  EXPECT_EQ(ParseSourceDateEpoch("253402300799"), 253402300799);
  for (const char* bad : {"", "-1", "17e8", " 1", "1.5", "253402300800", "9999999999999"})
    EXPECT_FALSE(ParseSourceDateEpoch(bad)) << bad;
}

// Sparse files: their sizes are real, their bytes never read.
class OversizedPackage : public testing::Test {
protected:
  void Sparse(const char* name, std::uint64_t size) {
    fs::resize_file(dir_.Write(name, ""), size);
  }
  std::string ErrorOf(const std::string& files, const std::string& header = "") {
    dir_.Write("stub.exe", FakeStub());
    dir_.Write("package.toml", "[settings]\nrun_command = \"a\"\ndefault_path = 'C:\\K'\n"
                               "[header]\nipc_prefix = \"KO\"\n" + header + files);
    try {
      WritePackage(LoadManifest(dir_ / "package.toml"), dir_ / "out.exe", dir_ / "stub.exe", {});
    } catch (const InputError& e) {
      EXPECT_FALSE(fs::exists(dir_ / "out.exe"));
      return e.what();
    }
    return "(built)";
  }

  TempDir dir_;
};

TEST_F(OversizedPackage, RefusesAMemberOf4GiB) {
  Sparse("huge.bin", 0x100000000ull);
  EXPECT_NE(ErrorOf("[[files]]\nsource = \"huge.bin\"\ncompress = true\n")
                .find("package.toml:7: files[0].source: \"huge.bin\" is 4 GiB or larger"),
            std::string::npos);
}

TEST_F(OversizedPackage, RefusesSumsThat32BitFieldsCannotHold) {
  Sparse("a.bin", 0xC0000000ull);
  Sparse("b.bin", 0xC0000000ull);
  const std::string both = "[[files]]\nsource = \"a.bin\"\n[[files]]\nsource = \"b.bin\"\n";
  EXPECT_NE(ErrorOf(both).find("the members install 6442450944 bytes, 4 GiB or more"),
            std::string::npos);
  EXPECT_NE(ErrorOf(both, "required_space = \"1 MiB\"\n")
                .find("the members stored in the setup program hold 6442450944 bytes"),
            std::string::npos);
  EXPECT_NE(ErrorOf("[[files]]\nsource = \"a.bin\"\nname = \"x1.bin\"\nexternal = true\n[[files]]\n"
                    "source = \"b.bin\"\nname = \"x2.bin\"\nexternal = true\n",
                    "required_space = \"1 MiB\"\n")
                .find("the external members hold 6442450944 bytes"),
            std::string::npos);
}

TEST(RunTasks, RunsEveryTaskOnceWhateverTheJobs) {
  for (unsigned jobs : {1u, 2u, 3u, 16u}) {
    std::vector<std::size_t> order(50);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = order.size() - 1 - i;
    std::vector<std::atomic<int>> runs(order.size());
    std::atomic<int> ticks{0};
    RunTasks(order, jobs, [&](std::size_t i) { ++runs[i]; }, [&] { ++ticks; });
    for (std::size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i].load(), 1) << jobs << " " << i;
    EXPECT_GE(ticks.load(), 1) << jobs;
  }
}

TEST(RunTasks, StopsAfterAFaultAndRethrowsItsOwn) {
  // Taken in reverse: with one job index 7 fails and nothing more starts.
  const std::vector<std::size_t> order = {7, 3, 5};
  std::atomic<int> runs{0};
  try {
    RunTasks(order, 1, [&](std::size_t i) {
      ++runs;
      if (i != 5) throw std::runtime_error(std::to_string(i));
    });
    ADD_FAILURE() << "no fault";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "7");
  }
  EXPECT_EQ(runs.load(), 1);
}

TEST(RunTasks, RethrowsTheFaultOfTheLowestIndexAmongThoseThatRan) {
  // Both faulty tasks run at once (the latch holds each until the other has
  // started); index 3's fault is reported whichever thread threw first.
  const std::vector<std::size_t> order = {7, 3};
  std::latch bothStarted(2);
  try {
    RunTasks(order, 2, [&](std::size_t i) {
      bothStarted.arrive_and_wait();
      throw std::runtime_error(std::to_string(i));
    });
    ADD_FAILURE() << "no fault";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "3");
  }
}

TEST(RunTasks, HandsEachReturnedTaskToTheCallingThreadOnce) {
  for (unsigned jobs : {1u, 2u, 3u, 16u}) {
    for (bool ticking : {false, true}) {
      std::vector<std::size_t> order(40);
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = (i * 7) % order.size();
      std::vector<std::atomic<bool>> ran(order.size());
      std::vector<int> finished(order.size(), 0);
      const std::thread::id caller = std::this_thread::get_id();
      bool elsewhere = false, early = false;
      std::function<void()> tick;
      if (ticking) tick = [] {};
      RunTasks(
          order, jobs, [&](std::size_t i) { ran[i] = true; }, tick,
          [&](std::size_t i) {
            ++finished[i];
            elsewhere = elsewhere || std::this_thread::get_id() != caller;
            early = early || !ran[i];
          },
          std::chrono::milliseconds(1));
      EXPECT_EQ(finished, std::vector<int>(order.size(), 1)) << jobs << " " << ticking;
      EXPECT_FALSE(elsewhere) << jobs << " " << ticking;
      EXPECT_FALSE(early) << jobs << " " << ticking;
    }
  }
}

TEST(RunTasks, StopsAfterAFinishedCallThrowsAndRethrowsItsFault) {
  for (unsigned jobs : {1u, 2u}) {
    const std::vector<std::size_t> order = {0, 1, 2, 3, 4, 5, 6, 7};
    std::atomic<int> runs{0};
    try {
      RunTasks(
          order, jobs, [&](std::size_t) { ++runs; }, {},
          [&](std::size_t i) {
            if (i == 1) throw std::runtime_error("finished 1");
          });
      ADD_FAILURE() << "no fault with " << jobs << " jobs";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "finished 1") << jobs;
    }
    // One job: nothing after the task whose finished call threw.
    if (jobs == 1) EXPECT_EQ(runs.load(), 2);
  }
}

TEST(BuildProgressLine, ShowsCountsRateAndTimeLeft) {
  constexpr std::uint64_t kMiB = 1 << 20;
  const std::pair<BuildProgress, const char*> cases[] = {
      {{0, 300, 0, 64 * kMiB, 0.0}, "0/300 files, 0.0/64.0 MiB, -- MiB/s, -- left"},
      {{12, 300, 16 * kMiB, 64 * kMiB, 2.0}, "12/300 files, 16.0/64.0 MiB, 8.0 MiB/s, 6 s left"},
      {{300, 300, 64 * kMiB, 64 * kMiB, 4.0}, "300/300 files, 64.0/64.0 MiB, 16.0 MiB/s, 0 s left"},
  };
  for (const auto& [progress, line] : cases) EXPECT_EQ(FormatProgressLine(progress), line);
}

TEST(BuildProgressLine, ReportsEveryMemberDoneAtTheEnd) {
  TempDir dir;
  dir.Write("t/a.bin", SampleBytes(3000, 1));
  dir.Write("t/b.bin", SampleBytes(5000, 2));
  dir.Write("package.toml", "[settings]\nrun_command = \"a\"\ndefault_path = 'C:\\K'\n[header]\n"
                            "ipc_prefix = \"KO\"\n[[files]]\ntree = \"t\"\ncompress = true\n");
  PackageOptions options;
  options.jobs = 2;
  std::vector<BuildProgress> seen;
  options.progress = [&](const BuildProgress& p) { seen.push_back(p); };
  BuildPackage(LoadManifest(dir / "package.toml"), options);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().filesDone, 2u);
  EXPECT_EQ(seen.back().fileCount, 2u);
  EXPECT_EQ(seen.back().bytesDone, 8000u);
  EXPECT_EQ(seen.back().byteCount, 8000u);
}

}  // namespace
