#include <gtest/gtest.h>

#include <QTest>
#include <functional>

#include "Chimewick.h"
#include "HelpWindow.h"
#include "MenuBar1.h"
#include "MenuCommands.h"
#include "ShellTestSupport.h"
#include "Window1.h"
#include "rb/Runtime.h"

namespace {

TEST(MenuBar, HasTheFileAndHelpMenusInOrder) {
  auto bar = MenuBar1Accessor();
  ASSERT_EQ(bar->Count(), 2);
  struct Expected {
    const char* menu;
    int index;
    const char* name;
    const char* className;
    const char* text;
    const char* shortcut;
    bool autoEnable;
  };
  const Expected items[] = {
      {nullptr, 0, "FileMenu", "MenuItem", "&File", "", false},
      {"FileMenu", 0, "FileQuit", "QuitMenuItem", "Quit", "Cmd+Q", true},
      {nullptr, 1, "HelpMenu", "MenuItem", "Help", "", true},
      {"HelpMenu", 0, "HelpAboutPlinkett", "AppleMenuItem", "About Chimewick", "", true},
      {"HelpMenu", 1, "HelpQuickStart", "MenuItem", "Quick Start", "", true},
      {"HelpMenu", 2, "HelpCheckforUpdates", "AppleMenuItem", "Check for Updates", "", true},
      {"HelpMenu", 3, "UntitledSeparator", "MenuItem", "-", "", true},
      {"HelpMenu", 4, "HelpPlinkettontheWeb", "MenuItem", "Chimewick on the Web", "", true},
      {"HelpMenu", 5, "HelpSupport", "MenuItem", "Support", "", true},
  };
  for (const auto& e : items) {
    rb::Ref<rb::MenuItem> parent = e.menu ? bar->Child(e.menu) : rb::Ref<rb::MenuItem>(bar);
    ASSERT_TRUE(parent) << e.name;
    auto item = parent->Item(e.index);
    ASSERT_TRUE(item) << e.name;
    EXPECT_EQ(item->Name, e.name);
    EXPECT_EQ(item->ClassName(), e.className) << e.name;
    EXPECT_EQ(item->Text.Bytes(), e.text) << e.name;
    EXPECT_EQ(item->KeyboardShortcut.Bytes(), e.shortcut) << e.name;
    EXPECT_EQ(item->AutoEnable, e.autoEnable) << e.name;
  }
  EXPECT_EQ(bar->Child("FileMenu")->Count(), 1);
  EXPECT_EQ(bar->Child("HelpMenu")->Count(), 6);
  EXPECT_EQ(MenuBar1Accessor().get(), bar.get()) << "built once";
}

class MenuCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShownMessages().clear();
    OpenedURLs().clear();
    window = rb::New<Window1>();  // not opened: the commands only need a window to run on
    App()->SiteRoot = "http://127.0.0.1:1/";
  }
  rb::Ref<Window1> window;
};

TEST_F(MenuCommandsTest, AddMenuHandlersBindsEachCommandToItsItem) {
  Window1_AddMenuHandlers(*window);
  // Each item is chosen by name and must do its own command's work: a
  // misspelt or swapped binding shows here.
  struct Case {
    const char* item;
    std::function<void()> before;
    std::function<void()> check;
  };
  int aboutClosed = 0;
  const Case cases[] = {
      {"HelpSupport", nullptr,
       [] {
         ASSERT_EQ(OpenedURLs().size(), 1u);
         EXPECT_EQ(OpenedURLs()[0], "http://127.0.0.1:1/forum");
       }},
      {"HelpPlinkettontheWeb", nullptr,
       [] {
         ASSERT_EQ(OpenedURLs().size(), 1u);
         EXPECT_EQ(OpenedURLs()[0], "http://127.0.0.1:1/");
       }},
      {"HelpCheckforUpdates", nullptr,
       [] {
         ASSERT_EQ(ShownMessages().size(), 1u);
         EXPECT_EQ(ShownMessages()[0].rfind("Could not access the version file on 127.0.0.1", 0), 0u);
       }},
      {"HelpQuickStart", nullptr,
       [] {
         auto help = rb::FindImplicitWindow("HelpWindow");
         ASSERT_TRUE(help);
         help->Close();
       }},
      {"HelpAboutPlinkett",
       [&] {
         rb::PostToEventLoop([&] {
           if (auto box = rb::FindImplicitWindow("AquaAboutBox")) aboutClosed += box->Close() ? 1 : 0;
         });
       },
       [&] { EXPECT_EQ(aboutClosed, 1) << "the modal about box was shown"; }},
  };
  for (const auto& c : cases) {
    ShownMessages().clear();
    OpenedURLs().clear();
    if (c.before) c.before();
    EXPECT_TRUE(window->ChooseMenuItem(c.item)) << c.item;
    c.check();
  }
  // Quit would end this test process's event loop; being bound is enough.
  EXPECT_TRUE(window->HasMenuHandler("FileQuit"));
  for (const char* unbound : {"UntitledSeparator", "FileMenu", "HelpMenu"}) {
    EXPECT_FALSE(window->HasMenuHandler(unbound)) << unbound;
    EXPECT_FALSE(window->ChooseMenuItem(unbound)) << unbound;
  }
}

