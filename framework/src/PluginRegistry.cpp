// The host functions a plug-in resolves by name, and the registry of the
// classes plug-ins register through them.
#include "PluginRegistry.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "chimewick/Log.h"
#include "rb/PluginHost.h"

namespace rb::plugin_host {
namespace {

struct RegistryState {
  std::vector<RegisteredClass> classes;
  double hostVersion = kHostVersion;
  std::set<std::string, std::less<>> hiddenFunctions;
  // What plug-ins called, for tests.
  std::vector<int32_t> interfaceVersions;
  int registerClassCalls = 0;
  std::atomic<int> buildStringCalls{0};
  std::atomic<int> setStringEncodingCalls{0};
  std::string loadingFile;  // the plug-in file whose entry runs now
};

RegistryState& State() {
  static RegistryState state;
  return state;
}

// The plug-in decides on the method layout from what the resolver offered it,
// so the host reads the table under the same rule: no REALGetRBVersion, or a
// version below the current one, means 3-word entries. NaN is not old.
bool HostLooksOld() {
  const RegistryState& s = State();
  return s.hiddenFunctions.count("REALGetRBVersion") != 0 || s.hostVersion < kHostVersion;
}

// A file's name for messages.
const char* FileName(const std::string& file) {
  return file.empty() ? "(a plug-in of unknown file)" : file.c_str();
}

void Refuse(const PluginClassDefinition* record, const char* reason) {
  const char* name = record != nullptr && record->name != nullptr ? record->name : "(unnamed)";
  chimewick::frameworkLog.line("plug-in class %s of %s refused: %s", name, FileName(State().loadingFile),
                               reason);
}

// Checks what the host relies on before it keeps the record; a record that
// fails is refused so that nothing later reads through it.
bool RecordIsUsable(const PluginClassDefinition* record) {
  if (record == nullptr) {
    Refuse(record, "no class record");
    return false;
  }
  if (record->version != kPluginRecordVersion) {
    char reason[64];
    std::snprintf(reason, sizeof reason, "record version %lu, expected %lu",
                  static_cast<unsigned long>(record->version),
                  static_cast<unsigned long>(kPluginRecordVersion));
    Refuse(record, reason);
    return false;
  }
  if (record->name == nullptr || record->name[0] == '\0') {
    Refuse(record, "no class name");
    return false;
  }
  if (record->dataSize > kMaxInstanceDataSize) {
    Refuse(record, "instance data too large");
    return false;
  }
  if (record->propertyCount != 0 && record->properties == nullptr) {
    Refuse(record, "property count without a property table");
    return false;
  }
  if (record->methodCount != 0 && record->methods == nullptr) {
    Refuse(record, "method count without a method table");
    return false;
  }
  if (const RegisteredClass* first = FindRegisteredClass(record->name); first != nullptr) {
    const std::string reason =
        std::string("a class of that name is already registered by ") + FileName(first->file);
    Refuse(record, reason.c_str());
    return false;
  }
  return true;
}

extern "C" void HostRegisterPluginVersion(int32_t version) {
  State().interfaceVersions.push_back(version);
  if (version > kPluginInterfaceVersion)
    chimewick::frameworkLog.line("plug-in written for interface version %d; this host has %d", version,
                                 kPluginInterfaceVersion);
}

extern "C" void HostPluginRegisterClass(PluginClassDefinition* record) {
  ++State().registerClassCalls;
  if (!RecordIsUsable(record)) return;
  record->dataOffset = PluginInstanceDataOffset();
  State().classes.push_back(RegisteredClass{record, record->name, HostLooksOld(), State().loadingFile});
}

extern "C" double HostGetRBVersion() { return State().hostVersion; }

// The string functions as plug-ins get them: counted, then the real ones.
extern "C" HostString HostBuildStringCounted(const void* bytes, int32_t length) {
  State().buildStringCalls.fetch_add(1, std::memory_order_relaxed);
  return HostBuildString(bytes, length);
}

extern "C" void HostSetStringEncodingCounted(HostString s, uint32_t encoding) {
  State().setStringEncodingCalls.fetch_add(1, std::memory_order_relaxed);
  HostSetStringEncoding(s, encoding);
}

struct NamedHostFunction {
  const char* name;
  void* function;
};

// The functions on offer, by the names plug-ins ask for.
const NamedHostFunction kHostFunctions[] = {
    {"RegisterPluginVersion", reinterpret_cast<void*>(&HostRegisterPluginVersion)},
    {"PluginRegisterClass", reinterpret_cast<void*>(&HostPluginRegisterClass)},
    {"REALGetRBVersion", reinterpret_cast<void*>(&HostGetRBVersion)},
    {"REALBuildString", reinterpret_cast<void*>(&HostBuildStringCounted)},
    {"REALSetStringEncoding", reinterpret_cast<void*>(&HostSetStringEncodingCounted)},
};

}  // namespace

void* ResolveHostFunction(const char* name) {
  if (name == nullptr) return nullptr;
  if (State().hiddenFunctions.count(std::string_view(name)) != 0) return nullptr;
  for (const NamedHostFunction& f : kHostFunctions)
    if (std::strcmp(f.name, name) == 0) return f.function;
  return nullptr;
}

const RegisteredClass* FindRegisteredClass(std::string_view name) {
  for (const RegisteredClass& c : State().classes)
    if (c.name == name) return &c;
  return nullptr;
}

const std::vector<RegisteredClass>& RegisteredClasses() { return State().classes; }

LoadingFile::LoadingFile(const std::string& path) : previous_(std::exchange(State().loadingFile, path)) {}

LoadingFile::~LoadingFile() { State().loadingFile = std::move(previous_); }

}  // namespace rb::plugin_host

namespace rb {

const PluginClassDefinition* FindPluginClass(const String& className) {
  const plugin_host::RegisteredClass* c = plugin_host::FindRegisteredClass(className.Bytes());
  return c == nullptr ? nullptr : c->record;
}

void ResetPluginRegistryForTesting() {
  plugin_host::RegistryState& s = plugin_host::State();
  s.classes.clear();
  s.hostVersion = kHostVersion;
  s.hiddenFunctions.clear();
  s.interfaceVersions.clear();
  s.registerClassCalls = 0;
  s.buildStringCalls = 0;
  s.setStringEncodingCalls = 0;
}

void SetHostVersionForTesting(double version) { plugin_host::State().hostVersion = version; }

HostFunctionCalls HostFunctionCallsForTesting() {
  const plugin_host::RegistryState& s = plugin_host::State();
  return HostFunctionCalls{s.interfaceVersions, s.registerClassCalls,
                           s.buildStringCalls.load(std::memory_order_relaxed),
                           s.setStringEncodingCalls.load(std::memory_order_relaxed)};
}

void HideHostFunctionForTesting(const char* name, bool hidden) {
  if (name == nullptr) return;
  auto& hiddenFunctions = plugin_host::State().hiddenFunctions;
  if (hidden)
    hiddenFunctions.insert(name);
  else
    hiddenFunctions.erase(std::string(name));
}

}  // namespace rb
