// Prints the time from process start to the first window shown, and from
// main() to the same point, in milliseconds. Run headless with
// QT_QPA_PLATFORM=offscreen.
#include <QElapsedTimer>
#include <QWidget>
#include <cstdio>

#include "ProcessAge.h"
#include "rb/Controls.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace {

// A window like the main one: a popup, two sliders, labels, six buttons.
class BenchWindow : public rb::Window {
 public:
  BenchWindow() {
    SetHandler<void()>("Layout", [this] {
      ApplyProperties({{"Width", 266},
                       {"Height", 308},
                       {"Title", "Chimewick Home Edition"},
                       {"HasBackColor", true},
                       {"BackColor", "000000"},
                       {"Resizeable", false}});
    });
    SetHandler<void()>("CreateControls", [this] {
      AddControl(rb::New<rb::PopupMenu>(), "InstrumentsList");
      for (const char* name : {"PitchSlider", "TransposeSlider"}) {
        auto slider = rb::New<rb::Slider>();
        AddControl(slider, name);
        slider->ApplyProperties({{"Width", 84}, {"Height", 85}, {"Minimum", -64}, {"Maximum", 64}});
      }
      for (const char* name : {"Warnings", "StaticText1", "StaticText2", "Key", "StaticText3"}) {
        auto label = rb::New<rb::StaticText>();
        AddControl(label, name);
        label->ApplyProperties({{"Text", name}, {"TextColor", "FFFFFF"}});
      }
      for (int k = 1; k <= 6; ++k) {
        auto button = rb::New<rb::BevelButton>();
        button->SetIndex(k);
        AddControl(button, "Preset");
      }
    });
  }
};

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer sinceMain;
  sinceMain.start();
  rb::RuntimeInit(argc, argv);
  auto window = rb::ImplicitInstance<BenchWindow>("BenchWindow");
  rb::ProcessEvents();
  const bool shown = window->Widget()->isVisible();
  const double fromMain = double(sinceMain.nsecsElapsed()) / 1e6;
  const double fromStart = ProcessAgeSeconds() * 1000.0;
  std::printf("first window shown: %s\n", shown ? "yes" : "no");
  std::printf("process start to first window: %.0f ms (10 ms resolution)\n", fromStart);
  std::printf("main() to first window: %.1f ms\n", fromMain);
  rb::Quit();
  rb::RuntimeRun();
  rb::ReleaseWindowLists();
  window.reset();
  return rb::RuntimeExit();
}
