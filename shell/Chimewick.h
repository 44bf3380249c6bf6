// The application object: its Open and Activate events and the update check.
// UI thread.
#pragma once

#include "rb/String.h"
#include "rb/Window.h"

class Chimewick : public rb::Application {
 public:
  Chimewick();
  std::string ClassName() const override { return "Chimewick"; }

  // Switches the MIDI layer's debug traces off.
  void Event_Open();
  // Shows the main window again (its close box only hides it).
  void Event_Activate();
  // Compares the version published on the maker's site with ours and says
  // which is newer in one message box. Waits for the reply (3 s without
  // progress at most) and the box.
  void CheckForUpdates(const rb::String& productCode);

  // The maker's web site root, ending with "/": the build setting, which
  // tests point at a server of their own.
  rb::String SiteRoot;
  // The host name of SiteRoot, as the messages name the site.
  rb::String SiteHost() const;
  // The home page and the support forum.
  rb::String HomePageAddress() const { return SiteRoot; }
  rb::String SupportAddress() const;
};

// The registered application object.
rb::Ref<Chimewick> App();
