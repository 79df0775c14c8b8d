// Authenticode signing through osslsigncode: the signed program reads as the
// unsigned one, verifies, and never carries two signatures. The certificates
// are made with openssl for each test; without the two tools the tests skip.
#include <gtest/gtest.h>

#include <fstream>


#include "setuppack/host/errors.hpp"
#include "setuppack/reader/extract.hpp"
#include "setuppack/reader/verify.hpp"
#include "setuppack/writer/archive_builder.hpp"
#include "support/pe_image.hpp"
#include "support/sample_data.hpp"
#include "support/temp_dir.hpp"
#include "support/test_certificate.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

class SignTest : public testing::Test {
protected:
  void SetUp() override {
    std::string why;
    if (!SigningToolsAvailable(why)) GTEST_SKIP() << why;
    ASSERT_TRUE(MakeTestCertificate(dir_.Path()));
  }

  // A package whose stub is a real PE image, as osslsigncode needs one.
  std::filesystem::path WriteProgram(bool noTrailingFlag = true, const std::string& name = "S.exe") {
    PackageBuilder p;
    p.settings.runCommand = "a.exe";
    p.settings.defaultPath = "C:\\K";
    if (noTrailingFlag) p.header.flags |= kHeaderFlagNoTrailing;
    p.AddFile("a.exe", SampleBytes(3000, 5));
    p.AddFile("Docs\\readme.txt", "read me");
    p.WriteTo(dir_ / name, PeImageWithVersion(0x00010000, 0));
    return dir_ / name;
  }

  SigningOptions CertAndKey() const { return TestCertificateOptions(dir_.Path()); }

  VerifyOptions TrustingOurCertificate() const {
    VerifyOptions o;
    o.caFile = dir_ / "cert.pem";
    return o;
  }

  TempDir dir_;
};

TEST_F(SignTest, SignedProgramReadsAndExtractsAsTheUnsignedOne) {
  const std::filesystem::path plain = WriteProgram(true, "Plain.exe");
  const std::filesystem::path program = WriteProgram();
  SignSetupProgram(program, CertAndKey());

  const Bytes signedBytes = ReadBytes(program);
  const std::optional<CertificateTable> table = FindCertificateTable(signedBytes);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->offset + table->size, signedBytes.size());
  const ArchiveListing before = ReadArchive(ReadBytes(plain));
  const ArchiveListing after = ReadArchive(signedBytes);
  EXPECT_EQ(after.error, kArchiveOk) << DescribeArchiveError(after);
  EXPECT_EQ(after.archiveEnd, before.archiveEnd);
  // The archive's bytes are untouched: only the PE headers and the end change.
  const Bytes plainBytes = ReadBytes(plain);
  EXPECT_TRUE(std::equal(plainBytes.begin() + kArchiveOffset, plainBytes.end(), signedBytes.begin() + kArchiveOffset));

  TempDir a, b;
  ExtractSetupProgram(plain, a.Path());
  ExtractSetupProgram(program, b.Path());
  EXPECT_EQ(a.Files(), b.Files());
  EXPECT_EQ(ReadBytes(a / "a.exe"), ReadBytes(b / "a.exe"));
}

TEST_F(SignTest, VerifyFindsTheSignatureIntactAndTrustsItOnlyWithItsCertificate) {
  const std::filesystem::path program = WriteProgram();
  SignSetupProgram(program, CertAndKey());

  const VerifyReport trusted = VerifySetupProgram(program, TrustingOurCertificate());
  EXPECT_TRUE(trusted.Sound());
  ASSERT_TRUE(trusted.signature.check);
  EXPECT_TRUE(trusted.signature.check->intact);
  EXPECT_TRUE(trusted.signature.check->trusted);

  // A self-made certificate: intact, not trusted, and that is no problem.
  const VerifyReport untrusted = VerifySetupProgram(program);
  EXPECT_TRUE(untrusted.Sound());
  ASSERT_TRUE(untrusted.signature.check);
  EXPECT_TRUE(untrusted.signature.check->intact);
  EXPECT_FALSE(untrusted.signature.check->trusted);
  EXPECT_NE(untrusted.signature.check->detail.find("self-signed"), std::string::npos)
      << untrusted.signature.check->detail;
}

TEST_F(SignTest, ResigningReplacesTheSignatureInsteadOfStackingOne) {
  const std::filesystem::path program = WriteProgram();
  SignSetupProgram(program, CertAndKey());
  const CertificateTable first = *FindCertificateTable(ReadBytes(program));
  SignSetupProgram(program, CertAndKey());
  const Bytes twice = ReadBytes(program);
  const CertificateTable second = *FindCertificateTable(twice);
  EXPECT_EQ(second.offset, first.offset);
  // The signing time may change the blob's length by a few bytes, a second
  // signature would add a whole one.
  EXPECT_LT(second.size, first.size + 64);
  EXPECT_TRUE(VerifySetupProgram(program, TrustingOurCertificate()).Sound());
}

