// Controls: assignments from code raise their events before they return,
// nested; clamping; lookups; the mouse events of labels and sliders.
#include "rb/Controls.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <type_traits>

#include "GuiTestSupport.h"
#include "SliderThumb.h"

namespace {

using rbtest::EventLog;
using rbtest::GuiTest;

class ControlsTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    window = rb::New<rb::Window>();
  }
  template <class T>
  rb::Ref<T> Add(const char* name, rb::PropertyList properties = {}, int index = -1) {
    auto control = rb::New<T>();
    window->AddControl(control, name, index);
    control->ApplyProperties(properties);
    return control;
  }
  rb::Ref<rb::Window> window;
};

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at) {
  QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &event);
}

using chimewick_test::ThumbOf;

TEST_F(ControlsTest, AssigningSliderValueRaisesValueChangedBeforeItReturns) {
  auto slider = Add<rb::Slider>("PitchSlider", {{"Minimum", -64}, {"Maximum", 64}, {"Value", 0}});
  EventLog log;
  slider->SetHandler<void()>("ValueChanged",
                             [&] { log.Add("changed to " + std::to_string(slider->Value())); });
  slider->SetValue(12);
  log.Add("returned");
  EXPECT_EQ(log.entries, (std::vector<std::string>{"changed to 12", "returned"}));
}

TEST_F(ControlsTest, AssignmentsNestInsideChangeHandlers) {
  auto list = Add<rb::PopupMenu>("InstrumentsList");
  auto transpose = Add<rb::Slider>("TransposeSlider", {{"Minimum", -11}, {"Maximum", 11}});
  auto pitch = Add<rb::Slider>("PitchSlider", {{"Minimum", -64}, {"Maximum", 64}});
  for (const char* row : {"Piano", "Organ 1", "Strings"}) list->AddRow(row);
  EventLog log;
  list->SetHandler<void()>("Change", [&] {
    log.Add("list " + std::to_string(list->ListIndex()));
    transpose->SetValue(3);
    log.Add("list done");
  });
  transpose->SetHandler<void()>("ValueChanged", [&] {
    log.Add("transpose " + std::to_string(transpose->Value()));
    pitch->SetValue(0);
    pitch->SetValue(-5);
    log.Add("transpose done");
  });
  pitch->SetHandler<void()>("ValueChanged", [&] { log.Add("pitch " + std::to_string(pitch->Value())); });
  list->SetListIndex(1);
  log.Add("returned");
  EXPECT_EQ(log.entries, (std::vector<std::string>{"list 1", "transpose 3", "pitch -5", "transpose done",
                                                   "list done", "returned"}));
}

TEST_F(ControlsTest, SliderKeepsItsValueInRangeAndRaisesOnlyOnChange) {
  struct Case {
    int assigned, expected;
    bool raises;
  };
  // From 0 in -11..11.
  const Case cases[] = {{5, 5, true}, {40, 11, true}, {-40, -11, true}, {0, 0, false}, {11, 11, true}};
  for (const Case& c : cases) {
    auto slider = Add<rb::Slider>("S", {{"Minimum", -11}, {"Maximum", 11}, {"Value", 0}});
    int raised = 0;
    slider->SetHandler<void()>("ValueChanged", [&] { ++raised; });
    slider->SetValue(c.assigned);
    EXPECT_EQ(slider->Value(), c.expected) << c.assigned;
    EXPECT_EQ(raised, c.raises ? 1 : 0) << c.assigned;
    slider->SetValue(c.assigned);  // the same again: nothing more
    EXPECT_EQ(raised, c.raises ? 1 : 0) << c.assigned;
  }
}

TEST_F(ControlsTest, SliderIsUprightWhenTallerThanWide) {
  struct Case {
    int width, height;
    bool vertical;
  };
  for (const Case& c : {Case{84, 85, true}, Case{73, 85, true}, Case{85, 84, false}, Case{50, 50, false}}) {
    auto slider = Add<rb::Slider>("S", rb::Placed(28, 104, c.width, c.height));
    EXPECT_EQ(slider->IsVertical(), c.vertical) << c.width << "x" << c.height;
    const auto* bar = static_cast<QSlider*>(slider->Widget());
    EXPECT_EQ(bar->orientation(), c.vertical ? Qt::Vertical : Qt::Horizontal);
    EXPECT_EQ(bar->geometry(), QRect(28, 104, c.width, c.height));
  }
}

