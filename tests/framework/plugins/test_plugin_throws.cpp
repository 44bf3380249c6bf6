// A plug-in whose entry raises a C++ exception: the loader must skip it
// rather than let the exception end the host.
#include <stdexcept>

#include "rb/PluginInterface.h"

extern "C" __attribute__((visibility("default"))) void REALPluginMain(HostResolver) {
  throw std::runtime_error("this plug-in cannot start");
}
