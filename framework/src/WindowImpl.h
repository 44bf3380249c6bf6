// Window's private state, shared by the window's sources.
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "rb/Window.h"

class QMenuBar;
class QVBoxLayout;

namespace rb {

struct Window::Impl {
  QPointer<QWidget> top;       // the top-level widget (deleted later, see ~Window)
  QWidget* content = nullptr;  // holds the controls; its size is Width x Height
  QVBoxLayout* layout = nullptr;
  QPointer<QMenuBar> menuBar;
  Ref<MenuBar> bar;
  std::vector<Ref<Control>> controls;
  std::vector<std::pair<String, std::function<bool()>>> menuHandlers;
  QEventLoop* modalLoop = nullptr;

  String title;
  int width = 300, height = 300;
  int minWidth = 64, minHeight = 64, maxWidth = 32000, maxHeight = 32000;
  int placement = 0, frame = 0;
  bool visible = true;
  bool resizeable = true;
  bool closeButton = true, minimizeButton = true, maximizeButton = true;
  bool constructed = false;  // Construct finished: Visible now shows and hides
  bool open = false;         // in the list of open windows
  bool closing = false;
  bool closed = false;  // a closed window is not shown again
  bool placed = false;  // placed on the screen at its first showing
  bool modal = false;   // shown by ShowModal: a dialog of the window it blocks

  void ApplySize();
  // Sets the window flags from the properties; a shown window whose flags
  // change is shown again when reshow is true.
  void ApplyFlags(bool reshow = true);
  void PlaceOnScreen();
  // Raises Close, hides the window and takes it off the lists.
  void FinishClose(Window& window);
};

// Builds the Qt menu bar of a window from a menu tree.
QMenuBar* BuildMenuBar(Window& window, const Ref<MenuBar>& bar);

}  // namespace rb
