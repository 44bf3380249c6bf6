// Objects of plug-in classes: the host's object header followed, at a fixed
// offset, by the class's zero-filled instance data.
#include <cstddef>
#include <cstring>
#include <new>

#include "PluginRegistry.h"
#include "rb/PluginHost.h"

namespace rb {
namespace {

constexpr size_t kInstanceDataAlignment = alignof(std::max_align_t);

using PluginConstructor = void (*)(void* object);
using PluginDestructor = void (*)(void* object);
using PluginIntGetter = int32_t (*)(void* object);

}  // namespace

size_t plugin_host::PluginInstanceDataOffset() noexcept {
  return (sizeof(PluginObject) + kInstanceDataAlignment - 1) / kInstanceDataAlignment *
         kInstanceDataAlignment;
}

Ref<PluginObject> PluginObject::New(const String& className) {
  const plugin_host::RegisteredClass* c = plugin_host::FindRegisteredClass(className.Bytes());
  if (c == nullptr) return nullptr;
  const PluginClassDefinition* record = c->record;
  const size_t offset = plugin_host::PluginInstanceDataOffset();
  // The object and its instance data share one allocation so that the data
  // lies at the offset written into the record; Destroy frees it the same way.
  void* memory = ::operator new (offset + record->dataSize, std::align_val_t{kInstanceDataAlignment});
  auto* object = ::new (memory) PluginObject(record);
  std::memset(static_cast<std::byte*>(memory) + offset, 0, record->dataSize);
  Ref<PluginObject> ref(object);
  if (record->constructor != nullptr)
    reinterpret_cast<PluginConstructor>(record->constructor)(object->Self());
  return ref;
}

std::string PluginObject::ClassName() const { return record_->name; }

uint8_t* PluginObject::InstanceData() const noexcept {
  return reinterpret_cast<uint8_t*>(Self()) + plugin_host::PluginInstanceDataOffset();
}

int32_t PluginObject::ReadIntProperty(const String& name) const {
  for (PluginWord i = 0; i < record_->propertyCount; ++i) {
    const PluginPropertyEntry& p = record_->properties[i];
    if (p.name == nullptr || name.Bytes() != p.name) continue;
    if (p.getter != -1) {
      if (p.getter == 0)
        throw RuntimeException("Property " + name.Bytes() + " of " + ClassName() + " has no getter");
      return reinterpret_cast<PluginIntGetter>(p.getter)(Self());
    }
    // A field outside the instance data would read another object's memory.
    if (p.fieldOffset > record_->dataSize || record_->dataSize - p.fieldOffset < sizeof(int32_t))
      throw OutOfBoundsException("Property " + name.Bytes() + " of " + ClassName() +
                                 " lies outside the instance data");
    int32_t value;
    std::memcpy(&value, InstanceData() + p.fieldOffset, sizeof value);
    return value;
  }
  throw RuntimeException("Unknown property " + name.Bytes() + " of " + ClassName());
}

void PluginObject::Destroy() const noexcept {
  auto* self = const_cast<PluginObject*>(this);
  if (record_->destructor != nullptr) reinterpret_cast<PluginDestructor>(record_->destructor)(Self());
  self->~PluginObject();
  ::operator delete (static_cast<void*>(self), std::align_val_t{kInstanceDataAlignment});
}

}  // namespace rb
