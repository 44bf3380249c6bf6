// Menus: the menu tree on a QMenuBar, choosing items, Quit, enabling.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>

#include "GuiTestSupport.h"

namespace {

using rbtest::GuiTest;

class MenuTest : public GuiTest {};

template <class T = rb::MenuItem>
rb::Ref<T> Item(const char* name, const char* text, const char* shortcut = "", bool autoEnable = true) {
  auto item = rb::New<T>();
  item->Name = name;
  item->AutoEnable = autoEnable;
  item->Text = text;
  item->KeyboardShortcut = shortcut;
  return item;
}

rb::Ref<rb::MenuBar> MakeBar() {
  auto bar = rb::New<rb::MenuBar>();
  bar->Append(Item("FileMenu", "&File", "", false));
  bar->Child("FileMenu")->Append(Item<rb::QuitMenuItem>("FileQuit", "Quit", "Cmd+Q"));
  bar->Append(Item("HelpMenu", "Help"));
  bar->Child("HelpMenu")->Append(Item<rb::AppleMenuItem>("HelpAbout", "About"));
  bar->Child("HelpMenu")->Append(Item("UntitledSeparator", "-"));
  bar->Child("HelpMenu")->Append(Item("HelpSupport", "Support"));
  return bar;
}

QAction* ActionNamed(QMenuBar* bar, const QString& text) {
  for (QAction* action : bar->findChildren<QAction*>()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

TEST_F(MenuTest, TheTreeBecomesAQtMenuBar) {
  auto window = rb::New<rb::Window>();
  window->SetMenuBar(MakeBar());
  window->Construct();
  auto* bar = window->Widget()->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  const QList<QAction*> menus = bar->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), QString("&File"));
  EXPECT_EQ(menus[1]->text(), QString("Help"));
  QAction* quit = ActionNamed(bar, "Quit");
  ASSERT_NE(quit, nullptr);
  EXPECT_EQ(quit->shortcut(), QKeySequence("Ctrl+Q"));
  const QList<QAction*> help = menus[1]->menu()->actions();
  ASSERT_EQ(help.size(), 3);
  EXPECT_EQ(help[0]->text(), QString("About"));
  EXPECT_TRUE(help[1]->isSeparator());
  EXPECT_EQ(help[2]->text(), QString("Support"));
  EXPECT_EQ(window->GetMenuBar()->Child("HelpMenu")->Item(2)->Name.Bytes(), "HelpSupport");
  EXPECT_FALSE(window->GetMenuBar()->Child("HelpMenu")->Item(3));
  EXPECT_FALSE(window->GetMenuBar()->Child("Nothing"));
}

TEST_F(MenuTest, ChoosingAnItemRunsTheWindowsHandlerByName) {
  auto window = rb::New<rb::Window>();
  window->SetMenuBar(MakeBar());
  int supports = 0;
  window->SetHandler<void()>("AddMenuHandlers", [&] {
    window->AddMenuHandler("HelpSupport", [&] {
      ++supports;
      return true;
    });
  });
  window->Construct();
  auto* bar = window->Widget()->findChild<QMenuBar*>();
  ActionNamed(bar, "Support")->trigger();
  EXPECT_EQ(supports, 1);
  EXPECT_TRUE(window->ChooseMenuItem("HelpSupport"));
  EXPECT_EQ(supports, 2);
  EXPECT_FALSE(window->ChooseMenuItem("HelpAbout"));
}

TEST_F(MenuTest, AutoEnableFollowsTheHandlersAndQuitIsAlwaysOn) {
  auto window = rb::New<rb::Window>();
  window->SetMenuBar(MakeBar());
  window->SetHandler<void()>("AddMenuHandlers",
                             [&] { window->AddMenuHandler("HelpSupport", [] { return true; }); });
  window->Construct();
  auto* bar = window->Widget()->findChild<QMenuBar*>();
  EXPECT_TRUE(ActionNamed(bar, "Support")->isEnabled());
  EXPECT_FALSE(ActionNamed(bar, "About")->isEnabled());
  EXPECT_TRUE(ActionNamed(bar, "Quit")->isEnabled());
  EXPECT_TRUE(bar->actions()[0]->isEnabled());  // a menu title stays enabled
}

TEST_F(MenuTest, KeysInAnOpenMenuStayWithTheMenu) {
  auto window = rb::New<rb::Window>();
  window->SetMenuBar(MakeBar());
  int keyDowns = 0;
  window->SetHandler<bool(rb::String)>("KeyDown", [&](rb::String) {
    ++keyDowns;
    return true;
  });
  window->Construct();
  QMenu* help = window->Widget()->findChild<QMenuBar*>()->actions()[1]->menu();
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
  QCoreApplication::sendEvent(help, &down);
  EXPECT_EQ(keyDowns, 0);
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QCoreApplication::sendEvent(window->Widget(), &letter);
  EXPECT_EQ(keyDowns, 1);
}

// Keys through the window system's road, as the player types them: Qt's
// shortcuts first, then the open menu, which hands the keys it does not use
// to its menu bar.
TEST_F(MenuTest, KeysTypedWhileAMenuIsOpenNeverReachKeyDown) {
  auto window = rb::New<rb::Window>();
  window->SetMenuBar(MakeBar());
  std::vector<std::string> keys;
  window->SetHandler<bool(rb::String)>("KeyDown", [&](rb::String key) {
    keys.push_back(key.Bytes());
    return false;
  });
  window->Construct();
  QWindow* top = window->Widget()->windowHandle();
  ASSERT_NE(top, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(top));
  QTest::keyClick(top, Qt::Key_F, Qt::AltModifier);
  ASSERT_TRUE(qobject_cast<QMenu*>(QApplication::activePopupWidget())) << "Alt+F opens the File menu";
  for (Qt::Key key : {Qt::Key_G, Qt::Key_Right, Qt::Key_T, Qt::Key_Left, Qt::Key_Escape})
    QTest::keyClick(top, key);
  // The menu bar keeps the keyboard after Escape; a further key is its too.
  QTest::keyClick(top, Qt::Key_G);
  EXPECT_TRUE(keys.empty()) << keys.size() << " keys reached KeyDown, the first \"" << keys.front() << "\"";
  while (QApplication::activePopupWidget() != nullptr) QApplication::activePopupWidget()->close();
  QTest::keyClick(top, Qt::Key_Escape);
  window->Widget()->activateWindow();
  window->Widget()->setFocus();
  keys.clear();
  QTest::keyClick(top, Qt::Key_A);
  EXPECT_EQ(keys, std::vector<std::string>{"a"}) << "keys typed to the window itself still arrive";
}

TEST_F(MenuTest, QuitItemWithoutAHandlerQuits) {
  auto window = rb::New<rb::Window>();
  window->SetMenuBar(MakeBar());
  std::vector<std::string> log;
  window->SetHandler<bool(bool)>("CancelClose", [&](bool quitting) {
    log.push_back(quitting ? "CancelClose(true)" : "CancelClose(false)");
    return false;
  });
  window->SetHandler<void()>("Close", [&] { log.push_back("Close"); });
  window->Construct();
  ActionNamed(window->Widget()->findChild<QMenuBar*>(), "Quit")->trigger();
  EXPECT_TRUE(rb::IsQuitting());
  EXPECT_EQ(log, (std::vector<std::string>{"CancelClose(true)", "Close"}));
  rb::RuntimeRun();  // returns at once and ends the quit
}

TEST_F(MenuTest, AnItemOfAFreedWindowGoesToTheOpenWindowsThatHandleIt) {
  int supports = 0;
  auto handler = rb::New<rb::Window>();
  handler->SetHandler<void()>("AddMenuHandlers", [&] {
    handler->AddMenuHandler("HelpSupport", [&] {
      ++supports;
      return true;
    });
  });
  handler->Construct();
  QPointer<QAction> support;
  {
    auto owner = rb::New<rb::Window>();
    owner->SetMenuBar(MakeBar());
    owner->Construct();
    support = ActionNamed(owner->Widget()->findChild<QMenuBar*>(), "Support");
    owner->Close();
  }
  // The freed window's widgets wait to be deleted; a shortcut may still
  // reach their actions until then.
  ASSERT_FALSE(support.isNull());
  support->trigger();
  EXPECT_EQ(supports, 1);
}

}  // namespace
