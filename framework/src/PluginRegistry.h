// The host's private view of the registered plug-in classes, shared by the
// loader, the objects and the entry-point lookup. Not part of the public
// interface.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "rb/PluginInterface.h"

namespace rb::plugin_host {

// One registered class: the plug-in's own record (it stays in the plug-in's
// image for the whole run) and how its method table is laid out.
struct RegisteredClass {
  PluginClassDefinition* record;
  std::string name;
  // True when the plug-in saw an old host at registration and handed over
  // 3-word method entries.
  bool oldMethodLayout;
  // The plug-in file that registered it (empty when not known).
  std::string file;
};

// While it lives, classes that register come from this plug-in file: a
// refusal can then name the files involved. Main thread.
class LoadingFile {
 public:
  explicit LoadingFile(const std::string& path);
  ~LoadingFile();
  LoadingFile(const LoadingFile&) = delete;
  LoadingFile& operator=(const LoadingFile&) = delete;

 private:
  std::string previous_;
};

// The resolver handed to every plug-in's REALPluginMain. Main thread.
void* ResolveHostFunction(const char* name);

// The class registered under exactly that name, or nullptr. Main thread.
const RegisteredClass* FindRegisteredClass(std::string_view name);
// Every registered class, in registration order. Main thread.
const std::vector<RegisteredClass>& RegisteredClasses();

// Where a plug-in object's instance data starts, counted from the object
// pointer handed to member functions. The same for every class.
size_t PluginInstanceDataOffset() noexcept;

// REALBuildString and REALSetStringEncoding as plug-ins resolve them: a new
// host string holding a copy of the bytes (nullptr for none), and its
// encoding. Any thread.
HostString HostBuildString(const void* bytes, int32_t length);
void HostSetStringEncoding(HostString s, uint32_t encoding);

// The largest instance data a class may ask for; larger records are refused.
constexpr PluginWord kMaxInstanceDataSize = 1u << 20;

}  // namespace rb::plugin_host
