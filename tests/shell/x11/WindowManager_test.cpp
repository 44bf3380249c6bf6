// The help window and the about box as the window manager (Openbox) sees
// them: fixed sizes in the size hints, the about box's empty title, and the
// modal boxes dialogs kept with the window they block.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <functional>
#include <regex>

#include "AquaAboutBox.h"
#include "HelpWindow.h"
#include "WindowManagerTestSupport.h"
#include "rb/Dialogs.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace {

using chimewick_test::CommandOutput;
using x11test::Hex;
using x11test::Property;

class WindowManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XServerSkipReason().empty()) GTEST_SKIP() << XServerSkipReason();
  }
  void TearDown() override {
    for (const rb::Ref<rb::Window>& w : rb::OpenWindows()) w->Close();
    rb::ProcessEvents(20);
  }

  // A window like the program's main window, for the boxes to block.
  rb::Ref<rb::Window> MainWindow() {
    auto main = rb::New<rb::Window>();
    main->ApplyProperties({{"Title", "Chimewick Home Edition"},
                           {"Width", 266},
                           {"Height", 308},
                           {"Resizeable", false},
                           {"MinimizeButton", true}});
    main->Construct();
    return main;
  }
};

// Lets the event loop run until the condition holds; whether it did.
bool Await(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    rb::ProcessEvents(20);
  }
  return true;
}

// How the window manager has the window: shown ("Normal"), iconified
// ("Iconic"), or not at all ("").
std::string WmState(WId window) {
  const std::string state = Property(window, "WM_STATE");
  if (state.find("Normal") != std::string::npos) return "Normal";
  if (state.find("Iconic") != std::string::npos) return "Iconic";
  return "";
}

bool Managed(WId window) {
  return Await([window] { return WmState(window) == "Normal"; });
}

// The text of a property after "=", without blanks and quotes: "" for an
// empty value.
std::string ValueOf(WId window, const std::string& name) {
  const std::string line = Property(window, name);
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return "(none: " + line + ")";
  std::string value = line.substr(equals + 1);
  std::erase_if(value, [](char c) { return c == ' ' || c == '\n' || c == '"'; });
  return value;
}

