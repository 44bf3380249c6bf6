// The state of the keyboard right now, by the original platform's virtual key
// codes: arrows left 123, right 124, down 125, up 126; main-row digits
// 1..6 = 18, 19, 20, 21, 23, 22. The framework tracks physical keys, so
// Shift+1 (which types "!") still holds key 1 down; keypad digits are other
// keys.
#pragma once

namespace rb {

struct Keyboard {
  // Whether the key with this virtual key code is down now. Main thread.
  static bool AsyncKeyDown(int virtualKeyCode);
  // Whether a Shift key is down now. Main thread.
  static bool AsyncShiftKey();

  // Test seam: override the state (true = down). ResetForTesting returns to
  // the tracked real state with nothing held.
  static void SetKeyDownForTesting(int virtualKeyCode, bool down);
  static void SetShiftDownForTesting(bool down);
  static void ResetForTesting();
};

}  // namespace rb
