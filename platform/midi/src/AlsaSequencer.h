// The few ALSA sequencer calls the ALSA backend makes, behind one small
// interface: the real sequencer (AlsaSequencerDevice.cpp) and an in-process
// fake (FakeAlsaSequencer.h) side by side, so that the backend's read loop,
// its overrun handling and its announcements can be driven without a
// sequencer device.
//
// Threads: one thread reads (pollDescriptors, eventInput) while the UI thread
// makes ports, subscribes and lists; the calls of the two groups may overlap.
#pragma once

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace chimewick::midi {

// One port of the sequencer as a listing gives it.
struct AlsaPortListing {
  int client = 0;
  int port = 0;
  unsigned capability = 0;  // SND_SEQ_PORT_CAP_*
  unsigned type = 0;        // SND_SEQ_PORT_TYPE_*
  bool kernelClient = false;
  std::string clientName;
  std::string portName;
};

class AlsaSequencer {
 public:
  virtual ~AlsaSequencer() = default;

  // This client's number. Any thread; never waits.
  virtual int clientId() = 0;
  // Sizes the client's input: events the kernel keeps for it, and bytes the
  // library reads at once. Returns 0 or a negative errno value. UI thread.
  virtual int setInputPool(int events) = 0;
  virtual int setInputBufferSize(size_t bytes) = 0;
  // Makes a port of this client; its number, or a negative errno value.
  // UI thread.
  virtual int createPort(const std::string& name, unsigned capability, unsigned type) = 0;
  virtual int deletePort(int port) = 0;
  // Subscribes this client's port to sender's; 0 or a negative errno value
  // (-EBUSY: subscribed already). UI thread; waits for the kernel.
  virtual int connectFrom(int port, int senderClient, int senderPort) = 0;
  // Every port of every client, in the sequencer's order. Any thread.
  virtual std::vector<AlsaPortListing> ports() = 0;
  // The descriptors that become readable when input waits. Reading thread.
  virtual std::vector<pollfd> pollDescriptors() = 0;
  // Takes the next event: 0 or more (events still buffered) with ev set;
  // -EAGAIN when nothing waits; -ENOSPC when the client's input overran and
  // the kernel dropped what was queued. ev stays valid until the next call.
  // Reading thread; never waits.
  virtual int eventInput(snd_seq_event_t*& ev) = 0;
};

// Opens the system's sequencer as a client named name; null with status set
// (a negative errno value) when there is none. Any thread.
std::unique_ptr<AlsaSequencer> openAlsaSequencer(const std::string& name, int32_t& status);

}  // namespace chimewick::midi
