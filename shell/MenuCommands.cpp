#include "MenuCommands.h"

#include "AquaAboutBox.h"
#include "Chimewick.h"
#include "HelpWindow.h"
#include "MenuBar1.h"
#include "Window1.h"
#include "rb/Dialogs.h"
#include "rb/Runtime.h"

void Window1_AddMenuHandlers(Window1& window) {
  using Action = bool (*)(Window1&);
  static constexpr std::pair<const char*, Action> kBindings[] = {
      {"HelpCheckforUpdates", _HelpCheckforUpdates_Action},
      {"FileQuit", _FileQuit_Action},
      {"HelpQuickStart", _HelpQuickStart_Action},
      {"HelpAboutPlinkett", _HelpAboutPlinkett_Action},
      {"HelpPlinkettontheWeb", _HelpPlinkettontheWeb_Action},
      {"HelpSupport", _HelpSupport_Action},
  };
  // The window owns its handlers, so they may hold it by reference.
  for (const auto& [itemName, action] : kBindings) {
    window.AddMenuHandler(itemName, [&window, action = action] { return action(window); });
  }
}

bool _HelpCheckforUpdates_Action(Window1&) {
  App()->CheckForUpdates("ChimewickHE");
  return true;
}

bool _FileQuit_Action(Window1&) {
  rb::Quit();
  return true;
}

bool _HelpQuickStart_Action(Window1&) {
  HelpWindowAccessor()->Show();
  return true;
}

bool _HelpAboutPlinkett_Action(Window1&) {
  AquaAboutBoxAccessor()->ShowModal();
  return true;
}

bool _HelpPlinkettontheWeb_Action(Window1&) {
  rb::ShowURL(App()->HomePageAddress());
  return true;
}

bool _HelpSupport_Action(Window1&) {
  rb::ShowURL(App()->SupportAddress());
  return true;
}

void InstallMainWindowMenus() {
  Window1::SetMenuSupport({[] { return rb::Ref<rb::MenuBar>(MenuBar1Accessor()); }, Window1_AddMenuHandlers});
}
