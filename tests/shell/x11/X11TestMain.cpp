// The window-manager tests run the shell's windows on a private X server
// with Openbox: the program on the xcb platform, as a player meets it. Where
// the server cannot start, every test says why and is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "Chimewick.h"
#include "PrivateXServer.h"
#include "TemporaryFolder.h"
#include "WindowManagerTestSupport.h"
#include "rb/Dialogs.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

std::string& XServerSkipReason() {
  static std::string reason;
  return reason;
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // only the names: no server
  const chimewick_test::PrivateConfigFolder folder("x11-test");
  setenv("XDG_CACHE_HOME", folder.path().c_str(), 1);
  setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 0);
  setenv("CHIMEWICK_MIDI", "virtual", 0);
  auto server = std::make_unique<chimewick_test::PrivateXServer>();
  if (server->Running()) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  } else {
    XServerSkipReason() = server->Reason();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  rb::RuntimeInit(argc, argv);
  rb::SetMsgBoxHook([](const rb::String&) {});
  rb::SetShowURLHook([](const rb::String&) {});
  auto app = rb::New<Chimewick>();
  app->RemoveHandler("Activate");  // no main window of the program's own
  rb::RuntimeRegisterAppObject(app);
  const int result = RUN_ALL_TESTS();
  rb::ReleaseWindowLists();
  rb::ProcessEvents();
  rb::RuntimeRegisterAppObject(nullptr);
  rb::RuntimeExit();
  server.reset();
  return result;
}
