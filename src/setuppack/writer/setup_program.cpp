#include "setuppack/writer/setup_program.hpp"

#include <exception>
#include <stdexcept>
#include <string>

#include "setuppack/host/host_path.hpp"

namespace {

void CheckStub(std::span<const std::uint8_t> stub) {
  if (stub.size() > kArchiveOffset)
    throw std::length_error("the stub is " + std::to_string(stub.size()) +
                            " bytes long; it must end at or before offset " +
                            std::to_string(kArchiveOffset));
}

}  // namespace

std::vector<std::uint8_t> ComposeSetupProgram(std::span<const std::uint8_t> stub,
                                              std::span<const std::uint8_t> archive) {
  CheckStub(stub);
  std::vector<std::uint8_t> program;
  program.reserve(kArchiveOffset + archive.size());
  program.insert(program.end(), stub.begin(), stub.end());
  program.resize(kArchiveOffset, 0);
  program.insert(program.end(), archive.begin(), archive.end());
  return program;
}

SetupProgramFile::SetupProgramFile(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> stub)
    : directory_(path.parent_path()) {
  CheckStub(stub);
  program_ = std::make_unique<AtomicFile>(path, true);
  program_->Write(stub);
  const std::vector<std::uint8_t> padding(kArchiveOffset - stub.size(), 0);
  program_->Write(padding);
}

void SetupProgramFile::Append(std::span<const std::uint8_t> bytes) {
  program_->Write(bytes);
  archiveSize_ += bytes.size();
}

void SetupProgramFile::Rewrite(std::uint64_t archiveOffset, std::span<const std::uint8_t> bytes) {
  if (archiveOffset + bytes.size() > archiveSize_)
    throw std::out_of_range("rewriting archive bytes not yet appended");
  program_->WriteAt(kArchiveOffset + archiveOffset, bytes);
}

void SetupProgramFile::AddExternal(const std::string& fileName, std::span<const std::uint8_t> data) {
  externals_.push_back(std::make_unique<AtomicFile>(HostPath(directory_, fileName)));
  externals_.back()->Write(data);
  // Closed at once, so that a package of many external members holds one
  // open file at a time; a failure waits for Commit, as a failed Append does.
  try {
    externals_.back()->Close();
  } catch (const FileError&) {
    if (!failure_) failure_ = std::current_exception();
  }
}

void SetupProgramFile::Commit() {
  if (failure_) std::rethrow_exception(failure_);
  std::vector<AtomicFile*> files;
  for (const auto& external : externals_) files.push_back(external.get());
  files.push_back(program_.get());
  CommitTogether(files);
}

void WriteSetupProgram(const std::filesystem::path& path, std::span<const std::uint8_t> stub,
                       std::span<const std::uint8_t> archive,
                       const std::vector<ExternalFile>& externals) {
  SetupProgramFile program(path, stub);
  program.Append(archive);
  for (const ExternalFile& external : externals) program.AddExternal(external.fileName, external.data);
  program.Commit();
}
