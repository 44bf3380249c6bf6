#include "PlaybackObject.h"

#include <cstring>
#include <stdexcept>

#include "PlaybackEntryNames.h"

namespace {

// Indexes into the program's entry names (chimewick_test::PlaybackEntryNames).
enum Entry : std::size_t {
  kCallback = 1,
  kInit,
  kSendMidiEvent,
  kInstrumentCount,
  kInstrumentID,
  kInstrumentName,
  kCPULoad,
  kInstrumentIDOnChannel,
  kSetInstrumentIDOnChannel,
};

}  // namespace

PlaybackObject::PlaybackObject()
    : table_(chimewick_test::PlaybackEntryNames()), object_(rb::PluginObject::New("MidiPlaybackZel")) {
  if (!object_) throw std::runtime_error("no MidiPlaybackZel registered");
  table_.Bind();
}

int32_t PlaybackObject::field(std::size_t offset) const {
  int32_t value = 0;
  std::memcpy(&value, object_->InstanceData() + offset, sizeof value);
  return value;
}

intptr_t PlaybackObject::callback() { return entry<intptr_t (*)(void*)>(kCallback)(pointer()); }

bool PlaybackObject::init() { return entry<int32_t (*)(void*)>(kInit)(pointer()) != 0; }

void PlaybackObject::sendMidiEvent(int32_t status, int32_t data1, int32_t data2, int32_t offset) {
  entry<void (*)(void*, int32_t, int32_t, int32_t, int32_t)>(kSendMidiEvent)(pointer(), status, data1, data2,
                                                                             offset);
}

int32_t PlaybackObject::instrumentCount() { return entry<int32_t (*)(void*)>(kInstrumentCount)(pointer()); }

int32_t PlaybackObject::instrumentID(int32_t index) {
  return entry<int32_t (*)(void*, int32_t)>(kInstrumentID)(pointer(), index);
}

std::optional<std::string> PlaybackObject::instrumentName(int32_t id) {
  HostString name = entry<HostString (*)(void*, int32_t)>(kInstrumentName)(pointer(), id);
  if (name == nullptr) return std::nullopt;
  std::string text = rb::HostStringText(name).Bytes();
  rb::ReleaseHostString(name);
  return text;
}

float PlaybackObject::cpuLoad() { return entry<float (*)(void*)>(kCPULoad)(pointer()); }

int32_t PlaybackObject::instrumentIDOnChannel(int32_t channel) {
  return entry<int32_t (*)(void*, int32_t)>(kInstrumentIDOnChannel)(pointer(), channel);
}

void PlaybackObject::setInstrumentIDOnChannel(int32_t channel, int32_t value) {
  entry<void (*)(void*, int32_t, int32_t)>(kSetInstrumentIDOnChannel)(pointer(), channel, value);
}

void PlaybackObject::readPackets(const std::vector<uint8_t>& packetList) {
  reinterpret_cast<void (*)(void*, const void*)>(callback())(pointer(), packetList.data());
}
