#include "rb/String.h"

#include <algorithm>
#include <cstring>

namespace rb {

namespace {

// The one folding the framework's text rule applies: ASCII letters to upper
// case, every other byte as it is (so UTF-8 sequences never change).
constexpr unsigned char FoldByte(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

const std::string& EmptyBytes() noexcept {
  static const std::string empty;
  return empty;
}

}  // namespace

// An empty String holds no buffer at all; Bytes() answers with a shared empty
// one, so default-made Strings cost nothing.
String::String(std::string_view s) : text_(s.empty() ? nullptr : std::make_shared<const std::string>(s)) {}

String::String(std::string&& s)
    : text_(s.empty() ? nullptr : std::make_shared<const std::string>(std::move(s))) {}

const std::string& String::Bytes() const noexcept { return text_ ? *text_ : EmptyBytes(); }

String operator+(const String& a, const String& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  std::string joined;
  joined.reserve(a.size() + b.size());
  joined.append(a.Bytes()).append(b.Bytes());
  return String(std::move(joined));
}

bool operator==(const String& a, const String& b) noexcept {
  return a.text_ == b.text_ || StrCompare(a.Bytes(), b.Bytes()) == 0;
}

bool operator<(const String& a, const String& b) noexcept { return StrCompare(a.Bytes(), b.Bytes()) < 0; }

int StrCompare(std::string_view a, std::string_view b) noexcept {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = FoldByte(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldByte(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int StrCompareExact(std::string_view a, std::string_view b) noexcept {
  const int c = a.compare(b);  // char_traits<char> compares as unsigned char
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// FNV-1a over the folded bytes: texts equal by the rule hash alike.
size_t StringRuleHash::operator()(const String& s) const noexcept {
  uint64_t h = 14695981039346656037ull;
  for (const char c : s.Bytes()) {
    h ^= FoldByte(static_cast<unsigned char>(c));
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

}  // namespace rb
