#include "command_wrapper.h"

#include "wrapper_exports.h"

#include <windows.h>

#include <new>

int CCommandWrapper::PreInstallApplication()
{
    return TRUE;
}

int CCommandWrapper::InstallApplication(char* installCommand, int timeoutSeconds)
{
    return SpawnTask(installCommand, timeoutSeconds);
}

int CCommandWrapper::PostInstallApplication()
{
    return TRUE;
}

int CCommandWrapper::CleanupInstallationFiles(char* cleanDirectory)
{
    return DeleteTree(cleanDirectory);
}

CWrapper* CreateLibraryWrapper()
{
    return new (std::nothrow) CCommandWrapper;
}

void DestroyLibraryWrapper(CWrapper* wrapper)
{
    delete static_cast<CCommandWrapper*>(wrapper);
}
