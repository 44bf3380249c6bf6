// A framework slider's thumb as the player sees and moves it.
#pragma once

#include <QCoreApplication>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include "rb/Controls.h"

namespace chimewick_test {

// Where the slider draws its thumb now, in window coordinates: the style's
// answer for the option the slider itself paints and hit-tests with.
inline QRect ThumbOf(const rb::Slider& slider) {
  struct SliderOptions : QSlider {
    using QSlider::initStyleOption;
  };
  const auto* bar = static_cast<const QSlider*>(slider.Widget());
  QStyleOptionSlider option;
  void (QSlider::*init)(QStyleOptionSlider*) const = &SliderOptions::initStyleOption;
  (bar->*init)(&option);
  return bar->style()
      ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, bar)
      .translated(bar->pos());
}

// One step of the mouse wheel turned away from the player, over the thumb.
inline void TurnWheelAwayOverThumb(const rb::Slider& slider) {
  QWidget* bar = slider.Widget();
  const QPointF at = ThumbOf(slider).center() - bar->pos();
  QWheelEvent away(at, bar->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(bar, &away);
}

}  // namespace chimewick_test
