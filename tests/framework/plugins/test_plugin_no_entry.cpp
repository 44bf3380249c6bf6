// A shared library in the plug-in folder that is no plug-in: it exports
// something, but not REALPluginMain.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t NotAPluginEntry(void) { return 42; }
