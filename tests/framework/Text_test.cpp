#include "rb/Text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

using rb::String;

struct ValCase {
  std::string text;
  double value;
};

TEST(Val, ReadsTheNumberAtTheStart) {
  const double inf = std::numeric_limits<double>::infinity();
  const ValCase cases[] = {
      {"42", 42},
      {"-2", -2},
      {"+7", 7},
      {" \t\r\n\v\f15", 15},
      {"3.75", 3.75},
      {".5", 0.5},
      {"5.", 5},
      {"-0.25e2", -25},
      {"1E3", 1000},
      {"2e", 2},  // an exponent without digits is not part of the number
      {"2e+", 2},
      {"12abc", 12},
      {"300</Volume>", 300},
      {"1.2.3", 1.2},
      {"&hFF", 255},
      {"&h7fffffff", 2147483647},
      {"-&h10", -16},
      {"&hg", 0},
      {"&hFFFFFFFFFFFFFFFFFF", 4722366482869645213695.0},
      {"1e400", inf},
      {"-1e400", -inf},
      {"1e-400", 0},
      {"123456789012345678901234567890", 123456789012345678901234567890.0},
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {".", 0},
      {"- 5", 0},
      {"e5", 0},
      {"nan", 0},
      {"inf", 0},
      {"\xef\xbc\x91", 0},  // a full-width digit is no digit
      {std::string("\0"
                   "9",
                   2),
       9},  // NUL counts as white space
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(rb::Val(String(c.text)), c.value);
  }
}

TEST(Val, NeverCrashesOnRandomBytes) {
  std::mt19937 random(3);
  const char alphabet[] = "0123456789+-.eE&hHxX \t\n\xff";
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    for (int k = int(random() % 24); k > 0; --k)
      s += (random() % 4 == 0) ? char(random() % 256) : alphabet[random() % (sizeof alphabet - 1)];
    const double v = rb::Val(String(s));
    EXPECT_FALSE(std::isnan(v)) << s;
  }
}

TEST(Str, IntegersInDecimal) {
  EXPECT_EQ(rb::Str(int64_t{-3}).Bytes(), "-3");
  EXPECT_EQ(rb::Str(0).Bytes(), "0");
  EXPECT_EQ(rb::Str(7).Bytes(), "7");
  EXPECT_EQ(rb::Str(std::numeric_limits<int64_t>::min()).Bytes(), "-9223372036854775808");
  EXPECT_EQ(rb::Str(String("Cello")).Bytes(), "Cello");
}

TEST(Str, DoublesInTheShortestTextThatReadsBack) {
  EXPECT_EQ(rb::Str(0.5).Bytes(), "0.5");
  EXPECT_EQ(rb::Str(3.0).Bytes(), "3");
  EXPECT_EQ(rb::Str(-11.0).Bytes(), "-11");
  EXPECT_EQ(rb::Str(1e20).Bytes(), "1e+20");
  EXPECT_EQ(rb::Str(0.1).Bytes(), "0.1");
  std::mt19937_64 random(11);
  for (int round = 0; round < 5000; ++round) {
    const uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    EXPECT_EQ(rb::Val(rb::Str(d)), d) << rb::Str(d).Bytes();
  }
}

TEST(Hex, UpperCaseTwosComplementWithoutPrefix) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0"},
      {255, "FF"},
      {0x7FFFFFFF, "7FFFFFFF"},
      {-1, "FFFFFFFF"},  // fits 32 bits: the 32-bit word
      {std::numeric_limits<int32_t>::min(), "80000000"},
      {0x100000000, "100000000"},
      {-5000000000, "FFFFFFFED5FA0E00"},  // wider: all 64 bits
      {std::numeric_limits<int64_t>::min(), "8000000000000000"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(rb::Hex(value).Bytes(), text) << value;
}

TEST(Trim, RemovesWhiteSpaceAtBothEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"  1.0.0 \r\n", "1.0.0"},
      {std::string("\0\t\v\f1 0\0", 8), "1 0"},
      {" \t\r\n", ""},
      {"", ""},
      {"a", "a"},
      {"\xc2\xa0x\xc2\xa0", "\xc2\xa0x\xc2\xa0"},  // no-break space is not trimmed
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(rb::Trim(String(text)).Bytes(), trimmed);
}

TEST(Uppercase, OnlyAsciiLetters) {
  EXPECT_EQ(rb::Uppercase("aBz1!").Bytes(), "ABZ1!");
  EXPECT_EQ(rb::Uppercase("\xc3\xa9").Bytes(), "\xc3\xa9");
  EXPECT_EQ(rb::Uppercase("").Bytes(), "");
}

TEST(Len, CountsCharactersNotBytes) {
  const std::pair<std::string, int32_t> cases[] = {
      {"", 0},
      {"1.0.0", 5},
      {"\xc3\xa9t\xc3\xa9", 3},
      {"\xe2\x82\xac", 1},
      {"\xf0\x9f\x8e\xb9", 1},
      {"\xff", 1},  // an invalid byte counts as one
      {"\xc3", 1},  // a cut sequence: its byte counts as one
      {"\xe2\x82", 2},
      {"\xc0\xaf", 2},          // overlong form: two invalid bytes
      {"\xed\xa0\x80", 3},      // a surrogate is not a character
      {"\xf4\x90\x80\x80", 4},  // beyond U+10FFFF
      {std::string("a\0b", 3), 3},
  };
  for (const auto& [text, length] : cases) EXPECT_EQ(rb::Len(String(text)), length) << text;
}

TEST(Numbers, AbsMaxMinAndTheInt32Conversion) {
  EXPECT_EQ(rb::Abs(-3.0), 3.0);
  EXPECT_EQ(rb::Max(-11.0, 15.0), 15.0);
  EXPECT_EQ(rb::Min(11.0, 15.0), 11.0);
  EXPECT_EQ(rb::Max(rb::Min(64.0, 63.0), -63.0), 63.0);
  const std::pair<double, int32_t> cases[] = {
      {2.9, 2},
      {-2.9, -2},
      {-0.5, 0},
      {2147483647.9, 2147483647},
      {3e9, 2147483647},
      {-3e9, std::numeric_limits<int32_t>::min()},
      {std::numeric_limits<double>::infinity(), 2147483647},
      {std::nan(""), 0},
  };
  for (const auto& [value, integer] : cases) EXPECT_EQ(rb::ToInt32(value), integer) << value;
}

TEST(Text, EndOfLineIsALineFeed) { EXPECT_EQ(rb::EndOfLine().Bytes(), "\n"); }

TEST(Color, FromComponentsAndHex) {
  EXPECT_EQ(rb::RGB(0, 0, 255), (rb::Color{0, 0, 255}));
  EXPECT_EQ(rb::RGB(-4, 300, 128), (rb::Color{0, 255, 128}));
  EXPECT_EQ(rb::ColorFromHex("0000FF"), (rb::Color{0, 0, 255}));
  EXPECT_EQ(rb::ColorFromHex("ff8000"), (rb::Color{255, 128, 0}));
  EXPECT_EQ(rb::ColorFromHex("&h102030"), (rb::Color{16, 32, 48}));
  EXPECT_EQ(rb::ColorFromHex("#102030"), (rb::Color{16, 32, 48}));
  EXPECT_EQ(rb::ColorFromHex("12345"), rb::Color{});
  EXPECT_EQ(rb::ColorFromHex("GG0000"), rb::Color{});
}

}  // namespace
