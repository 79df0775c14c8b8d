#include "setuppack/writer/setup_program.hpp"

#include <stdexcept>
#include <string>

#include "setuppack/host/host_path.hpp"

std::vector<std::uint8_t> ComposeSetupProgram(std::span<const std::uint8_t> stub,
                                              std::span<const std::uint8_t> archive) {
  if (stub.size() > kArchiveOffset)
    throw std::length_error("the stub is " + std::to_string(stub.size()) +
                            " bytes long; it must end at or before offset " +
                            std::to_string(kArchiveOffset));
  std::vector<std::uint8_t> program;
  program.reserve(kArchiveOffset + archive.size());
  program.insert(program.end(), stub.begin(), stub.end());
  program.resize(kArchiveOffset, 0);
  program.insert(program.end(), archive.begin(), archive.end());
  return program;
}

void WriteSetupProgram(const std::filesystem::path& path, std::span<const std::uint8_t> stub,
                       std::span<const std::uint8_t> archive,
                       const std::vector<ExternalFile>& externals) {
  const std::vector<std::uint8_t> program = ComposeSetupProgram(stub, archive);
  const std::filesystem::path directory = path.parent_path();
  std::vector<FileToWrite> files;
  for (const ExternalFile& external : externals) {
    files.push_back(FileToWrite{HostPath(directory, external.fileName), external.data});
  }
  files.push_back(FileToWrite{path, program, true});
  WriteFilesAtomically(files);
}
