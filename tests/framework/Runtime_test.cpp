// The runtime: the Qt application every framework test runs on, the event
// loop, posting from other threads, quitting and unhandled exceptions.
#include <QApplication>
#include <atomic>
#include <thread>
#include <utility>

#include "GuiTestSupport.h"

namespace {

// One QApplication for the whole test binary, made before any test runs.
class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "test_framework";
    static char* argv[] = {name, nullptr};
    if (!rb::RuntimeIsInitialised()) rb::RuntimeInit(argc, argv);
    // Nothing in a test may wait on a message box or open a browser.
    rb::SetMsgBoxHook([](const rb::String&) {});
    rb::SetShowURLHook([](const rb::String&) {});
  }
};

[[maybe_unused]] const ::testing::Environment* const kGuiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);  // gtest owns it

using rbtest::EventLog;
using rbtest::GuiTest;

class RuntimeTest : public GuiTest {};

class LoggingWindow : public rb::Window {
 public:
  LoggingWindow(EventLog& log, std::string name) {
    SetHandler<bool(bool)>("CancelClose", [&log, name](bool quitting) {
      log.Add(name + ".CancelClose(" + (quitting ? "true" : "false") + ")");
      return false;
    });
    SetHandler<void()>("Close", [&log, name] { log.Add(name + ".Close"); });
  }
};

TEST_F(RuntimeTest, PostedFunctionsRunOnTheEventLoopThreadInOrder) {
  std::vector<int> order;
  std::thread::id ranOn;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) rb::PostToEventLoop([&order, i] { order.push_back(i); });
    rb::PostToEventLoop([&ranOn] { ranOn = std::this_thread::get_id(); });
  });
  poster.join();
  rb::ProcessEvents();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(RuntimeTest, QuitGivesEachOpenWindowCancelCloseThenCloseInOrder) {
  EventLog log;
  auto first = rb::New<LoggingWindow>(log, "A");
  auto second = rb::New<LoggingWindow>(log, "B");
  first->Construct();
  second->Construct();
  // A Close handler quitting again changes nothing.
  second->SetHandler<void()>("Close", [&log] {
    log.Add("B.Close");
    rb::Quit(7);
  });
  rb::Quit(3);
  EXPECT_TRUE(rb::IsQuitting());
  EXPECT_EQ(log.entries,
            (std::vector<std::string>{"A.CancelClose(true)", "A.Close", "B.CancelClose(true)", "B.Close"}));
  EXPECT_FALSE(first->IsOpen());
  EXPECT_FALSE(second->IsOpen());
  EXPECT_EQ(rb::OpenWindows().Count(), 0);
  // Quit before the loop runs: the loop returns at once.
  rb::RuntimeRun();
  EXPECT_FALSE(rb::IsQuitting());
}

TEST_F(RuntimeTest, AWindowThatCancelsAtQuitKeepsTheApplicationRunning) {
  auto window = rb::New<rb::Window>();
  window->SetHandler<bool(bool)>("CancelClose", [](bool) { return true; });
  window->Construct();
  rb::Quit();
  EXPECT_FALSE(rb::IsQuitting());
  EXPECT_TRUE(window->IsOpen());
}

TEST_F(RuntimeTest, RunRaisesApplicationOpenThenActivateAndEndsOnQuit) {
  EventLog log;
  auto app = rb::New<rb::Application>();
  app->SetHandler<void()>("Open", [&log] { log.Add("Open"); });
  app->SetHandler<void()>("Activate", [&log] {
    log.Add("Activate");
    rb::PostToEventLoop([] { rb::Quit(); });
  });
  rb::RuntimeRegisterAppObject(app);
  rb::RuntimeRun();
  rb::RuntimeRegisterAppObject(nullptr);
  ASSERT_GE(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0], "Open");
  EXPECT_EQ(log.entries[1], "Activate");
  EXPECT_FALSE(rb::IsQuitting());
}

TEST_F(RuntimeTest, QuitDuringAModalWindowClosesItAndEndsBothLoops) {
  EventLog log;
  auto box = rb::New<LoggingWindow>(log, "Box");
  box->SetProperty("Visible", false);
  box->Construct();
  auto app = rb::New<rb::Application>();
  bool shown = false;
  app->SetHandler<void()>("Activate", [&] {
    if (std::exchange(shown, true)) return;  // showing the box may activate again
    rb::PostToEventLoop([&] {
      rb::PostToEventLoop([] { rb::Quit(); });  // runs inside the modal loop
      box->ShowModal();
      log.Add("ShowModal returned");
    });
  });
  rb::RuntimeRegisterAppObject(app);
  rb::RuntimeRun();
  rb::RuntimeRegisterAppObject(nullptr);
  EXPECT_EQ(log.entries,
            (std::vector<std::string>{"Box.CancelClose(true)", "Box.Close", "ShowModal returned"}));
  EXPECT_FALSE(box->IsOpen());
  EXPECT_FALSE(rb::IsQuitting());
}

TEST_F(RuntimeTest, AnExceptionFromAnEventReachesTheLoopsCaller) {
  rb::PostToEventLoop([] { throw rb::RuntimeException("from a handler"); });
  bool ranAfter = false;
  rb::PostToEventLoop([&ranAfter] { ranAfter = true; });
  try {
    rb::ProcessEvents();
    FAIL() << "no exception";
  } catch (const rb::RuntimeException& e) {
    EXPECT_EQ(e.Message, "from a handler");
  }
  rb::ProcessEvents();  // the exception is raised once
  EXPECT_TRUE(ranAfter);
}

TEST_F(RuntimeTest, AnExceptionInsideTheRunningLoopEndsItAndReachesRunsCaller) {
  rb::PostToEventLoop([] { throw rb::OutOfBoundsException("in the loop"); });
  EXPECT_THROW(rb::RuntimeRun(), rb::OutOfBoundsException);
  EXPECT_FALSE(rb::IsQuitting());
}

TEST_F(RuntimeTest, UnhandledExceptionIsShownInAMessageBox) {
  rb::RuntimeUnhandledException(rb::NilObjectException());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("NilObjectException"), std::string::npos);
}

TEST_F(RuntimeTest, AFaultWhileTheUnhandledExceptionShowsIsToldAndNotThrown) {
  // The message box runs the event loop: queued handlers may fail in it.
  rb::SetMsgBoxHook([](const rb::String&) { throw rb::OutOfBoundsException("while the box shows"); });
  EXPECT_NO_THROW(rb::RuntimeUnhandledException(rb::RuntimeException("first")));
  rb::SetMsgBoxHook([](const rb::String&) { throw 42; });
  EXPECT_NO_THROW(rb::RuntimeUnhandledException(rb::RuntimeException("second")));
}

TEST_F(RuntimeTest, DialogHooksTakeOverMessageBoxesAndTheBrowser) {
  rb::MsgBox("Hello");
  rb::ShowURL("http://127.0.0.1/forum");
  EXPECT_EQ(messages, (std::vector<std::string>{"Hello"}));
  EXPECT_EQ(urls, (std::vector<std::string>{"http://127.0.0.1/forum"}));
}

TEST_F(RuntimeTest, ShortVersionIsTheBuildsVersion) {
  const std::string version = rb::New<rb::Application>()->ShortVersion().Bytes();
  EXPECT_FALSE(version.empty());
  EXPECT_NE(version.find('.'), std::string::npos);
}

}  // namespace
