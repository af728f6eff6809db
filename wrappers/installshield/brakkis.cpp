// Brakkis.dll: the InstallShield wrapper that always deletes the package sources.
#include "installshield_wrapper.h"
#include "wrapper_exports.h"

#include <new>

CWrapper* CreateLibraryWrapper()
{
    return new (std::nothrow) CInstallShieldWrapper(false);
}

// The object is freed: it is the library's own allocation.
void DestroyLibraryWrapper(CWrapper* wrapper)
{
    delete static_cast<CInstallShieldWrapper*>(wrapper);
}
