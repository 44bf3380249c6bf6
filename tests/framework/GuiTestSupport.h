// Shared by the framework's GUI tests: a fixture that leaves no window,
// hook or key state behind, and a recorder of event order.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>
#include <vector>

#include "rb/Dialogs.h"
#include "rb/Keyboard.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace rbtest {

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rb::RuntimeIsInitialised());
    rb::SetMsgBoxHook([this](const rb::String& text) { messages.push_back(text.Bytes()); });
    rb::SetShowURLHook([this](const rb::String& text) { urls.push_back(text.Bytes()); });
  }
  void TearDown() override {
    rb::ReleaseWindowLists();
    rb::Keyboard::ResetForTesting();
    rb::ProcessEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Silent, never the real ones: nothing in a test may wait on a box or
    // open a browser.
    rb::SetMsgBoxHook([](const rb::String&) {});
    rb::SetShowURLHook([](const rb::String&) {});
  }

  std::vector<std::string> messages;
  std::vector<std::string> urls;
};

// Records what happened, in order.
struct EventLog {
  std::vector<std::string> entries;
  void Add(std::string entry) { entries.push_back(std::move(entry)); }
};

}  // namespace rbtest
