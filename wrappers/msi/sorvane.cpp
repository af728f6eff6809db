// Sorvane.dll: the Windows Installer wrapper with the REBOOT row only.
#include "msi_wrapper.h"
#include "wrapper_exports.h"

#include <new>

CWrapper* CreateLibraryWrapper()
{
    return new (std::nothrow) CMsiWrapper(kSorvaneProperties, kSorvanePropertyCount);
}

void DestroyLibraryWrapper(CWrapper* wrapper)
{
    delete static_cast<CMsiWrapper*>(wrapper);
}
