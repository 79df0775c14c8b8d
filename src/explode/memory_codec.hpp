// The codec on whole buffers, for host programs: `explode` fed from and
// writing to memory. The setup program itself streams from its own file
// through explode's callbacks; everything else that handles implode streams
// on the host (the packager, tests, the benchmark, the fuzz targets) goes
// through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "explode/explode.hpp"

// Decompresses one whole stream and appends the output to `output`. Returns
// true for kExplodeOk; `result` holds explode's result either way. On a
// damaged stream `output` keeps what was decoded before the fault.
bool ExplodeBytes(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& output,
                  std::uint32_t& result);

// Decompresses one whole stream into a fixed buffer, in the caller's work
// area, so that repeated calls allocate nothing. Bytes beyond the end of
// `output` are dropped but counted: `produced` is the whole decoded length.
// Returns explode's result.
std::uint32_t ExplodeInto(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                          std::size_t& produced, ExplodeWork& work);
