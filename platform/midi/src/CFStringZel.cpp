#include "CFStringZel.h"

rb::Ref<CFStringZel> NewCFStringZel(const rb::String& s) { return rb::New<CFStringZel>(s); }
