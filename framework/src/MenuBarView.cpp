// A window's menu bar on a QMenuBar, menu handlers bound by item name, and
// automatic enabling.
//
// "&File" marks the mnemonic; the text "-" is a separator; "Cmd+Q" is Ctrl+Q.
// Menus (items with children) are always enabled. A leaf item with AutoEnable
// is enabled while some open window has a handler for it, and a QuitMenuItem
// always; a leaf item without AutoEnable stays enabled. The items' shortcuts
// work from every window of the framework.
#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QVBoxLayout>
#include <vector>

#include "FrameworkInternal.h"
#include "WindowImpl.h"
#include "rb/Runtime.h"

namespace rb {
namespace {

constexpr const char* kItemName = "rbItemName";
constexpr const char* kAutoEnable = "rbAutoEnable";
constexpr const char* kQuitItem = "rbQuitItem";

QKeySequence ShortcutOf(const String& text) {
  QString keys = ToQString(text);
  keys.replace(QStringLiteral("Cmd"), QStringLiteral("Ctrl"), Qt::CaseInsensitive);
  keys.replace(QStringLiteral("Command"), QStringLiteral("Ctrl"), Qt::CaseInsensitive);
  return QKeySequence(keys);
}

bool IsQuitItem(const MenuItem& item) { return dynamic_cast<const QuitMenuItem*>(&item) != nullptr; }

// The item with this name anywhere under root, or nil.
Ref<MenuItem> FindItem(const Ref<MenuItem>& root, const String& name) {
  if (!root) return nullptr;
  for (int i = 0; i < root->Count(); ++i) {
    Ref<MenuItem> child = root->Item(i);
    if (child->Name == name) return child;
    if (Ref<MenuItem> found = FindItem(child, name)) return found;
  }
  return nullptr;
}

// Choosing an item: the active window's handler first, then the window that
// owns the menu bar, then any open window; a Quit item nobody handles quits.
void DispatchChoice(Window* owner, const String& name, bool quitItem) {
  std::vector<Ref<Window>> candidates;
  if (Window* active = WindowOfWidget(QApplication::activeWindow())) candidates.emplace_back(active);
  if (owner != nullptr) candidates.emplace_back(owner);
  for (const Ref<Window>& w : OpenWindows()) candidates.push_back(w);
  for (const Ref<Window>& w : candidates) {
    if (w->IsOpen() && w->HasMenuHandler(name) && w->ChooseMenuItem(name)) return;
  }
  if (quitItem) Quit();
}

void AddItems(Window& window, QMenu& menu, const Ref<MenuItem>& parent) {
  for (int i = 0; i < parent->Count(); ++i) {
    Ref<MenuItem> item = parent->Item(i);
    if (item->Text == "-") {
      menu.addSeparator();
    } else if (item->Count() > 0) {
      AddItems(window, *menu.addMenu(ToQString(item->Text)), item);
    } else {
      QAction* action = menu.addAction(ToQString(item->Text));
      action->setShortcut(ShortcutOf(item->KeyboardShortcut));
      // Like a menu bar at the top of the screen: the keys work from every
      // window of the application (see ShareMenuShortcuts).
      action->setShortcutContext(Qt::ApplicationShortcut);
      action->setProperty(kItemName, ToQString(item->Name));
      action->setProperty(kAutoEnable, item->AutoEnable);
      action->setProperty(kQuitItem, IsQuitItem(*item));
      action->setMenuRole(IsQuitItem(*item) ? QAction::QuitRole : QAction::NoRole);
      const String name = item->Name;
      const bool quit = IsQuitItem(*item);
      // The owner is looked up when chosen: the window may be gone while its
      // widgets wait to be deleted.
      QPointer<QWidget> ownerWidget = window.Widget();
      QObject::connect(action, &QAction::triggered, action, [ownerWidget, name, quit] {
        RunGuarded([&] { DispatchChoice(WindowOfWidget(ownerWidget.data()), name, quit); });
      });
    }
  }
}

bool SomeOpenWindowHandles(const QString& name) {
  const String item = FromQString(name);
  for (const Ref<Window>& w : OpenWindows()) {
    if (w->HasMenuHandler(item)) return true;
  }
  return false;
}

// Qt takes an application shortcut only while a widget that holds its
// action is shown, and a menu bar hides with its window (the main window's
// close box only hides it). So every window of the framework also holds each
// menu action that has a shortcut: Ctrl+Q quits from the help window too,
// whether or not the window with the menu bar is shown. One action per item,
// so no two shortcuts compete.
void ShareMenuShortcuts() {
  std::vector<QWidget*> windows;
  std::vector<QAction*> keyed;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->property("rbWindow").isValid()) continue;  // not a window of ours (a message box)
    windows.push_back(top);
    for (QMenuBar* bar : top->findChildren<QMenuBar*>()) {
      for (QAction* action : bar->findChildren<QAction*>()) {
        if (action->property(kItemName).isValid() && !action->shortcut().isEmpty()) keyed.push_back(action);
      }
    }
  }
  // addAction keeps each action once per widget.
  for (QWidget* top : windows) {
    for (QAction* action : keyed) top->addAction(action);
  }
}

}  // namespace

