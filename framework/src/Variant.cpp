#include "rb/Variant.h"

#include <cmath>
#include <limits>

#include "rb/Text.h"

namespace rb {

namespace {

int64_t ToInt64(double v) noexcept {
  if (std::isnan(v)) return 0;
  // 2^63 is exactly representable; every double below it converts safely.
  constexpr double limit = 9223372036854775808.0;
  if (v >= limit) return std::numeric_limits<int64_t>::max();
  if (v <= -limit) return std::numeric_limits<int64_t>::min();
  return int64_t(v);
}

int32_t ClampToInt32(int64_t v) noexcept {
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return int32_t(v);
}

// Exact comparison of an integer with a double: no rounding of large
// integers through double makes two different values equal.
bool SameNumber(int64_t i, double d) noexcept {
  if (std::isnan(d) || d != std::trunc(d)) return false;
  if (d >= 9223372036854775808.0 || d < -9223372036854775808.0) return false;
  return int64_t(d) == i;
}

}  // namespace

int32_t Variant::IntegerValue() const {
  switch (GetType()) {
    case Type::Integer:
      return ClampToInt32(std::get<int64_t>(v_));
    case Type::Double:
      return ToInt32(std::get<double>(v_));
    case Type::Boolean:
      return std::get<bool>(v_) ? 1 : 0;
    case Type::String:
      return ToInt32(Val(std::get<rb::String>(v_)));
    case Type::Nil:
    case Type::Object:
      break;
  }
  return 0;
}

int64_t Variant::Int64Value() const {
  switch (GetType()) {
    case Type::Integer:
      return std::get<int64_t>(v_);
    case Type::Double:
      return ToInt64(std::get<double>(v_));
    case Type::Boolean:
      return std::get<bool>(v_) ? 1 : 0;
    case Type::String:
      return ToInt64(Val(std::get<rb::String>(v_)));
    case Type::Nil:
    case Type::Object:
      break;
  }
  return 0;
}

double Variant::DoubleValue() const {
  switch (GetType()) {
    case Type::Integer:
      return double(std::get<int64_t>(v_));
    case Type::Double:
      return std::get<double>(v_);
    case Type::Boolean:
      return std::get<bool>(v_) ? 1.0 : 0.0;
    case Type::String:
      return Val(std::get<rb::String>(v_));
    case Type::Nil:
    case Type::Object:
      break;
  }
  return 0.0;
}

bool Variant::BooleanValue() const {
  switch (GetType()) {
    case Type::Integer:
      return std::get<int64_t>(v_) != 0;
    case Type::Double:
      return std::get<double>(v_) != 0.0;  // NaN counts as nonzero
    case Type::Boolean:
      return std::get<bool>(v_);
    case Type::String:
      return std::get<rb::String>(v_) == "True";
    case Type::Nil:
    case Type::Object:
      break;
  }
  return false;
}

rb::String Variant::StringValue() const {
  switch (GetType()) {
    case Type::Integer:
      return Str(std::get<int64_t>(v_));
    case Type::Double:
      return Str(std::get<double>(v_));
    case Type::Boolean:
      return std::get<bool>(v_) ? "True" : "False";
    case Type::String:
      return std::get<rb::String>(v_);
    case Type::Nil:
    case Type::Object:
      break;
  }
  return {};
}

Ref<Object> Variant::ObjectValue() const {
  return GetType() == Type::Object ? std::get<Ref<Object>>(v_) : Ref<Object>();
}

// Values of different kinds are unequal, except integers and doubles, which
// compare by value. A text never equals a number ("1" is not 1), so that a
// found-but-empty text can never pass for a missing value or a zero.
bool operator==(const Variant& a, const Variant& b) {
  using Type = Variant::Type;
  const Type ta = a.GetType(), tb = b.GetType();
  if (ta == Type::Integer && tb == Type::Double)
    return SameNumber(std::get<int64_t>(a.v_), std::get<double>(b.v_));
  if (ta == Type::Double && tb == Type::Integer)
    return SameNumber(std::get<int64_t>(b.v_), std::get<double>(a.v_));
  if (ta != tb) return false;
  switch (ta) {
    case Type::Nil:
      return true;
    case Type::Integer:
      return std::get<int64_t>(a.v_) == std::get<int64_t>(b.v_);
    case Type::Double:
      return std::get<double>(a.v_) == std::get<double>(b.v_);
    case Type::Boolean:
      return std::get<bool>(a.v_) == std::get<bool>(b.v_);
    case Type::String:
      return std::get<rb::String>(a.v_) == std::get<rb::String>(b.v_);
    case Type::Object:
      return std::get<Ref<Object>>(a.v_) == std::get<Ref<Object>>(b.v_);
  }
  return false;
}

}  // namespace rb
