#include "setuppack/streams/raw_streams.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "explode/explode.hpp"
#include "setuppack/host/file_io.hpp"

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

// An output that only appears once it is complete: a file through
// AtomicFile, standard output collected and written by Commit.
class CommandOutput {
 public:
  // Throws FileError when the file cannot be created.
  explicit CommandOutput(const std::string& path) {
    if (!IsStandardStream(path)) file_.emplace(path);
  }

  void Write(const std::uint8_t* data, std::size_t size) {
    if (file_) file_->Write(std::span(data, size));
    else memory_.insert(memory_.end(), data, data + size);
  }

  // Puts the output in place; throws FileError on failure.
  void Commit() {
    if (file_) {
      file_->Commit();
      return;
    }
    if ((!memory_.empty() && std::fwrite(memory_.data(), 1, memory_.size(), stdout) != memory_.size()) ||
        std::fflush(stdout) != 0)
      throw FileError(FileStep::Write, "standard output", std::error_code(errno, std::generic_category()));
  }

 private:
  std::optional<AtomicFile> file_;
  std::vector<std::uint8_t> memory_;
};

// What the decoder's callbacks share.
struct ExplodeContext {
  std::FILE* input = nullptr;
  CommandOutput* output = nullptr;
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

// Commits the output; returns the exit code.
// The output of a command, or nullopt after reporting why it cannot be
// created.
std::optional<CommandOutput> CreateOutput(const std::string& outPath) {
  try {
    return std::optional<CommandOutput>(std::in_place, outPath);
  } catch (const FileError& error) {
    Report(outPath, "cannot create: " + error.code().message());
    return std::nullopt;
  }
}

int CommitOutput(CommandOutput& output, const std::string& outPath) {
  try {
    output.Commit();
  } catch (const FileError& error) {
    Report(IsStandardStream(outPath) ? "standard output" : outPath, "cannot write: " + error.code().message());
    return 1;
  }
  return 0;
}

}  // namespace

int RunImplodeCommand(const ImplodeOptions& options, const std::string& inPath, const std::string& outPath) {
  std::vector<std::uint8_t> input;
  try {
    input = IsStandardStream(inPath) ? ReadWholeStream(stdin, "standard input") : ReadWholeFile(inPath);
  } catch (const FileError& error) {
    Report(DisplayName(inPath), "cannot read: " + error.code().message());
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
  std::optional<CommandOutput> output = CreateOutput(outPath);
  if (!output) return 1;
  output->Write(stream.data(), stream.size());
  return CommitOutput(*output, outPath);
}

int RunExplodeCommand(const std::string& inPath, const std::string& outPath) {
  const std::string name = DisplayName(inPath);
  File owner;
  std::FILE* input = OpenInput(inPath, owner);
  if (input == nullptr) {
    Report(name, std::string("cannot open: ") + std::strerror(errno));
    return 1;
  }
  std::optional<CommandOutput> output = CreateOutput(outPath);
  if (!output) return 1;
  ExplodeContext context;
  context.input = input;
  context.output = &*output;
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
  return CommitOutput(*output, outPath);
}
