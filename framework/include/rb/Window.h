// Windows on Qt widgets, their implicit instances, and the application object.
// All members: UI thread.
//
// Window events, with their handler signatures:
//   "Layout"           void()
//   "CreateControls"   void()
//   "AddMenuHandlers"  void()
//   "Open"             void()
//   "CancelClose"      bool(bool appQuitting)   true cancels the close
//   "Close"            void()
//   "KeyDown"          bool(String key)          true when handled
//   "MouseWheel"       bool(int x, int y, int dx, int dy)
//                      dx, dy in wheel steps; dy > 0 when the wheel turns
//                      toward the user (scrolling down). A control under the
//                      wheel with a MouseWheel handler hears it first.
// Application events: "Open" void(), "Activate" void().
#pragma once

#include <functional>
#include <memory>

#include "rb/Containers.h"
#include "rb/Controls.h"
#include "rb/Menu.h"
#include "rb/Object.h"
#include "rb/Properties.h"

class QWidget;

namespace rb {

class Window : public Object, public PropertyBag {
 public:
  Window();
  ~Window() override;
  std::string ClassName() const override { return "Window"; }

  // The framework's default window constructor: raises Layout,
  // CreateControls, AddMenuHandlers, each control's Open (in control order),
  // then the window's Open; shows the window when Visible is true.
  void Construct();

  // Properties the window acts on: Title, Width, Height, MinWidth,
  // MinHeight, MaxWidth, MaxHeight, Placement, Frame, HasBackColor,
  // BackColor, Visible, CloseButton, MinimizeButton, MaximizeButton,
  // Resizeable. Others are stored.
  //
  // A window starts from the design-time defaults, so that a property list
  // names only what differs: Title "", Width and Height 300, MinWidth and
  // MinHeight 64, MaxWidth and MaxHeight 32000, Placement 0, Frame 0 (a
  // titled document window), Visible true, CloseButton, MinimizeButton,
  // MaximizeButton, Resizeable and LiveResize true, HasBackColor false with
  // BackColor FFFFFF, MenuBarVisible true, Composite and FullScreen false,
  // BalloonHelp "" and MacProcID 0.
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;

  String Title() const;
  int Width() const;
  void SetWidth(int v);
  int Height() const;
  void SetHeight(int v);
  bool Visible() const;
  void SetVisible(bool v);
  void Show();
  // Shows the window modally; returns when it has closed.
  void ShowModal();
  // Closes the window: CancelClose(false) may cancel; otherwise Close is
  // raised, the window is hidden, leaves the window lists and its
  // references are dropped. Returns whether it closed.
  bool Close();
  bool IsOpen() const noexcept;

  Ref<MenuBar> GetMenuBar() const;
  void SetMenuBar(Ref<MenuBar> bar);
  // Binds the handler of the menu item with this name for this window. When
  // the item is chosen while this window is active (or no window with a
  // handler for it is), the handler runs; true means handled.
  void AddMenuHandler(const String& itemName, std::function<bool()> handler);
  // Runs the handler bound to the item name: what choosing the item does.
  // Returns the handler's result, false when none is bound (a QuitMenuItem
  // without a handler quits and returns true).
  bool ChooseMenuItem(const String& itemName);
  // Whether a handler is bound to the item name for this window.
  bool HasMenuHandler(const String& itemName) const;

  // Controls, in the order added. AddControl gives the control back, as the
  // class it was made as.
  template <class T>
  Ref<T> AddControl(Ref<T> control, const String& name, int index = -1) {
    Attach(control, name, index);
    return control;
  }
  int ControlCount() const;
  Ref<Control> ControlAt(int i) const;  // nil outside 0..ControlCount-1
  // By name, and index for a control array; nil when absent.
  Ref<Control> FindControl(const String& name, int index = -1) const;
  template <class T>
  Ref<T> Find(const String& name, int index = -1) const {
    return Cast<T>(FindControl(name, index));
  }

  QWidget* Widget() const noexcept;
  // Renders the window's content (offscreen too) to a PNG file.
  bool SaveScreenshot(const String& pngPath) const;

  // The framework's closing at quit (no cancel possible beyond CancelClose).
  bool CloseForQuit();

 private:
  void Attach(const Ref<Control>& control, const String& name, int index);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Implicit instances: one open window per class name.
// Returns the open window registered under the class name, or nil.
Ref<Window> FindImplicitWindow(const String& className);
// Registers the window under the class name (before Construct, so the
// accessor finds it while its Open runs). It leaves the list on Close.
void RegisterImplicitWindow(const String& className, Ref<Window> window);
// Every open window, oldest first.
Array<Ref<Window>> OpenWindows();
// The accessor idiom: the open instance, or a new T registered under
// className and constructed.
template <class T>
Ref<T> ImplicitInstance(const String& className) {
  if (auto open = FindImplicitWindow(className)) return Cast<T>(open);
  Ref<T> made = New<T>();
  RegisterImplicitWindow(className, made);
  made->Construct();
  return made;
}
// Releases the list of implicit windows and the list of windows (at exit).
void ReleaseWindowLists();

class Application : public Object {
 public:
  std::string ClassName() const override { return "Application"; }
  // The short version string (the build's project version).
  String ShortVersion() const;
  Ref<MenuBar> GetMenuBar() const { return menuBar_; }
  void SetMenuBar(Ref<MenuBar> bar) { menuBar_ = std::move(bar); }

 private:
  Ref<MenuBar> menuBar_;
};

// Registers the application object; the framework raises its Open once the
// event loop starts and its Activate whenever the application becomes active.
void RuntimeRegisterAppObject(Ref<Application> app);
Ref<Application> RuntimeApp();

}  // namespace rb
