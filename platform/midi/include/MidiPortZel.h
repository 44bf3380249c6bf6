// A MIDI input port. A client's CreateInputPort makes it an input of the
// service; ConnectSource subscribes it to a source.
//
// Event (bind it with SetHandler in the subclass's constructor, before the
// port is given to CreateInputPort):
//   "Read"  void(rb::Ref<MidiEndpointZel> source, rb::Ref<MidiPacketListZel>)
//           MIDI from a connected source, raised on the port's MIDI input
//           thread (never the event loop; on JACK, JACK's real-time thread,
//           where the handler must neither lock nor allocate), one Read at a
//           time. The list, its packets and their blocks are the port's own,
//           used again once nobody holds them. When a
//           connected source goes away, one last Read for it carries a
//           note-off for every note it left down and sustain off for every
//           channel whose pedal it left down.
// Releasing the port stops its delivery and waits for a Read in progress
// before any destructor runs: after release there is no Read, and a Read
// never meets a subclass being destroyed. A handler must therefore not
// release its own port.
#pragma once

#include <memory>

#include "MidiEndpointZel.h"
#include "MidiObjectZel.h"
#include "MidiPacketListZel.h"

class MidiClientZel;

namespace chimewick::midi {
class InputPort;
class InputReceiver;
}  // namespace chimewick::midi

class MidiPortZel : public MidiObjectZel {
 public:
  MidiPortZel();
  ~MidiPortZel() override;

  // Subscribes the port to source; connecting a connected source again is
  // harmless. The outcome is in Lasterror. UI thread; waits for the service.
  void ConnectSource(rb::Ref<MidiEndpointZel> source);

  std::string ClassName() const override { return "MidiPortZel"; }

 protected:
  // Stops delivery (waiting for a Read in progress), then frees the object.
  // The thread that drops the last reference, never the port's own input
  // thread.
  void Destroy() const noexcept override;

 private:
  friend class MidiClientZel;
  struct Delivery;

  // Makes port the service port behind this object (replacing an earlier
  // one). UI thread.
  void attach(std::unique_ptr<chimewick::midi::InputPort> port, rb::String name);
  // The receiver the service delivers to.
  chimewick::midi::InputReceiver& delivery() noexcept;

  std::unique_ptr<Delivery> delivery_;
  std::unique_ptr<chimewick::midi::InputPort> port_;  // after delivery_: released first
};
