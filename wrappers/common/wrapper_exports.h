// Each plug-in library names its wrapper class here; the two exports are shared.
#pragma once

#include "wrapper.h"

// A new object of the library's wrapper class, or nullptr when it cannot be allocated.
CWrapper* CreateLibraryWrapper();
void DestroyLibraryWrapper(CWrapper* wrapper);
