// A plug-in registering one class, CounterZel, for the host's tests: methods,
// an assignable member, two properties the host reads itself, a destructor
// that counts its calls and a string result. Like a real plug-in it hands an
// old host (or one without REALGetRBVersion) 3-word method entries.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "rb/PluginInterface.h"

namespace {

struct CounterData {  // 12 bytes
  int32_t value;
  int32_t step;
  int32_t spare;
};

HostResolver gResolver = nullptr;
std::atomic<int32_t> gDestructorCalls{0};
bool gSawOldHost = false;

extern PluginClassDefinition gCounterClass;

CounterData& Data(void* object) {
  return *reinterpret_cast<CounterData*>(static_cast<uint8_t*>(object) + gCounterClass.dataOffset);
}

void Increment(void* object) {
  CounterData& d = Data(object);
  d.value += d.step != 0 ? d.step : 1;
}
int32_t Add(void* object, int32_t amount) { return Data(object).value += amount; }
int32_t GetStep(void* object) { return Data(object).step; }
void SetStep(void* object, int32_t step) { Data(object).step = step; }
int32_t DestructorCount(void*) { return gDestructorCalls.load(); }
int32_t DataOffset(void*) { return static_cast<int32_t>(gCounterClass.dataOffset); }
int32_t SawOldHost(void*) { return gSawOldHost ? 1 : 0; }

HostString Label(void*, int32_t index) {
  auto build = reinterpret_cast<REALBuildStringFn>(gResolver("REALBuildString"));
  auto setEncoding = reinterpret_cast<REALSetStringEncodingFn>(gResolver("REALSetStringEncoding"));
  if (build == nullptr) return nullptr;
  char text[32];
  const int length = std::snprintf(text, sizeof text, "Counter %d", index);
  HostString s = build(text, length);
  if (s != nullptr && setEncoding != nullptr) setEncoding(s, 0x600);
  return s;
}

// One byte of the given value, marked with the given encoding.
HostString ByteText(void*, int32_t value, int32_t encoding) {
  auto build = reinterpret_cast<REALBuildStringFn>(gResolver("REALBuildString"));
  auto setEncoding = reinterpret_cast<REALSetStringEncodingFn>(gResolver("REALSetStringEncoding"));
  const char byte = static_cast<char>(value);
  HostString s = build(&byte, 1);
  setEncoding(s, static_cast<uint32_t>(encoding));
  return s;
}

void Teardown(void*) { ++gDestructorCalls; }

PluginPropertyEntry gProperties[] = {
    {nullptr, "Value", "Integer", 6, -1, nullptr, offsetof(CounterData, value), {}},
    {nullptr, "Step", "Integer", 6, -1, nullptr, offsetof(CounterData, step), {}},
};

PluginMethodEntry gMethods[] = {
    {reinterpret_cast<void*>(&Increment), nullptr, "Increment", 4},
    {reinterpret_cast<void*>(&Add), nullptr, "Add(amount as integer) as integer", 4},
    {reinterpret_cast<void*>(&GetStep), reinterpret_cast<void*>(&SetStep), "Step as integer", 4},
    {reinterpret_cast<void*>(&Label), nullptr, "Label(index as integer) as string", 4},
    {reinterpret_cast<void*>(&ByteText), nullptr, "ByteText(value as integer, encoding as integer) as string",
     4},
    {reinterpret_cast<void*>(&DestructorCount), nullptr, "DestructorCount as integer", 4},
    {reinterpret_cast<void*>(&DataOffset), nullptr, "DataOffset as integer", 4},
    {reinterpret_cast<void*>(&SawOldHost), nullptr, "SawOldHost as boolean", 4},
};
constexpr size_t kMethodCount = sizeof gMethods / sizeof gMethods[0];

PluginClassDefinition gCounterClass = [] {
  PluginClassDefinition r{};
  r.version = 9;
  r.name = "CounterZel";
  r.dataSize = sizeof(CounterData);
  r.destructor = reinterpret_cast<void*>(&Teardown);
  r.properties = gProperties;
  r.propertyCount = 2;
  r.methods = gMethods;
  r.methodCount = kMethodCount;
  r.flags = 4;
  return r;
}();

// The converted table lives as long as the library.
std::vector<PluginMethodEntryOld> gOldMethods;

}  // namespace

extern "C" __attribute__((visibility("default"))) void REALPluginMain(HostResolver resolver) {
  // The tests load this library more than once in one process: start from the
  // 4-word table each time and ask the host afresh.
  gResolver = resolver;
  gCounterClass.methods = gMethods;
  if (auto registerVersion = reinterpret_cast<RegisterPluginVersionFn>(resolver("RegisterPluginVersion")))
    registerVersion(9);
  auto getVersion = reinterpret_cast<REALGetRBVersionFn>(resolver("REALGetRBVersion"));
  gSawOldHost = getVersion == nullptr || getVersion() < 5.9;
  if (gSawOldHost) {
    gOldMethods.clear();
    for (const PluginMethodEntry& m : gMethods) gOldMethods.push_back({m.function, m.setter, m.declaration});
    gCounterClass.methods = gOldMethods.data();
  }
  if (auto registerClass = reinterpret_cast<PluginRegisterClassFn>(resolver("PluginRegisterClass")))
    registerClass(&gCounterClass);
}
