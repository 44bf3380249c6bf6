// A plain plug-in host for the playback bundle's tests: it loads a build of
// the bundle, answers its resolver with the host functions a test chooses,
// makes objects with zero-filled instance data at an offset and calls members
// through the registered record, as the framework's host does.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "AudioToolboxTesting.h"
#include "FakeAudio.h"
#include "rb/PluginInterface.h"

// The test host's string: the text and the encoding the plug-in set. The
// plug-in sees it only as an opaque HostString (the framework has its own).
struct TestHostString {
  std::string text;
  uint32_t encoding = 0;
};
inline HostString AsHostString(TestHostString* s) { return reinterpret_cast<HostString>(s); }
inline TestHostString* AsTestHostString(HostString s) { return reinterpret_cast<TestHostString*>(s); }

// Where the instance fields sit, as the host and the plug-in agree.
namespace InstanceLayout {
constexpr std::size_t kSize = 92;
constexpr std::size_t kHandle = 0;
constexpr std::size_t kLasterror = 4;
constexpr std::size_t kChannelInstrument = 8;
constexpr std::size_t kGraph = 72;
constexpr std::size_t kSynthNode = 76;
constexpr std::size_t kFilterNode = 80;
constexpr std::size_t kOutputNode = 84;
}  // namespace InstanceLayout

struct HostConfig {
  bool offerRegisterPluginVersion = true;
  bool offerRegisterClass = true;
  std::optional<double> version = 5.9;  // nullopt: no REALGetRBVersion
  bool offerBuildString = true;
  bool offerSetEncoding = true;
};

class TestHost {
 public:
  explicit TestHost(HostConfig config = {});
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // The resolver to hand to REALPluginMain; it answers for this host.
  HostResolver resolver() const;
  void* resolve(const char* name);

  bool isOld() const { return !config.version || *config.version < kHostVersion; }
  // The method entry with that declaration, read in the layout this host
  // expects (three words for an old host); nullopt if absent.
  std::optional<PluginMethodEntry> method(const std::string& declaration) const;

  HostConfig config;
  PluginWord dataOffset = 24;
  std::vector<int32_t> pluginVersions;
  PluginClassDefinition* record = nullptr;
  int registerCalls = 0;
  int buildStringCalls = 0;
  int setEncodingCalls = 0;
  std::vector<std::string> resolvedNames;
  std::vector<std::unique_ptr<TestHostString>> strings;

 private:
  int slot_ = -1;
};

// The audio layer's test seams inside one loaded bundle.
struct AudioSeams {
  decltype(&AudioSetEventTap) setEventTap = nullptr;
  decltype(&AudioSetOfflineRenderingForTesting) setOffline = nullptr;
  decltype(&AUGraphRenderOffline) renderOffline = nullptr;
  decltype(&AUGraphGetSampleRate) sampleRate = nullptr;
  FakeAudio* fake = nullptr;  // the fake bundle only
};

// One dlopen'd bundle. A private copy gets its own process-wide state (the
// plug-in's cached host functions and its record), so each test of the
// registration starts from a freshly loaded bundle.
class PluginBundle {
 public:
  // keepMapped: never unmapped (for builds with the real audio layer, whose
  // libraries keep allocations that only count as leaks once unmapped).
  static std::unique_ptr<PluginBundle> load(const std::string& path, bool privateCopy,
                                            bool keepMapped = false);
  ~PluginBundle();
  void* symbol(const char* name) const;
  void callMain(TestHost& host) const;
  AudioSeams seams() const;

 private:
  void* handle_ = nullptr;
  std::string copyDir_;
};

enum class AudioKind { Fake, Real };
std::string BundlePath(AudioKind kind);  // empty when that build is absent

// A bundle loaded once per process and registered with a default host, for
// the member tests. The real one renders offline on the null output.
struct SharedBundle {
  std::unique_ptr<PluginBundle> bundle;
  std::unique_ptr<TestHost> host;
  AudioSeams seams;
};
SharedBundle* GetSharedBundle(AudioKind kind);  // nullptr when not built

// A MidiPlaybackZel object made by a host: zero-filled instance data at the
// host's offset; released (destructor) when it goes.
class PlaybackObject {
 public:
  explicit PlaybackObject(TestHost& host);
  ~PlaybackObject();
  PlaybackObject(const PlaybackObject&) = delete;
  PlaybackObject& operator=(const PlaybackObject&) = delete;

  void* pointer() { return storage_.data(); }
  int32_t field(std::size_t offset) const;
  int32_t lasterror() const { return field(InstanceLayout::kLasterror); }
  int32_t handle() const { return field(InstanceLayout::kHandle); }
  uint32_t graph() const { return static_cast<uint32_t>(field(InstanceLayout::kGraph)); }
  int32_t channelEntry(int channel) const { return field(InstanceLayout::kChannelInstrument + 4 * channel); }
  // The synthesizer's node of the current graph.
  int32_t synthNode() const { return field(InstanceLayout::kSynthNode); }

  intptr_t callback();
  bool init();
  void sendMidiEvent(int32_t status, int32_t data1, int32_t data2, int32_t offset);
  int32_t instrumentCount();
  int32_t instrumentID(int32_t index);
  std::optional<std::string> instrumentName(int32_t id);  // nullopt: nil
  float cpuLoad();
  int32_t instrumentIDOnChannel(int32_t channel);
  void setInstrumentIDOnChannel(int32_t channel, int32_t value);
  // Calls the packet-list reader whose address Callback returned.
  void readPackets(const std::vector<uint8_t>& packetList);

 private:
  void* function(const char* declaration, bool setter = false) const;
  TestHost& host_;
  std::vector<uint8_t> storage_;
};

struct MidiEvent {
  uint32_t status, data1, data2, offset;
  bool operator==(const MidiEvent&) const = default;
};
std::ostream& operator<<(std::ostream& out, const MidiEvent& event);

// Records every event that reaches a synthesizer unit of a bundle through
// its event tap, while it lives.
class EventRecorder {
 public:
  explicit EventRecorder(const AudioSeams& seams);
  ~EventRecorder();
  std::vector<MidiEvent> events();
  void clear();

 private:
  static void tap(void* context, AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                  uint32_t offset);
  AudioSeams seams_;
  std::mutex mutex_;
  std::vector<MidiEvent> events_;
};

// A packet list in the MIDI service's layout (UInt32 count, then UInt64 time
// stamp, UInt16 length and the bytes of each packet, unpadded), in a buffer
// of exactly its size so a reader that overruns it trips AddressSanitizer.
std::vector<uint8_t> PacketList(const std::vector<std::vector<uint8_t>>& packets);

// Sets an environment variable for one scope and restores it after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};
