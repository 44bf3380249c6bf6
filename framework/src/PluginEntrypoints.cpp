// Plug-in members bound by name: "Class." followed by the member's
// declaration exactly as the plug-in registered it.
#include <cstring>
#include <string_view>

#include "PluginRegistry.h"
#include "rb/PluginHost.h"

namespace rb {
namespace {

constexpr std::string_view kSetterSuffix = ".Set";

struct MethodView {
  void* function;
  void* setter;
  const char* declaration;
};

// Reads entry i of the class's method table in the layout the plug-in used.
MethodView MethodAt(const plugin_host::RegisteredClass& c, PluginWord i) {
  if (c.oldMethodLayout) {
    const auto& e = static_cast<const PluginMethodEntryOld*>(c.record->methods)[i];
    return {e.function, e.setter, e.declaration};
  }
  const auto& e = static_cast<const PluginMethodEntry*>(c.record->methods)[i];
  return {e.function, e.setter, e.declaration};
}

// member: the entry name after "Class.". Byte for byte: a declaration that
// differs in one character, letter case included, does not bind.
void* LookUpMember(const plugin_host::RegisteredClass& c, std::string_view member) {
  if (member == "__init") return c.record->constructor;
  if (member == "__exit") return c.record->destructor;
  for (PluginWord i = 0; i < c.record->methodCount; ++i) {
    const MethodView m = MethodAt(c, i);
    if (m.declaration == nullptr) continue;
    const std::string_view declaration(m.declaration);
    if (member == declaration) return m.function;
    if (member.size() == declaration.size() + kSetterSuffix.size() && member.starts_with(declaration) &&
        member.ends_with(kSetterSuffix))
      return m.setter;
  }
  return nullptr;
}

}  // namespace

void* RuntimeLookupPluginEntrypoint(const char* entryName) {
  if (entryName == nullptr) return nullptr;
  const std::string_view name(entryName);
  for (const plugin_host::RegisteredClass& c : plugin_host::RegisteredClasses()) {
    const std::string_view className(c.name);
    if (name.size() <= className.size() + 1 || !name.starts_with(className) || name[className.size()] != '.')
      continue;
    if (void* entry = LookUpMember(c, name.substr(className.size() + 1))) return entry;
  }
  return nullptr;
}

PluginEntrypointTable::PluginEntrypointTable(std::vector<std::string> names)
    : names_(std::move(names)), entries_(names_.size(), nullptr) {}

void PluginEntrypointTable::Bind() {
  for (size_t i = 0; i < names_.size(); ++i) entries_[i] = RuntimeLookupPluginEntrypoint(names_[i].c_str());
}

void* PluginEntrypointTable::Entry(size_t index) const {
  if (index >= names_.size())
    throw OutOfBoundsException("Plug-in entry point " + std::to_string(index) + " out of range");
  if (entries_[index] == nullptr) throw UnboundEntrypointException(names_[index]);
  return entries_[index];
}

bool PluginEntrypointTable::IsBound(size_t index) const noexcept {
  return index < entries_.size() && entries_[index] != nullptr;
}

}  // namespace rb
