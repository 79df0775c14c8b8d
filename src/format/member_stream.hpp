// Buffered member data: a read-ahead over the source of a member's stored
// bytes (the archive or an external member file) and a write-behind before its
// output file. Portable: the file calls are passed in, so the host tests drive
// the same code with memory and fault injection.
//
// What the two rely on and keep:
// - The read-ahead never asks the source for more than the member's bytes not
//   yet fetched, so once a member's data has been taken in full, the source
//   stands exactly behind it: the next record is read from the file directly.
// - A read of a regular file that delivers fewer bytes than asked has met the
//   file's end. A request that reaches past that end gets the bytes up to it;
//   the requests before it are served in full, as unbuffered reads would be.
// - The write-behind keeps what it was given until its buffer is full or it is
//   flushed; a failed or short write drops the bytes it did not write, so the
//   file holds what the system accepted.
// - A buffer of capacity 0 turns either side into plain pass-through calls.
#pragma once

#include <cstdint>

// Reads up to `count` bytes at the source's position into `buffer`. The number
// read (fewer only at the end of the file), or kSourceReadFailed when the read
// call failed.
typedef std::uint32_t (*SourceRead)(void* context, void* buffer, std::uint32_t count);
constexpr std::uint32_t kSourceReadFailed = 0xFFFFFFFFu;

// Writes `count` bytes from `data`. False when the write call failed or wrote
// fewer bytes.
typedef bool (*SinkWrite)(void* context, const void* data, std::uint32_t count);

// Each side's buffer in setup.exe: 64 KiB, on the heap beside the decoder's
// work area.
constexpr std::uint32_t kMemberIoBufferSize = 65536;

// Bytes fetched from the source and not yet taken: [start, end) of buffer.
struct ReadAhead {
  std::uint8_t* buffer;  // null with capacity 0: every request reads the source
  std::uint32_t capacity;
  std::uint32_t start;
  std::uint32_t end;
};

// Output bytes not yet written: the first `used` bytes of buffer.
struct WriteBehind {
  std::uint8_t* buffer;  // null with capacity 0: every put writes at once
  std::uint32_t capacity;
  std::uint32_t used;
};

// Uses `buffer` (`capacity` bytes, or null and 0), with nothing fetched.
void AttachReadAhead(ReadAhead& ahead, std::uint8_t* buffer, std::uint32_t capacity);
// Forgets what is buffered; for the start of a member's data.
void ResetReadAhead(ReadAhead& ahead);
std::uint32_t BufferedBytes(const ReadAhead& ahead);

// Copies the member's next `count` bytes into `out`. `memberLeft` is the number
// of the member's bytes not yet taken, buffered ones included, and at least
// `count`; the buffer is refilled with at most memberLeft minus what has been
// taken in this call. Returns `count`, fewer when the source ended first, or
// kSourceReadFailed when a read call failed (what `out` holds then is
// undefined, and the buffer is empty).
std::uint32_t TakeMemberBytes(ReadAhead& ahead, void* out, std::uint32_t count, std::uint32_t memberLeft,
                              SourceRead read, void* context);

// Uses `buffer` (`capacity` bytes, or null and 0), empty.
void AttachWriteBehind(WriteBehind& behind, std::uint8_t* buffer, std::uint32_t capacity);
// Appends `count` bytes; writes the buffer out whenever it is full. Data at
// least as large as the buffer, arriving while it is empty, is written at
// once. False when a write failed; the buffer is empty afterwards.
bool PutOutputBytes(WriteBehind& behind, const void* data, std::uint32_t count, SinkWrite write,
                    void* context);
// Writes out what the buffer holds. False when the write failed; empty after.
bool FlushOutputBytes(WriteBehind& behind, SinkWrite write, void* context);
