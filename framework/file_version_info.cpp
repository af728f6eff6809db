#include "file_version_info.h"

#include <windows.h>

#include <vector>

bool ReadFixedFileVersion(const std::string& path, unsigned short parts[4])
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<char> information(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, information.data()))
        return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // No fixed block, or one cut short, is no version.
    if (!VerQueryValueA(information.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    parts[0] = HIWORD(fixed->dwFileVersionMS);
    parts[1] = LOWORD(fixed->dwFileVersionMS);
    parts[2] = HIWORD(fixed->dwFileVersionLS);
    parts[3] = LOWORD(fixed->dwFileVersionLS);
    return true;
}