TEST_F(SignTest, TakesThePasswordFromItsFileOrTheEnvironmentAndRefusesAWrongOne) {
  struct Case {
    const char* name;
    const char* fileText;     // null: no --password-file
    const char* environment;  // null: variable unset
    bool signs;
  };
  const Case cases[] = {
      {"file", "s3cret", nullptr, true},
      {"file wins over the environment", "s3cret", "wrong", true},
      {"environment", nullptr, "s3cret", true},
      {"wrong file", "wrong", nullptr, false},
      {"none", nullptr, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path program = WriteProgram();
    const Bytes unsigned_ = ReadBytes(program);
    SigningOptions o;
    o.pkcs12 = dir_ / "cert.p12";
    if (c.fileText) o.passwordFile = dir_.Write("password.txt", c.fileText);
    if (c.environment) ::setenv(kSignPasswordVariable, c.environment, 1);
    else ::unsetenv(kSignPasswordVariable);
    if (c.signs) {
      EXPECT_NO_THROW(SignSetupProgram(program, o));
      EXPECT_TRUE(FindCertificateTable(ReadBytes(program)));
    } else {
      EXPECT_THROW(SignSetupProgram(program, o), InputError);
      EXPECT_EQ(ReadBytes(program), unsigned_);  // untouched
    }
    ::unsetenv(kSignPasswordVariable);
    // No copy of the password or of the program is left beside it.
    for (const std::string& f : dir_.Files()) EXPECT_EQ(f.find(".S.exe."), std::string::npos) << f;
  }
}

TEST_F(SignTest, ThePasswordNeverReachesTheToolsCommandLine) {
  SigningOptions o;
  o.pkcs12 = "cert.p12";
  o.timestampUrl = "http://ts.example";
  const std::vector<std::string> command = SignCommand(o, "pw.txt", "in.exe", "out.exe");
  EXPECT_EQ(command, (std::vector<std::string>{"osslsigncode", "sign", "-h", "sha256", "-pkcs12", "cert.p12",
                                               "-readpass", "pw.txt", "-ts", "http://ts.example", "-in", "in.exe",
                                               "-out", "out.exe"}));
}

TEST_F(SignTest, VerifyReportsASignedProgramWithoutTheNoTrailingFlag) {
  const std::filesystem::path program = WriteProgram(false);
  SignSetupProgram(program, CertAndKey());
  const VerifyReport report = VerifySetupProgram(program, TrustingOurCertificate());
  ASSERT_FALSE(report.Sound());
  EXPECT_EQ(report.problems[0].kind, ProblemKind::kSignature);
  EXPECT_NE(report.problems[0].message.find("header flag 0x02"), std::string::npos);
}

TEST_F(SignTest, VerifyReportsAProgramChangedAfterSigning) {
  const std::filesystem::path program = WriteProgram();
  SignSetupProgram(program, CertAndKey());
  Bytes bytes = ReadBytes(program);
  const ArchiveListing listing = ReadArchive(bytes);
  bytes[listing.members[1].dataOffset] ^= 0x20;  // "read me" -> "Read me"
  dir_.Write("S.exe", bytes);
  const VerifyReport report = VerifySetupProgram(program, TrustingOurCertificate());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].kind, ProblemKind::kSignature);
  EXPECT_NE(report.problems[0].message.find("does not match the file"), std::string::npos);
}

TEST_F(SignTest, VerifyReportsASecondArchiveEndBeforeTheSignature) {
  const std::filesystem::path program = WriteProgram();
  {
    std::ofstream(program, std::ios::binary | std::ios::app) << std::string(16, 'x');
  }
  SignSetupProgram(program, CertAndKey());
  const VerifyReport report = VerifySetupProgram(program, TrustingOurCertificate());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].kind, ProblemKind::kExtraData);
}

}  // namespace

// FindCertificateTable on bytes that are no signed PE image.
TEST(CertificateTable, IsAbsentFromUnsignedAndNonPeBytes) {
  EXPECT_FALSE(FindCertificateTable(PeImageWithVersion(0x00010000, 0)));
  EXPECT_FALSE(FindCertificateTable(FakeStub()));
  EXPECT_FALSE(FindCertificateTable(Bytes{}));
  Bytes pointingAway = PeImageWithVersion(0x00010000, 0);
  pointingAway[0x3C] = 0xF0;  // e_lfanew beyond the image
  pointingAway[0x3D] = 0xFF;
  EXPECT_FALSE(FindCertificateTable(pointingAway));
}
