#include "rb/Containers.h"

namespace rb {

Variant Dictionary::Value(const String& key) const {
  const auto it = map_.find(key);
  if (it == map_.end()) throw OutOfBoundsException("Key not found: " + key.Bytes());
  return it->second;
}

Variant Dictionary::Lookup(const String& key, const Variant& fallback) const {
  const auto it = map_.find(key);
  return it == map_.end() ? fallback : it->second;
}

}  // namespace rb
