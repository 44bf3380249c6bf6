// The framework's text and number functions. Pure functions: any thread,
// nothing waits.
#pragma once

#include <cstdint>

#include "rb/String.h"

namespace rb {

// Decimal text of an integer: "-3", "0", "7".
String Str(int64_t value);
inline String Str(int32_t value) { return Str(int64_t{value}); }
// Shortest text that reads back as the same double ("0.5", "3", "1e+20").
String Str(double value);
// The text itself.
inline String Str(const String& value) { return value; }

// The number at the start of text: leading blanks skipped, an optional sign,
// digits, an optional fraction and exponent; "&h" hexadecimal. Anything that
// does not start a number gives 0.
double Val(const String& text);

// Upper-case hexadecimal of the value's two's complement bits, no prefix.
// A value within the int32 range prints as its 32-bit word (-1 gives
// "FFFFFFFF"); a wider value prints all 64 bits.
String Hex(int64_t value);

// Without leading and trailing white space (blank, tab, CR, LF, VT, FF, NUL).
String Trim(const String& text);
// ASCII letters upper-cased; other bytes unchanged.
String Uppercase(const String& text);
// Length in characters (UTF-8 code points; an invalid byte counts as one).
int32_t Len(const String& text);
// The platform's line end: "\n".
String EndOfLine();

double Abs(double v);
double Max(double a, double b);
double Min(double a, double b);

// The framework's conversion of a double to a 32-bit integer: truncated
// toward zero, clamped to the int32 range, NaN gives 0.
int32_t ToInt32(double v) noexcept;

// A colour: red, green and blue, one byte each.
struct Color {
  uint8_t Red = 0, Green = 0, Blue = 0;
  bool operator==(const Color&) const = default;
};
Color RGB(int red, int green, int blue);
// "RRGGBB" hexadecimal, as design-time property lists write colours.
Color ColorFromHex(const String& rrggbb);

}  // namespace rb
