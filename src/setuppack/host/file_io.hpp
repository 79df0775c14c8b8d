// The packager's file access: whole files read into memory, and files that
// appear under their names only once they are complete.
//
// Every failure is a FileError: a std::system_error that also names the
// file and the step that failed, so that each command can word its own
// message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

enum class FileStep { Open, Create, Read, Write, Rename, SetTime };

class FileError : public std::system_error {
public:
  // what(): "cannot open PATH: No such file or directory".
  FileError(FileStep step, const std::filesystem::path& path, std::error_code code);

  FileStep Step() const { return step_; }
  const std::filesystem::path& Path() const { return path_; }
  // "cannot open", "cannot create", "cannot read", "cannot write",
  // "cannot rename to", "cannot set the file time".
  std::string_view StepText() const;

private:
  FileStep step_;
  std::filesystem::path path_;
};

// Reads a whole file. Throws FileError (Open, Read).
std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path);
// Reads an open stream to its end, e.g. standard input; `name` names it in
// the FileError (Read).
std::vector<std::uint8_t> ReadWholeStream(std::FILE* file, const std::filesystem::path& name);

// A file written under a temporary name beside its target ("NAME.XXXXXX",
// mode 0666 less the umask, 0777 less the umask for executables) and moved
// into place by Commit. Until then the target is untouched; the destructor
// removes the temporary file of an uncommitted write.
class AtomicFile {
public:
  // Creates the temporary file. Throws FileError (Create, naming the target).
  explicit AtomicFile(std::filesystem::path target, bool executable = false);
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  // Appends bytes. A failure is kept and reported by Close or Commit, so that
  // a caller inside a decoder callback need not stop at once.
  void Write(std::span<const std::uint8_t> bytes);
  // Writes bytes over what Write has already written from `offset` on, e.g.
  // a header whose counts are known only at the end; later writes append as
  // before. Failures are kept as Write keeps them.
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  // Flushes the data to the disk and closes the temporary file. Throws
  // FileError (Write). Called by Commit when not done before.
  void Close();
  // Close, then renames the temporary file to the target. Throws FileError
  // (Write, Rename).
  void Commit();

  const std::filesystem::path& Target() const { return target_; }

private:
  std::filesystem::path target_;
  std::string temporary_;   // empty once committed or removed
  static constexpr std::uint64_t kWritebackStep = 1 << 20;

  std::FILE* file_ = nullptr;
  int error_ = 0;           // errno of the first failed write
  std::uint64_t written_ = 0;     // bytes appended by Write
  std::uint64_t handedOver_ = 0;  // of them, bytes handed to the disk before Close
};

// One file of a set that WriteFilesAtomically writes together.
struct FileToWrite {
  std::filesystem::path path;
  std::span<const std::uint8_t> bytes;
  bool executable = false;
};

// Writes every file under a temporary name, then moves them all into place.
// On a failure nothing is left behind: the temporary files are removed, and
// so are the targets already moved. Throws FileError.
void WriteFilesAtomically(std::span<const FileToWrite> files);

// Closes every file, then moves them into place in the order given. A failed
// write is thrown before any file is moved; a failed move removes the targets
// already moved, so that no half set stays. Throws FileError.
void CommitTogether(std::span<AtomicFile* const> files);

// Creates `path`, which must not exist yet, with `bytes` and flushes it to the
// disk. Throws FileError (Create, Write); a failed write leaves the file as
// far as it got, for the caller's clean-up.
void WriteNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Sets the modification (and access) time of a file. Throws FileError
// (SetTime).
void SetModificationTime(const std::filesystem::path& path, std::uint64_t fileTime);

// The bytes of a text, as a file holding it would.
std::vector<std::uint8_t> BytesOf(std::string_view text);
