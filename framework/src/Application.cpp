// The application object.
#include "rb/Window.h"

namespace rb {
namespace {
Ref<Application>& AppObject() {
  static Ref<Application> app;
  return app;
}
}  // namespace

String Application::ShortVersion() const { return String(CHIMEWICK_SHORT_VERSION); }

void RuntimeRegisterAppObject(Ref<Application> app) { AppObject() = std::move(app); }

Ref<Application> RuntimeApp() { return AppObject(); }

}  // namespace rb
