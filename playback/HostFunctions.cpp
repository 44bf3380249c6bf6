#include "HostFunctions.h"

#include <atomic>
#include <cstddef>

namespace {

// Process-wide; zero when the bundle is loaded and never released. Atomic
// only so that two threads resolving the same name at once don't race.
std::atomic<HostResolver> gHostResolver{nullptr};
std::atomic<void*> gPluginRegisterClass{nullptr};
std::atomic<void*> gREALGetRBVersion{nullptr};
std::atomic<void*> gREALBuildString{nullptr};
std::atomic<void*> gREALSetStringEncoding{nullptr};

// Converted method tables for old hosts live here for the rest of the run:
// the host keeps reading them after registration.
constexpr std::size_t kOldMethodPoolSize = 64;
PluginMethodEntryOld gOldMethodPool[kOldMethodPoolSize];
std::size_t gOldMethodPoolUsed = 0;

// A cached host function; resolved again while it is still missing, so a
// host function that appears later is used from then on.
void* lazyHostFunction(std::atomic<void*>& cache, const char* name) noexcept {
  void* function = cache.load(std::memory_order_relaxed);
  if (function == nullptr) {
    function = ResolveHostFunction(name);
    cache.store(function, std::memory_order_relaxed);
  }
  return function;
}

// Room for count three-word entries from the pool, or nullptr when the pool
// is used up. A count of 0 still gets a (zero-length) table.
PluginMethodEntryOld* allocateOldMethodTable(std::size_t count) noexcept {
  if (count > kOldMethodPoolSize - gOldMethodPoolUsed) return nullptr;
  PluginMethodEntryOld* table = gOldMethodPool + gOldMethodPoolUsed;
  gOldMethodPoolUsed += count;
  return table;
}

bool isOldHost() noexcept {
  auto getVersion = reinterpret_cast<REALGetRBVersionFn>(gREALGetRBVersion.load(std::memory_order_relaxed));
  if (getVersion == nullptr) return true;
  // A version that is not a number compares false and does not count as old.
  return getVersion() < kHostVersion;
}

}  // namespace

void SetHostResolver(HostResolver resolver) noexcept {
  gHostResolver.store(resolver, std::memory_order_relaxed);
}

void* ResolveHostFunction(const char* name) noexcept {
  HostResolver resolver = gHostResolver.load(std::memory_order_relaxed);
  return resolver != nullptr ? resolver(name) : nullptr;
}

void RegisterClassDefinition(PluginClassDefinition* record) noexcept {
  if (gPluginRegisterClass.load(std::memory_order_relaxed) == nullptr)
    gPluginRegisterClass.store(ResolveHostFunction("PluginRegisterClass"), std::memory_order_relaxed);
  if (gREALGetRBVersion.load(std::memory_order_relaxed) == nullptr)
    gREALGetRBVersion.store(ResolveHostFunction("REALGetRBVersion"), std::memory_order_relaxed);

  if (isOldHost()) {
    const std::size_t count = record->methodCount;
    PluginMethodEntryOld* oldTable = allocateOldMethodTable(count);
    // An old host would misread the four-word table, so without room for
    // the converted one the class is not registered at all.
    if (oldTable == nullptr) return;
    const auto* entries = static_cast<const PluginMethodEntry*>(record->methods);
    for (std::size_t i = 0; i < count; ++i)
      oldTable[i] = PluginMethodEntryOld{entries[i].function, entries[i].setter, entries[i].declaration};
    record->methods = oldTable;
  }

  auto registerClass =
      reinterpret_cast<PluginRegisterClassFn>(gPluginRegisterClass.load(std::memory_order_relaxed));
  if (registerClass != nullptr) registerClass(record);
}

HostString BuildHostString(const void* bytes, int32_t length, uint32_t encoding) noexcept {
  if (bytes == nullptr || length == 0) return nullptr;
  auto buildString =
      reinterpret_cast<REALBuildStringFn>(lazyHostFunction(gREALBuildString, "REALBuildString"));
  if (buildString == nullptr) return nullptr;
  HostString s = buildString(bytes, length);
  if (s == nullptr) return nullptr;
  auto setEncoding = reinterpret_cast<REALSetStringEncodingFn>(
      lazyHostFunction(gREALSetStringEncoding, "REALSetStringEncoding"));
  if (setEncoding != nullptr) setEncoding(s, encoding);
  return s;
}
