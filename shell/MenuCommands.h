// The menu commands of the main window, bound to the menu items by name when
// the window is made. Each action returns true: the command was handled.
// UI thread. Check for Updates waits for the reply and its message box, About
// for the modal box to close; the others return at once.
#pragma once

class Window1;

// The main window's AddMenuHandlers: binds the six actions to their items.
void Window1_AddMenuHandlers(Window1& window);

bool _HelpCheckforUpdates_Action(Window1& window);
bool _FileQuit_Action(Window1& window);
bool _HelpQuickStart_Action(Window1& window);
bool _HelpAboutPlinkett_Action(Window1& window);
bool _HelpPlinkettontheWeb_Action(Window1& window);
bool _HelpSupport_Action(Window1& window);

// Gives the main window its menubar and these commands. Call once at
// start-up, before the main window is made.
void InstallMainWindowMenus();
