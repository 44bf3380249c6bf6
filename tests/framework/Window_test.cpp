// Windows: construction order, properties, implicit instances, closing, keys
// and the wheel, modal showing and screenshots.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <functional>

#include "GuiTestSupport.h"
#include "rb/Controls.h"

namespace {

using rbtest::EventLog;
using rbtest::GuiTest;

class WindowTest : public GuiTest {};

int liveWindows = 0;

// A window class with its own construction handlers, as a program declares.
class TestWindow : public rb::Window {
 public:
  explicit TestWindow(EventLog* log = nullptr) : log_(log) {
    ++liveWindows;
    SetHandler<void()>("Layout", [this] {
      Note("Layout");
      ApplyProperties({{"Width", 266}, {"Height", 308}, {"Title", "Test"}, {"Resizeable", false}});
    });
    SetHandler<void()>("CreateControls", [this] {
      Note("CreateControls");
      for (const char* name : {"First", "Second"}) {
        auto label = rb::New<rb::StaticText>();
        AddControl(label, name);
        label->SetHandler<void()>("Open", [this, name] { Note(std::string(name) + ".Open"); });
      }
    });
    SetHandler<void()>("AddMenuHandlers", [this] { Note("AddMenuHandlers"); });
    SetHandler<void()>("Open", [this] {
      Note("Open");
      ++opens;
    });
  }
  ~TestWindow() override { --liveWindows; }
  std::string ClassName() const override { return "TestWindow.TestWindow"; }
  int opens = 0;

 private:
  void Note(std::string what) {
    if (log_ != nullptr) log_->Add(std::move(what));
  }
  EventLog* log_;
};

rb::Ref<TestWindow> Accessor() { return rb::ImplicitInstance<TestWindow>("TestWindow.TestWindow"); }

TEST_F(WindowTest, ConstructRaisesItsEventsInOrderThenShows) {
  EventLog log;
  auto window = rb::New<TestWindow>(&log);
  window->Construct();
  EXPECT_EQ(log.entries, (std::vector<std::string>{"Layout", "CreateControls", "AddMenuHandlers",
                                                   "First.Open", "Second.Open", "Open"}));
  EXPECT_TRUE(window->Widget()->isVisible());
  EXPECT_TRUE(window->IsOpen());
  EXPECT_EQ(window->Widget()->windowTitle(), QString("Test"));
}

TEST_F(WindowTest, AWindowNotVisibleStaysHiddenUntilShown) {
  auto window = rb::New<rb::Window>();
  window->SetProperty("Visible", false);
  window->Construct();
  EXPECT_FALSE(window->Widget()->isVisible());
  window->SetVisible(true);
  EXPECT_TRUE(window->Widget()->isVisible());
}

TEST_F(WindowTest, ImplicitInstanceIsMadeOnceAndFoundAgainWhileHidden) {
  const int before = liveWindows;
  auto first = Accessor();
  EXPECT_EQ(liveWindows, before + 1);
  first->SetVisible(false);
  auto again = Accessor();
  EXPECT_EQ(again.get(), first.get());
  EXPECT_EQ(first->opens, 1);
  EXPECT_EQ(liveWindows, before + 1);
  EXPECT_TRUE(rb::FindImplicitWindow("TestWindow.TestWindow"));
  // Closing takes it off the list; the accessor then makes a new one.
  EXPECT_TRUE(first->Close());
  EXPECT_FALSE(rb::FindImplicitWindow("TestWindow.TestWindow"));
  auto next = Accessor();
  EXPECT_NE(next.get(), first.get());
}

TEST_F(WindowTest, CloseAsksCancelCloseAndMayBeRefused) {
  EventLog log;
  auto window = rb::New<rb::Window>();
  bool refuse = true;
  window->SetHandler<bool(bool)>("CancelClose", [&](bool quitting) {
    log.Add(quitting ? "CancelClose(true)" : "CancelClose(false)");
    return refuse;
  });
  window->SetHandler<void()>("Close", [&] { log.Add("Close"); });
  window->Construct();
  EXPECT_FALSE(window->Close());
  EXPECT_TRUE(window->IsOpen());
  refuse = false;
  EXPECT_TRUE(window->Close());
  EXPECT_FALSE(window->IsOpen());
  EXPECT_FALSE(window->Widget()->isVisible());
  EXPECT_EQ(log.entries, (std::vector<std::string>{"CancelClose(false)", "CancelClose(false)", "Close"}));
  EXPECT_EQ(rb::OpenWindows().Count(), 0);
  window->Show();  // a closed window stays closed
  EXPECT_FALSE(window->IsOpen());
  EXPECT_FALSE(window->Widget()->isVisible());
}

TEST_F(WindowTest, TheCloseBoxClosesThroughTheWindowAndFreesIt) {
  const int before = liveWindows;
  {
    auto window = Accessor();
    window->SetHandler<void()>("Close", [] {});
  }
  EXPECT_EQ(liveWindows, before + 1);  // the lists hold it
  rb::FindImplicitWindow("TestWindow.TestWindow")->Widget()->close();
  rb::ProcessEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(liveWindows, before);
}

TEST_F(WindowTest, AControlWhoseHandlerClosesItsWindowOutlivesTheEvent) {
  const int before = liveWindows;
  QPointer<QPushButton> pushed;
  QPointer<QWidget> pressed;
  {
    auto window = Accessor();  // held by the window lists only, once this goes
    auto ok = rb::New<rb::PushButton>();
    window->AddControl(ok, "OK");
    ok->SetHandler<void()>("Action", [w = window.get()] { w->Close(); });
    pushed = static_cast<QPushButton*>(ok->Widget());
  }
  pushed->click();  // the window and its button go from inside the click
  EXPECT_EQ(liveWindows, before);
  {
    auto window = Accessor();
    auto label = rb::New<rb::StaticText>();
    window->AddControl(label, "Link");
    label->SetHandler<bool(int, int)>("MouseDown", [w = window.get()](int, int) { return w->Close(); });
    pressed = label->Widget();
  }
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(pressed, &press);
  EXPECT_EQ(liveWindows, before);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(pushed.isNull());
  EXPECT_TRUE(pressed.isNull());
}

TEST_F(WindowTest, TheCloseBoxCanBeRefusedToOnlyHide) {
  auto window = rb::New<rb::Window>();
  window->SetHandler<bool(bool)>("CancelClose", [&](bool quitting) {
    if (!quitting) window->SetVisible(false);
    return !quitting;
  });
  window->Construct();
  window->Widget()->close();
  EXPECT_TRUE(window->IsOpen());
  EXPECT_FALSE(window->Widget()->isVisible());
  window->SetVisible(true);
  EXPECT_TRUE(window->Widget()->isVisible());
}

TEST_F(WindowTest, PropertiesGiveSizeColourAndFlags) {
  auto window = rb::New<TestWindow>();
  window->Construct();
  QWidget* content = window->Widget()->findChild<QWidget*>("rbContent");
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->size(), QSize(266, 308));
  EXPECT_EQ(content->minimumSize(), content->maximumSize());  // fixed size
  window->ApplyProperties({{"HasBackColor", true},
                           {"BackColor", 0x000000},
                           {"MaximizeButton", false},
                           {"MinimizeButton", true},
                           {"Composite", false}});
  EXPECT_EQ(content->palette().color(QPalette::Window), QColor(0, 0, 0));
  EXPECT_TRUE(content->autoFillBackground());
  window->SetProperty("BackColor", "FF8000");
  EXPECT_EQ(content->palette().color(QPalette::Window), QColor(255, 128, 0));
  const Qt::WindowFlags flags = window->Widget()->windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window->Property("Composite").BooleanValue());
  EXPECT_FALSE(window->Property("Composite").IsNil());
  EXPECT_EQ(window->Property("Width").IntegerValue(), 266);
}

