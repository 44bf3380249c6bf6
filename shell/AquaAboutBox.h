// The about box: the icon, the name, the version, a description, the licence
// text, the copyright line and a link to the maker's web site. Shown
// modally from Help > About; made anew each time. UI thread.
#pragma once

#include "rb/Controls.h"
#include "rb/Window.h"

class AquaAboutBox : public rb::Window {
 public:
  AquaAboutBox();
  std::string ClassName() const override { return "AquaAboutBox"; }

  void Layout();
  void CreateControls();
  void _CreateControls0();
  void name_Open(rb::StaticText& control);
  void version_Open(rb::StaticText& control);
  void description_Open(rb::StaticText& control);
  void credits_Open(rb::EditField& control);
  void copyright_Open(rb::StaticText& control);
  void homePage_Open(rb::StaticText& control);
  void AddMenuHandlers();
  void Event_Open();
  bool _FileClose_Action();
  // Hides a control of a vertical stack and closes the gap: the controls
  // from it on move up by the distance from its top to the next control's
  // top, and the window shrinks by as much.
  void hideControl(rb::RectControl& control);
};

// The open about box, or a new one (the accessor `AquaAboutBox`).
rb::Ref<AquaAboutBox> AquaAboutBoxAccessor();
