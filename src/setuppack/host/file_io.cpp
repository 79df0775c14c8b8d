#include "setuppack/host/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "setuppack/host/file_time.hpp"

namespace {

const char* StepWords(FileStep step) {
  switch (step) {
    case FileStep::Open: return "cannot open";
    case FileStep::Create: return "cannot create";
    case FileStep::Read: return "cannot read";
    case FileStep::Write: return "cannot write";
    case FileStep::Rename: return "cannot rename to";
    case FileStep::SetTime: return "cannot set the file time";
  }
  return "cannot use";
}

[[noreturn]] void Throw(FileStep step, const std::filesystem::path& path, int error) {
  throw FileError(step, path, std::error_code(error, std::generic_category()));
}

}  // namespace

FileError::FileError(FileStep step, const std::filesystem::path& path, std::error_code code)
    : std::system_error(code, std::string(StepWords(step)) + " " + path.string()),
      step_(step),
      path_(path) {}

std::string_view FileError::StepText() const { return StepWords(step_); }

// ------------------------------------------------------------------ reading

std::vector<std::uint8_t> ReadWholeStream(std::FILE* file, const std::filesystem::path& name) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  if (std::ferror(file)) Throw(FileStep::Read, name, errno);
  return bytes;
}

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Throw(FileStep::Open, path, errno);
  // A regular file is read into a buffer of its size at once: growing the
  // buffer as the bytes arrive copied a large member twice over and cost
  // more than the reading. Bytes beyond that size (a file that grows
  // meanwhile, or one whose size stat cannot tell) are read on in pieces.
  struct stat info {};
  std::vector<std::uint8_t> bytes;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
    bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t size = 0;
  std::uint8_t piece[65536];
  for (;;) {
    const bool whole = size == bytes.size();
    std::uint8_t* to = whole ? piece : bytes.data() + size;
    const ssize_t n = ::read(fd, to, whole ? sizeof piece : bytes.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      Throw(FileStep::Read, path, error);
    }
    if (n == 0) break;
    if (whole) bytes.insert(bytes.end(), piece, piece + n);
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(size);
  return bytes;
}

// ------------------------------------------------------------------ writing

AtomicFile::AtomicFile(std::filesystem::path target, bool executable)
    : target_(std::move(target)), temporary_(target_.string() + ".XXXXXX") {
  const int fd = ::mkstemp(temporary_.data());
  if (fd < 0) {
    const int error = errno;
    temporary_.clear();
    Throw(FileStep::Create, target_, error);
  }
  // mkstemp makes the file private; give it the mode a new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, (0666 & ~mask) | (executable ? 0111 : 0));
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    const int error = errno;
    ::close(fd);
    std::remove(temporary_.c_str());
    temporary_.clear();
    Throw(FileStep::Create, target_, error);
  }
}

AtomicFile::~AtomicFile() {
  if (file_) std::fclose(file_);
  if (!temporary_.empty()) std::remove(temporary_.c_str());
}

void AtomicFile::Write(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || error_ != 0 || !file_) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    error_ = errno ? errno : EIO;
    return;
  }
  // The written data is handed to the disk every few megabytes rather than
  // all at Close: the fsync there then waits for the last piece only, and a
  // large file goes to the disk while its writer is still busy making the
  // rest. A hint only: the fsync reports any failure.
  written_ += bytes.size();
  if (written_ - handedOver_ >= kWritebackStep && std::fflush(file_) == 0) {
    ::sync_file_range(::fileno(file_), static_cast<off_t>(handedOver_),
                      static_cast<off_t>(written_ - handedOver_), SYNC_FILE_RANGE_WRITE);
    handedOver_ = written_;
  }
}

void AtomicFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || error_ != 0 || !file_) return;
  if (std::fflush(file_) != 0) {
    error_ = errno ? errno : EIO;
    return;
  }
  const int fd = ::fileno(file_);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void AtomicFile::Close() {
  if (!file_) return;
  std::FILE* file = file_;
  file_ = nullptr;
  int error = error_;
  if (error == 0 && (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0)) error = errno;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error != 0) Throw(FileStep::Write, target_, error);
}

void AtomicFile::Commit() {
  Close();
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) Throw(FileStep::Rename, target_, errno);
  temporary_.clear();
}

void WriteFilesAtomically(std::span<const FileToWrite> files) {
  std::vector<std::unique_ptr<AtomicFile>> staged;
  std::vector<AtomicFile*> order;
  for (const FileToWrite& file : files) {
    staged.push_back(std::make_unique<AtomicFile>(file.path, file.executable));
    staged.back()->Write(file.bytes);
    staged.back()->Close();
    order.push_back(staged.back().get());
  }
  CommitTogether(order);
}

void CommitTogether(std::span<AtomicFile* const> files) {
  for (AtomicFile* file : files) file->Close();
  for (std::size_t i = 0; i < files.size(); ++i) {
    try {
      files[i]->Commit();
    } catch (const FileError&) {
      // Take back what was already moved into place, so that no half set stays.
      std::error_code ignored;
      for (std::size_t j = 0; j < i; ++j) std::filesystem::remove(files[j]->Target(), ignored);
      throw;
    }
  }
}

void WriteNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) Throw(FileStep::Create, path, errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      Throw(FileStep::Write, path, error);
    }
    done += static_cast<std::size_t>(n);
  }
  int error = ::fsync(fd) != 0 ? errno : 0;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) Throw(FileStep::Write, path, error);
}

void SetModificationTime(const std::filesystem::path& path, std::uint64_t fileTime) {
  const UnixTime t = UnixFromFileTime(fileTime);
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(t.seconds);
  times[0].tv_nsec = static_cast<long>(t.nanoseconds);
  times[1] = times[0];
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) Throw(FileStep::SetTime, path, errno);
}

std::vector<std::uint8_t> BytesOf(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}
