// Modal message boxes and opening addresses in the browser, with the seams
// that let tests take them over.
#pragma once

#include <functional>

#include "rb/String.h"

namespace rb {

// Shows a modal message box and returns when it is dismissed. Main thread.
void MsgBox(const String& text);

// Opens the address in the default browser. Main thread.
void ShowURL(const String& address);

// Test seams: while a hook is set, MsgBox / ShowURL call it instead and show
// nothing. An empty function restores the real behaviour.
void SetMsgBoxHook(std::function<void(const String&)> hook);
void SetShowURLHook(std::function<void(const String&)> hook);

}  // namespace rb
