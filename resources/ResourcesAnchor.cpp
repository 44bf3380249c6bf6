#include <QtCore/QDir>
#include <QtCore/QtGlobal>

#include "Resources.h"

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initResourcesOnce() { Q_INIT_RESOURCE(chimewick_resources); }

namespace chimewick {

void InitResources() {
  static const bool done = (initResourcesOnce(), true);
  (void)done;
}

}  // namespace chimewick
