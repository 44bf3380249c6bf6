#include <gtest/gtest.h>

#include "Chimewick.h"
#include "MenuCommands.h"
#include "PlaybackEntrypoints.h"
#include "ProcessLife.h"
#include "ShellTestSupport.h"
#include "Window1.h"
#include "rb/PluginHost.h"
#include "rb/Runtime.h"

namespace {

// The main window as start-up makes it: the playback plug-in bound and the
// shell's menus installed. Nil when the plug-in does not load.
rb::Ref<Window1> MakeMainWindow() {
  if (!rb::LoadPlugin(rb::DefaultPluginFolder() + "/PlaybackPlugin.so")) return nullptr;
  _InitPluginEntrypoints();
  InstallMainWindowMenus();
  return Window1Accessor();
}

TEST(Application, ActivateShowsTheHiddenMainWindowAgainAndMakesNoSecondOne) {
  auto window = MakeMainWindow();
  ASSERT_TRUE(window) << "the playback plug-in does not load";
  ShownMessages().clear();

  struct Case {
    const char* what;
    bool visibleBefore;
  };
  const Case cases[] = {{"hidden by its close box", false}, {"already visible", true}};
  for (const auto& c : cases) {
    window->SetVisible(c.visibleBefore);
    App()->Event_Activate();
    EXPECT_TRUE(window->Visible()) << c.what;
    EXPECT_EQ(Window1Accessor().get(), window.get()) << c.what;
  }
  App()->Event_Open();
  EXPECT_TRUE(window->Visible()) << "the application's Open changes no window";
  EXPECT_TRUE(ShownMessages().empty()) << "and shows nothing";

  window.reset();
  Finalise();
}

TEST(Application, TheSiteRootGivesTheHostNameAndTheSupportAddress) {
  struct Case {
    const char* root;
    const char* host;
    const char* support;
  };
  const Case cases[] = {
      {"http://www.brambury-software.example/", "www.brambury-software.example",
       "http://www.brambury-software.example/forum"},
      {"http://127.0.0.1:8080/", "127.0.0.1", "http://127.0.0.1:8080/forum"},
      {"http://example.test", "example.test", "http://example.test/forum"},
      {"http://example.test/chimewick/", "example.test", "http://example.test/chimewick/forum"},
      {"example.test/", "example.test", "example.test/forum"},
  };
  const rb::String saved = App()->SiteRoot;
  for (const auto& c : cases) {
    App()->SiteRoot = c.root;
    EXPECT_EQ(App()->SiteHost().Bytes(), c.host) << c.root;
    EXPECT_EQ(App()->SupportAddress().Bytes(), c.support) << c.root;
    EXPECT_EQ(App()->HomePageAddress().Bytes(), c.root) << c.root;
  }
  App()->SiteRoot = saved;
}

}  // namespace
