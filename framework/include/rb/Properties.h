// Design-time property lists: (name, value) pairs applied in order. Main
// thread, like the windows and controls that take them.
#pragma once

#include <utility>
#include <vector>

#include "rb/String.h"
#include "rb/Variant.h"

namespace rb {

using PropertyList = std::vector<std::pair<String, Variant>>;

// A control's rectangle in window coordinates (Left, Top, Width, Height),
// then the properties in more. Any thread.
PropertyList Placed(int left, int top, int width, int height, const PropertyList& more = {});

// Properties that every window and control keeps by name. A property the
// class acts on changes what is shown; every other one is stored as given and
// reads back with Property().
class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  // Applies each pair with SetProperty, in order.
  void ApplyProperties(const PropertyList& list);
  virtual void SetProperty(const String& name, const Variant& value);
  // The value last set (or the class's current value for the properties it
  // acts on); nil when never set.
  virtual Variant Property(const String& name) const;

 protected:
  void StoreProperty(const String& name, const Variant& value);
  Variant StoredProperty(const String& name) const;

 private:
  PropertyList stored_;
};

}  // namespace rb
