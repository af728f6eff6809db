// How a run list's wrapper name becomes the file name that is loaded and cached.
#pragma once

#include <string>

// The name unchanged when its last three characters are "DLL" in any case,
// otherwise the name with "DLL" appended (no dot): "SETUPWRAP" gives "SETUPWRAPDLL".
std::string ApplyLibrarySuffixRule(const std::string& name);
