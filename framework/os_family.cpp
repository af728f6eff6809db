#include "os_family.h"

OSFamily GetOSFamilyOf(DWORD platformId)
{
    return platformId == VER_PLATFORM_WIN32_WINDOWS ? OSFamily9x : OSFamilyNT;
}

OSFamily GetRunningOSFamily()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return GetOSFamilyOf(version.dwPlatformId);
}
