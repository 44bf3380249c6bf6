// Every shell test runs with a QApplication on the offscreen platform, a
// private preferences folder, an application object of ours and the message
// boxes and browser calls recorded instead of shown.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Chimewick.h"
#include "ShellTestSupport.h"
#include "TemporaryFolder.h"
#include "rb/Dialogs.h"
#include "rb/Runtime.h"

std::vector<std::string>& ShownMessages() {
  static std::vector<std::string> messages;
  return messages;
}

std::vector<std::string>& OpenedURLs() {
  static std::vector<std::string> urls;
  return urls;
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 0);
  setenv("CHIMEWICK_MIDI", "virtual", 0);
  const chimewick_test::PrivateConfigFolder config("shell-test");

  rb::RuntimeInit(argc, argv);
  rb::SetMsgBoxHook([](const rb::String& text) { ShownMessages().emplace_back(text); });
  rb::SetShowURLHook([](const rb::String& url) { OpenedURLs().emplace_back(url); });
  // The shell's own tests make no main window: Activate would make one.
  auto app = rb::New<Chimewick>();
  app->RemoveHandler("Activate");
  rb::RuntimeRegisterAppObject(app);
  return RUN_ALL_TESTS();
}
