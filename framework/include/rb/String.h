// Framework text: an immutable, reference-counted UTF-8 string.
//
// Copies share one buffer; a String never changes after it is made, so it may
// be passed between threads freely.
//
// One rule for "the same text", used by ==, <, Dictionary keys and
// Array<String>::Sort alike: texts compare byte by byte with ASCII letters
// folded to upper case ("piano 1" equals "Piano 1"; "É" and "é" differ).
// Use Bytes() or StrCompareExact for byte-exact comparison.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace rb {

class String {
 public:
  String() = default;
  String(const char* s) : String(std::string_view(s ? s : "")) {}
  String(std::string_view s);
  String(const std::string& s) : String(std::string_view(s)) {}
  String(std::string&& s);
  String(const char* bytes, size_t length) : String(std::string_view(bytes, length)) {}

  // The bytes. Valid as long as any copy of this String lives.
  const std::string& Bytes() const noexcept;
  operator std::string_view() const noexcept { return Bytes(); }
  const char* c_str() const noexcept { return Bytes().c_str(); }
  size_t size() const noexcept { return Bytes().size(); }
  bool empty() const noexcept { return size() == 0; }

  friend String operator+(const String& a, const String& b);
  friend String operator+(const String& a, const char* b) { return a + String(b); }
  friend String operator+(const char* a, const String& b) { return String(a) + b; }
  String& operator+=(const String& b) { return *this = *this + b; }

  // The framework's rule (see above).
  friend bool operator==(const String& a, const String& b) noexcept;
  friend bool operator==(const String& a, const char* b) noexcept { return a == String(b); }
  friend bool operator<(const String& a, const String& b) noexcept;

 private:
  std::shared_ptr<const std::string> text_;
};

// -1, 0 or 1 by the framework's rule.
int StrCompare(std::string_view a, std::string_view b) noexcept;
// -1, 0 or 1 byte by byte.
int StrCompareExact(std::string_view a, std::string_view b) noexcept;

// Hash and equality functors that follow the framework's rule.
struct StringRuleHash {
  size_t operator()(const String& s) const noexcept;
};
struct StringRuleEqual {
  bool operator()(const String& a, const String& b) const noexcept { return a == b; }
};

}  // namespace rb
