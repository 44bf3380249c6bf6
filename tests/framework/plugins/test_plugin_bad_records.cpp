// A plug-in whose class records the host must refuse (another record
// version, no class name, tables missing, absurd instance data), and one
// acceptable class whose properties point outside its instance data.
#include "rb/PluginInterface.h"

namespace {

PluginClassDefinition Record(PluginWord version, const char* name, PluginWord dataSize) {
  PluginClassDefinition r{};
  r.version = version;
  r.name = name;
  r.dataSize = dataSize;
  return r;
}

PluginClassDefinition gWrongVersion = Record(8, "WrongVersionZel", 8);
PluginClassDefinition gNoName = Record(9, nullptr, 8);
PluginClassDefinition gNoPropertyTable = [] {
  PluginClassDefinition r = Record(9, "NoPropertyTableZel", 8);
  r.propertyCount = 2;
  return r;
}();
PluginClassDefinition gNoMethodTable = [] {
  PluginClassDefinition r = Record(9, "NoMethodTableZel", 8);
  r.methodCount = 3;
  return r;
}();
PluginClassDefinition gHugeData = Record(9, "HugeDataZel", PluginWord{1} << 40);

PluginPropertyEntry gStrayProperties[] = {
    {nullptr, "Inside", "Integer", 6, -1, nullptr, 4, {}},
    {nullptr, "Straddling", "Integer", 6, -1, nullptr, 6, {}},
    {nullptr, "Beyond", "Integer", 6, -1, nullptr, PluginWord{1} << 40, {}},
    {nullptr, "Wrapping", "Integer", 6, -1, nullptr, ~PluginWord{0}, {}},
};
PluginClassDefinition gStrayFields = [] {
  PluginClassDefinition r = Record(9, "StrayFieldZel", 8);
  r.properties = gStrayProperties;
  r.propertyCount = sizeof gStrayProperties / sizeof gStrayProperties[0];
  return r;
}();

}  // namespace

extern "C" __attribute__((visibility("default"))) void REALPluginMain(HostResolver resolver) {
  auto registerClass = reinterpret_cast<PluginRegisterClassFn>(resolver("PluginRegisterClass"));
  if (registerClass == nullptr) return;
  registerClass(nullptr);
  registerClass(&gWrongVersion);
  registerClass(&gNoName);
  registerClass(&gNoPropertyTable);
  registerClass(&gNoMethodTable);
  registerClass(&gHugeData);
  registerClass(&gStrayFields);
}
