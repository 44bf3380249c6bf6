#include "MidiObjectZel.h"

namespace {
// The key under which every object keeps its name.
constexpr const char* kNameKey = "name";
}  // namespace

rb::Ref<CFStringZel> MidiObjectZel::kMIDIPropertyName() const { return NewCFStringZel(kNameKey); }

rb::Ref<CFStringZel> MidiObjectZel::StringProperty(rb::Ref<CFStringZel> key) const {
  if (!key) return nullptr;
  if (rb::StrCompareExact(key->Str(), kNameKey) != 0) return nullptr;
  return NewCFStringZel(name_);
}
