// A double of the playback plug-in for the core's tests: registers the class
// MidiPlaybackZel with the real plug-in's ten member declarations, records
// every call (member and arguments) and answers from a scripted instrument
// list. Nothing plays.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "PlaybackClassDeclaration.h"
#include "RecordingPlaybackApi.h"

#define RECORDING_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Handle at 0 and Lasterror at 4, as the real class lays them out.
struct PlaybackData {
  int32_t handle;
  int32_t lasterror;
  int32_t channelInstrument[16];
};

constexpr uint32_t kUSASCII = 0x600;

struct Instrument {
  int32_t id;
  std::string name;
};

struct Recorder {
  std::mutex mutex;
  std::vector<RecordedCall> calls;
  std::vector<Instrument> instruments;
  int32_t initResult = 1;
  RecordingDestroyHook destroyHook = nullptr;
  void* destroyContext = nullptr;
};

Recorder& TheRecorder() {
  static Recorder recorder;
  return recorder;
}

std::atomic<int32_t> gLiveObjects{0};
HostResolver gResolver = nullptr;

extern PlaybackClassDeclaration gPlaybackClass;

PlaybackData& Data(void* object) {
  return *reinterpret_cast<PlaybackData*>(static_cast<uint8_t*>(object) + gPlaybackClass.DataOffset());
}

void Record(void* object, const char* member, std::initializer_list<int32_t> args) {
  RecordedCall call{};
  std::snprintf(call.member, sizeof call.member, "%s", member);
  for (int32_t arg : args) call.args[call.argCount++] = arg;
  call.object = reinterpret_cast<uintptr_t>(object);
  Recorder& r = TheRecorder();
  std::lock_guard lock(r.mutex);
  r.calls.push_back(call);
}

intptr_t Callback(void* object) {
  Record(object, "Callback", {});
  Data(object).lasterror = 0;
  return 0;
}

int32_t Init(void* object) {
  Record(object, "Init", {});
  int32_t result;
  {
    std::lock_guard lock(TheRecorder().mutex);
    result = TheRecorder().initResult;
  }
  const bool ok = result > 0;
  // A failure takes the status it was given (the audio system's), or -1.
  Data(object).lasterror = ok ? 0 : result < 0 ? result : -1;
  if (ok) std::memset(Data(object).channelInstrument, 0, sizeof Data(object).channelInstrument);
  return ok ? 1 : 0;
}

void SendMidiEvent(void* object, int32_t status, int32_t data1, int32_t data2, int32_t offset) {
  Record(object, "SendMidiEvent", {status, data1, data2, offset});
  Data(object).lasterror = 0;
}

int32_t InstrumentCount(void* object) {
  Record(object, "InstrumentCount", {});
  Data(object).lasterror = 0;
  std::lock_guard lock(TheRecorder().mutex);
  return int32_t(TheRecorder().instruments.size());
}

int32_t InstrumentID(void* object, int32_t index) {
  Record(object, "InstrumentID", {index});
  Data(object).lasterror = 0;
  std::lock_guard lock(TheRecorder().mutex);
  const auto& list = TheRecorder().instruments;
  return index >= 0 && size_t(index) < list.size() ? list[size_t(index)].id : 0;
}

// Looked up by Instrument ID, as the real synthesizer reads the argument.
HostString InstrumentName(void* object, int32_t id) {
  Record(object, "InstrumentName", {id});
  Data(object).lasterror = 0;
  std::string name;
  {
    std::lock_guard lock(TheRecorder().mutex);
    for (const Instrument& i : TheRecorder().instruments) {
      if (i.id == id) {
        name = i.name;
        break;
      }
    }
  }
  if (name.empty()) return nullptr;
  auto build = reinterpret_cast<REALBuildStringFn>(gResolver("REALBuildString"));
  auto setEncoding = reinterpret_cast<REALSetStringEncodingFn>(gResolver("REALSetStringEncoding"));
  if (build == nullptr) return nullptr;
  HostString s = build(name.data(), int32_t(name.size()));
  if (s != nullptr && setEncoding != nullptr) setEncoding(s, kUSASCII);
  return s;
}

float CPULoad(void* object) {
  Record(object, "CPULoad", {});
  Data(object).lasterror = 0;
  return 0.0f;
}

