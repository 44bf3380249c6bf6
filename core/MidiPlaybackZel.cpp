// The playback object's members, each called through the entry-point table
// with the plug-in's C calling convention: the object first, then the
// declared parameters as int32.
#include "MidiPlaybackZel.h"

#include "PlaybackEntrypoints.h"

namespace {

// The bound entry as a function of type Fn; raises
// UnboundEntrypointException when it never bound.
template <class Fn>
Fn EntryAs(PlaybackEntry entry) {
  return reinterpret_cast<Fn>(PluginEntrypoints().Entry(size_t(entry)));
}

}  // namespace

rb::Ref<MidiPlaybackZel> MidiPlaybackZel::New() {
  rb::Ref<rb::PluginObject> object = rb::PluginObject::New("MidiPlaybackZel");
  if (!object) return nullptr;
  return rb::Ref<MidiPlaybackZel>(new MidiPlaybackZel(std::move(object)));
}

intptr_t MidiPlaybackZel::Callback() {
  return EntryAs<intptr_t (*)(void*)>(PlaybackEntry::Callback)(object_->Self());
}

bool MidiPlaybackZel::Init() {
  return EntryAs<int32_t (*)(void*)>(PlaybackEntry::Init)(object_->Self()) != 0;
}

void MidiPlaybackZel::SendMidiEvent(int32_t status, int32_t data1, int32_t data2, int32_t offsetSampleFrame) {
  EntryAs<void (*)(void*, int32_t, int32_t, int32_t, int32_t)>(PlaybackEntry::SendMidiEvent)(
      object_->Self(), status, data1, data2, offsetSampleFrame);
}

int32_t MidiPlaybackZel::InstrumentCount() {
  return EntryAs<int32_t (*)(void*)>(PlaybackEntry::InstrumentCount)(object_->Self());
}

int32_t MidiPlaybackZel::InstrumentID(int32_t index) {
  return EntryAs<int32_t (*)(void*, int32_t)>(PlaybackEntry::InstrumentID)(object_->Self(), index);
}

rb::String MidiPlaybackZel::InstrumentName(int32_t index) {
  HostString name =
      EntryAs<HostString (*)(void*, int32_t)>(PlaybackEntry::InstrumentName)(object_->Self(), index);
  rb::String text = rb::HostStringText(name);
  rb::ReleaseHostString(name);
  return text;
}

float MidiPlaybackZel::CPULoad() {
  return EntryAs<float (*)(void*)>(PlaybackEntry::CPULoad)(object_->Self());
}

int32_t MidiPlaybackZel::InstrumentIDOnChannel(int32_t channel) {
  return EntryAs<int32_t (*)(void*, int32_t)>(PlaybackEntry::InstrumentIDOnChannel)(object_->Self(), channel);
}

void MidiPlaybackZel::SetInstrumentIDOnChannel(int32_t channel, int32_t value) {
  EntryAs<void (*)(void*, int32_t, int32_t)>(PlaybackEntry::InstrumentIDOnChannelSet)(object_->Self(),
                                                                                      channel, value);
}

int32_t MidiPlaybackZel::Handle() const { return object_->ReadIntProperty("Handle"); }

int32_t MidiPlaybackZel::Lasterror() const { return object_->ReadIntProperty("Lasterror"); }
