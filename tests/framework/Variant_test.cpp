#include "rb/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "rb/Containers.h"
#include "rb/MemoryBlock.h"

namespace {

using rb::Variant;

TEST(Variant, NilEqualsOnlyNil) {
  const Variant nil;
  EXPECT_TRUE(nil.IsNil());
  EXPECT_TRUE(nil == Variant(nullptr));
  // An element found empty is a value, not nil.
  EXPECT_FALSE(Variant("") == nil);
  EXPECT_FALSE(nil == Variant(""));
  EXPECT_FALSE(Variant(0) == nil);
  EXPECT_FALSE(Variant(false) == nil);
  EXPECT_FALSE(Variant(rb::Ref<rb::Object>()) == nil);  // a nil reference is an object value
}

struct EqualityCase {
  const char* name;
  Variant a, b;
  bool equal;
};

TEST(Variant, EqualityByKind) {
  auto object = rb::New<rb::Dictionary>();
  auto other = rb::New<rb::Dictionary>();
  const EqualityCase cases[] = {
      {"integers", Variant(3), Variant(int64_t{3}), true},
      {"integer and double by value", Variant(3), Variant(3.0), true},
      {"integer and a fraction", Variant(3), Variant(3.5), false},
      {"large integer and its rounded double", Variant(int64_t{9007199254740993}),
       Variant(9007199254740992.0), false},
      {"doubles", Variant(0.5), Variant(0.5), true},
      {"NaN", Variant(std::nan("")), Variant(std::nan("")), false},
      {"texts by the rule", Variant("Piano 1"), Variant("PIANO 1"), true},
      {"different texts", Variant("Piano 1"), Variant("Piano 2"), false},
      {"text and number", Variant("1"), Variant(1), false},
      {"empty text and zero", Variant(""), Variant(0), false},
      {"booleans", Variant(true), Variant(true), true},
      {"boolean and number", Variant(true), Variant(1), false},
      {"same object", Variant(object), Variant(object), true},
      {"other object", Variant(object), Variant(other), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
  }
}

struct ConversionCase {
  const char* name;
  Variant value;
  int32_t integer;
  double real;
  bool boolean;
  std::string text;
};

TEST(Variant, Conversions) {
  const double inf = std::numeric_limits<double>::infinity();
  const ConversionCase cases[] = {
      {"nil", Variant(), 0, 0.0, false, ""},
      {"integer", Variant(-7), -7, -7.0, true, "-7"},
      {"zero", Variant(0), 0, 0.0, false, "0"},
      {"wide integer clamps", Variant(int64_t{5000000000}), 2147483647, 5e9, true, "5000000000"},
      {"double truncates toward zero", Variant(-2.9), -2, -2.9, true, "-2.9"},
      {"double clamps", Variant(1e12), 2147483647, 1e12, true, "1e+12"},
      {"negative infinity clamps", Variant(-inf), std::numeric_limits<int32_t>::min(), -inf, true, "-inf"},
      {"boolean true", Variant(true), 1, 1.0, true, "True"},
      {"boolean false", Variant(false), 0, 0.0, false, "False"},
      {"text number", Variant(" 42abc"), 42, 42.0, false, " 42abc"},
      {"text true any case", Variant("tRUE"), 0, 0.0, true, "tRUE"},
      {"text not a number", Variant("Cello"), 0, 0.0, false, "Cello"},
      {"object", Variant(rb::New<rb::Dictionary>()), 0, 0.0, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.IntegerValue(), c.integer);
    EXPECT_EQ(c.value.DoubleValue(), c.real);
    EXPECT_EQ(c.value.BooleanValue(), c.boolean);
    EXPECT_EQ(c.value.StringValue().Bytes(), c.text);
  }
  EXPECT_EQ(Variant(std::nan("")).IntegerValue(), 0);
  EXPECT_EQ(Variant(std::nan("")).Int64Value(), 0);
  EXPECT_EQ(Variant(1e30).Int64Value(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Variant("-1e30").Int64Value(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Variant(int64_t{5000000000}).Int64Value(), 5000000000);
}

TEST(Variant, KeepsItsKindAndObject) {
  auto object = rb::New<rb::Dictionary>();
  const Variant v(object);
  EXPECT_EQ(v.GetType(), Variant::Type::Object);
  EXPECT_EQ(v.ObjectValue().get(), object.get());
  EXPECT_EQ(object->RefCount(), 2);
  EXPECT_EQ(Variant(3).ObjectValue().get(), nullptr);
  EXPECT_EQ(Variant(3).GetType(), Variant::Type::Integer);
  EXPECT_EQ(Variant(3.0).GetType(), Variant::Type::Double);
  EXPECT_EQ(Variant("x").GetType(), Variant::Type::String);
  EXPECT_EQ(Variant(true).GetType(), Variant::Type::Boolean);
}

TEST(MemoryBlock, NothingIsReadOrWrittenPastTheBlock) {
  const uint8_t bytes[] = {0x90, 60, 100};
  auto block = rb::New<rb::MemoryBlock>(bytes, sizeof bytes);
  EXPECT_EQ(block->Size(), 3);
  EXPECT_EQ(block->Byte(0), 0x90);
  EXPECT_EQ(block->Byte(2), 100);
  for (const int32_t offset : {-1, 3, 1 << 30}) {
    EXPECT_THROW(block->Byte(offset), rb::OutOfBoundsException) << offset;
    EXPECT_THROW(block->SetByte(offset, 1), rb::OutOfBoundsException) << offset;
  }
  block->SetByte(1, 61);
  EXPECT_EQ(block->Byte(1), 61);
  auto empty = rb::New<rb::MemoryBlock>();
  EXPECT_EQ(empty->Size(), 0);
  EXPECT_THROW(empty->Byte(0), rb::OutOfBoundsException);
}

}  // namespace
