// Texts carried as application resources (the help text, the licence).
// Main thread.
#pragma once

#include <string>

namespace chimewick {

// The bytes of the text resource ":/text/<name>", or "" when absent.
std::string ResourceText(const char* name);

}  // namespace chimewick
