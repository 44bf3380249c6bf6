#include "StaticURL.h"

#include <gtest/gtest.h>

#include "ShellTestSupport.h"
#include "rb/Dialogs.h"
#include "rb/Window.h"

namespace {

class StaticURLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenedURLs().clear();
    window = rb::New<rb::Window>();
    link = rb::New<StaticURL>();
    window->AddControl(link, "homePage");
    link->ApplyProperties(rb::Placed(
        24, 307, 236, 13, {{"Text", "Brambury Software"}, {"TextColor", "0000CC"}, {"Underline", false}}));
  }
  void Click(int x, int y) {
    EXPECT_TRUE(link->RaiseEvent<bool>("MouseDown", x, y));
    link->RaiseEvent<void>("MouseUp", x, y);
  }

  rb::Ref<rb::Window> window;
  rb::Ref<StaticURL> link;
};

TEST_F(StaticURLTest, OpensOnlyForAReleaseStrictlyInside) {
  link->URL = "http://example.test/";
  link->RaiseOpen();
  const int w = link->Width(), h = link->Height();
  struct Case {
    int x, y;
    bool opens;
  };
  const Case cases[] = {
      {0, 5, false},  {5, 0, false},           {w, 5, false}, {5, h, false},        {-1, 5, false},
      {5, -3, false}, {w + 10, h + 10, false}, {1, 1, true},  {w - 1, h - 1, true},
  };
  for (const auto& c : cases) {
    OpenedURLs().clear();
    Click(c.x, c.y);
    EXPECT_EQ(OpenedURLs().size(), c.opens ? 1u : 0u) << "release at " << c.x << "," << c.y;
    EXPECT_EQ(link->TextColor(), StaticURL::kAtRest) << "release at " << c.x << "," << c.y;
  }
}

TEST_F(StaticURLTest, EmptyURLOpensTheLabelsOwnText) {
  link->RaiseOpen();
  link->SetText("www.example.test/page");
  Click(3, 3);
  ASSERT_EQ(OpenedURLs().size(), 1u);
  EXPECT_EQ(OpenedURLs()[0], "www.example.test/page");

  OpenedURLs().clear();
  link->URL = "http://other.test/";
  Click(3, 3);
  ASSERT_EQ(OpenedURLs().size(), 1u);
  EXPECT_EQ(OpenedURLs()[0], "http://other.test/");
}

TEST_F(StaticURLTest, OpenTurnsTheLabelIntoALinkBeforeTheOwnersOpen) {
  rb::Color seenByOwner{};
  bool underlinedForOwner = false;
  link->SetHandler<void()>("Open", [&] {
    seenByOwner = link->TextColor();
    underlinedForOwner = link->Underline();
    link->SetTextColor({10, 20, 30});
  });
  link->RaiseOpen();
  EXPECT_EQ(seenByOwner, StaticURL::kAtRest);
  EXPECT_TRUE(underlinedForOwner);
  EXPECT_EQ(link->TextColor(), (rb::Color{10, 20, 30}))
      << "the owner's colour stays until the next mouse event";
}

TEST_F(StaticURLTest, ColoursFollowThePointerAndTheButton) {
  link->RaiseOpen();
  link->RaiseEvent<void>("MouseEnter");
  EXPECT_EQ(link->TextColor(), StaticURL::kPointerOver);
  EXPECT_TRUE(link->RaiseEvent<bool>("MouseDown", 0, 0)) << "a press on the edge is taken all the same";
  EXPECT_EQ(link->TextColor(), StaticURL::kPressed);
  link->RaiseEvent<void>("MouseUp", 2, 2);
  EXPECT_EQ(link->TextColor(), StaticURL::kAtRest) << "at rest after a click, even under the pointer";
  link->RaiseEvent<void>("MouseEnter");
  link->RaiseEvent<void>("MouseExit");
  EXPECT_EQ(link->TextColor(), StaticURL::kAtRest);
}

TEST_F(StaticURLTest, ARuntimeExceptionFromShowURLCarriesTheContextLabel) {
  link->URL = "http://example.test/";
  link->RaiseOpen();
  rb::SetShowURLHook([](const rb::String&) { throw rb::RuntimeException("no browser"); });
  try {
    link->RaiseEvent<void>("MouseUp", 2, 2);
    ADD_FAILURE() << "the exception was swallowed";
  } catch (const rb::RuntimeException& e) {
    EXPECT_EQ(e.Message, "no browser\rStaticURL.MouseUp");
  }
  rb::SetShowURLHook([](const rb::String& url) { OpenedURLs().emplace_back(url); });
}

TEST_F(StaticURLTest, OtherExceptionsPassUnchanged) {
  link->RaiseOpen();
  rb::SetShowURLHook([](const rb::String&) { throw std::runtime_error("plain"); });
  try {
    link->RaiseEvent<void>("MouseUp", 2, 2);
    ADD_FAILURE() << "the exception was swallowed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "plain");
  }
  rb::SetShowURLHook([](const rb::String& url) { OpenedURLs().emplace_back(url); });
}

}  // namespace
