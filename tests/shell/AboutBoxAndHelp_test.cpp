#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "AquaAboutBox.h"
#include "Chimewick.h"
#include "HelpWindow.h"
#include "ResourceText.h"
#include "ShellTestSupport.h"
#include "StaticURL.h"
#include "rb/Runtime.h"

namespace {

int TopOf(const rb::Window& w, const char* name) { return w.Find<rb::RectControl>(name)->Top(); }

// A text field shows the resources' carriage returns as line breaks and
// gives its text back with the platform's line end.
std::string AsShown(std::string text) {
  std::replace(text.begin(), text.end(), '\r', '\n');
  return text;
}

int CountLines(std::string_view text, char separator) {
  return text.empty() ? 0 : int(std::count(text.begin(), text.end(), separator)) + 1;
}

TEST(AboutBox, ShowsItsControlsInOrderWithTheirTexts) {
  auto box = AquaAboutBoxAccessor();
  EXPECT_EQ(box->Width(), 284);
  EXPECT_EQ(box->Height(), 340);
  EXPECT_EQ(box->Title(), "");
  EXPECT_FALSE(box->Property("MinimizeButton").BooleanValue());
  EXPECT_TRUE(box->Property("CloseButton").BooleanValue());

  const char* order[] = {"icon", "name", "version", "description", "credits", "copyright", "homePage"};
  ASSERT_EQ(box->ControlCount(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(box->ControlAt(i)->Name(), order[i]) << i;

  EXPECT_EQ(box->Find<rb::StaticText>("name")->Text(), "Chimewick");
  EXPECT_EQ(box->Find<rb::StaticText>("version")->Text(), App()->ShortVersion());
  EXPECT_EQ(box->Find<rb::StaticText>("description")->Text(), "Plug-n-Play Keyboard Synthesizer");
  const std::string licence = box->Find<rb::EditField>("credits")->Text().Bytes();
  EXPECT_EQ(CountLines(licence, '\n'), 49);
  EXPECT_NEAR(double(licence.size()), 6700.0, 300.0);
  EXPECT_TRUE(box->Find<rb::EditField>("credits")->ReadOnly());
  const std::string copyright = box->Find<rb::StaticText>("copyright")->Text().Bytes();
  EXPECT_NE(copyright.find("2026"), std::string::npos);
  EXPECT_NE(copyright.find("Brambury Software"), std::string::npos);

  auto link = box->Find<StaticURL>("homePage");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->Text(), "Brambury Software");
  EXPECT_EQ(link->URL, App()->HomePageAddress());
  EXPECT_EQ(link->TextColor(), StaticURL::kAtRest) << "link blue, not the property list's darker blue";
  EXPECT_TRUE(link->Underline());
  EXPECT_EQ(box->Height(), 340) << "a home page address is set, so nothing is hidden";

  EXPECT_TRUE(box->Find<rb::Canvas>("icon")->Backdrop()) << "the icon picture is in the resources";
  std::filesystem::create_directories(SCREENSHOT_DIR);
  EXPECT_TRUE(box->SaveScreenshot(SCREENSHOT_DIR "/AquaAboutBox.png"));
  box->Close();
}

TEST(AboutBox, HidingTheCreditsClosesTheGapBelowThem) {
  auto box = AquaAboutBoxAccessor();
  auto credits = box->Find<rb::RectControl>("credits");
  box->hideControl(*credits);
  EXPECT_FALSE(credits->Visible());
  EXPECT_EQ(TopOf(*box, "credits"), 41);
  EXPECT_EQ(TopOf(*box, "copyright"), 168);
  EXPECT_EQ(TopOf(*box, "homePage"), 180);
  EXPECT_EQ(TopOf(*box, "description"), 131) << "controls above stay";
  EXPECT_EQ(box->Height(), 213);

  box->hideControl(*credits);  // already hidden: nothing moves
  EXPECT_EQ(TopOf(*box, "copyright"), 168);
  EXPECT_EQ(box->Height(), 213);
  box->Close();
}

TEST(AboutBox, HidingTheLastControlDoesNotReachPastTheControls) {
  auto box = AquaAboutBoxAccessor();
  auto link = box->Find<rb::RectControl>("homePage");
  box->hideControl(*link);
  EXPECT_FALSE(link->Visible());
  EXPECT_EQ(TopOf(*box, "copyright"), 295);
  EXPECT_EQ(box->Height(), 307);
  box->Close();
}

TEST(AboutBox, EveryShowingBuildsANewBox) {
  auto first = AquaAboutBoxAccessor();
  EXPECT_EQ(AquaAboutBoxAccessor().get(), first.get()) << "one box while it is open";
  first->Close();
  auto second = AquaAboutBoxAccessor();
  EXPECT_NE(second.get(), first.get());
  EXPECT_EQ(second->Find<rb::StaticText>("name")->Text(), "Chimewick");
  second->Close();
}

TEST(AboutBox, ShowModalReturnsWhenTheBoxCloses) {
  rb::PostToEventLoop([] {
    if (auto box = rb::FindImplicitWindow("AquaAboutBox")) box->Close();
  });
  AquaAboutBoxAccessor()->ShowModal();
  EXPECT_FALSE(rb::FindImplicitWindow("AquaAboutBox"));
}

TEST(HelpWindow, HoldsTheQuickStartTextAndOneInstance) {
  auto help = HelpWindowAccessor();
  EXPECT_EQ(help->Title(), "Chimewick Help");
  EXPECT_EQ(help->Width(), 300);
  EXPECT_EQ(help->Height(), 300);
  EXPECT_FALSE(help->Property("Resizeable").BooleanValue());
  EXPECT_EQ(HelpWindowAccessor().get(), help.get());

  const std::string text = help->Find<rb::EditField>("EditField1")->Text().Bytes();
  EXPECT_EQ(text, AsShown(chimewick::ResourceText("QuickStart.txt")));
  EXPECT_EQ(CountLines(text, '\n'), 20);
  for (const char* line :
       {"T - Transpose upwards", "R - Transpose downwards", "P - Move pitch up", "O - Move pitch down",
        "1..6 - Select Preset (Shift to set)", "Arrow Keys - Change instrument",
        "C, D, E, F, G, A, B - Select Key (Keyboard \u2018C\u2019 plays as the selected key)"}) {
    EXPECT_NE(text.find(std::string("\n") + line), std::string::npos) << line;
  }
  EXPECT_FALSE(help->Find<rb::PushButton>("PushButton1")->Property("Default").BooleanValue());
  std::filesystem::create_directories(SCREENSHOT_DIR);
  EXPECT_TRUE(help->SaveScreenshot(SCREENSHOT_DIR "/HelpWindow.png"));
  help->Close();
}

// The close box only hides the main window, so the help says how it comes
// back; and its shortcut list leaves out the 0 key (reset), so it does not
// claim to list every key.
TEST(HelpWindow, TheQuickStartTextSaysHowTheHiddenWindowComesBackAndClaimsNoCompleteList) {
  const std::string text = chimewick::ResourceText("QuickStart.txt");
  EXPECT_NE(text.find("close its main window"), std::string::npos);
  EXPECT_NE(text.find("starting Chimewick again brings it back"), std::string::npos);
  EXPECT_EQ(text.find("0 - "), std::string::npos) << "the list names no reset key";
  EXPECT_EQ(text.find("every one"), std::string::npos);
}

TEST(HelpWindow, OKClosesItAndEditsAreLost) {
  auto help = HelpWindowAccessor();
  help->Find<rb::EditField>("EditField1")->SetText("scribbles");
  help->Find<rb::PushButton>("PushButton1")->Push();
  EXPECT_FALSE(rb::FindImplicitWindow("HelpWindow"));
  help.reset();
  auto again = HelpWindowAccessor();
  EXPECT_EQ(again->Find<rb::EditField>("EditField1")->Text().Bytes(),
            AsShown(chimewick::ResourceText("QuickStart.txt")));
  again->Close();
}

}  // namespace
