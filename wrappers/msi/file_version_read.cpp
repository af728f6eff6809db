// Reading a file's version resource: the Win32 half of CFileVersion.
#include "file_version.h"

#include <windows.h>

#include <vector>

bool CFileVersion::GetFileVersion(const std::string& filePath)
{
    path = filePath;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(filePath.c_str(), &handle);
    valid = 0;
    if (size == 0)
        return false;
    std::vector<char> information(size);
    valid = GetFileVersionInfoA(filePath.c_str(), 0, size, information.data()) ? 1 : 0;
    if (valid) {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        // No fixed block, or one cut short, is no version.
        if (!VerQueryValueA(information.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
            length < sizeof(VS_FIXEDFILEINFO)) {
            valid = 0;
        } else {
            majorVersion = HIWORD(fixed->dwFileVersionMS);
            minorVersion = LOWORD(fixed->dwFileVersionMS);
            buildNumber = HIWORD(fixed->dwFileVersionLS);
            revisionNumber = LOWORD(fixed->dwFileVersionLS);
        }
    }
    return valid != 0;
}
