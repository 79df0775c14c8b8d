#include "format/member_stream.hpp"

#include <cstring>

namespace {

std::uint32_t Smaller(std::uint32_t a, std::uint32_t b) { return a < b ? a : b; }

}  // namespace

void AttachReadAhead(ReadAhead& ahead, std::uint8_t* buffer, std::uint32_t capacity) {
  ahead.buffer = buffer;
  ahead.capacity = buffer != nullptr ? capacity : 0;
  ResetReadAhead(ahead);
}

void ResetReadAhead(ReadAhead& ahead) {
  ahead.start = 0;
  ahead.end = 0;
}

std::uint32_t BufferedBytes(const ReadAhead& ahead) { return ahead.end - ahead.start; }

std::uint32_t TakeMemberBytes(ReadAhead& ahead, void* out, std::uint32_t count, std::uint32_t memberLeft,
                              SourceRead read, void* context) {
  auto* destination = static_cast<std::uint8_t*>(out);
  std::uint32_t taken = 0;
  while (taken < count) {
    if (ahead.start == ahead.end) {
      if (ahead.capacity == 0) {
        // No buffer: one read of the whole request, as it comes.
        const std::uint32_t got = read(context, destination, count);
        return got == kSourceReadFailed ? kSourceReadFailed : Smaller(got, count);
      }
      // The buffer is empty, so all of the member not yet taken is still in
      // the source.
      const std::uint32_t fill = Smaller(ahead.capacity, memberLeft - taken);
      const std::uint32_t got = read(context, ahead.buffer, fill);
      ahead.start = 0;
      if (got == kSourceReadFailed) {
        ahead.end = 0;
        return kSourceReadFailed;
      }
      ahead.end = Smaller(got, fill);
      if (ahead.end == 0) return taken;  // the file ended
    }
    const std::uint32_t n = Smaller(ahead.end - ahead.start, count - taken);
    std::memcpy(destination + taken, ahead.buffer + ahead.start, n);
    ahead.start += n;
    taken += n;
  }
  return taken;
}

void AttachWriteBehind(WriteBehind& behind, std::uint8_t* buffer, std::uint32_t capacity) {
  behind.buffer = buffer;
  behind.capacity = buffer != nullptr ? capacity : 0;
  behind.used = 0;
}

bool PutOutputBytes(WriteBehind& behind, const void* data, std::uint32_t count, SinkWrite write,
                    void* context) {
  const auto* source = static_cast<const std::uint8_t*>(data);
  while (count > 0) {
    if (behind.used == 0 && count >= behind.capacity) return write(context, source, count);
    const std::uint32_t n = Smaller(behind.capacity - behind.used, count);
    std::memcpy(behind.buffer + behind.used, source, n);
    behind.used += n;
    source += n;
    count -= n;
    if (behind.used == behind.capacity && !FlushOutputBytes(behind, write, context)) return false;
  }
  return true;
}

bool FlushOutputBytes(WriteBehind& behind, SinkWrite write, void* context) {
  const std::uint32_t used = behind.used;
  behind.used = 0;
  return used == 0 || write(context, behind.buffer, used);
}
