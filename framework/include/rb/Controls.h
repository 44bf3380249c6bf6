// Controls on Qt widgets. Every control is made for a window (Window::
// AddControl), keeps its design-time properties by name and raises its events
// by name on the UI thread. All members: UI thread.
//
// Every control starts from the design-time defaults, so that a property
// list names only what differs: no parent control (InitialParent ""),
// TabPanelIndex 0 and Visible true; every control but a line also LockLeft,
// LockTop, LockRight and LockBottom false, Enabled true, HelpTag "" and
// AutoDeactivate true; a control that shows text (PopupMenu, StaticText,
// BevelButton, EditField, PushButton) TextFont "System", TextSize 0 and Bold,
// Italic and Underline false; PopupMenu and StaticText DataSource and
// DataField "" (no data binding).
//
// Events, with their handler signatures:
//   every control   "Open"          void()          after all controls of the
//                                                   window exist, before the
//                                                   window's Open
//   RectControl     "MouseDown"     bool(int x, int y)   true takes the click
//                   "MouseUp"       void(int x, int y)   only after a true MouseDown
//                   "MouseEnter"    void()
//                   "MouseExit"     void()
//                   "MouseWheel"    bool(int x, int y, int dx, int dy)
//                                   steps as the window's MouseWheel; over a
//                                   PopupMenu with this handler the list never
//                                   also scrolls by itself
//   PopupMenu       "Change"        void()
//   Slider          "ValueChanged"  void()
//   BevelButton,
//   PushButton      "Action"        void()
// Coordinates are relative to the control's top-left corner.
#pragma once

#include <memory>
#include <vector>

#include "rb/Object.h"
#include "rb/Picture.h"
#include "rb/Properties.h"
#include "rb/Text.h"

class QWidget;

namespace rb {

class Window;

class Control : public Object, public PropertyBag {
 public:
  ~Control() override;
  std::string ClassName() const override { return "Control"; }

  const String& Name() const noexcept { return name_; }
  // The control-array index; -1 for a control that is not in an array.
  int Index() const noexcept { return index_; }
  void SetIndex(int index) noexcept { index_ = index; }
  // The window the control was added to; nil before AddControl.
  Window* GetWindow() const noexcept { return window_; }

  // Raised by the window after every control exists.
  virtual void RaiseOpen() { RaiseEvent<void>("Open"); }

 protected:
  friend class Window;
  virtual void AttachTo(Window& window, const String& name, int index);

  String name_;
  int index_ = -1;
  Window* window_ = nullptr;
};

class RectControl : public Control {
 public:
  RectControl();
  ~RectControl() override;
  std::string ClassName() const override { return "RectControl"; }

  int Left() const;
  void SetLeft(int v);
  int Top() const;
  void SetTop(int v);
  int Width() const;
  void SetWidth(int v);
  int Height() const;
  void SetHeight(int v);
  bool Visible() const;
  void SetVisible(bool v);
  bool Enabled() const;
  void SetEnabled(bool v);
  String HelpTag() const;
  void SetHelpTag(const String& v);

  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;

  // The widget behind the control (made by the subclass constructor).
  QWidget* Widget() const noexcept;

 protected:
  void AttachTo(Window& window, const String& name, int index) override;
  void SetWidget(QWidget* widget);  // takes ownership
  // The sets of design-time defaults beyond InitialParent, TabPanelIndex and
  // Visible (see the top of this file).
  enum DefaultSet : unsigned { kBoxDefaults = 1, kTextDefaults = 2, kDataBindingDefaults = 4 };
  // Applies the defaults of these sets; a subclass calls it once its widget
  // is in place.
  void StartFromDefaults(unsigned sets);
  // Geometry is kept here and applied to the widget, in window coordinates
  // (a control with a parent control is still placed in window coordinates).
  void ApplyGeometry();

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class PopupMenu : public RectControl {
 public:
  PopupMenu();
  std::string ClassName() const override { return "PopupMenu"; }
  void AddRow(const String& text);
  int ListCount() const;
  // -1 when no row is selected. Assigning raises Change before it returns
  // (also when the row is already selected); an index outside the rows
  // selects nothing and raises nothing.
  int ListIndex() const;
  void SetListIndex(int index);
  Variant RowTag(int row) const;
  void SetRowTag(int row, const Variant& tag);
  String List(int row) const;
  // The text of the selected row; "" when none.
  String Text() const;
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
};

class Slider : public RectControl {
 public:
  Slider();
  std::string ClassName() const override { return "Slider"; }
  int Minimum() const;
  void SetMinimum(int v);
  int Maximum() const;
  void SetMaximum(int v);
  int Value() const;
  // Clamped to Minimum..Maximum; raises ValueChanged before it returns when
  // the value changes.
  void SetValue(int v);
  // Upright when taller than wide.
  bool IsVertical() const;
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
};

class StaticText : public RectControl {
 public:
  StaticText();
  std::string ClassName() const override { return "StaticText"; }
  String Text() const;
  void SetText(const String& v);
  Color TextColor() const;
  void SetTextColor(Color c);
  bool Underline() const;
  void SetUnderline(bool v);
  bool Bold() const;
  void SetBold(bool v);
  // In points of a 72-dpi screen, that is pixels; 0 the standard size.
  int TextSize() const;
  void SetTextSize(int points);
  // 0 left, 1 centred, 2 right.
  int TextAlign() const;
  void SetTextAlign(int v);
  // Properties also taken: TextFont, Italic, Multiline, InitialParent (the
  // name of a control of the same window that this label lies on).
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
};

class BevelButton : public RectControl {
 public:
  BevelButton();
  std::string ClassName() const override { return "BevelButton"; }
  String Caption() const;
  void SetCaption(const String& v);
  // The pressed state. Assigning raises no Action.
  bool Value() const;
  void SetValue(bool v);
  bool Bold() const;
  void SetBold(bool v);
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
};

class Canvas : public RectControl {
 public:
  Canvas();
  std::string ClassName() const override { return "Canvas"; }
  Ref<Picture> Backdrop() const;
  void SetBackdrop(Ref<Picture> p);
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
};

class Line : public RectControl {
 public:
  Line();
  std::string ClassName() const override { return "Line"; }
  // X1, Y1, X2, Y2, BorderWidth, LineColor through SetProperty.
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
};

class EditField : public RectControl {
 public:
  EditField();
  std::string ClassName() const override { return "EditField"; }
  String Text() const;
  void SetText(const String& v);
  bool ReadOnly() const;
  void SetReadOnly(bool v);
  // Also: Multiline, ScrollbarVertical, ScrollbarHorizontal, Border,
  // TextSize, TextColor, BackColor, Styled, LimitText, AcceptTabs, Alignment.
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
};

class PushButton : public RectControl {
 public:
  PushButton();
  std::string ClassName() const override { return "PushButton"; }
  String Caption() const;
  void SetCaption(const String& v);
  // Default and Cancel are taken as properties.
  void SetProperty(const String& name, const Variant& value) override;
  Variant Property(const String& name) const override;
  // Clicks the button as the user would: raises Action.
  void Push();
};

}  // namespace rb
