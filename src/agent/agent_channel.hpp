// The agent channel: the named shared block, mutex and events through which
// the running backup agent programs are handed commands. The setup program is
// a guest: it opens what the agents made and creates only its own
// acknowledgement event. Every operation opens the channel, exchanges one
// command and closes it again; only the Windows NT security attributes
// outlive an operation. No failure shows a message.
#pragma once

#include <cstdint>

// Keeps the first two characters of the archive header's ipcPrefix. Called
// once, before the first channel operation.
void SetAgentPrefix(const char* ipcPrefix);

// True when the participant of `slot` answered the presence query (command
// 0) with its reply bit set.
bool IsAgentRunning(int slot);

// Exchanges `command` with `slot`. `reply` receives the reply bit, 0 unless
// the answer was read. `arguments` (may be null) holds argumentBytes / 4
// words sent behind the command; on a set reply the receiver's result words
// are copied back into it. True when the receiver acknowledged within 5000 ms;
// false at once, without opening the channel, when `reply` is null.
bool SendAgentCommand(int slot, int command, int* reply, std::uint32_t* arguments,
                      std::uint32_t argumentBytes);