QMenuBar* BuildMenuBar(Window& window, const Ref<MenuBar>& bar) {
  auto* menuBar = new QMenuBar;
  menuBar->setNativeMenuBar(false);
  for (int i = 0; bar && i < bar->Count(); ++i) {
    Ref<MenuItem> top = bar->Item(i);
    QMenu* menu = menuBar->addMenu(ToQString(top->Text));
    QObject::connect(menu, &QMenu::aboutToShow, menu, [] { RefreshMenuEnabling(); });
    AddItems(window, *menu, top);
  }
  return menuBar;
}

void RefreshMenuEnabling() {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    for (QMenuBar* bar : top->findChildren<QMenuBar*>()) {
      for (QAction* action : bar->findChildren<QAction*>()) {
        const QVariant name = action->property(kItemName);
        if (!name.isValid() || !action->property(kAutoEnable).toBool()) continue;
        action->setEnabled(action->property(kQuitItem).toBool() || SomeOpenWindowHandles(name.toString()));
      }
    }
  }
  // Windows come and bars are built where the enabling is refreshed.
  ShareMenuShortcuts();
}

Ref<MenuBar> Window::GetMenuBar() const { return impl_->bar; }

void Window::SetMenuBar(Ref<MenuBar> bar) {
  impl_->bar = std::move(bar);
  if (impl_->menuBar) delete impl_->menuBar.data();
  if (impl_->bar) {
    impl_->menuBar = BuildMenuBar(*this, impl_->bar);
    impl_->layout->setMenuBar(impl_->menuBar);
  } else {
    impl_->layout->setMenuBar(nullptr);
  }
  RefreshMenuEnabling();
}

void Window::AddMenuHandler(const String& itemName, std::function<bool()> handler) {
  auto& handlers = impl_->menuHandlers;
  for (auto& entry : handlers) {
    if (entry.first == itemName) {
      entry.second = std::move(handler);
      return;
    }
  }
  handlers.emplace_back(itemName, std::move(handler));
  RefreshMenuEnabling();
}

bool Window::HasMenuHandler(const String& itemName) const {
  for (const auto& entry : impl_->menuHandlers) {
    if (entry.first == itemName && entry.second) return true;
  }
  return false;
}

bool Window::ChooseMenuItem(const String& itemName) {
  for (const auto& [name, handler] : impl_->menuHandlers) {
    if (name == itemName && handler) {
      const auto run = handler;  // the handler may close the window and drop its list
      return run();
    }
  }
  Ref<MenuItem> item = FindItem(impl_->bar, itemName);
  if (!item) item = RuntimeApp() ? FindItem(RuntimeApp()->GetMenuBar(), itemName) : nullptr;
  if (item && IsQuitItem(*item)) {
    Quit();
    return true;
  }
  return false;
}

}  // namespace rb
