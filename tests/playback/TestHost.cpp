#include "TestHost.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <stdexcept>

namespace {

// The resolver is a plain function without a context, so each live host
// takes one of a few slots, each with its own trampoline.
constexpr int kSlots = 8;
std::array<TestHost*, kSlots> gHosts{};

template <int N>
void* resolveInSlot(const char* name) {
  return gHosts[N] != nullptr ? gHosts[N]->resolve(name) : nullptr;
}
template <int... N>
constexpr std::array<HostResolver, kSlots> makeResolvers(std::integer_sequence<int, N...>) {
  return {&resolveInSlot<N>...};
}
constexpr std::array<HostResolver, kSlots> kResolvers =
    makeResolvers(std::make_integer_sequence<int, kSlots>{});

// Host functions: each finds its host through the slot of the record it got.
template <int N>
void registerPluginVersion(int32_t version) {
  gHosts[N]->pluginVersions.push_back(version);
}
template <int N>
void pluginRegisterClass(PluginClassDefinition* record) {
  TestHost& host = *gHosts[N];
  ++host.registerCalls;
  host.record = record;
  record->dataOffset = host.dataOffset;
}
template <int N>
double getRBVersion() {
  return *gHosts[N]->config.version;
}
template <int N>
HostString buildString(const void* bytes, int32_t length) {
  TestHost& host = *gHosts[N];
  ++host.buildStringCalls;
  auto s = std::make_unique<TestHostString>();
  s->text.assign(static_cast<const char*>(bytes), static_cast<std::size_t>(length));
  host.strings.push_back(std::move(s));
  return AsHostString(host.strings.back().get());
}
template <int N>
void setStringEncoding(HostString s, uint32_t encoding) {
  ++gHosts[N]->setEncodingCalls;
  AsTestHostString(s)->encoding = encoding;
}

struct HostFunctionSet {
  void* registerPluginVersion;
  void* pluginRegisterClass;
  void* getRBVersion;
  void* buildString;
  void* setStringEncoding;
};
template <int... N>
std::array<HostFunctionSet, kSlots> makeFunctionSets(std::integer_sequence<int, N...>) {
  return {HostFunctionSet{reinterpret_cast<void*>(&registerPluginVersion<N>),
                          reinterpret_cast<void*>(&pluginRegisterClass<N>),
                          reinterpret_cast<void*>(&getRBVersion<N>), reinterpret_cast<void*>(&buildString<N>),
                          reinterpret_cast<void*>(&setStringEncoding<N>)}...};
}
const std::array<HostFunctionSet, kSlots> kFunctionSets =
    makeFunctionSets(std::make_integer_sequence<int, kSlots>{});

}  // namespace

TestHost::TestHost(HostConfig hostConfig) : config(hostConfig) {
  for (int i = 0; i < kSlots; ++i) {
    if (gHosts[i] == nullptr) {
      gHosts[i] = this;
      slot_ = i;
      return;
    }
  }
  throw std::runtime_error("too many test hosts alive");
}

TestHost::~TestHost() { gHosts[slot_] = nullptr; }

HostResolver TestHost::resolver() const { return kResolvers[slot_]; }

void* TestHost::resolve(const char* name) {
  resolvedNames.emplace_back(name);
  const HostFunctionSet& f = kFunctionSets[slot_];
  const std::string n = name;
  if (n == "RegisterPluginVersion" && config.offerRegisterPluginVersion) return f.registerPluginVersion;
  if (n == "PluginRegisterClass" && config.offerRegisterClass) return f.pluginRegisterClass;
  if (n == "REALGetRBVersion" && config.version) return f.getRBVersion;
  if (n == "REALBuildString" && config.offerBuildString) return f.buildString;
  if (n == "REALSetStringEncoding" && config.offerSetEncoding) return f.setStringEncoding;
  return nullptr;
}

