#include "rb/Text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace rb {

namespace {

bool IsBlank(unsigned char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\0';
}

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

int HexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Digits after "&h": any number of them; past 64 bits the value keeps
// growing as a double rather than wrapping.
double HexValue(std::string_view digits) noexcept {
  double value = 0;
  for (const char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) break;
    value = value * 16 + d;
  }
  return value;
}

// Length of the decimal number at the start of s: digits, an optional
// fraction and an exponent that has digits. 0 when s starts no number.
size_t DecimalLength(std::string_view s) noexcept {
  size_t i = 0;
  size_t mantissaDigits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++mantissaDigits;
  if (i < s.size() && s[i] == '.') {
    size_t j = i + 1;
    while (j < s.size() && IsDigit(s[j])) ++j, ++mantissaDigits;
    if (mantissaDigits > 0) i = j;
  }
  if (mantissaDigits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const size_t firstExponentDigit = j;
    while (j < s.size() && IsDigit(s[j])) ++j;
    if (j > firstExponentDigit) i = j;
  }
  return i;
}

}  // namespace

String Str(int64_t value) { return String(std::to_string(value)); }

String Str(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return String(std::string_view(buffer, size_t(result.ptr - buffer)));
}

double Val(const String& text) {
  std::string_view s = text;
  size_t i = 0;
  while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  s.remove_prefix(i);

  double value = 0;
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'h' || s[1] == 'H')) {
    value = HexValue(s.substr(2));
  } else {
    const size_t length = DecimalLength(s);
    if (length == 0) return 0;
    const auto result = std::from_chars(s.data(), s.data() + length, value);
    if (result.ec == std::errc::result_out_of_range) {
      // from_chars leaves value untouched here: decide between overflow and
      // underflow by the exponent's sign.
      const auto e = s.substr(0, length).find_first_of("eE");
      const bool tiny = e != std::string_view::npos && e + 1 < length && s[e + 1] == '-';
      value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc()) {
      return 0;
    }
  }
  return negative ? -value : value;
}

// A value that fits 32 bits prints as the 32-bit word ("FFFFFFFF" for -1), as
// handles and status codes are 32-bit; wider values print all 64 bits.
String Hex(int64_t value) {
  const bool fits32 =
      value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
  const uint64_t bits = fits32 ? uint64_t(uint32_t(int32_t(value))) : uint64_t(value);
  char buffer[17];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, bits, 16);
  for (char* p = buffer; p != result.ptr; ++p)
    if (*p >= 'a' && *p <= 'f') *p = char(*p - 'a' + 'A');
  return String(std::string_view(buffer, size_t(result.ptr - buffer)));
}

String Trim(const String& text) {
  std::string_view s = text;
  size_t first = 0, last = s.size();
  while (first < last && IsBlank(static_cast<unsigned char>(s[first]))) ++first;
  while (last > first && IsBlank(static_cast<unsigned char>(s[last - 1]))) --last;
  if (first == 0 && last == s.size()) return text;
  return String(s.substr(first, last - first));
}

String Uppercase(const String& text) {
  std::string upper = text.Bytes();
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - ('a' - 'A'));
  return String(std::move(upper));
}

// Counts well-formed UTF-8 sequences (no overlong forms, no surrogates,
// nothing past U+10FFFF) as one character each, and every other byte as one.
int32_t Len(const String& text) {
  const std::string_view s = text;
  int64_t count = 0;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t length = 1;
    unsigned char lowest = 0x80, highest = 0xBF;  // bounds of the 2nd byte
    if (c >= 0xC2 && c <= 0xDF)
      length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) lowest = 0xA0;
      if (c == 0xED) highest = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) lowest = 0x90;
      if (c == 0xF4) highest = 0x8F;
    }
    bool wellFormed = length > 1 && i + length <= s.size();
    for (size_t k = 1; wellFormed && k < length; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      wellFormed = k == 1 ? (t >= lowest && t <= highest) : (t >= 0x80 && t <= 0xBF);
    }
    i += wellFormed ? length : 1;
    ++count;
  }
  return count > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : int32_t(count);
}

String EndOfLine() { return String("\n"); }

double Abs(double v) { return std::fabs(v); }
double Max(double a, double b) { return a > b ? a : b; }
double Min(double a, double b) { return a < b ? a : b; }

int32_t ToInt32(double v) noexcept {
  if (std::isnan(v)) return 0;
  if (v <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (v >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return int32_t(v);  // truncates toward zero
}

Color RGB(int red, int green, int blue) {
  const auto channel = [](int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  return Color{channel(red), channel(green), channel(blue)};
}

// Six hexadecimal digits, optionally after "#" or "&h"/"&c"; anything else
// gives black.
Color ColorFromHex(const String& rrggbb) {
  std::string_view s = rrggbb;
  if (!s.empty() && s[0] == '#')
    s.remove_prefix(1);
  else if (s.size() >= 2 && s[0] == '&' && (s[1] == 'h' || s[1] == 'H' || s[1] == 'c' || s[1] == 'C'))
    s.remove_prefix(2);
  if (s.size() != 6) return Color{};
  uint8_t parts[3];
  for (int k = 0; k < 3; ++k) {
    const int high = HexDigit(s[size_t(2 * k)]), low = HexDigit(s[size_t(2 * k + 1)]);
    if (high < 0 || low < 0) return Color{};
    parts[k] = uint8_t(high * 16 + low);
  }
  return Color{parts[0], parts[1], parts[2]};
}

}  // namespace rb