TEST_F(ControlsTest, UprightSliderHoldsItsMinimumAtTheTopAndTheWheelMovesTheThumbItsWay) {
  auto slider =
      Add<rb::Slider>("S", rb::Placed(28, 104, 84, 85, {{"Minimum", -64}, {"Maximum", 64}, {"LineStep", 1}}));
  window->Show();
  slider->SetValue(-64);
  const int topmost = ThumbOf(*slider).center().y();
  slider->SetValue(64);
  EXPECT_GT(ThumbOf(*slider).center().y(), topmost + 40) << "the Maximum is at the bottom";
  slider->SetValue(0);
  const int middle = ThumbOf(*slider).center().y();
  // One step of the wheel turned away from the player moves the thumb up.
  chimewick_test::TurnWheelAwayOverThumb(*slider);
  EXPECT_LT(slider->Value(), 0);
  EXPECT_LT(ThumbOf(*slider).center().y(), middle);
}

TEST_F(ControlsTest, SliderDrawsItsThumbWhereNoLabelCoversItAtAnyValue) {
  struct Case {
    const char* what;
    QRect slider;
    std::vector<QRect> labels;
    QRect track;  // where the groove runs, window coordinates
  };
  const Case cases[] = {
      {"a value label in the middle", {28, 104, 84, 85}, {{56, 136, 35, 20}}, {28, 104, 28, 85}},
      {"two labels, the right one reaching past the edge",
       {98, 104, 73, 85},
       {{125, 136, 35, 20}, {150, 136, 64, 21}},
       {98, 104, 27, 85}},
      {"a label on the left", {0, 0, 60, 100}, {{0, 40, 20, 20}}, {20, 0, 40, 100}},
      {"level, a label in the middle", {0, 0, 120, 60}, {{10, 20, 30, 20}}, {0, 0, 120, 20}},
      {"no room beside the label", {0, 0, 30, 100}, {{5, 40, 20, 20}}, {0, 0, 30, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window = rb::New<rb::Window>();
    auto slider = Add<rb::Slider>("S", rb::Placed(c.slider.left(), c.slider.top(), c.slider.width(),
                                                  c.slider.height(), {{"Minimum", -11}, {"Maximum", 11}}));
    for (const QRect& at : c.labels) {
      Add<rb::StaticText>("Label", rb::Placed(at.left(), at.top(), at.width(), at.height(),
                                              {{"Text", "-11"}, {"InitialParent", "S"}}));
    }
    window->Show();
    for (int v = -11; v <= 11; ++v) {
      slider->SetValue(v);
      const QRect thumb = ThumbOf(*slider);
      EXPECT_TRUE(c.track.contains(thumb)) << v;
      if (c.track == c.slider) continue;  // no room: nothing to keep clear
      for (const QRect& label : c.labels) EXPECT_FALSE(thumb.intersects(label)) << v;
    }
  }
}

TEST_F(ControlsTest, APressOnTheThumbOfASliderUnderItsValueLabelDragsIt) {
  auto slider = Add<rb::Slider>(
      "S", rb::Placed(28, 104, 84, 85, {{"Minimum", -64}, {"Maximum", 64}, {"LiveScroll", false}}));
  auto label =
      Add<rb::StaticText>("Value", rb::Placed(56, 136, 35, 20, {{"Text", "0"}, {"InitialParent", "S"}}));
  int labelDowns = 0;
  label->SetHandler<bool(int, int)>("MouseDown", [&](int, int) {
    ++labelDowns;
    return false;
  });
  window->Show();
  QWindow* top = window->Widget()->windowHandle();
  ASSERT_NE(top, nullptr);
  // Through the window, as the player's mouse: the topmost widget under the
  // pointer gets the press.
  const QPoint thumb = ThumbOf(*slider).center();
  QTest::mousePress(top, Qt::LeftButton, Qt::NoModifier, thumb);
  QTest::mouseMove(top, thumb - QPoint(0, 10));
  QTest::mouseMove(top, thumb - QPoint(0, 20));
  QTest::mouseRelease(top, Qt::LeftButton, Qt::NoModifier, thumb - QPoint(0, 20));
  EXPECT_EQ(labelDowns, 0);
  EXPECT_LT(slider->Value(), -10) << "dragged up, toward the Minimum";
}

TEST_F(ControlsTest, PlayersSliderMoveRaisesValueChangedOnce) {
  auto slider = Add<rb::Slider>("S", {{"Minimum", -64}, {"Maximum", 64}, {"LiveScroll", false}});
  int raised = 0;
  slider->SetHandler<void()>("ValueChanged", [&] { ++raised; });
  static_cast<QSlider*>(slider->Widget())->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(slider->Value(), 1);
}

TEST_F(ControlsTest, SliderMouseDownComesFirstAndTrueKeepsTheSliderStill) {
  for (bool taken : {true, false}) {
    auto slider = Add<rb::Slider>(
        "S", {{"Width", 84}, {"Height", 85}, {"Minimum", -64}, {"Maximum", 64}, {"PageStep", 1}});
    window->Show();
    std::vector<std::pair<int, int>> downs;
    int valueAtDown = 999;
    slider->SetHandler<bool(int, int)>("MouseDown", [&](int x, int y) {
      downs.emplace_back(x, y);
      valueAtDown = slider->Value();
      return taken;
    });
    SendMouse(slider->Widget(), QEvent::MouseButtonPress, QPoint(42, 80));
    SendMouse(slider->Widget(), QEvent::MouseButtonRelease, QPoint(42, 80));
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0], std::make_pair(42, 80));
    EXPECT_EQ(valueAtDown, 0);
    if (taken) {
      EXPECT_EQ(slider->Value(), 0);
    }
  }
}

