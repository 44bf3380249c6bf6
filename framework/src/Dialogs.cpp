// Message boxes and the browser, each with a hook that tests take over.
#include "rb/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "FrameworkInternal.h"
#include "NativeWindow.h"

namespace rb {
namespace {
std::function<void(const String&)>& MsgBoxHook() {
  static std::function<void(const String&)> hook;
  return hook;
}
std::function<void(const String&)>& ShowURLHook() {
  static std::function<void(const String&)> hook;
  return hook;
}
}  // namespace

void MsgBox(const String& text) {
  if (auto& hook = MsgBoxHook()) {
    hook(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), ToQString(text),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  // Kept with the window it blocks, so the window manager never minimises
  // it away from that window.
  if (QWidget* blocked = WindowBlockedBy(&box)) MakeTransientFor(box, *blocked);
  {
    EventLoopScope loop;
    box.exec();
  }
  RethrowPendingException();
}

void ShowURL(const String& address) {
  if (auto& hook = ShowURLHook()) {
    hook(address);
    return;
  }
  QDesktopServices::openUrl(QUrl(ToQString(address)));
}

void SetMsgBoxHook(std::function<void(const String&)> hook) { MsgBoxHook() = std::move(hook); }
void SetShowURLHook(std::function<void(const String&)> hook) { ShowURLHook() = std::move(hook); }

}  // namespace rb
