// Which family of Windows a program runs on: several behaviours differ between the
// Windows 9x family and the NT family.
#pragma once

#include <windows.h>

enum OSFamily { OSFamilyNT, OSFamily9x };

// Platform id 1 (VER_PLATFORM_WIN32_WINDOWS) is the 9x family; every other id is NT.
OSFamily GetOSFamilyOf(DWORD platformId);

// The family of the running system, from GetVersionExA.
OSFamily GetRunningOSFamily();
