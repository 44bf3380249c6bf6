// The application's resources (pictures by number, texts) live in Qt's
// resource system. Linking them from a static library needs one explicit
// reference; call this before the first resource is read. Main thread.
#pragma once

namespace chimewick {
void InitResources();
}
