// Brakkel.dll: the InstallShield wrapper that keeps the package sources while the run has failed.
#include "installshield_wrapper.h"
#include "wrapper_exports.h"

#include <new>

CWrapper* CreateLibraryWrapper()
{
    return new (std::nothrow) CInstallShieldWrapper(true);
}

// The object is freed: it is the library's own allocation.
void DestroyLibraryWrapper(CWrapper* wrapper)
{
    delete static_cast<CInstallShieldWrapper*>(wrapper);
}
