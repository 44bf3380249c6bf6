// The framework's Variant: nil, integer, double, boolean, string or object.
// A value type: any thread, one thread at a time per variable; nothing waits.
//
// Conversions follow the framework's rules:
// - IntegerValue: a double is truncated toward zero and clamped to the int32
//   range (NaN gives 0); a string goes through Val; a boolean gives 1 or 0;
//   nil and objects give 0.
// - DoubleValue: likewise, as a double.
// - StringValue: integers and doubles through Str, booleans "True"/"False",
//   nil and objects "".
// - BooleanValue: nonzero numbers and "True" (any case) are true.
// Equality: nil equals only nil (an empty string is not nil); numbers compare
// by value; strings by the framework's text rule; objects by identity.
#pragma once

#include <cstdint>
#include <variant>

#include "rb/Object.h"
#include "rb/String.h"

namespace rb {

class Variant {
 public:
  enum class Type { Nil, Integer, Double, Boolean, String, Object };

  Variant() = default;
  Variant(std::nullptr_t) {}
  Variant(int v) : v_(int64_t{v}) {}
  Variant(int64_t v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(bool v) : v_(v) {}
  Variant(const char* v) : v_(rb::String(v)) {}
  Variant(rb::String v) : v_(std::move(v)) {}
  Variant(const std::string& v) : v_(rb::String(v)) {}
  template <class T>
  Variant(const Ref<T>& o) : v_(Ref<Object>(o.get())) {}

  Type GetType() const noexcept { return static_cast<Type>(v_.index()); }
  bool IsNil() const noexcept { return GetType() == Type::Nil; }

  int32_t IntegerValue() const;
  int64_t Int64Value() const;
  double DoubleValue() const;
  bool BooleanValue() const;
  rb::String StringValue() const;
  Ref<Object> ObjectValue() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  std::variant<std::monostate, int64_t, double, bool, rb::String, Ref<Object>> v_;
};

}  // namespace rb
