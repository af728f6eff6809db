// Quillan.dll: the Windows Installer wrapper with all four property rows.
#include "msi_wrapper.h"
#include "wrapper_exports.h"

#include <new>

CWrapper* CreateLibraryWrapper()
{
    return new (std::nothrow) CMsiWrapper(kQuillanProperties, kQuillanPropertyCount);
}

void DestroyLibraryWrapper(CWrapper* wrapper)
{
    delete static_cast<CMsiWrapper*>(wrapper);
}
