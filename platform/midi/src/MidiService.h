// The MIDI service interface under the vendor MIDI classes: one abstract
// client and input port, with ALSA, JACK and in-process virtual backends side
// by side (MidiServiceTable.cpp picks one).
//
// Threads: a backend calls ClientListener from its own notification thread
// and InputReceiver from the port's input thread only (or, in the virtual
// service's synchronous mode, from the sender's thread).
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MidiPacketData.h"

namespace chimewick::midi {

// Status values: 0 is success, otherwise a negative errno value.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusNoService = -ENODEV;
constexpr int32_t kStatusBadArgument = -EINVAL;
constexpr int32_t kStatusNoSuchSource = -ENOENT;

// One source as the service lists it. handle is never 0.
struct SourceInfo {
  int32_t handle = 0;
  std::string name;
};

// Kind of object a set-up notification concerns.
enum class ObjectKind { Client, Source };

// Set-up notifications of a client. Called on a backend thread; must not
// wait long (MidiClientZel only posts them to the event loop).
class ClientListener {
 public:
  virtual ~ClientListener() = default;
  virtual void objectAdded(ObjectKind kind, int32_t handle) = 0;
  virtual void objectRemoved(ObjectKind kind, int32_t handle) = 0;
  virtual void setupChanged() = 0;
};

// Where a port's MIDI goes. Called on the port's input thread, one call at a
// time. On JACK the input thread is JACK's real-time thread, so the port's
// receiver neither locks nor allocates.
class InputReceiver {
 public:
  virtual ~InputReceiver() = default;
  // Packets that arrived from source.
  virtual void received(int32_t source, PacketData&& packets) = 0;
  // The same for packets the caller keeps and fills again (a real-time
  // backend's buffer); the port's receiver copies them without allocating.
  virtual void receivedInPlace(int32_t source, const PacketData& packets) {
    PacketData copy = packets;
    received(source, std::move(copy));
  }
  // A connected source went away (unplugged, its client ended, its
  // connection cut), or the service lost some of its input (an overrun, in
  // which note-offs may have gone): what it holds is to be released.
  virtual void sourceGone(int32_t source) = 0;
};

// A backend's input port. Destroying it stops delivery and joins its input
// thread: after the destructor returns, the receiver is never called again.
class InputPort {
 public:
  virtual ~InputPort() = default;
  virtual int32_t handle() const = 0;
  // Subscribes the port to source; connecting a connected source again is
  // harmless. Returns a status. UI thread; waits for the service.
  virtual int32_t connect(int32_t source) = 0;
};

// A backend's client: registered with the service under a name.
class ServiceClient {
 public:
  virtual ~ServiceClient() = default;
  virtual int32_t handle() const = 0;
  // The sources present now, in the service's order. Any thread; waits.
  virtual std::vector<SourceInfo> sources() = 0;
  // Makes an input port delivering to receiver (which must outlive the
  // port). Null with status set on failure. UI thread.
  virtual std::unique_ptr<InputPort> createInputPort(const std::string& name, InputReceiver& receiver,
                                                     int32_t& status) = 0;
  // Stops set-up notifications; after it returns the listener is never
  // called again. Any thread; waits for a notification in progress.
  virtual void detachListener() = 0;
};

// Opens a client under name; null with status set when the service is not
// there. The listener must stay valid until detachListener.
using ClientFactory = std::shared_ptr<ServiceClient> (*)(const std::string& name, ClientListener& listener,
                                                         int32_t& status);

struct ServiceEntry {
  const char* name;
  ClientFactory open;
};

// The backends in order of preference for "auto": ALSA, then JACK. The
// virtual service is only chosen by name.
const std::vector<ServiceEntry>& serviceTable();

// Opens a client of the service that CHIMEWICK_MIDI names (auto, alsa, jack,
// virtual; unset means auto). Null with status set when none opens.
std::shared_ptr<ServiceClient> openServiceClient(const std::string& name, ClientListener& listener,
                                                 int32_t& status);

// Backends' factories.
std::shared_ptr<ServiceClient> openAlsaClient(const std::string& name, ClientListener& listener,
                                              int32_t& status);
std::shared_ptr<ServiceClient> openJackClient(const std::string& name, ClientListener& listener,
                                              int32_t& status);
std::shared_ptr<ServiceClient> openVirtualClient(const std::string& name, ClientListener& listener,
                                                 int32_t& status);

}  // namespace chimewick::midi
