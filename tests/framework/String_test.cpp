#include "rb/String.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "rb/Containers.h"

namespace {

using rb::String;

struct CompareCase {
  std::string a, b;
  int expected;  // by the framework's rule
};

// One table for ==, <, StrCompare, the hash and the Dictionary: all must
// agree on what counts as the same text.
const CompareCase kCompareCases[] = {
    {"Piano 1", "piano 1", 0},
    {"PIANO 1", "piano 1", 0},
    {"Organ 1", "Organ 2", -1},
    {"", "", 0},
    {"", "a", -1},
    {"abc", "ab", 1},
    {"a", "B", -1},                // folded: 'A' < 'B' although 'a' > 'B' in bytes
    {"_", "a", 1},                 // '_' (0x5F) lies between the upper and lower letters; 'A' is 0x41
    {"\xc3\x89", "\xc3\xa9", -1},  // É and é: only ASCII letters fold
    {std::string("a\0b", 3), std::string("A\0B", 3), 0},
    {std::string("a\0b", 3), "a", 1},
    {"\xff", "a", 1},  // bytes compare unsigned
};

TEST(String, TheTextRuleIsOneRuleEverywhere) {
  for (const auto& c : kCompareCases) {
    SCOPED_TRACE("\"" + c.a + "\" vs \"" + c.b + "\"");
    const String a(c.a), b(c.b);
    EXPECT_EQ(rb::StrCompare(c.a, c.b), c.expected);
    EXPECT_EQ(rb::StrCompare(c.b, c.a), -c.expected);
    EXPECT_EQ(a == b, c.expected == 0);
    EXPECT_EQ(a < b, c.expected < 0);
    EXPECT_EQ(b<a, c.expected> 0);
    if (c.expected == 0) {
      EXPECT_EQ(rb::StringRuleHash{}(a), rb::StringRuleHash{}(b));
    }

    auto dictionary = rb::New<rb::Dictionary>();
    dictionary->SetValue(a, 1);
    EXPECT_EQ(dictionary->HasKey(b), c.expected == 0);
  }
}

TEST(String, ExactComparisonSeesEveryByte) {
  EXPECT_EQ(rb::StrCompareExact("Piano", "piano"), -1);
  EXPECT_EQ(rb::StrCompareExact("piano", "Piano"), 1);
  EXPECT_EQ(rb::StrCompareExact("x", "x"), 0);
  EXPECT_EQ(rb::StrCompareExact("\xff", "a"), 1);
}

TEST(String, BytesSurviveUnchanged) {
  const std::string bytes("a\0\xff\r\n\xc3", 6);
  const String s(bytes);
  EXPECT_EQ(s.Bytes(), bytes);
  EXPECT_EQ(s.size(), 6u);
  EXPECT_EQ(String(std::string(bytes)).Bytes(), bytes);
  EXPECT_EQ(String(bytes.data(), bytes.size()).Bytes(), bytes);
  EXPECT_EQ(String(static_cast<const char*>(nullptr)).Bytes(), "");
  EXPECT_TRUE(String().empty());
  EXPECT_EQ(String().c_str()[0], '\0');
}

TEST(String, ConcatenationMakesANewTextAndLeavesBothParts) {
  const String a("Organ"), b(" 1");
  const String joined = a + b;
  EXPECT_EQ(joined.Bytes(), "Organ 1");
  EXPECT_EQ(a.Bytes(), "Organ");
  EXPECT_EQ(("<" + a + ">").Bytes(), "<Organ>");
  String grown = a;
  grown += b;
  EXPECT_EQ(grown.Bytes(), "Organ 1");
  EXPECT_EQ(a.Bytes(), "Organ");  // the shared buffer never changes
  EXPECT_EQ((String() + a).Bytes(), "Organ");
}

// The three uses of the rule meet: collect names once through a Dictionary,
// sort them, then find the default among them by equality.
TEST(String, DictionarySortAndEqualityAgreeOnTheSameName) {
  const std::vector<String> reported = {"piano 1", "Banjo", "Piano 1", "cello", "", "BANJO", "Organ 1"};
  auto seen = rb::New<rb::Dictionary>();
  rb::Array<String> names;
  for (size_t i = 0; i < reported.size(); ++i) {
    if (seen->HasKey(reported[i])) continue;
    seen->SetValue(reported[i], int(i));
    names.Append(reported[i]);
  }
  names.Sort();
  ASSERT_EQ(names.Count(), 5);
  EXPECT_EQ(names(0).Bytes(), "");
  EXPECT_EQ(names(1).Bytes(), "Banjo");
  EXPECT_EQ(names(2).Bytes(), "cello");
  EXPECT_EQ(names(3).Bytes(), "Organ 1");
  EXPECT_EQ(names(4).Bytes(), "piano 1");
  EXPECT_EQ(seen->Value("PIANO 1").IntegerValue(), 0);  // the first one keeps the name
  EXPECT_EQ(seen->Value("banjo").IntegerValue(), 1);
  for (int i = 0; i <= names.LastIndex(); ++i) EXPECT_TRUE(seen->HasKey(names(i)));
}

TEST(String, SortIsAscendingByTheRuleAndStable) {
  std::mt19937 random(7);
  rb::Array<String> names;
  for (int i = 0; i < 300; ++i) {
    std::string s;
    for (int k = int(random() % 4); k > 0; --k) s += "aAbB_\xe9"[random() % 6];
    names.Append(String(s));
  }
  const auto original = names;
  names.Sort();
  for (int i = 1; i <= names.LastIndex(); ++i) EXPECT_FALSE(names(i) < names(i - 1));
  // Stable: each run of equal texts keeps the spellings in their first order.
  for (int i = 0; i <= names.LastIndex();) {
    std::vector<std::string> run, before;
    int j = i;
    for (; j <= names.LastIndex() && names(j) == names(i); ++j) run.push_back(names(j).Bytes());
    for (const String& s : original)
      if (s == names(i)) before.push_back(s.Bytes());
    EXPECT_EQ(run, before);
    i = j;
  }
}

TEST(String, CopiesMayBeReadOnManyThreadsAtOnce) {
  const String shared("shared text");
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([shared] {
      for (int i = 0; i < 2000; ++i) {
        String copy = shared;
        String joined = copy + "!";
        ASSERT_EQ(joined.size(), 12u);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(shared.Bytes(), "shared text");
}

TEST(Array, IndexesOutsideTheArrayRaiseOutOfBounds) {
  rb::Array<int> values{1, 2, 3};
  EXPECT_EQ(values.LastIndex(), 2);
  EXPECT_THROW(values(3), rb::OutOfBoundsException);
  EXPECT_THROW(values(-1), rb::OutOfBoundsException);
  EXPECT_EQ(rb::Array<int>().LastIndex(), -1);
  EXPECT_EQ(rb::Array<String>(6).Count(), 7);  // 0..6
}

TEST(Dictionary, AMissingKeyRaisesAndLookupFallsBack) {
  auto d = rb::New<rb::Dictionary>();
  d->SetValue("Cello", 42);
  EXPECT_THROW(d->Value("Viola"), rb::OutOfBoundsException);
  EXPECT_EQ(d->Lookup("Viola", -1).IntegerValue(), -1);
  EXPECT_EQ(d->Lookup("CELLO", -1).IntegerValue(), 42);
  d->SetValue("cello", 7);  // the same key by the rule
  EXPECT_EQ(d->Count(), 1);
  EXPECT_EQ(d->Value("Cello").IntegerValue(), 7);
  d->Remove("CELLO");
  EXPECT_EQ(d->Count(), 0);
}

}  // namespace
