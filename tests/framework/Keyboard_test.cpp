// Keyboard state by the original platform's virtual key codes, tracked from
// the key events that pass through the application.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <functional>

#include "GuiTestSupport.h"

namespace {

using rbtest::GuiTest;

class KeyboardTest : public GuiTest {
 protected:
  void Send(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, quint32 scanCode,
            const QString& text) {
    QKeyEvent event(type, key, modifiers, scanCode, 0, 0, text);
    QCoreApplication::sendEvent(&target, &event);
  }
  QWidget target;
};

constexpr int kAllCodes[] = {18, 19, 20, 21, 22, 23, 123, 124, 125, 126};

TEST_F(KeyboardTest, PhysicalKeysAreTrackedByVirtualCode) {
  struct Case {
    const char* what;
    int key;
    Qt::KeyboardModifiers modifiers;
    quint32 scanCode;
    const char* text;
    int expected;  // 0: no tracked key
  };
  const Case cases[] = {
      {"1", Qt::Key_1, Qt::NoModifier, 10, "1", 18},
      {"Shift+1 types !", Qt::Key_Exclam, Qt::ShiftModifier, 10, "!", 18},
      {"Shift+1 without a scan code", Qt::Key_Exclam, Qt::ShiftModifier, 0, "!", 18},
      {"2", Qt::Key_2, Qt::NoModifier, 11, "2", 19},
      {"Shift+4", Qt::Key_Dollar, Qt::ShiftModifier, 13, "$", 21},
      {"5", Qt::Key_5, Qt::NoModifier, 14, "5", 23},
      {"Shift+6", Qt::Key_AsciiCircum, Qt::ShiftModifier, 15, "^", 22},
      {"6 without a scan code", Qt::Key_6, Qt::NoModifier, 0, "6", 22},
      {"keypad 1", Qt::Key_1, Qt::KeypadModifier, 87, "1", 0},
      {"keypad 1 without a scan code", Qt::Key_1, Qt::KeypadModifier, 0, "1", 0},
      {"left", Qt::Key_Left, Qt::NoModifier, 113, "", 123},
      {"right", Qt::Key_Right, Qt::NoModifier, 114, "", 124},
      {"down", Qt::Key_Down, Qt::NoModifier, 116, "", 125},
      {"up", Qt::Key_Up, Qt::NoModifier, 111, "", 126},
      {"a letter", Qt::Key_Q, Qt::NoModifier, 24, "q", 0},
  };
  for (const Case& c : cases) {
    Send(QEvent::KeyPress, c.key, c.modifiers, c.scanCode, c.text);
    for (int code : kAllCodes)
      EXPECT_EQ(rb::Keyboard::AsyncKeyDown(code), code == c.expected) << c.what << ", code " << code;
    Send(QEvent::KeyRelease, c.key, c.modifiers, c.scanCode, c.text);
    for (int code : kAllCodes)
      EXPECT_FALSE(rb::Keyboard::AsyncKeyDown(code)) << c.what << " released, code " << code;
  }
}

TEST_F(KeyboardTest, ReleasingShiftBeforeTheDigitStillReleasesTheDigit) {
  Send(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, 50, "");
  EXPECT_TRUE(rb::Keyboard::AsyncShiftKey());
  Send(QEvent::KeyPress, Qt::Key_Exclam, Qt::ShiftModifier, 10, "!");
  Send(QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier, 50, "");
  EXPECT_FALSE(rb::Keyboard::AsyncShiftKey());
  EXPECT_TRUE(rb::Keyboard::AsyncKeyDown(18));
  Send(QEvent::KeyRelease, Qt::Key_1, Qt::NoModifier, 10, "1");  // the same key now says "1"
  EXPECT_FALSE(rb::Keyboard::AsyncKeyDown(18));
}

TEST_F(KeyboardTest, TestSeamsOverrideAndResetRestores) {
  rb::Keyboard::SetKeyDownForTesting(126, true);
  rb::Keyboard::SetShiftDownForTesting(true);
  EXPECT_TRUE(rb::Keyboard::AsyncKeyDown(126));
  EXPECT_TRUE(rb::Keyboard::AsyncShiftKey());
  rb::Keyboard::ResetForTesting();
  EXPECT_FALSE(rb::Keyboard::AsyncKeyDown(126));
  EXPECT_FALSE(rb::Keyboard::AsyncShiftKey());
}

TEST_F(KeyboardTest, KeysHeldWhenTheApplicationLosesTheKeyboardAreLetGo) {
  // The release goes to another program: no key may stay down for ever.
  struct Case {
    const char* what;
    std::function<void()> send;
    bool forgets;
  };
  const auto stateChange = [](Qt::ApplicationState state) {
    return [state] {
      QApplicationStateChangeEvent event(state);
      QCoreApplication::sendEvent(qApp, &event);
    };
  };
  const Case cases[] = {
      {"deactivated",
       [] {
         QEvent event(QEvent::ApplicationDeactivate);
         QCoreApplication::sendEvent(qApp, &event);
       },
       true},
      {"inactive", stateChange(Qt::ApplicationInactive), true},
      {"hidden", stateChange(Qt::ApplicationHidden), true},
      {"suspended", stateChange(Qt::ApplicationSuspended), true},
      {"active again", stateChange(Qt::ApplicationActive), false},
  };
  for (const Case& c : cases) {
    Send(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, 50, "");
    Send(QEvent::KeyPress, Qt::Key_Exclam, Qt::ShiftModifier, 10, "!");
    Send(QEvent::KeyPress, Qt::Key_Up, Qt::ShiftModifier, 111, "");
    c.send();
    EXPECT_EQ(rb::Keyboard::AsyncKeyDown(18), !c.forgets) << c.what;
    EXPECT_EQ(rb::Keyboard::AsyncKeyDown(126), !c.forgets) << c.what;
    EXPECT_EQ(rb::Keyboard::AsyncShiftKey(), !c.forgets) << c.what;
    rb::Keyboard::ResetForTesting();
  }
}

}  // namespace
