// Which physical keys are down, by the original platform's virtual key codes.
//
// The application's notify() passes every key event here. A main-row digit is
// recognised by its physical key: the X11 (evdev) scan code where the
// platform gives one, otherwise the key it types without the keypad modifier,
// including the US shifted symbols, so Shift+1 ("!") still holds key 1.
#include "rb/Keyboard.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <array>
#include <map>

#include "FrameworkInternal.h"

namespace rb {
namespace {

constexpr int kLeft = 123, kRight = 124, kDown = 125, kUp = 126;
// Main-row digits 1..6.
constexpr std::array<int, 6> kDigitCodes = {18, 19, 20, 21, 23, 22};
// X11 keycodes (evdev + 8) of the main-row digits 1..6.
constexpr int kFirstDigitScanCode = 10;

struct KeyState {
  std::map<int, bool> tracked;    // virtual code -> down
  std::map<int, bool> overrides;  // test seam
  bool shiftTracked = false;
  int shiftOverride = -1;  // -1 none, else 0/1
};

KeyState& State() {
  static KeyState state;
  return state;
}

bool ScanCodesAreX11() {
  const QString name = QGuiApplication::platformName();
  return name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland")) ||
         name == QLatin1String("offscreen");
}

int DigitCode(int digit) { return kDigitCodes[size_t(digit - 1)]; }

// The virtual code of the physical key of this event, or 0 for one we
// don't track.
int VirtualCodeOf(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Left:
      return kLeft;
    case Qt::Key_Right:
      return kRight;
    case Qt::Key_Down:
      return kDown;
    case Qt::Key_Up:
      return kUp;
    default:
      break;
  }
  if (event.modifiers() & Qt::KeypadModifier) return 0;
  // xcb and Wayland report X11 keycodes (evdev + 8); offscreen passes through
  // whatever the sender gave, which for our tests is the same scheme.
  const quint32 scan = event.nativeScanCode();
  if (scan >= kFirstDigitScanCode && scan < kFirstDigitScanCode + 6 && ScanCodesAreX11()) {
    return DigitCode(int(scan) - kFirstDigitScanCode + 1);
  }
  switch (event.key()) {
    case Qt::Key_1:
    case Qt::Key_Exclam:
      return DigitCode(1);
    case Qt::Key_2:
    case Qt::Key_At:
      return DigitCode(2);
    case Qt::Key_3:
    case Qt::Key_NumberSign:
      return DigitCode(3);
    case Qt::Key_4:
    case Qt::Key_Dollar:
      return DigitCode(4);
    case Qt::Key_5:
    case Qt::Key_Percent:
      return DigitCode(5);
    case Qt::Key_6:
    case Qt::Key_AsciiCircum:
      return DigitCode(6);
    default:
      return 0;
  }
}

}  // namespace

void TrackKeyEvent(const QKeyEvent& event) {
  KeyState& s = State();
  const bool down = event.type() == QEvent::KeyPress;
  if (event.key() == Qt::Key_Shift) s.shiftTracked = down;
  if (const int code = VirtualCodeOf(event)) {
    if (event.isAutoRepeat() && !down) return;  // a repeat's release isn't the key going up
    s.tracked[code] = down;
  }
}

void ForgetAllKeys() {
  State().tracked.clear();
  State().shiftTracked = false;
}

bool Keyboard::AsyncKeyDown(int virtualKeyCode) {
  const KeyState& s = State();
  if (auto it = s.overrides.find(virtualKeyCode); it != s.overrides.end()) return it->second;
  auto it = s.tracked.find(virtualKeyCode);
  return it != s.tracked.end() && it->second;
}

bool Keyboard::AsyncShiftKey() {
  const KeyState& s = State();
  if (s.shiftOverride >= 0) return s.shiftOverride == 1;
  if (s.shiftTracked) return true;
  // Only a display server knows better than the events we saw (a Shift
  // pressed before the application started, or while another had focus).
  if (QGuiApplication::instance() == nullptr || QGuiApplication::platformName() != QLatin1String("xcb"))
    return false;
  return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

void Keyboard::SetKeyDownForTesting(int virtualKeyCode, bool down) {
  State().overrides[virtualKeyCode] = down;
}

void Keyboard::SetShiftDownForTesting(bool down) { State().shiftOverride = down ? 1 : 0; }

void Keyboard::ResetForTesting() {
  KeyState& s = State();
  s.overrides.clear();
  s.shiftOverride = -1;
  ForgetAllKeys();
}

}  // namespace rb
