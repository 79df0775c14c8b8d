#include "setuppack/raw_streams.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "explode/explode.hpp"

namespace {

bool IsStandardStream(const std::string& path) { return path == "-"; }

std::string DisplayName(const std::string& path) {
  return IsStandardStream(path) ? std::string("standard input") : path;
}

void Report(const std::string& name, const std::string& text) {
  std::fprintf(stderr, "setuppack: %s: %s\n", name.c_str(), text.c_str());
}

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens an input for reading; standard input for "-".
std::FILE* OpenInput(const std::string& path, File& owner) {
  if (IsStandardStream(path)) return stdin;
  owner.reset(std::fopen(path.c_str(), "rb"));
  return owner.get();
}

// An output that only appears under its name once it is complete: a file is
// written as a temporary file in the same directory and renamed by Commit;
// standard output is collected and written by Commit.
class AtomicOutput {
 public:
  explicit AtomicOutput(const std::string& path) : path_(path) {}
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput() { Discard(); }

  // Creates the temporary file; false with errno set on failure.
  bool Open() {
    if (IsStandardStream(path_)) return true;
    tempPath_ = path_ + ".XXXXXX";
    int fd = mkstemp(tempPath_.data());
    if (fd < 0) {
      tempPath_.clear();
      return false;
    }
    // mkstemp makes the file private; give it the mode a new file gets.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_.reset(fdopen(fd, "wb"));
    if (!file_) {
      close(fd);
      return false;
    }
    return true;
  }

  void Write(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || failed_) return;
    if (IsStandardStream(path_)) {
      memory_.insert(memory_.end(), data, data + size);
    } else if (std::fwrite(data, 1, size, file_.get()) != size) {
      failed_ = true;
      error_ = errno;
    }
  }

  // Puts the output in place; false with errno set on failure.
  bool Commit() {
    if (failed_) {
      errno = error_;
      return false;
    }
    if (IsStandardStream(path_)) {
      if (!memory_.empty() && std::fwrite(memory_.data(), 1, memory_.size(), stdout) != memory_.size()) return false;
      return std::fflush(stdout) == 0;
    }
    std::FILE* file = file_.release();
    if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
      int saved = errno;
      std::fclose(file);
      errno = saved;
      return false;
    }
    if (std::fclose(file) != 0) return false;
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) return false;
    tempPath_.clear();
    return true;
  }

  void Discard() {
    file_.reset();
    if (!tempPath_.empty()) {
      std::remove(tempPath_.c_str());
      tempPath_.clear();
    }
  }

 private:
  std::string path_;
  std::string tempPath_;
  File file_;
  std::vector<std::uint8_t> memory_;
  bool failed_ = false;
  int error_ = 0;
};

// Reads a whole input into memory; false with errno set on failure.
bool ReadAll(const std::string& path, std::vector<std::uint8_t>& data) {
  File owner;
  std::FILE* file = OpenInput(path, owner);
  if (file == nullptr) return false;
  std::uint8_t buffer[65536];
  for (;;) {
    std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    data.insert(data.end(), buffer, buffer + got);
    if (got < sizeof buffer) break;
  }
  return std::ferror(file) == 0;
}

// What the decoder's callbacks share.
struct ExplodeContext {
  std::FILE* input = nullptr;
  AtomicOutput* output = nullptr;
  bool readFailed = false;
  int readError = 0;
  std::uint64_t bytesRead = 0;
  std::uint64_t bytesWritten = 0;
  std::uint8_t header[2] = {0, 0};
};

// Fills the decoder's buffer as far as the input allows, so that a short read
// from a pipe is never taken for a short stream.
unsigned int ReadCallback(char* buffer, unsigned int* size, void* userParameter) {
  auto* context = static_cast<ExplodeContext*>(userParameter);
  unsigned int wanted = *size;
  unsigned int got = 0;
  while (got < wanted && !context->readFailed) {
    std::size_t n = std::fread(buffer + got, 1, wanted - got, context->input);
    got += static_cast<unsigned int>(n);
    if (n == 0) {
      if (std::ferror(context->input)) {
        context->readFailed = true;
        context->readError = errno;
      }
      break;
    }
  }
  for (unsigned int i = 0; i < got && context->bytesRead + i < 2; ++i)
    context->header[context->bytesRead + i] = static_cast<std::uint8_t>(buffer[i]);
  context->bytesRead += got;
  return got;
}

void WriteCallback(char* buffer, unsigned int* size, void* userParameter) {
  auto* context = static_cast<ExplodeContext*>(userParameter);
  context->output->Write(reinterpret_cast<const std::uint8_t*>(buffer), *size);
  context->bytesWritten += *size;
}

}  // namespace

int RunImplodeCommand(const ImplodeOptions& options, const std::string& inPath, const std::string& outPath) {
  std::vector<std::uint8_t> input;
  if (!ReadAll(inPath, input)) {
    Report(DisplayName(inPath), std::string("cannot read: ") + std::strerror(errno));
    return 1;
  }
  std::vector<std::uint8_t> stream;
  try {
    stream = Implode(input, options);
  } catch (const std::invalid_argument& error) {
    Report(DisplayName(inPath), error.what());
    return 2;
  } catch (const std::length_error& error) {
    Report(DisplayName(inPath), error.what());
    return 1;
  }
  AtomicOutput output(outPath);
  if (!output.Open()) {
    Report(outPath, std::string("cannot create: ") + std::strerror(errno));
    return 1;
  }
  output.Write(stream.data(), stream.size());
  if (!output.Commit()) {
    Report(IsStandardStream(outPath) ? "standard output" : outPath, std::string("cannot write: ") + std::strerror(errno));
    return 1;
  }
  return 0;
}

int RunExplodeCommand(const std::string& inPath, const std::string& outPath) {
  const std::string name = DisplayName(inPath);
  File owner;
  std::FILE* input = OpenInput(inPath, owner);
  if (input == nullptr) {
    Report(name, std::string("cannot open: ") + std::strerror(errno));
    return 1;
  }
  AtomicOutput output(outPath);
  if (!output.Open()) {
    Report(outPath, std::string("cannot create: ") + std::strerror(errno));
    return 1;
  }
  ExplodeContext context;
  context.input = input;
  context.output = &output;
  auto work = std::make_unique<ExplodeWork>();
  const std::uint32_t result = explode(ReadCallback, WriteCallback, work.get(), &context);

  if (context.readFailed) {
    Report(name, std::string("cannot read: ") + std::strerror(context.readError));
    return 1;
  }
  switch (result) {
    case kExplodeOk:
      break;
    case kExplodeBadDictionary:
      Report(name, "not an implode stream: dictionary size code " + std::to_string(context.header[1]) +
                       " (byte 1) is not 4, 5 or 6");
      return 1;
    case kExplodeBadLiteralMode:
      Report(name, "not an implode stream: literal mode " + std::to_string(context.header[0]) +
                       " (byte 0) is not 0 or 1");
      return 1;
    case kExplodeShortHeader:
      Report(name, "not an implode stream: " + std::to_string(context.bytesRead) +
                       " bytes, the shortest stream has 5");
      return 1;
    case kExplodeTruncated:
      Report(name, "damaged implode stream: input ended before the end code after " +
                       std::to_string(context.bytesWritten) + " bytes of output");
      return 1;
    default:
      Report(name, "damaged implode stream: decoder result " + std::to_string(result));
      return 1;
  }
  if (!output.Commit()) {
    Report(IsStandardStream(outPath) ? "standard output" : outPath, std::string("cannot write: ") + std::strerror(errno));
    return 1;
  }
  return 0;
}
