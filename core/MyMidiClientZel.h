// The program's MIDI client: rescans the MIDI sources whenever the MIDI
// service reports an object added or removed, so a keyboard plugged in while
// the program runs is connected at once.
#pragma once

#include "MidiClientZel.h"
#include "rb/String.h"

class MidiObjectZel;
class CFStringZel;

class MyMidiClientZel : public MidiClientZel {
 public:
  // Binds the six client events to the handlers below.
  MyMidiClientZel();
  std::string ClassName() const override { return "MyMidiClientZel"; }

  // A new client, or nil when none could be made. UI thread.
  static rb::Ref<MyMidiClientZel> New();
  // Test seam: while set, New() gives nil, as when no client object results.
  static void SetRefuseNewForTesting(bool refuse) noexcept;

  // The client events, raised by the MIDI service classes on the event loop.
  void Event_SetupChanged();
  void Event_ObjectAdded(rb::Ref<MidiObjectZel> parent, rb::Ref<MidiObjectZel> child);
  void Event_ObjectRemoved(rb::Ref<MidiObjectZel> parent, rb::Ref<MidiObjectZel> child);
  void Event_PropertyChanged(rb::Ref<MidiObjectZel> object, rb::Ref<CFStringZel> name);
  void Event_ThruConnectionsChanged();
  void Event_SerialPortOwnerChanged();

  // Shows message in a message box. UI thread; waits for the box.
  void w(const rb::String& message);
};
