#include "rb/RegEx.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The search the preferences reader makes for one key.
rb::Ref<rb::RegExMatch> FindElement(const std::string& key, const std::string& text) {
  auto re = rb::New<rb::RegEx>();
  re->Options.CaseSensitive = false;
  re->Options.DotMatchAll = true;
  re->Options.Greedy = false;
  re->SearchPattern = "<" + key + ">(.*)</" + key + ">";
  return re->Search(rb::String(text));
}

struct ElementCase {
  const char* name;
  std::string text;
  bool found;
  std::string value;
};

TEST(RegEx, FindsTheFirstShortestElementInAnyCaseAcrossLines) {
  const ElementCase cases[] = {
      {"plain", "<Pitch>20</Pitch>", true, "20"},
      {"in a file", "<?xml version=\"1.0\"?>\n<chimewickprefs>\n<Pitch>-5</Pitch>\n</chimewickprefs>\n", true,
       "-5"},
      {"tags in any case", "<pitch>3</PITCH>", true, "3"},
      {"value over two lines", "<Pitch>Grand\r\nPiano</Pitch>", true, "Grand\r\nPiano"},
      {"shortest", "<Pitch>1</Pitch><Pitch>2</Pitch>", true, "1"},
      {"first of two", "<Pitch>7</Pitch>\n<Pitch>8</Pitch>", true, "7"},
      {"empty element is found", "<Pitch></Pitch>", true, ""},
      {"value kept literally", "<Pitch> a&b<c </Pitch>", true, " a&b<c "},
      {"NUL and high bytes", std::string("<Pitch>\0\xff\xfe</Pitch>", 18), true,
       std::string("\0\xff\xfe", 3)},
      {"invalid UTF-8 around", "\xc3(\xff<Pitch>9</Pitch>\xed\xa0\x80", true, "9"},
      {"other key", "<Pitches>1</Pitches>", false, ""},
      {"no closing tag", "<Pitch>1", false, ""},
      {"missing", "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto match = FindElement("Pitch", c.text);
    ASSERT_EQ(bool(match), c.found);
    if (match) {
      EXPECT_EQ(match->SubExpressionString(1).Bytes(), c.value);
      EXPECT_EQ(match->SubExpressionCount(), 2);
    }
  }
}

TEST(RegEx, EachOptionDoesItsOneThing) {
  auto re = rb::New<rb::RegEx>();
  re->SearchPattern = "<a>(.*)</a>";
  const rb::String text = "<A>1\n2</A> <a>3</a><a>4</a>";

  re->Options = {true, false, true};  // case-sensitive, dot stops at line ends, greedy
  auto m = re->Search(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->SubExpressionString(1).Bytes(), "3</a><a>4");

  re->Options = {false, false, true};  // any case; "<A>1\n2</A>" still not, the dot stops at \n
  m = re->Search(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->SubExpressionString(1).Bytes(), "3</a><a>4");

  re->Options = {false, true, true};  // any case, across lines, greedy: up to the last closing tag
  m = re->Search(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->SubExpressionString(1).Bytes(), "1\n2</A> <a>3</a><a>4");

  re->Options = {false, true, false};
  m = re->Search(text);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->SubExpressionString(1).Bytes(), "1\n2");
  EXPECT_EQ(m->SubExpressionString(0).Bytes(), "<A>1\n2</A>");
}

TEST(RegEx, GroupsThatDidNotTakePartAreEmpty) {
  auto re = rb::New<rb::RegEx>();
  re->SearchPattern = "(a)|(b)";
  const auto m = re->Search("b");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->SubExpressionCount(), 3);
  EXPECT_EQ(m->SubExpressionString(1).Bytes(), "");
  EXPECT_EQ(m->SubExpressionString(2).Bytes(), "b");
  EXPECT_EQ(m->SubExpressionString(3).Bytes(), "");
  EXPECT_EQ(m->SubExpressionString(-1).Bytes(), "");
}

TEST(RegEx, APatternThatDoesNotCompileGivesNil) {
  for (const char* pattern : {"(", "<Pitch>(.*</Pitch>", "[z-a]", "a{2,1}", "\\"}) {
    auto re = rb::New<rb::RegEx>();
    re->SearchPattern = pattern;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(re->Search("<Pitch>1</Pitch>")) << pattern;
    EXPECT_NE(testing::internal::GetCapturedStderr(), "") << "the reason goes to standard error";
  }
}

TEST(RegEx, RunawayBacktrackingGivesUpWithNil) {
  auto re = rb::New<rb::RegEx>();
  re->SearchPattern = "(a+)+$";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(re->Search(rb::String(std::string(40, 'a') + "!")));
  testing::internal::GetCapturedStderr();
}

// Damaged preferences files: any bytes at all, searched for every key.
TEST(RegEx, RandomTextsNeverCrash) {
  std::mt19937 random(2108);
  const std::string pieces[] = {"<Pitch>", "</Pitch>", "<pitch>", "</PITCH", "\n", "\r", "<", ">", "/", "\0"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int k = int(random() % 12); k > 0; --k) {
      if (random() % 2)
        text += pieces[random() % std::size(pieces)];
      else
        for (int b = int(random() % 8); b > 0; --b) text += char(random() % 256);
    }
    const auto match = FindElement("Pitch", text);
    if (match) {
      EXPECT_LE(match->SubExpressionString(1).size(), text.size());
    }
  }
}

TEST(RegEx, RandomPatternsNeverCrash) {
  std::mt19937 random(31);
  const char alphabet[] = "()[]{}*+?.|^$\\-,0123abAB<>/\n";
  for (int round = 0; round < 3000; ++round) {
    std::string pattern, text;
    for (int k = int(random() % 10); k > 0; --k)
      pattern += (random() % 5 == 0) ? char(random() % 256) : alphabet[random() % (sizeof alphabet - 1)];
    for (int k = int(random() % 20); k > 0; --k) text += char(random() % 256);
    auto re = rb::New<rb::RegEx>();
    re->Options = {bool(random() % 2), bool(random() % 2), bool(random() % 2)};
    re->SearchPattern = pattern;
    testing::internal::CaptureStderr();  // the reasons of the patterns that do not compile
    const auto match = re->Search(rb::String(text));
    testing::internal::GetCapturedStderr();
    if (match) {
      EXPECT_LE(match->SubExpressionString(0).size(), text.size());
    }
  }
}

}  // namespace
