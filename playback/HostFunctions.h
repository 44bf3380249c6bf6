// The plug-in's side of the host interface: the resolver handed to
// REALPluginMain, the host functions found through it, class registration and
// host strings.
#pragma once

#include <cstdint>

#include "rb/PluginInterface.h"

// The US-ASCII text encoding in the host's numbering.
constexpr uint32_t kTextEncodingUS_ASCII = 0x600;

// Keeps the resolver for every later lookup. Loader thread, once.
void SetHostResolver(HostResolver resolver) noexcept;

// Looks a host function up by name; nullptr when there is no resolver or the
// host has no such function. Any thread.
void* ResolveHostFunction(const char* name) noexcept;

// Registers a class record with the host. An old host (no REALGetRBVersion,
// or a version below 5.9) reads three-word method entries, so it gets a
// converted copy of the method table. Loader thread.
void RegisterClassDefinition(PluginClassDefinition* record) noexcept;

// A new host string holding a copy of length bytes in the given encoding;
// nullptr (nil) for no bytes, or when the host cannot make strings (yet).
// The reference passes to the caller. UI thread, never waits.
HostString BuildHostString(const void* bytes, int32_t length, uint32_t encoding) noexcept;