struct Size {
  int width = 0, height = 0;
  bool operator==(const Size&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Size& s) { return out << s.width << " x " << s.height; }

Size Matched(const std::string& text, const char* pattern) {
  std::smatch found;
  if (!std::regex_search(text, found, std::regex(pattern))) return {};
  return {std::stoi(found[1]), std::stoi(found[2])};
}

Size MinimumSizeHint(WId w) {
  return Matched(Property(w, "WM_NORMAL_HINTS"), "minimum size: (\\d+) by (\\d+)");
}
Size MaximumSizeHint(WId w) {
  return Matched(Property(w, "WM_NORMAL_HINTS"), "maximum size: (\\d+) by (\\d+)");
}
Size Geometry(WId w) {
  return Matched(CommandOutput("xwininfo -id " + Hex(w)), "Width: (\\d+)\\s+Height: (\\d+)");
}

// The player drags the window's edge: the window manager asks for a new
// size, which a fixed window refuses.
Size SizeAfterTryingToResize(WId w) {
  CommandOutput("xdotool windowsize " + Hex(w) + " 451 419");
  rb::ProcessEvents(300);
  return Geometry(w);
}

TEST_F(WindowManagerTest, HelpWindowKeepsItsSize) {
  auto help = HelpWindowAccessor();
  const WId id = help->Widget()->winId();
  ASSERT_TRUE(Managed(id));
  EXPECT_EQ(MinimumSizeHint(id), (Size{300, 300}));
  EXPECT_EQ(MaximumSizeHint(id), (Size{300, 300}));
  EXPECT_EQ(SizeAfterTryingToResize(id), (Size{300, 300}));
  const std::string actions = Property(id, "_NET_WM_ALLOWED_ACTIONS");
  EXPECT_EQ(actions.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << actions;
  EXPECT_EQ(actions.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << actions;
  EXPECT_NE(actions.find("_NET_WM_ACTION_MINIMIZE"), std::string::npos) << "it has a minimise button";
  EXPECT_EQ(ValueOf(id, "_NET_WM_NAME"), "ChimewickHelp");
}

// What the about box looked like to the window manager while it was shown.
struct AboutBoxSeen {
  bool managed = false;
  Size minimum, maximum, afterResize;
  std::string netName, name, visibleName, transientFor, type, state, actions;
  std::string afterMinimise, mainAfterMinimise, afterRestoringMain;
};

TEST_F(WindowManagerTest, AboutBoxIsAFixedUntitledModalDialogOfTheWindowItBlocks) {
  auto main = MainWindow();
  const WId mainId = main->Widget()->winId();
  ASSERT_TRUE(Managed(mainId));
  AboutBoxSeen seen;
  QTimer::singleShot(0, [&] {
    auto box = rb::FindImplicitWindow("AquaAboutBox");
    if (!box) return;
    const WId id = box->Widget()->winId();
    seen.managed = Managed(id);
    seen.minimum = MinimumSizeHint(id);
    seen.maximum = MaximumSizeHint(id);
    seen.afterResize = SizeAfterTryingToResize(id);
    seen.netName = ValueOf(id, "_NET_WM_NAME");
    seen.name = ValueOf(id, "WM_NAME");
    seen.visibleName = ValueOf(id, "_NET_WM_VISIBLE_NAME");
    seen.transientFor = Property(id, "WM_TRANSIENT_FOR");
    seen.type = Property(id, "_NET_WM_WINDOW_TYPE");
    seen.state = Property(id, "_NET_WM_STATE");
    seen.actions = Property(id, "_NET_WM_ALLOWED_ACTIONS");
    // Minimising the box takes the window it blocks along, and bringing
    // that window back brings the box with it.
    CommandOutput("xdotool windowminimize " + Hex(id));
    rb::ProcessEvents(300);
    seen.afterMinimise = WmState(id);
    seen.mainAfterMinimise = WmState(mainId);
    CommandOutput("xdotool windowactivate " + Hex(mainId));
    Await([id] { return WmState(id) == "Normal"; });
    seen.afterRestoringMain = WmState(id);
    box->Close();
  });
  AquaAboutBoxAccessor()->ShowModal();
  ASSERT_TRUE(seen.managed);
  EXPECT_EQ(seen.minimum, (Size{284, 340}));
  EXPECT_EQ(seen.maximum, (Size{284, 340}));
  EXPECT_EQ(seen.afterResize, (Size{284, 340}));
  EXPECT_EQ(seen.actions.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << seen.actions;
  EXPECT_EQ(seen.netName, "") << "the title bar shows no text";
  EXPECT_EQ(seen.name, "");
  EXPECT_EQ(seen.visibleName, "") << "what Openbox shows";
  EXPECT_NE(seen.transientFor.find(Hex(mainId)), std::string::npos) << seen.transientFor;
  EXPECT_NE(seen.type.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << seen.type;
  EXPECT_NE(seen.state.find("_NET_WM_STATE_MODAL"), std::string::npos) << seen.state;
  EXPECT_TRUE(seen.afterMinimise == "Normal" || seen.mainAfterMinimise == "Iconic")
      << "the box was minimised away from the window it blocks";
  EXPECT_EQ(seen.afterRestoringMain, "Normal");
}

TEST_F(WindowManagerTest, MessageBoxIsAModalDialogOfTheWindowItBlocks) {
  auto main = MainWindow();
  const WId mainId = main->Widget()->winId();
  ASSERT_TRUE(Managed(mainId));
  rb::SetMsgBoxHook({});  // the real box this time
  std::string transientFor, type;
  QTimer::singleShot(0, [&] {
    Await([] { return QApplication::activeModalWidget() != nullptr; });
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    const WId id = box->winId();
    if (Managed(id)) {
      transientFor = Property(id, "WM_TRANSIENT_FOR");
      type = Property(id, "_NET_WM_WINDOW_TYPE");
    }
    box->close();
  });
  rb::MsgBox("Cannot open port");
  rb::SetMsgBoxHook([](const rb::String&) {});
  EXPECT_NE(transientFor.find(Hex(mainId)), std::string::npos) << transientFor;
  EXPECT_NE(type.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << type;
}

}  // namespace
