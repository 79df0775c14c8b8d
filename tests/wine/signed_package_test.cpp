// A package signed by setuppack installs exactly as the same package
// unsigned: the certificate table behind the archive is never read as part
// of it.
#include <gtest/gtest.h>

#include <map>

#include "explode/implode.hpp"
#include "setup_fixture.hpp"
#include "setuppack/host/file_io.hpp"
#include "support/sample_data.hpp"
#include "support/test_certificate.hpp"

namespace winetest {
namespace {

namespace fs = std::filesystem;

struct InstalledFile {
  std::vector<std::uint8_t> content;
  fs::file_time_type time;
  bool operator==(const InstalledFile&) const = default;
};

// Every file below `root` by its relative name.
std::map<std::string, InstalledFile> TreeOf(const fs::path& root) {
  std::map<std::string, InstalledFile> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    tree[fs::relative(entry.path(), root).string()] = {ReadWholeFile(entry.path()), entry.last_write_time()};
  }
  return tree;
}

class SignedPackage : public SetupTest {};

TEST_F(SignedPackage, InstallsTheSameTreeAsTheUnsignedPackage) {
  std::string why;
  if (!SigningToolsAvailable(why)) GTEST_SKIP() << why;
  ASSERT_TRUE(MakeTestCertificate(Dir()));

  PackageBuilder package = NewPackage();  // carries the no-trailing-block flag
  package.AddFile("Korvane.exe", SampleBytes(30000, 7)).lastWriteTime = 0x01D5000000000000ull;
  const std::vector<std::uint8_t> text = SampleText(90000, 8);
  PackageMember& manual = package.AddFile("Docs\\manual.txt", Implode(text, ImplodeOptions{}), kMemberCmp);
  manual.originalSize = static_cast<std::uint32_t>(text.size());
  manual.lastWriteTime = 0x01D5100000000000ull;
  // A member without a time keeps the time it was written at, which differs
  // between the two runs: every member here carries one.
  package.AddFile("empty.dat", "").lastWriteTime = 0x01D5200000000000ull;
  WritePackage(package, "Plain.exe");
  WritePackage(package, "Signed.exe");
  SignSetupProgram(DirFile("Signed.exe"), TestCertificateOptions(Dir()));
  ASSERT_GT(fs::file_size(DirFile("Signed.exe")), fs::file_size(DirFile("Plain.exe")));

  ASSERT_EQ(RunSetup({"/S", "/D", WinFile("FromPlain")}, "Plain.exe"), 0);
  ASSERT_EQ(RunSetup({"/S", "/D", WinFile("FromSigned")}, "Signed.exe"), 0);
  const auto plain = TreeOf(DirFile("FromPlain"));
  EXPECT_EQ(plain.size(), 3u);
  EXPECT_EQ(plain.at("Docs/manual.txt").content, text);
  EXPECT_TRUE(TreeOf(DirFile("FromSigned")) == plain);
}

}  // namespace
}  // namespace winetest