TEST_F(WindowTest, ANewWindowStartsFromTheDesignTimeDefaults) {
  auto window = rb::New<rb::Window>();
  const rb::PropertyList defaults = {
      {"Title", ""},
      {"Width", 300},
      {"Height", 300},
      {"MinWidth", 64},
      {"MinHeight", 64},
      {"MaxWidth", 32000},
      {"MaxHeight", 32000},
      {"Placement", 0},
      {"Frame", 0},
      {"Visible", true},
      {"CloseButton", true},
      {"MinimizeButton", true},
      {"MaximizeButton", true},
      {"Resizeable", true},
      {"LiveResize", true},
      {"HasBackColor", false},
      {"BackColor", "FFFFFF"},
      {"MenuBarVisible", true},
      {"Composite", false},
      {"FullScreen", false},
      {"BalloonHelp", ""},
      {"MacProcID", 0},
  };
  for (const auto& [name, value] : defaults) EXPECT_EQ(window->Property(name), value) << name.Bytes();
  window->Construct();
  const Qt::WindowFlags flags = window->Widget()->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_NE(window->Widget()->minimumSize(), window->Widget()->maximumSize()) << "resizeable";
}

TEST_F(WindowTest, PlacementTwoCentresOnTheScreen) {
  auto window = rb::New<rb::Window>();
  window->ApplyProperties({{"Width", 200}, {"Height", 100}, {"Placement", 2}});
  window->Construct();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint centre = window->Widget()->geometry().center();
  EXPECT_LE(std::abs(centre.x() - area.center().x()), 2);
  EXPECT_LE(std::abs(centre.y() - area.center().y()), 2);
}

