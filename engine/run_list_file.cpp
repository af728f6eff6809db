#include "run_list_file.h"

#include <windows.h>

const char kRunListPath[] = "C:\\VELK\\RUN.NUV";
const char kRunListRewritePath[] = "C:\\VELK\\~RUN.NUV";

namespace {

int g_atomicAvailable = -1;

bool Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsAtomicReplaceAvailable()
{
    if (g_atomicAvailable >= 0)
        return g_atomicAvailable != 0;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    // The 9x family has no MoveFileExA.
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace

void SetAtomicReplaceAvailable(int available)
{
    g_atomicAvailable = available;
}

void RestoreRunList()
{
    // The list is deleted only after its rewrite was complete and flushed, so a rewrite
    // beside a missing list is always whole.
    if (!Exists(kRunListPath) && Exists(kRunListRewritePath))
        MoveFileA(kRunListRewritePath, kRunListPath);
}

bool ReplaceRunList()
{
    if (IsAtomicReplaceAvailable() &&
        MoveFileExA(kRunListRewritePath, kRunListPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (!DeleteFileA(kRunListPath))
        return false;
    return MoveFileA(kRunListRewritePath, kRunListPath) != FALSE;
}
