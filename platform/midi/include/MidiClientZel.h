// A client of the system's MIDI service. Init registers it under a name;
// it then lists the sources and makes input ports.
//
// Which service: the environment variable CHIMEWICK_MIDI (auto, alsa, jack,
// virtual). auto takes the ALSA sequencer when it opens, else a running JACK
// server; with neither, Init fails with a nonzero Lasterror.
//
// Events, raised on the framework's event loop (bind them with SetHandler in
// the subclass's constructor, before Init):
//   "SetupChanged"            void()
//   "ObjectAdded"             void(rb::Ref<MidiObjectZel> parent, rb::Ref<MidiObjectZel> child)
//   "ObjectRemoved"           void(rb::Ref<MidiObjectZel> parent, rb::Ref<MidiObjectZel> child)
//   "PropertyChanged"         void(rb::Ref<MidiObjectZel>, rb::Ref<CFStringZel> property)
//   "ThruConnectionsChanged"  void()
//   "SerialPortOwnerChanged"  void()
// ObjectAdded and ObjectRemoved follow every source (child: its
// MidiEndpointZel) and client that starts or ends. An event still queued when
// the client is released is dropped. Release the client on the event loop.
#pragma once

#include <memory>

#include "MidiEndpointZel.h"
#include "MidiObjectZel.h"
#include "MidiPortZel.h"

class MidiClientZel : public MidiObjectZel {
 public:
  MidiClientZel();
  ~MidiClientZel() override;

  // Registers the client with the MIDI service under name. Lasterror: 0, or
  // the status (no service: -ENODEV). UI thread; waits for the service.
  void Init(rb::Ref<CFStringZel> name);

  // Makes port an input port of this client named name; on success the port
  // has a nonzero Handle, else the status is in this client's Lasterror (after
  // a failed Init, Init's status stays). UI thread.
  void CreateInputPort(rb::Ref<CFStringZel> name, rb::Ref<MidiPortZel> port);

  // The number of sources present now (0 before Init). Any thread; waits.
  int32_t NumberOfSources();

  // The source at a 0-based index now; nil when the index is out of range
  // (a source may have gone since NumberOfSources). Any thread; waits.
  rb::Ref<MidiEndpointZel> GetSource(int32_t index);

  std::string ClassName() const override { return "MidiClientZel"; }

 private:
  struct Service;
  std::unique_ptr<Service> service_;
};
