// A test case's name made from its behaviour text ("a held note" gives
// "AHeldNote"), so that table-driven cases read well in CTest.
#pragma once

#include <cctype>
#include <string>

inline std::string midiTestCaseName(const char* behaviour) {
  std::string name;
  bool upper = true;
  for (const char* c = behaviour; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += upper ? char(std::toupper(static_cast<unsigned char>(*c))) : *c;
      upper = false;
    } else {
      upper = true;
    }
  }
  return name;
}