TEST_F(MenuCommandsTest, CheckForUpdatesShowsOneMessageAndReturnsTrue) {
  EXPECT_TRUE(_HelpCheckforUpdates_Action(*window));
  ASSERT_EQ(ShownMessages().size(), 1u);
  EXPECT_EQ(ShownMessages()[0],
            "Could not access the version file on 127.0.0.1 to check for the latest version (0).");
}

TEST_F(MenuCommandsTest, QuickStartTwiceKeepsOneHelpWindow) {
  EXPECT_TRUE(_HelpQuickStart_Action(*window));
  auto first = rb::FindImplicitWindow("HelpWindow");
  ASSERT_TRUE(first);
  EXPECT_TRUE(_HelpQuickStart_Action(*window));
  EXPECT_EQ(rb::FindImplicitWindow("HelpWindow").get(), first.get());
  first->Close();
}

TEST_F(MenuCommandsTest, AboutShowsTheBoxModallyAndReturnsTrueWhenItCloses) {
  int closed = 0;
  rb::PostToEventLoop([&] {
    if (auto box = rb::FindImplicitWindow("AquaAboutBox")) closed += box->Close() ? 1 : 0;
  });
  EXPECT_TRUE(_HelpAboutPlinkett_Action(*window));
  EXPECT_EQ(closed, 1);
}

// Ctrl+Q asks the application to quit from whichever window it is typed
// into: also from the help window while the main window, whose menu bar
// holds Quit, is hidden by its close box. The main window refuses each quit
// here, so that every case runs in one process; what counts is that it was
// asked.
TEST(QuitShortcut, CtrlQQuitsFromEveryWindowAlsoWithTheMainWindowHidden) {
  if (rb::IsQuitting()) GTEST_SKIP() << "an earlier test in this process quit the runtime";
  InstallMainWindowMenus();
  rb::Ref<Window1> main = rb::New<Window1>();
  main->RemoveHandler("Open");  // no MIDI and no synthesizer: only the menus count here
  rb::RegisterImplicitWindow("Window1.Window1", main);
  int quitsAsked = 0;
  main->SetHandler<bool(bool)>("CancelClose", [&](bool appQuitting) {
    if (!appQuitting) main->SetVisible(false);  // the close box, as the window's own handler does
    quitsAsked += appQuitting ? 1 : 0;
    return true;
  });
  main->Construct();
  rb::Ref<HelpWindow> help = HelpWindowAccessor();

  struct Case {
    const char* what;
    bool mainShown;
    rb::Window* typedInto;
  };
  const Case cases[] = {
      {"the help window, main window hidden by its close box", false, help.get()},
      {"the help window, main window shown", true, help.get()},
      {"the main window", true, main.get()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.mainShown) {
      main->Show();
    } else {
      EXPECT_FALSE(main->Close());
      ASSERT_FALSE(main->Visible());
    }
    QWidget* window = c.typedInto->Widget();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* target = window->focusWidget() != nullptr ? window->focusWidget() : window;
    const int before = quitsAsked;
    QTest::keyClick(target, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quitsAsked, before + 1) << "Ctrl+Q asked the application to quit";
    EXPECT_FALSE(rb::IsQuitting()) << "the refused quit ends";
  }
  help->Close();
  main->RemoveHandler("CancelClose");
  main->Close();
}

TEST_F(MenuCommandsTest, QuitQuitsTheApplication) {
  EXPECT_TRUE(_FileQuit_Action(*window));
  EXPECT_TRUE(rb::IsQuitting());
}

}  // namespace
