#include "MidiPortZel.h"

#include <exception>

#include "DebugMessage.h"
#include "MidiService.h"
#include "NoteTracker.h"
#include "ReadListPool.h"
#include "RealTimeLog.h"
#include "SourceTable.h"

using chimewick::midi::PacketData;

// What the service delivers to: keeps each source's note tracker and raises
// Read on the port. Runs on the port's input thread (or a synchronous
// sender's), one delivery at a time; on JACK that is the real-time thread,
// so nothing here locks, allocates or logs there (the tables and lists are
// made ahead).
struct MidiPortZel::Delivery final : chimewick::midi::InputReceiver {
  explicit Delivery(MidiPortZel& owner) : port(owner) {}

  void received(int32_t source, PacketData&& packets) override { deliver(source, packets); }
  void receivedInPlace(int32_t source, const PacketData& packets) override { deliver(source, packets); }

  void sourceGone(int32_t source) override {
    const chimewick::midi::SourceTable::Entry entry = sources.find(source);
    if (!entry) return;
    release(entry);
    sources.forget(source);
  }

  void deliver(int32_t source, const PacketData& packets) {
    chimewick::midi::SourceTable::Entry entry = sources.find(source);
    if (!entry) {
      // A source that was never connected (a program writing to the port):
      // it takes a spare entry, whose earlier owner's notes end first.
      if (const chimewick::midi::SourceTable::Entry previous = sources.spare()) release(previous);
      entry = sources.adopt(source);
    }
    for (size_t i = 0; i < packets.count(); ++i) entry.tracker->observe(packets.packet(i));
    lists.begin();
    for (size_t i = 0; i < packets.count(); ++i) {
      if (lists.add(packets.packet(i))) continue;
      raiseRead(entry.endpoint);
      lists.begin();
      lists.add(packets.packet(i));
    }
    // An empty list is a Read too.
    if (!lists.empty() || packets.count() == 0) raiseRead(entry.endpoint);
  }

  // Ends what a source holds: one Read with a note-off for each note and
  // sustain off for each pedal it left down.
  void release(const chimewick::midi::SourceTable::Entry& entry) {
    if (!entry.tracker->holdsAnything()) return;
    releasing.clear();
    entry.tracker->releaseAll(releasing);
    lists.begin();
    for (size_t i = 0; i < releasing.count(); ++i) {
      if (lists.add(releasing.packet(i))) continue;
      raiseRead(entry.endpoint);
      lists.begin();
      lists.add(releasing.packet(i));
    }
    if (!lists.empty()) raiseRead(entry.endpoint);
  }

  void raiseRead(MidiEndpointZel* endpoint) {
    // No exception may leave the input thread.
    try {
      port.RaiseEvent<void, rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel>>(
          "Read", rb::Ref<MidiEndpointZel>(endpoint), lists.list());
    } catch (const std::exception& e) {
      chimewick::midi::logOffRealTime("the Read handler raised %s", e.what());
    } catch (...) {
      chimewick::midi::logOffRealTime("the Read handler raised an exception");
    }
  }

  MidiPortZel& port;
  chimewick::midi::SourceTable sources;
  chimewick::midi::ReadListPool lists;
  // Room for the releases of every note and pedal of one source.
  PacketData releasing = [] {
    PacketData data;
    data.packets.reserve(16 * 128 + 16);
    data.bytes.reserve(3 * (16 * 128 + 16));
    return data;
  }();
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
  delivery_->sources.connect(source);
  setLasterror(port_->connect(source->Handle()));
}
