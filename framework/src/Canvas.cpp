// Canvas: a widget that paints its Backdrop picture, mask applied.
#include <QPainter>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"

namespace rb {
namespace {

class CanvasWidget : public QWidget {
 public:
  Ref<Picture> backdrop;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!backdrop) return;
    QPainter painter(this);
    painter.drawImage(0, 0, backdrop->Composited());
  }
};

CanvasWidget& Surface(const RectControl& control) { return WidgetOf<CanvasWidget>(control); }

}  // namespace

Canvas::Canvas() {
  SetWidget(new CanvasWidget);
  StartFromDefaults(kBoxDefaults);
}

Ref<Picture> Canvas::Backdrop() const { return Surface(*this).backdrop; }

void Canvas::SetBackdrop(Ref<Picture> p) {
  CanvasWidget& surface = Surface(*this);
  surface.backdrop = std::move(p);
  surface.update();
}

void Canvas::SetProperty(const String& name, const Variant& value) {
  if (name == "Backdrop") {
    SetBackdrop(Cast<Picture>(value.ObjectValue()));
    return;
  }
  RectControl::SetProperty(name, value);
}

Variant Canvas::Property(const String& name) const {
  if (name == "Backdrop") return Variant(Backdrop());
  return RectControl::Property(name);
}

}  // namespace rb
