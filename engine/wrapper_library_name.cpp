#include "wrapper_library_name.h"

#include "text.h"

namespace
{
const char* const kLibrarySuffix = "DLL";
const std::string::size_type kLibrarySuffixLength = 3;
}

std::string ApplyLibrarySuffixRule(const std::string& name)
{
    if (name.size() >= kLibrarySuffixLength
        && IsSameText(name.substr(name.size() - kLibrarySuffixLength), kLibrarySuffix))
        return name;
    return name + kLibrarySuffix;
}
