// What the framework tells the window manager beyond what Qt says for it.
#pragma once

class QWidget;

namespace rb {

// Makes the title of a top-level widget that has none really empty on X11:
// Qt writes the application's name where the title is empty. Does nothing
// on other platforms or before the widget has a native window. UI thread.
void ClearEmptyNativeTitle(QWidget& top);

// Makes the top-level widget a dialog that the window manager keeps with
// the window it blocks (WM_TRANSIENT_FOR on X11): minimising or raising one
// takes the other along. Creates the native window when there is none yet.
// UI thread.
void MakeTransientFor(QWidget& dialog, QWidget& blocked);

// The top-level widget a modal box shown now blocks: the active window when
// it is another than dialog, else the newest other visible window of the
// framework; null when there is none. UI thread.
QWidget* WindowBlockedBy(const QWidget* dialog);

}  // namespace rb
