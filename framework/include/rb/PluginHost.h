// The host side of the plug-in interface: loading plug-ins, the registered
// classes, objects of plug-in classes, and the entry points looked up by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rb/Object.h"
#include "rb/PluginInterface.h"
#include "rb/String.h"

namespace rb {

// Loads every shared library in folder and calls its REALPluginMain with the
// host's resolver, in file-name order. Only files named like libraries
// (name.so, name.so.N) are tried. Opening a library runs its code, so a
// folder that is a link, or that belongs to another user than root or the
// program's user, or that others may write to, is refused whole; so is each
// such file, and each link. A file that is not a library, a library without
// REALPluginMain, or one whose REALPluginMain raises an exception, is skipped.
// Every refusal and skip says why on standard error. An empty folder text
// (the program's own path unknown) loads nothing. Returns the number of
// plug-ins started. UI thread, before any member call.
int LoadPlugins(const std::string& folder);
// The plugins/ folder beside the program's real executable
// (/proc/self/exe), never one of the working directory. Empty, with the
// reason on standard error, when the program's own path cannot be read. Any
// thread.
std::string DefaultPluginFolder();
// Test seam: the link that names the program's executable; an empty text
// restores /proc/self/exe. UI thread.
void SetExecutableLinkForTesting(const std::string& link);
// Loads one library under the same rules as LoadPlugins (its folder and the
// file itself); false (with the reason on standard error) when refused or
// skipped. UI thread.
bool LoadPlugin(const std::string& path);

// The registered record of the class of exactly that name, or nullptr. Main
// thread.
const PluginClassDefinition* FindPluginClass(const String& className);
// Forgets every registered class and bound name, and undoes the two test
// seams below (tests only). Plug-in libraries stay loaded.
void ResetPluginRegistryForTesting();
// The host version that REALGetRBVersion reports (tests of old hosts), and
// whether the resolver offers named host functions at all. Main thread,
// before the plug-ins are loaded.
void SetHostVersionForTesting(double version);
void HideHostFunctionForTesting(const char* name, bool hidden);

// What plug-ins asked of the host's named functions since the registry was
// last reset (tests only): the interface versions handed to
// RegisterPluginVersion in order, and how many times PluginRegisterClass,
// REALBuildString and REALSetStringEncoding ran.
struct HostFunctionCalls {
  std::vector<int32_t> interfaceVersions;
  int registerClass = 0;
  int buildString = 0;
  int setStringEncoding = 0;
};
// UI thread; the string counts may grow on any thread meanwhile.
HostFunctionCalls HostFunctionCallsForTesting();

// An object of a plug-in class. Its instance data is zero-filled when made;
// the record's destructor runs on release.
class PluginObject : public Object {
 public:
  // Nil when no class of that name is registered. Calls the class's
  // constructor when it has one. Main thread.
  static Ref<PluginObject> New(const String& className);
  std::string ClassName() const override;
  // The pointer handed to member functions as the object. Self and
  // InstanceData: any thread.
  void* Self() const noexcept { return const_cast<PluginObject*>(this); }
  uint8_t* InstanceData() const noexcept;
  // A property whose getter is -1, read straight from the instance data as
  // int32. Raises RuntimeException for an unknown property, and
  // OutOfBoundsException for a field outside the instance data. The thread
  // that owns the object.
  int32_t ReadIntProperty(const String& name) const;
  const PluginClassDefinition& Record() const noexcept { return *record_; }

 protected:
  void Destroy() const noexcept override;

 private:
  explicit PluginObject(const PluginClassDefinition* record) : record_(record) {}
  const PluginClassDefinition* record_;
};

// A host string made by REALBuildString: bytes and an encoding (empty for
// nil). Any thread.
String HostStringText(HostString s);
// Drops the host's reference that a member function's result passed on.
// Nil is ignored. Any thread.
void ReleaseHostString(HostString s);

// Entry points. A name is the class name, a point and the member's
// declaration ("MidiPlaybackZel.Init as boolean"); setters add ".Set";
// "ClassName.__init" / ".__exit" are the constructor and destructor.
// Returns the function, or nullptr when no registered class declares it.
// The comparison is byte for byte. Main thread.
void* RuntimeLookupPluginEntrypoint(const char* entryName);

// The program's table of entry points, filled once at start-up.
class PluginEntrypointTable {
 public:
  explicit PluginEntrypointTable(std::vector<std::string> names);
  // Looks every name up (RuntimeLookupPluginEntrypoint); tests nothing.
  // Main thread, after the plug-ins are loaded.
  void Bind();
  // The bound function, or raises UnboundEntrypointException naming the
  // entry: a call of an unbound member fails in an orderly way. Any thread
  // once bound.
  void* Entry(size_t index) const;
  bool IsBound(size_t index) const noexcept;
  const std::string& Name(size_t index) const { return names_.at(index); }
  size_t Size() const noexcept { return names_.size(); }

 private:
  std::vector<std::string> names_;
  std::vector<void*> entries_;
};

}  // namespace rb
