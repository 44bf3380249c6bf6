// Pictures: masks, drawing at the picture's own size, resources by number.
#include "rb/Picture.h"

#include <QImage>
#include <QWidget>

#include "GuiTestSupport.h"
#include "rb/Controls.h"

namespace {

using rbtest::GuiTest;

class PictureTest : public GuiTest {};

rb::Ref<rb::Picture> Filled(int w, int h, QColor colour) {
  auto picture = rb::New<rb::Picture>(w, h);
  picture->Image().fill(colour);
  return picture;
}

TEST_F(PictureTest, MaskIsMadeOnceAndStartsOpaque) {
  auto picture = Filled(4, 4, Qt::red);
  auto mask = picture->Mask();
  EXPECT_EQ(mask.get(), picture->Mask().get());
  EXPECT_EQ(mask->Width(), 4);
  EXPECT_EQ(mask->Image().pixelColor(2, 2), QColor(Qt::white));
  EXPECT_EQ(picture->Composited().pixelColor(2, 2), QColor(Qt::red));
}

TEST_F(PictureTest, MinusTenThousandDrawsAtThePicturesOwnSize) {
  auto target = Filled(10, 10, Qt::white);
  target->GetGraphics()->DrawPicture(Filled(4, 3, Qt::red), 2, 2, -10000, -10000, 0, 0, -10000, -10000);
  const QImage& image = target->Image();
  EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(5, 4), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(6, 2), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(2, 5), QColor(Qt::white));
}

TEST_F(PictureTest, BlackDrawnIntoTheMaskMakesThePictureTransparentThere) {
  auto icon = Filled(4, 4, Qt::blue);
  auto mask = Filled(4, 4, Qt::white);
  mask->Image().setPixelColor(0, 0, Qt::black);
  mask->Image().setPixelColor(3, 3, Qt::black);
  icon->Mask()->GetGraphics()->DrawPicture(mask, 0, 0);
  const QImage drawn = icon->Composited();
  EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(drawn.pixel(3, 3)), 0);
  EXPECT_EQ(drawn.pixelColor(1, 1), QColor(Qt::blue));
  // Drawn onto another picture, the transparent pixels leave it as it was.
  auto onto = Filled(4, 4, Qt::green);
  onto->GetGraphics()->DrawPicture(icon, 0, 0);
  EXPECT_EQ(onto->Image().pixelColor(0, 0), QColor(Qt::green));
  EXPECT_EQ(onto->Image().pixelColor(1, 1), QColor(Qt::blue));
}

TEST_F(PictureTest, AbsentResourcePictureIsNilAndCountsAsARead) {
  const int before = rb::ResourceFork::PictureReadCount();
  EXPECT_FALSE(rb::appResourceForkGetter()->GetPicture(31999));
  EXPECT_EQ(rb::ResourceFork::PictureReadCount(), before + 1);
}

TEST_F(PictureTest, CanvasShowsItsBackdropWithTheMaskApplied) {
  auto window = rb::New<rb::Window>();
  window->ApplyProperties({{"Width", 20}, {"Height", 20}, {"HasBackColor", true}, {"BackColor", "000000"}});
  auto canvas = rb::New<rb::Canvas>();
  window->AddControl(canvas, "Canvas1");
  auto icon = Filled(8, 8, Qt::red);
  auto mask = Filled(8, 8, Qt::white);
  mask->Image().setPixelColor(0, 0, Qt::black);
  icon->Mask()->GetGraphics()->DrawPicture(mask, 0, 0);
  canvas->SetBackdrop(icon);
  canvas->ApplyProperties(rb::Placed(4, 4, 8, 8));
  window->Construct();
  const QImage shot = canvas->Widget()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(1, 1), QColor(Qt::red));
  EXPECT_EQ(canvas->Backdrop().get(), icon.get());
}

}  // namespace
