// The program's icon and its transparency mask, loaded from the
// application's resources on first use and kept until finalisation.
// All on the UI thread.
#pragma once

#include "rb/Picture.h"

// The icon (picture 168) with mask48 drawn into its mask, or nil when the
// application has no picture 168. A new reference to the cached picture.
rb::Ref<rb::Picture> ambersolid48kb();
// The icon's mask (picture 169), or nil. A new reference to the cached picture.
rb::Ref<rb::Picture> mask48();
// Empties both caches at finalisation: the icon first, then the mask.
void ReleaseProjectPictures();
