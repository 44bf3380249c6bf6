#include "MidiPortZel.h"

#include <cstdio>
#include <exception>
#include <map>
#include <mutex>

#include "MidiService.h"
#include "NoteTracker.h"
#include "chimewick/Log.h"

using chimewick::midi::PacketData;

// What the service delivers to: keeps each source's note tracker and raises
// Read on the port. Runs on the port's input thread (or a synchronous
// sender's), one delivery at a time.
struct MidiPortZel::Delivery final : chimewick::midi::InputReceiver {
  explicit Delivery(MidiPortZel& owner) : port(owner) {}

  void received(int32_t source, PacketData&& packets) override {
    std::lock_guard lock(deliverMutex);
    chimewick::midi::NoteTracker& tracker = trackers[source];
    for (size_t i = 0; i < packets.count(); ++i) tracker.observe(packets.packet(i));
    raiseRead(source, std::move(packets));
  }

  void sourceGone(int32_t source) override {
    std::lock_guard lock(deliverMutex);
    auto it = trackers.find(source);
    if (it != trackers.end()) {
      PacketData release;
      it->second.releaseAll(release);
      trackers.erase(it);
      if (!release.empty()) raiseRead(source, std::move(release));
    }
    std::lock_guard endpointsLock(endpointsMutex);
    endpoints.erase(source);
  }

  // The endpoint that ConnectSource was given for source, else a new one.
  rb::Ref<MidiEndpointZel> endpointOf(int32_t source) {
    std::lock_guard lock(endpointsMutex);
    auto it = endpoints.find(source);
    if (it != endpoints.end()) return it->second;
    return rb::New<MidiEndpointZel>(source, rb::String());
  }

  void raiseRead(int32_t source, PacketData&& packets) {
    // No exception may leave the input thread.
    try {
      rb::Ref<MidiEndpointZel> endpoint = endpointOf(source);
      rb::Ref<MidiPacketListZel> list = rb::New<MidiPacketListZel>(std::move(packets));
      port.RaiseEvent<void, rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel>>("Read", endpoint, list);
    } catch (const std::exception& e) {
      chimewick::midiLog.line("the Read handler raised %s", e.what());
    } catch (...) {
      chimewick::midiLog.line("the Read handler raised an exception");
    }
  }

  MidiPortZel& port;
  std::mutex deliverMutex;
  std::map<int32_t, chimewick::midi::NoteTracker> trackers;
  std::mutex endpointsMutex;
  std::map<int32_t, rb::Ref<MidiEndpointZel>> endpoints;
};

MidiPortZel::MidiPortZel() : delivery_(std::make_unique<Delivery>(*this)) {}

MidiPortZel::~MidiPortZel() {
  // Destroy has stopped the input thread already; this covers a port that
  // goes some other way.
  port_.reset();
}

void MidiPortZel::Destroy() const noexcept {
  // Before the subclass's destructor, whose members a Read may still use.
  const_cast<MidiPortZel*>(this)->port_.reset();
  MidiObjectZel::Destroy();
}

chimewick::midi::InputReceiver& MidiPortZel::delivery() noexcept { return *delivery_; }

void MidiPortZel::attach(std::unique_ptr<chimewick::midi::InputPort> port, rb::String name) {
  port_.reset();
  port_ = std::move(port);
  setName(std::move(name));
  setHandle(port_ ? port_->handle() : 0);
}

void MidiPortZel::ConnectSource(rb::Ref<MidiEndpointZel> source) {
  if (!source || source->Handle() == 0) {
    setLasterror(chimewick::midi::kStatusBadArgument);
    return;
  }
  if (!port_) {
    setLasterror(chimewick::midi::kStatusNoService);
    return;
  }
  {
    std::lock_guard lock(delivery_->endpointsMutex);
    delivery_->endpoints.insert_or_assign(source->Handle(), source);
  }
  setLasterror(port_->connect(source->Handle()));
}
