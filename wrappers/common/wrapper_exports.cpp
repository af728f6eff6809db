// The two exports every wrapper plug-in has: C linkage, cdecl, plain names (wrapper.def).
#include "wrapper_exports.h"

extern "C" __declspec(dllexport) CWrapper* CreateWrapperInstance(void)
{
    return CreateLibraryWrapper();
}

extern "C" __declspec(dllexport) void DestroyWrapperInstance(CWrapper* wrapper)
{
    DestroyLibraryWrapper(wrapper);
}
