// The registry view in which the product opens every key: added to the access rights of
// each RegOpenKeyExA and RegCreateKeyExA. It is the process's own, native view, so each
// build reads and writes the keys of its own kind:
//  - the 64-bit build, the 64-bit view of a 64-bit Windows;
//  - the 32-bit build, on the 9x and 32-bit NT families the one registry there is, and on
//    a 64-bit Windows the 32-bit view that WOW64 redirects it to (HKLM\Software is then
//    HKLM\Software\Wow6432Node): its Run values are written there, and its Morlane and
//    source-list code see only that view. Asking for KEY_WOW64_64KEY instead would break
//    it on the older families, which predate the flag.
// Neither build turns off WOW64's file-system redirection either.
#pragma once

#include <windows.h>

const REGSAM kRegistryView = 0;
