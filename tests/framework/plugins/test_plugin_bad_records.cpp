// A plug-in whose class records the host must refuse: a record of another
// version, and one without a class name.
#include "rb/PluginInterface.h"

namespace {

PluginClassDefinition gWrongVersion = [] {
  PluginClassDefinition r{};
  r.version = 8;
  r.name = "WrongVersionZel";
  r.dataSize = 8;
  return r;
}();

PluginClassDefinition gNoName = [] {
  PluginClassDefinition r{};
  r.version = 9;
  r.name = nullptr;
  r.dataSize = 8;
  return r;
}();

}  // namespace

extern "C" __attribute__((visibility("default"))) void REALPluginMain(HostResolver resolver) {
  auto registerClass = reinterpret_cast<PluginRegisterClassFn>(resolver("PluginRegisterClass"));
  if (registerClass == nullptr) return;
  registerClass(&gWrongVersion);
  registerClass(&gNoName);
}