std::optional<PluginMethodEntry> TestHost::method(const std::string& declaration) const {
  if (record == nullptr) return std::nullopt;
  for (PluginWord i = 0; i < record->methodCount; ++i) {
    PluginMethodEntry entry{};
    if (isOld()) {
      const auto& old = static_cast<const PluginMethodEntryOld*>(record->methods)[i];
      entry = PluginMethodEntry{old.function, old.setter, old.declaration, 0};
    } else {
      entry = static_cast<const PluginMethodEntry*>(record->methods)[i];
    }
    if (entry.declaration != nullptr && declaration == entry.declaration) return entry;
  }
  return std::nullopt;
}

std::unique_ptr<PluginBundle> PluginBundle::load(const std::string& path, bool privateCopy, bool keepMapped) {
  auto bundle = std::unique_ptr<PluginBundle>(new PluginBundle);
  std::string loadPath = path;
  if (privateCopy) {
    std::string pattern = (std::filesystem::temp_directory_path() / "playback-bundle-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    bundle->copyDir_ = pattern;
    loadPath = pattern + "/" + std::filesystem::path(path).filename().string();
    std::filesystem::copy_file(path, loadPath);
  }
  bundle->handle_ = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
  if (bundle->handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  return bundle;
}

PluginBundle::~PluginBundle() {
  if (handle_ != nullptr) dlclose(handle_);
  if (!copyDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(copyDir_, ignored);
  }
}

void* PluginBundle::symbol(const char* name) const { return dlsym(handle_, name); }

void PluginBundle::callMain(TestHost& host) const {
  auto main = reinterpret_cast<REALPluginMainFn>(symbol("REALPluginMain"));
  if (main == nullptr) throw std::runtime_error("no REALPluginMain");
  main(host.resolver());
}

AudioSeams PluginBundle::seams() const {
  AudioSeams s;
  s.setEventTap = reinterpret_cast<decltype(s.setEventTap)>(symbol("AudioSetEventTap"));
  s.setOffline = reinterpret_cast<decltype(s.setOffline)>(symbol("AudioSetOfflineRenderingForTesting"));
  s.renderOffline = reinterpret_cast<decltype(s.renderOffline)>(symbol("AUGraphRenderOffline"));
  s.sampleRate = reinterpret_cast<decltype(s.sampleRate)>(symbol("AUGraphGetSampleRate"));
  if (auto instance = reinterpret_cast<FakeAudioInstanceFn>(symbol("FakeAudioInstance"))) s.fake = instance();
  return s;
}

std::string BundlePath(AudioKind kind) {
  return kind == AudioKind::Fake ? PLAYBACK_FAKE_AUDIO_BUNDLE : PLAYBACK_REAL_AUDIO_BUNDLE;
}

SharedBundle* GetSharedBundle(AudioKind kind) {
  // Loaded once and kept to the end of the process: the audio layer's
  // threads and the host's record outlive every test.
  static SharedBundle* shared[2] = {nullptr, nullptr};
  SharedBundle*& slot = shared[kind == AudioKind::Fake ? 0 : 1];
  if (slot != nullptr) return slot;
  const std::string path = BundlePath(kind);
  if (path.empty()) return nullptr;
  if (kind == AudioKind::Real) setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 1);
  slot = new SharedBundle;
  slot->bundle = PluginBundle::load(path, false, true);
  slot->host = std::make_unique<TestHost>();
  slot->seams = slot->bundle->seams();
  if (slot->seams.setOffline) slot->seams.setOffline(true);
  slot->bundle->callMain(*slot->host);
  return slot;
}

PlaybackObject::PlaybackObject(TestHost& host) : host_(host) {
  storage_.assign(host.dataOffset + host.record->dataSize, 0);
}

PlaybackObject::~PlaybackObject() {
  if (host_.record != nullptr && host_.record->destructor != nullptr)
    reinterpret_cast<void (*)(void*)>(host_.record->destructor)(pointer());
}

int32_t PlaybackObject::field(std::size_t offset) const {
  int32_t value = 0;
  std::memcpy(&value, storage_.data() + host_.dataOffset + offset, sizeof value);
  return value;
}

void* PlaybackObject::function(const char* declaration, bool setter) const {
  auto entry = host_.method(declaration);
  if (!entry) throw std::runtime_error(std::string("no method ") + declaration);
  return setter ? entry->setter : entry->function;
}

intptr_t PlaybackObject::callback() {
  return reinterpret_cast<intptr_t (*)(void*)>(function("Callback as integer"))(pointer());
}
bool PlaybackObject::init() {
  return reinterpret_cast<int32_t (*)(void*)>(function("Init as boolean"))(pointer()) != 0;
}
void PlaybackObject::sendMidiEvent(int32_t status, int32_t data1, int32_t data2, int32_t offset) {
  reinterpret_cast<void (*)(void*, int32_t, int32_t, int32_t, int32_t)>(function(
      "SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame as integer)"))(
      pointer(), status, data1, data2, offset);
}
int32_t PlaybackObject::instrumentCount() {
  return reinterpret_cast<int32_t (*)(void*)>(function("InstrumentCount as integer"))(pointer());
}
int32_t PlaybackObject::instrumentID(int32_t index) {
  return reinterpret_cast<int32_t (*)(void*, int32_t)>(function("InstrumentID(index as integer) as integer"))(
      pointer(), index);
}
std::optional<std::string> PlaybackObject::instrumentName(int32_t id) {
  HostString s = reinterpret_cast<HostString (*)(void*, int32_t)>(
      function("InstrumentName(index as integer) as string"))(pointer(), id);
  if (s == nullptr) return std::nullopt;
  return AsTestHostString(s)->text;
}
float PlaybackObject::cpuLoad() {
  return reinterpret_cast<float (*)(void*)>(function("CPULoad as single"))(pointer());
}
int32_t PlaybackObject::instrumentIDOnChannel(int32_t channel) {
  return reinterpret_cast<int32_t (*)(void*, int32_t)>(
      function("InstrumentIDOnChannel(Channel as integer) as integer"))(pointer(), channel);
}
void PlaybackObject::setInstrumentIDOnChannel(int32_t channel, int32_t value) {
  reinterpret_cast<void (*)(void*, int32_t, int32_t)>(
      function("InstrumentIDOnChannel(Channel as integer) as integer", true))(pointer(), channel, value);
}
void PlaybackObject::readPackets(const std::vector<uint8_t>& packetList) {
  reinterpret_cast<void (*)(void*, const void*)>(callback())(pointer(), packetList.data());
}

std::ostream& operator<<(std::ostream& out, const MidiEvent& e) {
  return out << "{" << e.status << ", " << e.data1 << ", " << e.data2 << ", " << e.offset << "}";
}

EventRecorder::EventRecorder(const AudioSeams& seams) : seams_(seams) {
  if (seams_.setEventTap == nullptr) throw std::runtime_error("the bundle has no event tap");
  seams_.setEventTap(&EventRecorder::tap, this);
}
EventRecorder::~EventRecorder() { seams_.setEventTap(nullptr, nullptr); }

std::vector<MidiEvent> EventRecorder::events() {
  std::lock_guard lock(mutex_);
  return events_;
}
void EventRecorder::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}
void EventRecorder::tap(void* context, AudioUnit, uint32_t status, uint32_t data1, uint32_t data2,
                        uint32_t offset) {
  auto* self = static_cast<EventRecorder*>(context);
  std::lock_guard lock(self->mutex_);
  self->events_.push_back(MidiEvent{status, data1, data2, offset});
}

std::vector<uint8_t> PacketList(const std::vector<std::vector<uint8_t>>& packets) {
  std::size_t size = 4;
  for (const auto& p : packets) size += 10 + p.size();
  std::vector<uint8_t> list(size);
  const auto count = static_cast<uint32_t>(packets.size());
  std::memcpy(list.data(), &count, 4);
  std::size_t at = 4;
  for (const auto& p : packets) {
    const uint64_t timeStamp = 0x0102030405060708ull;  // never read
    const auto length = static_cast<uint16_t>(p.size());
    std::memcpy(list.data() + at, &timeStamp, 8);
    std::memcpy(list.data() + at + 8, &length, 2);
    if (!p.empty()) std::memcpy(list.data() + at + 10, p.data(), p.size());
    at += 10 + p.size();
  }
  return list;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
}
ScopedEnv::~ScopedEnv() {
  if (old_)
    setenv(name_.c_str(), old_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}
