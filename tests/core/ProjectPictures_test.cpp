// The icon and its mask: read once from the resources, masked once, cached
// until finalisation.
#include "ProjectPictures.h"

#include <QImage>

#include "CoreTestFixture.h"

namespace coretest {
namespace {

class ProjectPicturesTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ReleaseProjectPictures();
  }
};

TEST_F(ProjectPicturesTest, TwoCallsGiveTheSamePictureAndReadTheResourcesOnce) {
  const int before = rb::ResourceFork::PictureReadCount();
  rb::Ref<rb::Picture> first = ambersolid48kb();
  const int afterFirst = rb::ResourceFork::PictureReadCount();
  rb::Ref<rb::Picture> second = ambersolid48kb();
  ASSERT_TRUE(first);
  EXPECT_EQ(first, second);
  EXPECT_EQ(afterFirst - before, 2);  // the icon and its mask
  EXPECT_EQ(rb::ResourceFork::PictureReadCount(), afterFirst);
  EXPECT_EQ(first->Width(), 48);
  EXPECT_EQ(first->Height(), 48);
}

TEST_F(ProjectPicturesTest, MaskFirstThenIconReadsTheMaskOnce) {
  const int before = rb::ResourceFork::PictureReadCount();
  rb::Ref<rb::Picture> mask = mask48();
  ASSERT_TRUE(mask);
  EXPECT_EQ(mask48(), mask);
  rb::Ref<rb::Picture> icon = ambersolid48kb();
  ASSERT_TRUE(icon);
  EXPECT_EQ(rb::ResourceFork::PictureReadCount() - before, 2);
}

TEST_F(ProjectPicturesTest, IconIsAnAmberDiscTransparentOutside) {
  const QImage shown = ambersolid48kb()->Composited();
  ASSERT_EQ(shown.width(), 48);
  const QColor centre = shown.pixelColor(24, 24);
  EXPECT_EQ(centre.alpha(), 255);
  EXPECT_GT(centre.red(), 200);
  EXPECT_GT(centre.green(), 120);
  EXPECT_LT(centre.blue(), 120);
  EXPECT_EQ(shown.pixelColor(0, 0).alpha(), 0);
  EXPECT_EQ(shown.pixelColor(47, 47).alpha(), 0);
  EXPECT_EQ(shown.pixelColor(47, 0).alpha(), 0);
}

TEST_F(ProjectPicturesTest, ReleaseEmptiesBothCachesAndTheNextCallLoadsAgain) {
  rb::Ref<rb::Picture> icon = ambersolid48kb();
  rb::Ref<rb::Picture> mask = mask48();
  const int icons = icon->RefCount(), masks = mask->RefCount();
  ReleaseProjectPictures();
  EXPECT_EQ(icon->RefCount(), icons - 1);
  EXPECT_EQ(mask->RefCount(), masks - 1);
  const int before = rb::ResourceFork::PictureReadCount();
  EXPECT_NE(ambersolid48kb(), icon);
  EXPECT_EQ(rb::ResourceFork::PictureReadCount() - before, 2);
}

}  // namespace
}  // namespace coretest
