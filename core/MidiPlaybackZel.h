// The program's side of the playback plug-in's class MidiPlaybackZel: an
// object of the plug-in class and its members, each called through the
// plug-in entry-point table (bound by declared name at start-up).
//
// A member whose entry never bound raises rb::UnboundEntrypointException.
// SendMidiEvent may be called from the MIDI input thread and the UI thread;
// every other member from the UI thread.
#pragma once

#include <cstdint>

#include "rb/Object.h"
#include "rb/PluginHost.h"
#include "rb/String.h"

class MidiPlaybackZel : public rb::Object {
 public:
  // A new playback object, or nil when no plug-in registered the class.
  static rb::Ref<MidiPlaybackZel> New();
  std::string ClassName() const override { return "MidiPlaybackZel"; }

  intptr_t Callback();
  bool Init();
  void SendMidiEvent(int32_t status, int32_t data1, int32_t data2, int32_t offsetSampleFrame);
  int32_t InstrumentCount();
  int32_t InstrumentID(int32_t index);
  rb::String InstrumentName(int32_t index);
  float CPULoad();
  int32_t InstrumentIDOnChannel(int32_t channel);
  void SetInstrumentIDOnChannel(int32_t channel, int32_t value);

  int32_t Handle() const;
  int32_t Lasterror() const;

  // The plug-in object behind this one (tests read its instance data).
  const rb::PluginObject& PluginObject() const { return *object_; }

 private:
  explicit MidiPlaybackZel(rb::Ref<rb::PluginObject> object) : object_(std::move(object)) {}
  rb::Ref<rb::PluginObject> object_;
};
