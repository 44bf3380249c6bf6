// A MidiPlaybackZel object as the program has it: made by the framework's
// plug-in host from the class registered now, its members called through
// the entries the host binds under the program's names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rb/PluginHost.h"

// Where the instance fields sit, as the host and the plug-in agree.
namespace InstanceLayout {
constexpr std::size_t kChannelInstrument = 8;
constexpr std::size_t kGraph = 72;
constexpr std::size_t kSynthNode = 76;
constexpr std::size_t kFilterNode = 80;
constexpr std::size_t kOutputNode = 84;
}  // namespace InstanceLayout

class PlaybackObject {
 public:
  // Throws std::runtime_error when no MidiPlaybackZel is registered. The
  // host releases the object (its destructor) when this goes.
  PlaybackObject();

  // The object pointer the host hands to the members.
  void* pointer() const { return object_->Self(); }
  int32_t field(std::size_t offset) const;
  // The two properties, read by the host from the instance data.
  int32_t lasterror() const { return object_->ReadIntProperty("Lasterror"); }
  int32_t handle() const { return object_->ReadIntProperty("Handle"); }
  uint32_t graph() const { return static_cast<uint32_t>(field(InstanceLayout::kGraph)); }
  int32_t channelEntry(int channel) const { return field(InstanceLayout::kChannelInstrument + 4 * channel); }
  // The synthesizer's node of the current graph.
  int32_t synthNode() const { return field(InstanceLayout::kSynthNode); }

  intptr_t callback();
  bool init();
  void sendMidiEvent(int32_t status, int32_t data1, int32_t data2, int32_t offset);
  int32_t instrumentCount();
  int32_t instrumentID(int32_t index);
  // The text of the host string the member made (the host's reading of its
  // encoding), or nullopt for nil.
  std::optional<std::string> instrumentName(int32_t id);
  float cpuLoad();
  int32_t instrumentIDOnChannel(int32_t channel);
  void setInstrumentIDOnChannel(int32_t channel, int32_t value);
  // Calls the packet-list reader whose address Callback returned.
  void readPackets(const std::vector<uint8_t>& packetList);

 private:
  template <class Fn>
  Fn entry(std::size_t index) const {
    return reinterpret_cast<Fn>(table_.Entry(index));
  }
  rb::PluginEntrypointTable table_;
  rb::Ref<rb::PluginObject> object_;
};
