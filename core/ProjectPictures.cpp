// The icon and its mask: one cache each, filled on first use.
#include "ProjectPictures.h"

namespace {

constexpr int kIconPicture = 168;
constexpr int kMaskPicture = 169;
// The framework's "the picture's own width or height".
constexpr int kOwnSize = -10000;

rb::Ref<rb::Picture>& IconCache() {
  static rb::Ref<rb::Picture> cache;
  return cache;
}

rb::Ref<rb::Picture>& MaskCache() {
  static rb::Ref<rb::Picture> cache;
  return cache;
}

}  // namespace

rb::Ref<rb::Picture> mask48() {
  if (!MaskCache()) {
    rb::Ref<rb::ResourceFork> fork = rb::appResourceForkGetter();
    MaskCache() = fork->GetPicture(kMaskPicture);
  }
  return MaskCache();
}

rb::Ref<rb::Picture> ambersolid48kb() {
  if (!IconCache()) {
    {
      rb::Ref<rb::ResourceFork> fork = rb::appResourceForkGetter();
      IconCache() = fork->GetPicture(kIconPicture);
    }
    // The mask goes in once, when the icon is loaded; a missing icon is
    // tried again at the next call.
    if (rb::Ref<rb::Picture> mask = mask48(); mask && IconCache()) {
      IconCache()->Mask()->GetGraphics()->DrawPicture(mask, 0, 0, kOwnSize, kOwnSize, 0, 0, kOwnSize,
                                                      kOwnSize);
    }
  }
  return IconCache();
}

void ReleaseProjectPictures() {
  IconCache().reset();
  MaskCache().reset();
}