int32_t GetInstrumentIDOnChannel(void* object, int32_t channel) {
  Record(object, "InstrumentIDOnChannel", {channel});
  if (channel < 0 || channel > 15) {
    Data(object).lasterror = -1;
    return 0;
  }
  Data(object).lasterror = 0;
  return Data(object).channelInstrument[channel];
}

void SetInstrumentIDOnChannel(void* object, int32_t channel, int32_t value) {
  Record(object, "InstrumentIDOnChannel.Set", {channel, value});
  if (channel < 0 || channel > 15) {
    Data(object).lasterror = -1;
    return;
  }
  Data(object).lasterror = 0;
  Data(object).channelInstrument[channel] = value;
}

void Teardown(void* object) {
  RecordingDestroyHook hook;
  void* context;
  {
    std::lock_guard lock(TheRecorder().mutex);
    hook = TheRecorder().destroyHook;
    context = TheRecorder().destroyContext;
  }
  if (hook != nullptr) hook(context);
  Record(object, "__exit", {});
  gLiveObjects.fetch_sub(1);
}

// The host makes objects without a constructor; count them at first sight
// through a constructor of our own.
void Construct(void*) { gLiveObjects.fetch_add(1); }

PlaybackClassDeclaration gPlaybackClass = PlaybackClassDeclaration::For<PlaybackData>({
    .callback = reinterpret_cast<void*>(&Callback),
    .init = reinterpret_cast<void*>(&Init),
    .sendMidiEvent = reinterpret_cast<void*>(&SendMidiEvent),
    .instrumentCount = reinterpret_cast<void*>(&InstrumentCount),
    .instrumentID = reinterpret_cast<void*>(&InstrumentID),
    .instrumentName = reinterpret_cast<void*>(&InstrumentName),
    .cpuLoad = reinterpret_cast<void*>(&CPULoad),
    .getInstrumentIDOnChannel = reinterpret_cast<void*>(&GetInstrumentIDOnChannel),
    .setInstrumentIDOnChannel = reinterpret_cast<void*>(&SetInstrumentIDOnChannel),
    .constructor = reinterpret_cast<void*>(&Construct),
    .destructor = reinterpret_cast<void*>(&Teardown),
});

}  // namespace

RECORDING_EXPORT void REALPluginMain(HostResolver resolver) {
  gResolver = resolver;
  gPlaybackClass.Register(resolver);
}

RECORDING_EXPORT int32_t recording_call_count(void) {
  std::lock_guard lock(TheRecorder().mutex);
  return int32_t(TheRecorder().calls.size());
}

RECORDING_EXPORT int32_t recording_copy_calls(RecordedCall* out, int32_t capacity) {
  std::lock_guard lock(TheRecorder().mutex);
  const auto& calls = TheRecorder().calls;
  int32_t copied = 0;
  for (; copied < capacity && size_t(copied) < calls.size(); ++copied) out[copied] = calls[size_t(copied)];
  return copied;
}

RECORDING_EXPORT void recording_clear(void) {
  std::lock_guard lock(TheRecorder().mutex);
  TheRecorder().calls.clear();
}

RECORDING_EXPORT void recording_set_instruments(int32_t count, const int32_t* ids, const char* const* names) {
  std::vector<Instrument> list;
  for (int32_t i = 0; i < count; ++i) list.push_back({ids[i], names[i] != nullptr ? names[i] : ""});
  std::lock_guard lock(TheRecorder().mutex);
  TheRecorder().instruments = std::move(list);
}

RECORDING_EXPORT void recording_set_init_result(int32_t ok) {
  std::lock_guard lock(TheRecorder().mutex);
  TheRecorder().initResult = ok;
}

RECORDING_EXPORT int32_t recording_live_objects(void) { return gLiveObjects.load(); }

RECORDING_EXPORT void recording_set_destroy_hook(RecordingDestroyHook hook, void* context) {
  std::lock_guard lock(TheRecorder().mutex);
  TheRecorder().destroyHook = hook;
  TheRecorder().destroyContext = context;
}

RECORDING_EXPORT void recording_reset(void) {
  std::lock_guard lock(TheRecorder().mutex);
  Recorder& r = TheRecorder();
  r.calls.clear();
  r.instruments.clear();
  r.initResult = 1;
  r.destroyHook = nullptr;
  r.destroyContext = nullptr;
}
