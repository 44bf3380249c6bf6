// The bundle's entry point and the MidiPlaybackZel class record the host
// reads for the whole run.
#include "AudioToolbox.h"
#include "HostFunctions.h"
#include "PlaybackInstanceData.h"
#include "PlaybackMembers.h"
#include "PlaybackReadProc.h"

#define PLAYBACK_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kPropertyFlags = 6;
constexpr PluginWord kMethodFlags = 4;
constexpr PluginWord kClassFlags = 4;

template <typename Function>
void* entryAddress(Function function) noexcept {
  return reinterpret_cast<void*>(function);
}

// Bound by the application as "MidiPlaybackZel." + declaration: byte-exact.
PluginMethodEntry gMethods[] = {
    {entryAddress(&MidiPlaybackZel::Callback), nullptr, "Callback as integer", kMethodFlags},
    {entryAddress(&MidiPlaybackZel::Init), nullptr, "Init as boolean", kMethodFlags},
    {entryAddress(&MidiPlaybackZel::SendMidiEvent), nullptr,
     "SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame as integer)",
     kMethodFlags},
    {entryAddress(&MidiPlaybackZel::InstrumentCount), nullptr, "InstrumentCount as integer", kMethodFlags},
    {entryAddress(&MidiPlaybackZel::InstrumentID), nullptr, "InstrumentID(index as integer) as integer",
     kMethodFlags},
    {entryAddress(&MidiPlaybackZel::InstrumentName), nullptr, "InstrumentName(index as integer) as string",
     kMethodFlags},
    {entryAddress(&MidiPlaybackZel::CPULoad), nullptr, "CPULoad as single", kMethodFlags},
    {entryAddress(&MidiPlaybackZel::InstrumentIDOnChannel),
     entryAddress(&MidiPlaybackZel::SetInstrumentIDOnChannel),
     "InstrumentIDOnChannel(Channel as integer) as integer", kMethodFlags},
};

// Read by the host straight from the instance data (getter -1).
PluginPropertyEntry gProperties[] = {
    {nullptr,
     "Handle",
     "Integer",
     kPropertyFlags,
     -1,
     nullptr,
     offsetof(PlaybackInstanceData, Handle),
     {0, 0, 0}},
    {nullptr,
     "Lasterror",
     "Integer",
     kPropertyFlags,
     -1,
     nullptr,
     offsetof(PlaybackInstanceData, Lasterror),
     {0, 0, 0}},
};

PluginClassDefinition gClassRecord = {
    kPluginRecordVersion,
    "MidiPlaybackZel",
    nullptr,
    sizeof(PlaybackInstanceData),
    0,  // the host writes the instance-data offset here
    nullptr,
    entryAddress(&TeardownGraph),
    gProperties,
    sizeof gProperties / sizeof gProperties[0],
    gMethods,
    sizeof gMethods / sizeof gMethods[0],
    {},
    kClassFlags,
    {},
};

}  // namespace

PlaybackInstanceData& InstanceDataOf(void* object) noexcept {
  // Read at every call: the host writes the offset when it registers the class.
  const PluginWord offset =
      std::atomic_ref<PluginWord>(gClassRecord.dataOffset).load(std::memory_order_relaxed);
  return *reinterpret_cast<PlaybackInstanceData*>(static_cast<char*>(object) + offset);
}

// Called once by the host when it loads the bundle, on its loader thread.
PLAYBACK_EXPORT void REALPluginMain(HostResolver resolver) noexcept {
  SetHostResolver(resolver);
  auto registerVersion =
      reinterpret_cast<RegisterPluginVersionFn>(ResolveHostFunction("RegisterPluginVersion"));
  if (registerVersion != nullptr) registerVersion(kPluginInterfaceVersion);
  RegisterClassDefinition(&gClassRecord);
  // The SoundFont loads while the program builds its window; Init then finds
  // it loaded, or waits for the rest of the load.
  AudioPreloadSoundFont();
}