TEST_F(ControlsTest, ListsAndSlidersTakeNoKeyboardFocusSoArrowsReachOnlyTheWindow) {
  auto list = Add<rb::PopupMenu>("L");
  auto slider = Add<rb::Slider>("S");
  EXPECT_EQ(list->Widget()->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(slider->Widget()->focusPolicy(), Qt::NoFocus);
  slider->SetProperty("AcceptFocus", true);
  EXPECT_EQ(slider->Widget()->focusPolicy(), Qt::StrongFocus);
}

TEST_F(ControlsTest, AssigningListIndexRaisesChangeEveryTimeItNamesARow) {
  auto list = Add<rb::PopupMenu>("InstrumentsList");
  for (const char* row : {"Piano", "Organ 1", "Strings"}) list->AddRow(row);
  EXPECT_EQ(list->ListIndex(), -1);
  EventLog log;
  list->SetHandler<void()>("Change", [&] { log.Add("change " + std::to_string(list->ListIndex())); });
  list->SetListIndex(2);
  log.Add("returned");
  list->SetListIndex(2);  // already selected: raised all the same
  EXPECT_EQ(log.entries, (std::vector<std::string>{"change 2", "returned", "change 2"}));
  EXPECT_EQ(list->Text().Bytes(), "Strings");
  EXPECT_EQ(list->List(1).Bytes(), "Organ 1");
  EXPECT_EQ(list->ListCount(), 3);
}

TEST_F(ControlsTest, ListIndexOutsideTheRowsSelectsNothingAndRaisesNothing) {
  struct Case {
    int rows, index;
  };
  for (const Case& c : {Case{0, 0}, Case{3, 3}, Case{3, 7}, Case{3, -1}, Case{3, -5}}) {
    auto list = Add<rb::PopupMenu>("L");
    for (int i = 0; i < c.rows; ++i) list->AddRow(rb::String(std::to_string(i)));
    if (c.rows > 0) list->SetListIndex(1);
    int raised = 0;
    list->SetHandler<void()>("Change", [&] { ++raised; });
    EXPECT_NO_THROW(list->SetListIndex(c.index));
    EXPECT_EQ(raised, 0) << c.rows << " rows, index " << c.index;
    EXPECT_EQ(list->ListIndex(), -1);
    EXPECT_EQ(list->Text().Bytes(), "");
  }
}

TEST_F(ControlsTest, PopupRowTagsAndThePlayersChoice) {
  auto list = Add<rb::PopupMenu>("L");
  list->AddRow("Piano");
  list->AddRow("Organ");
  list->SetRowTag(1, 17);
  EXPECT_EQ(list->RowTag(1).IntegerValue(), 17);
  EXPECT_TRUE(list->RowTag(0).IsNil());
  EXPECT_THROW(list->RowTag(2), rb::OutOfBoundsException);
  int raised = 0;
  list->SetHandler<void()>("Change", [&] { ++raised; });
  static_cast<QComboBox*>(list->Widget())->setCurrentIndex(1);  // as a pick from the list does
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(list->ListIndex(), 1);
}

TEST_F(ControlsTest, WheelOverPopupGoesToItsHandlerAndNotAlsoToQt) {
  auto list = Add<rb::PopupMenu>("L", {{"Width", 135}, {"Height", 20}});
  for (const char* row : {"a", "b", "c", "d"}) list->AddRow(row);
  list->SetListIndex(1);
  window->Show();
  std::vector<int> steps;
  list->SetHandler<bool(int, int, int, int)>("MouseWheel", [&](int, int, int, int dy) {
    steps.push_back(dy);
    list->SetListIndex(list->ListIndex() + dy);
    return false;
  });
  QWidget* combo = list->Widget();
  const QPointF at(10, 10);
  QWheelEvent wheel(at, combo->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(combo, &wheel);
  EXPECT_EQ(steps, std::vector<int>{1});  // toward the player: one row down
  EXPECT_EQ(list->ListIndex(), 2);        // moved once, by the handler
}

TEST_F(ControlsTest, AssigningBevelButtonValueRaisesNoAction) {
  auto button = Add<rb::BevelButton>("Preset", {{"Caption", "1"}, {"ButtonType", 1}, {"Bevel", 6}}, 1);
  int actions = 0;
  button->SetHandler<void()>("Action", [&] { ++actions; });
  button->SetValue(true);
  EXPECT_TRUE(button->Value());
  EXPECT_TRUE(static_cast<QPushButton*>(button->Widget())->isChecked());
  button->SetValue(false);
  EXPECT_EQ(actions, 0);
  EXPECT_EQ(button->Property("Bevel").IntegerValue(), 6);
  static_cast<QPushButton*>(button->Widget())->click();
  EXPECT_EQ(actions, 1);
}

TEST_F(ControlsTest, ControlsAreFoundByNameAndIndex) {
  Add<rb::PopupMenu>("InstrumentsList");
  for (int k = 1; k <= 6; ++k) {
    auto button = rb::New<rb::BevelButton>();
    button->SetIndex(k);
    window->AddControl(button, "Preset");
  }
  Add<rb::StaticText>("Warnings");
  EXPECT_EQ(window->ControlCount(), 8);
  EXPECT_EQ(window->ControlAt(0)->Name().Bytes(), "InstrumentsList");
  EXPECT_EQ(window->ControlAt(7)->Name().Bytes(), "Warnings");
  EXPECT_FALSE(window->ControlAt(8));
  EXPECT_FALSE(window->ControlAt(-1));
  for (int k = 1; k <= 6; ++k) {
    auto button = window->Find<rb::BevelButton>("Preset", k);
    ASSERT_TRUE(button) << k;
    EXPECT_EQ(button->Index(), k);
  }
  EXPECT_FALSE(window->FindControl("Preset", 0));
  EXPECT_FALSE(window->FindControl("Preset", 7));
  EXPECT_FALSE(window->FindControl("Preset"));
  EXPECT_FALSE(window->FindControl("Nothing"));
  EXPECT_TRUE(window->Find<rb::PopupMenu>("InstrumentsList"));
  EXPECT_FALSE(window->Find<rb::Slider>("InstrumentsList"));  // not of that class
}

TEST_F(ControlsTest, AddControlGivesTheControlBackAsItsOwnClass) {
  rb::Ref<rb::Slider> slider = window->AddControl(rb::New<rb::Slider>(), "S");
  static_assert(
      std::is_same_v<decltype(window->AddControl(rb::New<rb::Slider>(), "T")), rb::Ref<rb::Slider>>);
  EXPECT_EQ(window->FindControl("S"), rb::Ref<rb::Control>(slider));
  EXPECT_EQ(slider->GetWindow(), window.get());
  EXPECT_EQ(window->AddControl(rb::New<rb::BevelButton>(), "Preset", 3)->Index(), 3);
}

TEST_F(ControlsTest, ControlsStartFromTheDesignTimeDefaults) {
  struct Case {
    const char* what;
    std::function<rb::Ref<rb::RectControl>()> make;
    bool box, text, dataBinding;
  };
  auto made = [](auto control) { return [control] { return rb::Ref<rb::RectControl>(control()); }; };
  const Case cases[] = {
      {"pop-up menu", made([] { return rb::New<rb::PopupMenu>(); }), true, true, true},
      {"label", made([] { return rb::New<rb::StaticText>(); }), true, true, true},
      {"bevel button", made([] { return rb::New<rb::BevelButton>(); }), true, true, false},
      {"push button", made([] { return rb::New<rb::PushButton>(); }), true, true, false},
      {"text field", made([] { return rb::New<rb::EditField>(); }), true, true, false},
      {"slider", made([] { return rb::New<rb::Slider>(); }), true, false, false},
      {"canvas", made([] { return rb::New<rb::Canvas>(); }), true, false, false},
      {"line", made([] { return rb::New<rb::Line>(); }), false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rb::Ref<rb::RectControl> control = window->AddControl(c.make(), "C");
    EXPECT_EQ(control->Property("InitialParent"), rb::Variant(""));
    EXPECT_EQ(control->Property("TabPanelIndex"), rb::Variant(0));
    EXPECT_EQ(control->Property("Visible"), rb::Variant(true));
    const rb::Variant absent;
    for (const char* lock : {"LockLeft", "LockTop", "LockRight", "LockBottom"})
      EXPECT_EQ(control->Property(lock), c.box ? rb::Variant(false) : absent) << lock;
    EXPECT_EQ(control->Property("Enabled"), rb::Variant(true));
    EXPECT_EQ(control->Property("AutoDeactivate"), c.box ? rb::Variant(true) : absent);
    EXPECT_EQ(control->Property("HelpTag"), rb::Variant(""));
    EXPECT_EQ(control->Property("TextFont"), c.text ? rb::Variant("System") : absent);
    EXPECT_EQ(control->Property("TextSize"), c.text ? rb::Variant(0) : absent);
    for (const char* style : {"Bold", "Italic", "Underline"})
      EXPECT_EQ(control->Property(style), c.text ? rb::Variant(false) : absent) << style;
    EXPECT_EQ(control->Property("DataSource"), c.dataBinding ? rb::Variant("") : absent);
    EXPECT_EQ(control->Property("DataField"), c.dataBinding ? rb::Variant("") : absent);
  }
}

TEST_F(ControlsTest, CommonPropertiesReadBackAndUnknownOnesAreKept) {
  auto label = Add<rb::StaticText>(
      "Key",
      rb::Placed(150, 136, 64, 21, {{"HelpTag", "Key name"}, {"DataSource", ""}, {"LockLeft", false}}));
  EXPECT_EQ(label->Widget()->geometry(), QRect(150, 136, 64, 21));
  EXPECT_EQ(label->HelpTag().Bytes(), "Key name");
  EXPECT_EQ(label->Widget()->toolTip(), QString("Key name"));
  EXPECT_FALSE(label->Property("LockLeft").BooleanValue());
  EXPECT_FALSE(label->Property("LockLeft").IsNil());
  EXPECT_TRUE(label->Property("NeverSet").IsNil());
  label->SetEnabled(false);
  EXPECT_FALSE(label->Widget()->isEnabled());
  auto button = Add<rb::BevelButton>("Preset", {{"AcceptFocus", false}}, 2);
  EXPECT_EQ(button->Widget()->focusPolicy(), Qt::NoFocus);
}

TEST_F(ControlsTest, ColoursAreTakenAsNumbersAndAsHexText) {
  auto a = Add<rb::StaticText>("A", {{"TextColor", 0xE8E8E8}});
  auto b = Add<rb::StaticText>("B", {{"TextColor", "E8E8E8"}});
  EXPECT_EQ(a->TextColor(), rb::RGB(0xE8, 0xE8, 0xE8));
  EXPECT_EQ(b->TextColor(), a->TextColor());
  EXPECT_EQ(static_cast<QLabel*>(b->Widget())->palette().color(QPalette::WindowText),
            QColor(0xE8, 0xE8, 0xE8));
}

TEST_F(ControlsTest, StaticTextProperties) {
  auto label = Add<rb::StaticText>("Presets", {{"Text", "Presets"},
                                               {"TextAlign", 1},
                                               {"Bold", true},
                                               {"Underline", true},
                                               {"TextSize", 0},
                                               {"Multiline", false}});
  auto* widget = static_cast<QLabel*>(label->Widget());
  EXPECT_EQ(label->Text().Bytes(), "Presets");
  EXPECT_EQ(label->TextAlign(), 1);
  EXPECT_TRUE(widget->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(label->Bold());
  EXPECT_TRUE(label->Underline());
  EXPECT_EQ(label->TextSize(), 0);
  EXPECT_EQ(widget->font().pointSize(), QApplication::font().pointSize());
}

TEST_F(ControlsTest, LabelWithInitialParentLiesOnItsSlider) {
  auto label = Add<rb::StaticText>("PitchSliderValue", rb::Placed(56, 136, 35, 20));
  auto slider = Add<rb::Slider>("PitchSlider", rb::Placed(28, 104, 84, 85));
  label->SetProperty("InitialParent", "PitchSlider");
  const QObjectList& stack = slider->Widget()->parentWidget()->children();
  EXPECT_GT(stack.indexOf(label->Widget()), stack.indexOf(slider->Widget()));  // later is on top
  EXPECT_EQ(label->Widget()->geometry(), QRect(56, 136, 35, 20));              // window coordinates
  EXPECT_EQ(label->Widget()->parentWidget(), slider->Widget()->parentWidget());
}

TEST_F(ControlsTest, StaticTextMouseUpFollowsOnlyATakenMouseDown) {
  for (bool taken : {true, false}) {
    auto label = Add<rb::StaticText>("StaticText1", {{"Width", 64}, {"Height", 16}});
    EventLog log;
    label->SetHandler<bool(int, int)>("MouseDown", [&](int x, int y) {
      log.Add("down " + std::to_string(x) + "," + std::to_string(y));
      return taken;
    });
    label->SetHandler<void(int, int)>(
        "MouseUp", [&](int x, int y) { log.Add("up " + std::to_string(x) + "," + std::to_string(y)); });
    label->SetHandler<void()>("MouseEnter", [&] { log.Add("enter"); });
    label->SetHandler<void()>("MouseExit", [&] { log.Add("exit"); });
    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    QCoreApplication::sendEvent(label->Widget(), &enter);
    SendMouse(label->Widget(), QEvent::MouseButtonPress, QPoint(3, 4));
    SendMouse(label->Widget(), QEvent::MouseButtonRelease, QPoint(5, 6));
    QCoreApplication::sendEvent(label->Widget(), &leave);
    if (taken) {
      EXPECT_EQ(log.entries, (std::vector<std::string>{"enter", "down 3,4", "up 5,6", "exit"}));
    } else {
      EXPECT_EQ(log.entries, (std::vector<std::string>{"enter", "down 3,4", "exit"}));
    }
  }
}

TEST_F(ControlsTest, PushButtonPushRaisesActionAndReturnPressesOnlyTheDefault) {
  auto ok = Add<rb::PushButton>("OK", {{"Caption", "OK"}, {"Default", false}, {"Cancel", false}});
  int actions = 0;
  ok->SetHandler<void()>("Action", [&] { ++actions; });
  ok->Push();
  EXPECT_EQ(actions, 1);
  window->Show();
  for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "\x1b");
    QCoreApplication::sendEvent(window->Widget(), &press);
  }
  EXPECT_EQ(actions, 1);
  ok->SetProperty("Default", true);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QCoreApplication::sendEvent(window->Widget(), &press);
  EXPECT_EQ(actions, 2);
}

TEST_F(ControlsTest, LineFollowsItsEndPoints) {
  auto line = Add<rb::Line>(
      "Line1",
      {{"X1", 26}, {"Y1", 228}, {"X2", 238}, {"Y2", 228}, {"BorderWidth", 1}, {"LineColor", "AAAAAA"}});
  EXPECT_EQ(line->Left(), 26);
  EXPECT_EQ(line->Top(), 228);
  EXPECT_EQ(line->Width(), 212);
  EXPECT_EQ(line->Height(), 0);
  EXPECT_EQ(line->Widget()->geometry(), QRect(26, 228, 213, 1));  // both ends, a pixel thick
}

TEST_F(ControlsTest, LineIsDrawnFromEndToEnd) {
  struct Case {
    int x1, y1, x2, y2, thickness;
  };
  for (const Case& c : {Case{26, 80, 238, 80, 1}, Case{40, 10, 40, 60, 1}, Case{238, 30, 26, 30, 2}}) {
    SCOPED_TRACE(std::to_string(c.x1) + "," + std::to_string(c.y1) + " " + std::to_string(c.x2) + "," +
                 std::to_string(c.y2));
    window = rb::New<rb::Window>();
    window->ApplyProperties(
        {{"Width", 266}, {"Height", 100}, {"HasBackColor", true}, {"BackColor", "000000"}});
    Add<rb::Line>("Line", {{"X1", c.x1},
                           {"Y1", c.y1},
                           {"X2", c.x2},
                           {"Y2", c.y2},
                           {"BorderWidth", c.thickness},
                           {"LineColor", "AAAAAA"}});
    window->Show();
    const QImage shot = window->Widget()->findChild<QWidget*>("rbContent")->grab().toImage();
    const QColor grey(0xAA, 0xAA, 0xAA), black(0, 0, 0);
    const QRect drawn = QRect(QPoint(c.x1, c.y1), QPoint(c.x2, c.y2))
                            .normalized()
                            .adjusted(0, 0, c.thickness - 1, c.thickness - 1);
    for (int y = drawn.top() - 1; y <= drawn.bottom() + 1; ++y) {
      for (int x = drawn.left() - 1; x <= drawn.right() + 1; ++x) {
        ASSERT_EQ(shot.pixelColor(x, y), drawn.contains(x, y) ? grey : black) << x << "," << y;
      }
    }
  }
}

TEST_F(ControlsTest, EditFieldTextAndReadOnly) {
  auto field = Add<rb::EditField>(
      "Text", {{"Multiline", true}, {"ReadOnly", true}, {"ScrollbarVertical", true}, {"Styled", false}});
  field->SetText("Line 1\nLine 2");
  EXPECT_EQ(field->Text().Bytes(), "Line 1\nLine 2");
  EXPECT_TRUE(field->ReadOnly());
  EXPECT_FALSE(field->Property("Styled").BooleanValue());
}

TEST_F(ControlsTest, AHandlerThatFreesItsWindowRunsToItsEnd) {
  struct Case {
    const char* what;
    const char* event;
    std::function<rb::Ref<rb::RectControl>()> make;
    std::function<void(QWidget*)> act;  // what the player does
  };
  const Case cases[] = {
      {"push button", "Action", [] { return rb::Ref<rb::RectControl>(rb::New<rb::PushButton>()); },
       [](QWidget* w) { static_cast<QPushButton*>(w)->click(); }},
      {"bevel button", "Action", [] { return rb::Ref<rb::RectControl>(rb::New<rb::BevelButton>()); },
       [](QWidget* w) { static_cast<QPushButton*>(w)->click(); }},
      {"slider", "ValueChanged",
       [] {
         auto slider = rb::New<rb::Slider>();
         slider->ApplyProperties({{"Minimum", 0}, {"Maximum", 10}});
         return rb::Ref<rb::RectControl>(slider);
       },
       [](QWidget* w) { static_cast<QSlider*>(w)->setValue(5); }},
      {"pop-up menu", "Change",
       [] {
         auto list = rb::New<rb::PopupMenu>();
         list->AddRow("Piano");
         list->AddRow("Organ");
         return rb::Ref<rb::RectControl>(list);
       },
       [](QWidget* w) { static_cast<QComboBox*>(w)->setCurrentIndex(1); }},
  };
  for (const Case& c : cases) {
    std::string seen;
    QPointer<QWidget> widget;
    {
      auto owner = rb::New<rb::Window>();
      owner->Construct();  // the window list holds it once this goes
      rb::Ref<rb::RectControl> control = c.make();
      owner->AddControl(control, "Control");
      // The handler reads its control after the window has gone.
      control->SetHandler<void()>(c.event, [w = owner.get(), self = control.get(), &seen] {
        w->Close();
        seen = self->Name().Bytes();
      });
      widget = control->Widget();
    }
    c.act(widget);
    EXPECT_EQ(seen, "Control") << c.what;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(widget.isNull()) << c.what;
  }
}

TEST_F(ControlsTest, AControlKeptAfterItsWindowWasFreedRaisesNilObject) {
  struct Case {
    const char* what;
    std::function<rb::Ref<rb::RectControl>()> make;
    std::function<void(rb::RectControl&)> use;
  };
  const Case cases[] = {
      {"slider value", [] { return rb::Ref<rb::RectControl>(rb::New<rb::Slider>()); },
       [](rb::RectControl& c) { static_cast<rb::Slider&>(c).SetValue(3); }},
      {"list index", [] { return rb::Ref<rb::RectControl>(rb::New<rb::PopupMenu>()); },
       [](rb::RectControl& c) { (void)static_cast<rb::PopupMenu&>(c).ListIndex(); }},
      {"label text", [] { return rb::Ref<rb::RectControl>(rb::New<rb::StaticText>()); },
       [](rb::RectControl& c) { static_cast<rb::StaticText&>(c).SetText("gone"); }},
      {"button value", [] { return rb::Ref<rb::RectControl>(rb::New<rb::BevelButton>()); },
       [](rb::RectControl& c) { (void)static_cast<rb::BevelButton&>(c).Value(); }},
      {"field text", [] { return rb::Ref<rb::RectControl>(rb::New<rb::EditField>()); },
       [](rb::RectControl& c) { (void)static_cast<rb::EditField&>(c).Text(); }},
  };
  for (const Case& c : cases) {
    rb::Ref<rb::RectControl> kept = c.make();
    rb::New<rb::Window>()->AddControl(kept, "Kept");  // the window goes at once
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(kept->Widget(), nullptr) << c.what;
    EXPECT_THROW(c.use(*kept), rb::NilObjectException) << c.what;
    kept->SetLeft(4);  // what the control keeps itself still works
    EXPECT_EQ(kept->Left(), 4) << c.what;
  }
}

TEST_F(ControlsTest, TextSizeIsInPixelsAndZeroIsTheStandardSize) {
  struct Case {
    const char* what;
    std::function<rb::Ref<rb::RectControl>()> make;
  };
  const Case cases[] = {
      {"label", [] { return rb::Ref<rb::RectControl>(rb::New<rb::StaticText>()); }},
      {"field", [] { return rb::Ref<rb::RectControl>(rb::New<rb::EditField>()); }},
  };
  for (const Case& c : cases) {
    rb::Ref<rb::RectControl> control = c.make();
    window->AddControl(control, "Text");
    for (int size : {10, 11, 14}) {
      control->SetProperty("TextSize", size);
      EXPECT_EQ(control->Widget()->font().pixelSize(), size) << c.what;
      // A 12-pixel-high label holds a line of 10-point text.
      if (size == 10) {
        EXPECT_LE(QFontMetrics(control->Widget()->font()).height(), 13) << c.what;
      }
    }
    control->SetProperty("TextSize", 0);
    EXPECT_EQ(control->Widget()->font().pointSizeF(), QApplication::font().pointSizeF()) << c.what;
    EXPECT_EQ(control->Widget()->font().pixelSize(), QApplication::font().pixelSize()) << c.what;
  }
}

}  // namespace
