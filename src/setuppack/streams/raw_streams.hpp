// The packager's raw stream commands: `setuppack implode` and
// `setuppack explode` turn a whole file into one implode stream and back,
// without any archive around it.
#pragma once

#include <string>

#include "explode/implode.hpp"

// Compresses inPath into one implode stream at outPath ("-" for standard
// input or output). Returns the exit code: 0 ok, 1 when the input cannot be
// read or the output cannot be written, 2 for options the encoder refuses. A
// message naming the file goes to standard error; a failed run leaves no
// output file behind (the stream is written to a temporary file beside the
// target and renamed into place).
int RunImplodeCommand(const ImplodeOptions& options, const std::string& inPath, const std::string& outPath);

// Decompresses the implode stream inPath into outPath ("-" as above) with the
// setup program's own decoder. Returns 0 ok, or 1 for input that is not a
// whole implode stream (the message says how far decoding got) and for read
// or write failures; a failed run leaves no output file behind.
int RunExplodeCommand(const std::string& inPath, const std::string& outPath);
