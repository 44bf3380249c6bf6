#include <gtest/gtest.h>

#include <filesystem>

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
// shell's menus installed.
rb::Ref<Window1> MakeMainWindow() {
  const std::string plugin = rb::DefaultPluginFolder() + "/PlaybackPlugin.so";
  if (!std::filesystem::exists(plugin) || !rb::LoadPlugin(plugin)) return nullptr;
  _InitPluginEntrypoints();
  InstallMainWindowMenus();
  return Window1Accessor();
}

TEST(Application, ActivateShowsTheHiddenMainWindowAgainAndMakesNoSecondOne) {
  auto window = MakeMainWindow();
  if (!window) GTEST_SKIP() << "the playback plug-in is not built";
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

}  // namespace
