// The in-process virtual MIDI service, for tests and benchmarks: make and
// remove named sources and send MIDI from them. Clients see it when
// CHIMEWICK_MIDI=virtual.
//
// Every function may run on any thread. In asynchronous delivery (the
// default) a send queues the bytes for each connected port's reader thread
// and never waits; in synchronous delivery the port's Read handler runs on the
// sender's thread before the send returns.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace VirtualMidi {

// Makes a source; returns its handle (never 0). Clients get ObjectAdded.
int32_t AddSource(const std::string& name);

// Removes a source: ports connected to it get the note-offs for the notes it
// held, and clients get ObjectRemoved. False for an unknown handle.
bool RemoveSource(int32_t source);

// Removes every source (between tests).
void RemoveAllSources();

// Sends bytes from source as one packet list with one packet per message
// (running status written out, a system exclusive message whole), as the
// system's MIDI services deliver. False for an unknown source.
bool Send(int32_t source, std::span<const uint8_t> bytes);
bool Send(int32_t source, std::initializer_list<uint8_t> bytes);

// Sends one packet list from source exactly as given: each element one
// packet (may be empty, may hold several messages).
bool SendPackets(int32_t source, const std::vector<std::vector<uint8_t>>& packets);

// Switches synchronous delivery on or off for every port.
void SetSynchronousDelivery(bool on);

}  // namespace VirtualMidi
