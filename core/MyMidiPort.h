// The program's MIDI input port: forwards every message that arrives from a
// connected source to the synthesizer, and keeps the keyboard's volume
// controller in the main window's Volume.
#pragma once

#include <atomic>
#include <cstdint>

#include "MidiPortZel.h"

class MidiEndpointZel;
class MidiPacketListZel;

class MyMidiPort : public MidiPortZel {
 public:
  // Binds the Read event to Event_Read.
  MyMidiPort();
  std::string ClassName() const override { return "MyMidiPort"; }

  // A new port, or nil when none could be made. UI thread.
  static rb::Ref<MyMidiPort> New();
  // Test seam: while set, New() gives nil, as when no port object results.
  static void SetRefuseNewForTesting(bool refuse) noexcept;

  // Forwards each packet's first message (active sensing excepted) once to
  // the open window's synthesizer, unchanged, with a sample offset of 0; a
  // controller 7 on any channel first sets the window's Volume. Reads nothing
  // past a packet: missing data bytes count as 0. MIDI input thread (the
  // port's Read event; on JACK its real-time thread), one call at a time;
  // never waits, takes no lock, allocates nothing; makes no window.
  void Event_Read(rb::Ref<MidiEndpointZel> endpoint, rb::Ref<MidiPacketListZel> packets);

  // Read events handled so far; only the traces use it. Written by the MIDI
  // input thread, readable from any.
  std::atomic<int32_t> count{0};
};