TEST_F(WindowTest, KeysReachKeyDownAlsoWhenAControlHasThem) {
  auto window = rb::New<rb::Window>();
  auto slider = rb::New<rb::Slider>();
  window->AddControl(slider, "S");
  slider->ApplyProperties({{"Width", 84}, {"Height", 85}, {"Minimum", -5}, {"Maximum", 5}});
  std::vector<std::string> keys;
  bool handled = true;
  window->SetHandler<bool(rb::String)>("KeyDown", [&](rb::String key) {
    keys.push_back(key.Bytes());
    return handled;
  });
  window->Construct();
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QCoreApplication::sendEvent(slider->Widget(), &letter);
  QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
  QCoreApplication::sendEvent(slider->Widget(), &up);
  EXPECT_EQ(keys, (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(slider->Value(), 0);  // taken by the window
  handled = false;
  QCoreApplication::sendEvent(slider->Widget(), &up);
  EXPECT_EQ(slider->Value(), -1);  // not taken: the slider's thumb goes up, toward its Minimum
  EXPECT_EQ(keys.size(), 3u);      // raised once although Qt passes keys up the chain
}

TEST_F(WindowTest, MouseWheelCountsStepsPositiveTowardThePlayer) {
  auto window = rb::New<rb::Window>();
  std::vector<int> steps;
  window->SetHandler<bool(int, int, int, int)>("MouseWheel", [&](int, int, int, int dy) {
    steps.push_back(dy);
    return true;
  });
  window->Construct();
  QWidget* content = window->Widget()->findChild<QWidget*>("rbContent");
  for (int delta : {-120, 240, -60, -60}) {
    const QPointF at(5, 5);
    QWheelEvent wheel(at, content->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(content, &wheel);
  }
  EXPECT_EQ(steps, (std::vector<int>{1, -2, 1}));  // two half steps make one
}

TEST_F(WindowTest, ShowModalReturnsWhenTheWindowCloses) {
  auto window = rb::New<rb::Window>();
  window->SetProperty("Visible", false);
  window->Construct();
  QTimer::singleShot(10, [window] { window->Close(); });
  window->ShowModal();
  EXPECT_FALSE(window->IsOpen());
}

TEST_F(WindowTest, ScreenshotIsWrittenOffscreen) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  auto window = rb::New<rb::Window>();
  window->SetMenuBar(rb::New<rb::MenuBar>());
  window->ApplyProperties({{"Width", 120}, {"Height", 80}, {"HasBackColor", true}, {"BackColor", "000000"}});
  window->Construct();
  const QString path = folder.filePath("shot.png");
  ASSERT_TRUE(window->SaveScreenshot(rb::String(path.toStdString())));
  QImage shot(path);
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.size(), QSize(120, 80));
  EXPECT_EQ(shot.pixelColor(shot.width() / 2, shot.height() - 2), QColor(0, 0, 0));
}

// A window class whose constructor lets Qt deliver events to its widget
// (a nested loop, a message box) while nobody holds the window yet.
class EventsInConstructorWindow : public rb::Window {
 public:
  explicit EventsInConstructorWindow(const std::function<void(QWidget*)>& deliver) {
    ++liveWindows;
    SetHandler<bool(rb::String)>("KeyDown", [](rb::String) { return true; });
    deliver(Widget());
  }
  ~EventsInConstructorWindow() override { --liveWindows; }
};

TEST_F(WindowTest, EventsReachingAWindowStillBeingMadeLeaveItAlone) {
  struct Case {
    const char* what;
    std::function<void(QWidget*)> deliver;
  };
  const Case cases[] = {
      {"a key",
       [](QWidget* top) {
         QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
         QCoreApplication::sendEvent(top, &key);
       }},
      {"the close box", [](QWidget* top) { top->close(); }},
      {"the wheel",
       [](QWidget* top) {
         QWheelEvent wheel(QPointF(1, 1), QPointF(1, 1), QPoint(), QPoint(0, 120), Qt::NoButton,
                           Qt::NoModifier, Qt::NoScrollPhase, false);
         QCoreApplication::sendEvent(top, &wheel);
       }},
  };
  for (const Case& c : cases) {
    const int before = liveWindows;
    auto window = rb::New<EventsInConstructorWindow>(c.deliver);
    EXPECT_EQ(window->RefCount(), 1) << c.what;
    EXPECT_EQ(liveWindows, before + 1) << c.what;
    window->Construct();
    EXPECT_TRUE(window->IsOpen()) << c.what;
    EXPECT_TRUE(window->Close()) << c.what;
  }
}

}  // namespace
