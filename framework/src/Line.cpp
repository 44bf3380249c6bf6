// Line: a widget that paints a line from (X1, Y1) to (X2, Y2), window
// coordinates, BorderWidth thick in LineColor. Left, Top, Width and Height
// follow the end points.
#include <QPainter>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"

namespace rb {
namespace {

class LineWidget : public QWidget {
 public:
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0, thickness = 1;
  QColor color{0, 0, 0};

 protected:
  // Both end points are drawn: a line from x 26 to x 238 covers 213 pixels.
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QPoint from = QPoint(x1, y1) - geometry().topLeft(), to = QPoint(x2, y2) - geometry().topLeft();
    if (from.x() == to.x() || from.y() == to.y()) {
      painter.fillRect(QRect(from, to).normalized().adjusted(0, 0, thickness - 1, thickness - 1), color);
      return;
    }
    painter.setPen(QPen(color, thickness, Qt::SolidLine, Qt::SquareCap));
    const QPointF centre(thickness / 2.0, thickness / 2.0);
    painter.drawLine(QPointF(from) + centre, QPointF(to) + centre);
  }
};

LineWidget& Stroke(const RectControl& control) { return WidgetOf<LineWidget>(control); }

}  // namespace

Line::Line() {
  SetWidget(new LineWidget);
  impl_->penExtent = 1;
  StartFromDefaults(0);
}

void Line::SetProperty(const String& name, const Variant& value) {
  LineWidget& line = Stroke(*this);
  StoreProperty(name, value);
  const int v = value.IntegerValue();
  bool moved = true;
  if (name == "X1")
    line.x1 = v;
  else if (name == "Y1")
    line.y1 = v;
  else if (name == "X2")
    line.x2 = v;
  else if (name == "Y2")
    line.y2 = v;
  else if (name == "BorderWidth")
    line.thickness = std::max(1, v);
  else if (name == "LineColor") {
    line.color = ColorFromVariant(value);
    line.update();
    return;
  } else {
    moved = false;
  }
  if (!moved) {
    RectControl::SetProperty(name, value);
    if (name == "Left" || name == "Top") {
      // Moving the box moves the end points with it.
      const int dx = Left() - std::min(line.x1, line.x2), dy = Top() - std::min(line.y1, line.y2);
      line.x1 += dx;
      line.x2 += dx;
      line.y1 += dy;
      line.y2 += dy;
    }
    return;
  }
  impl_->penExtent = line.thickness;
  impl_->left = std::min(line.x1, line.x2);
  impl_->top = std::min(line.y1, line.y2);
  impl_->width = std::abs(line.x2 - line.x1);
  impl_->height = std::abs(line.y2 - line.y1);
  ApplyGeometry();
  line.update();
}

Variant Line::Property(const String& name) const {
  const LineWidget& line = Stroke(*this);
  if (name == "X1") return line.x1;
  if (name == "Y1") return line.y1;
  if (name == "X2") return line.x2;
  if (name == "Y2") return line.y2;
  if (name == "BorderWidth") return line.thickness;
  return RectControl::Property(name);
}

}  // namespace rb
