// The plug-in interface shared between the framework (the host) and its
// plug-ins, as plain C records.
//
// A plug-in exports `REALPluginMain(HostResolver)`. The resolver returns host
// functions by name: RegisterPluginVersion, PluginRegisterClass,
// REALGetRBVersion, REALBuildString, REALSetStringEncoding.
//
// Records are arrays of words. On a 64-bit build every word is pointer-sized
// and byte offsets scale with it; word indexes, order and values are fixed
// (a 4-byte-word build gives 128, 16, 12 and 40 bytes).
//
// Member functions take the host's object pointer first; the instance data
// lies at that pointer plus the offset the host writes into word 4 of the
// class record. Declared "integer" parameters and results are int32_t,
// "boolean" results int32_t 1/0, "single" float, "string" a HostString
// reference that passes to the host (nullptr for none).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef uintptr_t PluginWord;
typedef struct HostStringRecord* HostString;  // opaque, reference-counted by the host
typedef void* (*HostResolver)(const char* name);

typedef void (*RegisterPluginVersionFn)(int32_t version);
typedef void (*PluginRegisterClassFn)(struct PluginClassDefinition* record);
typedef double (*REALGetRBVersionFn)(void);
typedef HostString (*REALBuildStringFn)(const void* bytes, int32_t length);
typedef void (*REALSetStringEncodingFn)(HostString s, uint32_t encoding);

struct PluginMethodEntry {  // 4 words
  void* function;
  void* setter;             // nullptr: not assignable
  const char* declaration;  // e.g. "Init as boolean"
  PluginWord flags;
};

struct PluginMethodEntryOld {  // 3 words: what an old host (< 5.9) reads
  void* function;
  void* setter;
  const char* declaration;
};

struct PluginPropertyEntry {  // 10 words
  const char* group;          // nullptr: none
  const char* name;
  const char* type;
  PluginWord flags;
  intptr_t getter;  // -1: the host reads the field straight from the instance data
  void* setter;     // nullptr: read-only
  PluginWord fieldOffset;
  PluginWord reserved[3];
};

struct PluginClassDefinition {      // 32 words
  PluginWord version;               // 0: 9
  const char* name;                 // 1
  const char* superName;            // 2
  PluginWord dataSize;              // 3
  PluginWord dataOffset;            // 4: written by the host when registered
  void* constructor;                // 5
  void* destructor;                 // 6: void(void* object)
  PluginPropertyEntry* properties;  // 7
  PluginWord propertyCount;         // 8
  void* methods;                    // 9: PluginMethodEntry[] (or the old layout)
  PluginWord methodCount;           // 10
  PluginWord further[9];            // 11..19
  PluginWord flags;                 // 20
  PluginWord reserved[11];          // 21..31
};

typedef void (*REALPluginMainFn)(HostResolver resolver);

}  // extern "C"

static_assert(sizeof(PluginMethodEntry) == 4 * sizeof(PluginWord));
static_assert(sizeof(PluginMethodEntryOld) == 3 * sizeof(PluginWord));
static_assert(sizeof(PluginPropertyEntry) == 10 * sizeof(PluginWord));
static_assert(sizeof(PluginClassDefinition) == 32 * sizeof(PluginWord));
static_assert(offsetof(PluginClassDefinition, dataOffset) == 4 * sizeof(PluginWord));
static_assert(offsetof(PluginClassDefinition, methods) == 9 * sizeof(PluginWord));
static_assert(offsetof(PluginClassDefinition, flags) == 20 * sizeof(PluginWord));

// Record, interface and host versions.
constexpr PluginWord kPluginRecordVersion = 9;
constexpr int32_t kPluginInterfaceVersion = 9;
constexpr double kHostVersion = 5.9;
